// The twenty-nine engine tables: their parameters, start-up and shutdown.
#include "core/tokens/token_tables.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/fresh_token_tables.h"

namespace {

using Orvan::ETokenCaseRule;

// Each test gets freshly created tables and leaves the start-up state behind for the rest of the
// program.
using TokenTables = OrvTest::TFreshTokenTables;

struct TTableParameters {
  std::uint32_t idBits;
  ETokenCaseRule rule;
  std::uint32_t reservedPages;
};

std::vector<TTableParameters> CollectParameters() {
  std::vector<TTableParameters> parameters;
  Orvan::TAllTokenTables::ForEach([&]<typename TTable>() {
    parameters.push_back({8 * sizeof(typename TTable::TId), TTable::kCaseRule, TTable::kReservedPages});
  });
  return parameters;
}

TEST_F(TokenTables, TwentyNineTablesWithTheirWidthsAndCaseRules) {
  constexpr auto S = ETokenCaseRule::kCaseSensitive;
  constexpr auto I = ETokenCaseRule::kCaseInsensitive;
  const std::vector<std::pair<std::uint32_t, ETokenCaseRule>> expected = {
      {16, S}, {32, S}, {16, S}, {32, I}, {32, I}, {32, I}, {16, I}, {16, I}, {16, I}, {16, S},
      {32, S}, {32, I}, {16, S}, {16, I}, {16, I}, {32, S}, {32, I}, {32, I}, {32, I}, {32, I},
      {16, I}, {32, I}, {32, I}, {32, I}, {32, I}, {16, I}, {16, I}, {32, I}, {32, I}};
  const std::vector<TTableParameters> parameters = CollectParameters();
  ASSERT_EQ(parameters.size(), 29u);
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    EXPECT_EQ(parameters[i].idBits, expected[i].first) << "table " << i + 1;
    EXPECT_EQ(parameters[i].rule, expected[i].second) << "table " << i + 1;
    EXPECT_EQ(parameters[i].reservedPages, expected[i].first == 16 ? 64u : 2048u) << "table " << i + 1;
  }
}

TEST_F(TokenTables, EveryTableStartsWithTheEmptyTextAndGivesItsFirstTextId1) {
  int table = 0;
  Orvan::TAllTokenTables::ForEach([&]<typename TTable>() {
    ++table;
    ASSERT_NE(TTable::GetMutex(), nullptr) << table;
    ASSERT_NE(TTable::GetMap(), nullptr) << table;
    ASSERT_NE(TTable::GetPages(), nullptr) << table;
    EXPECT_EQ(TTable::GetCount(), 1u) << table;
    EXPECT_STREQ(TTable::GetEntry(0)->c_str(), "") << table;
    EXPECT_EQ(TTable::GetMap()->Count(), 1u) << table;
    EXPECT_EQ(TTable::GetPages()->GetSize(), 1u) << table;
    EXPECT_EQ(TTable::GetPages()->GetCapacity(), TTable::kReservedPages) << table;
    EXPECT_EQ(TTable::Intern(""), 0u) << table;
  });
  // Independently of one another, each table's first text gets id 1.
  Orvan::TAllTokenTables::ForEach([&]<typename TTable>() { EXPECT_EQ(TTable::Intern("first"), 1u); });
  Orvan::TAllTokenTables::ForEach([&]<typename TTable>() { EXPECT_EQ(TTable::GetCount(), 2u); });
}

TEST_F(TokenTables, MountingPointNamesIgnoreCaseAndFieldNamesDoNot) {
  const Orvan::TMountingPointToken dataDir("DataDir");
  EXPECT_EQ(Orvan::TMountingPointToken("datadir"), dataDir);
  EXPECT_EQ(Orvan::TMountingPointToken("DATADIR"), dataDir);
  EXPECT_STREQ(Orvan::TMountingPointToken("DATADIR").c_str(), "DataDir");
  EXPECT_EQ(Orvan::TMountingPointToken::GetCount(), 2u);

  const Orvan::TValueBlockFieldNameToken field("DataDir");
  EXPECT_NE(Orvan::TValueBlockFieldNameToken("datadir"), field);
  EXPECT_NE(Orvan::TValueBlockFieldNameToken("DATADIR"), field);
  EXPECT_EQ(Orvan::TValueBlockFieldNameToken::GetCount(), 4u);
}

TEST_F(TokenTables, DestroyAllNullsEveryPartAndASecondCallChangesNothing) {
  Orvan::TAllTokenTables::ForEach([&]<typename TTable>() { TTable::Intern("to be released"); });
  for (int round = 0; round < 2; ++round) {
    Orvan::DestroyAllInternedTokenTables();
    int table = 0;
    Orvan::TAllTokenTables::ForEach([&]<typename TTable>() {
      ++table;
      EXPECT_EQ(TTable::GetMutex(), nullptr) << table;
      EXPECT_EQ(TTable::GetMap(), nullptr) << table;
      EXPECT_EQ(TTable::GetPages(), nullptr) << table;
    });
  }
  // A token outlives its table: it is only an id.
  const Orvan::TToken5 kept = Orvan::TToken5::FromId(1);
  EXPECT_EQ(kept.GetId(), 1u);
  Orvan::InitInternedTokenTables();
  EXPECT_EQ(Orvan::TToken5::GetCount(), 1u);
}

}  // namespace
