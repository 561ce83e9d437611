// Fresh engine token tables for a test: the twenty-nine are made again around it, so every table
// starts with the empty text alone. The well-known names seed six of them at start-up: a test runs
// without them. Afterwards the tables are given back as the test found them, every text at its
// former id, and the well-known names come back: ids outlive the tables in the process (each named
// mounting point keeps the id of its first call), so the suites that run after the test in the
// same program find those ids naming their texts still.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/filesystem/well_known_names.h"
#include "core/tokens/token_tables.h"

namespace OrvTest {

// The texts of every table in id order, kept as standard strings so that they also outlive the
// engine's string pools.
class TTokenTablesSnapshot {
 public:
  TTokenTablesSnapshot() {
    Orvan::TAllTokenTables::ForEach([this]<typename TTable>() {
      std::vector<std::string>& texts = texts_.emplace_back();
      for (std::uint32_t id = 1; id < TTable::GetCount(); ++id) {
        const Orvan::TTokenText* text = TTable::GetEntry(id);
        texts.emplace_back(text->GetData(), text->GetLength());
      }
    });
  }

  // Interns the texts again, in id order, into tables that hold the empty text alone, so that each
  // gets its former id back.
  void Restore() const {
    std::uint32_t table = 0;
    Orvan::TAllTokenTables::ForEach([&]<typename TTable>() {
      const std::vector<std::string>& texts = texts_[table++];
      for (std::uint32_t i = 0; i < texts.size(); ++i) {
        const std::string& text = texts[i];
        const std::uint32_t id = TTable::Intern(Orvan::TTokenRange{text.data(), text.data() + text.size()});
        if (id != i + 1) ADD_FAILURE() << "table " << table << " gave \"" << text << "\" the id " << id;
      }
    });
  }

 private:
  std::vector<std::vector<std::string>> texts_;  // per table, the texts of ids 1 and up
};

inline void RecreateTokenTables() {
  Orvan::TWellKnownNames::Destroy();
  Orvan::DestroyAllInternedTokenTables();
  Orvan::InitInternedTokenTables();
}

// Tables made again with the snapshot's texts at their ids, and the well-known names on them.
inline void RestoreTokenTables(const TTokenTablesSnapshot& snapshot) {
  RecreateTokenTables();
  snapshot.Restore();
  Orvan::TWellKnownNames::Create();
}

class TFreshTokenTables : public ::testing::Test {
 protected:
  void SetUp() override { RecreateTokenTables(); }
  void TearDown() override { RestoreTokenTables(found_); }

 private:
  // Taken when the test is constructed, before SetUp.
  const TTokenTablesSnapshot found_;
};

}  // namespace OrvTest
