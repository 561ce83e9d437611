// Interning in the four table variants: ids of every key form, pages, map growth, the 16-bit limit,
// page-pointer array growth and the state a failed allocation leaves behind.
#include "core/tokens/interned_token_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/diagnostics/engine_exception.h"
#include "core/tokens/interned_token.h"
#include "support/failing_allocation.h"
#include "support/token_test_tables.h"

namespace {

using Orvan::ETokenCaseRule;
using Orvan::TTokenRange;
using Orvan::TTokenText;
using OrvTest::TScopedTokenTable;

enum class EKeyForm { kText, kRange, kString, kNullBeginRange, kReversedRange, kEmptyBlockString };

// Interns `text` in the given form. Ranges lie inside a longer buffer, so only their own
// characters may count.
template <typename TTable>
std::uint32_t InternAs(EKeyForm form, const char* text) {
  static const char kOther[] = "xyz";
  switch (form) {
    case EKeyForm::kText:
      return TTable::Intern(text);
    case EKeyForm::kRange: {
      const std::string buffer = std::string("<") + text + ">tail";
      return TTable::Intern(TTokenRange{buffer.data() + 1, buffer.data() + 1 + std::strlen(text)});
    }
    case EKeyForm::kString:
      return TTable::Intern(TTokenText(text));
    case EKeyForm::kNullBeginRange:
      return TTable::Intern(TTokenRange{nullptr, kOther + 3});
    case EKeyForm::kReversedRange:
      return TTable::Intern(TTokenRange{kOther + 2, kOther});
    case EKeyForm::kEmptyBlockString: {
      TTokenText empty;
      empty.GetOrCreateContent();  // a block of its own holding ""
      return TTable::Intern(empty);
    }
  }
  return 0xFFFFFFFF;
}

template <typename TTable>
class InternedTokenTableTest : public ::testing::Test {
 protected:
  static constexpr bool kSensitive = TTable::kCaseRule == ETokenCaseRule::kCaseSensitive;
  TScopedTokenTable<TTable> table_;
};

using TTableVariants = ::testing::Types<OrvTest::TTestTable16Sensitive, OrvTest::TTestTable32Sensitive,
                                        OrvTest::TTestTable16Insensitive, OrvTest::TTestTable32Insensitive>;
TYPED_TEST_SUITE(InternedTokenTableTest, TTableVariants);

TYPED_TEST(InternedTokenTableTest, KeyFormsAndCaseRulesGiveExpectedIds) {
  using TTable = TypeParam;
  struct TStep {
    EKeyForm form;
    const char* text;
    std::uint32_t sensitiveId;
    std::uint32_t insensitiveId;
  };
  const TStep steps[] = {
      {EKeyForm::kText, "", 0, 0},
      {EKeyForm::kRange, "", 0, 0},
      {EKeyForm::kNullBeginRange, nullptr, 0, 0},
      {EKeyForm::kReversedRange, nullptr, 0, 0},
      {EKeyForm::kString, "", 0, 0},
      {EKeyForm::kText, "abc", 1, 1},
      {EKeyForm::kString, "abc", 1, 1},
      {EKeyForm::kRange, "abc", 1, 1},
      {EKeyForm::kText, "DataDir", 2, 2},
      {EKeyForm::kText, "datadir", 3, 2},
      {EKeyForm::kString, "DATADIR", 4, 2},
      {EKeyForm::kRange, "dATAdIR", 5, 2},
      {EKeyForm::kRange, "bcd", 6, 3},
      {EKeyForm::kText, "bcd", 6, 3},
      {EKeyForm::kString, "bcd", 6, 3},
      // Only 'A'-'Z' fold: UTF-8 letters must match byte for byte under both rules.
      {EKeyForm::kText, "\xC3\xA9t\xC3\xA9", 7, 4},
      {EKeyForm::kText, "\xC3\x89T\xC3\x89", 8, 5},
      {EKeyForm::kRange, "\xC3\xA9T\xC3\xA9", 9, 4},
      // A block holding "" is not the null handle of id 0 under byte equality, but it is without case.
      {EKeyForm::kEmptyBlockString, nullptr, 10, 0},
      {EKeyForm::kEmptyBlockString, nullptr, 10, 0},
      {EKeyForm::kText, "", 0, 0},
      {EKeyForm::kString, "abc", 1, 1},
  };
  for (const TStep& step : steps) {
    const std::uint32_t expected = this->kSensitive ? step.sensitiveId : step.insensitiveId;
    EXPECT_EQ(InternAs<TTable>(step.form, step.text), expected)
        << "form " << static_cast<int>(step.form) << " text \"" << (step.text ? step.text : "(null)") << "\"";
  }

  // Each id reads the form that was interned first.
  const std::vector<std::string> sensitiveTexts = {
      "", "abc", "DataDir", "datadir", "DATADIR", "dATAdIR", "bcd", "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89",
      "\xC3\xA9T\xC3\xA9", ""};
  const std::vector<std::string> insensitiveTexts = {"", "abc", "DataDir", "bcd", "\xC3\xA9t\xC3\xA9",
                                                     "\xC3\x89T\xC3\x89"};
  const std::vector<std::string>& texts = this->kSensitive ? sensitiveTexts : insensitiveTexts;
  ASSERT_EQ(TTable::GetCount(), texts.size());
  EXPECT_EQ(TTable::GetMap()->Count(), texts.size());
  for (std::uint32_t id = 0; id < texts.size(); ++id) {
    EXPECT_STREQ(TTable::GetEntry(id)->c_str(), texts[id].c_str());
    EXPECT_STREQ(TTable::GetText(id), texts[id].c_str());
    // The page keeps the address of the block's own characters.
    if (!TTable::GetEntry(id)->IsEmpty()) {
      EXPECT_EQ(TTable::GetText(id), TTable::GetEntry(id)->c_str());
    }
  }
  EXPECT_TRUE(TTable::GetEntry(0)->IsEmpty());
  if (this->kSensitive) {
    EXPECT_FALSE(TTable::GetEntry(10)->IsEmpty());  // its own empty block
  }
  // Entry i of the map holds id i, and its key shares the slot's block.
  for (std::uint32_t id = 0; id < texts.size(); ++id) {
    const auto& entry = TTable::GetMap()->Entries()[id];
    EXPECT_EQ(entry.value, id);
    EXPECT_EQ(entry.key.GetContent(), TTable::GetEntry(id)->GetContent());
  }
}

TYPED_TEST(InternedTokenTableTest, NewEngineStringKeySharesTheCallersBlock) {
  using TTable = TypeParam;
  const TTokenText text("shared block");
  const std::uint32_t id = TTable::Intern(text);
  EXPECT_EQ(TTable::GetEntry(id)->GetContent(), text.GetContent());
  // The caller's handle, the map key and the page slot.
  EXPECT_EQ(text.GetRefCount(), 3);
  // A text-pointer key gets a block of its own.
  const char* copied = "copied";
  const std::uint32_t other = TTable::Intern(copied);
  EXPECT_NE(TTable::GetEntry(other)->c_str(), copied);
  EXPECT_EQ(TTable::GetEntry(other)->GetRefCount(), 2);
}

TYPED_TEST(InternedTokenTableTest, IdsFillPageZeroThenOpenPageOne) {
  using TTable = TypeParam;
  const Orvan::TInternedTokenPages* pages = TTable::GetPages();
  EXPECT_EQ(pages->GetSize(), 1u);
  EXPECT_EQ(pages->GetCapacity(), TTable::kReservedPages);
  char text[32];
  for (std::uint32_t expected = 1; expected <= 1023; ++expected) {
    std::snprintf(text, sizeof text, "page text %u", expected);
    ASSERT_EQ(TTable::Intern(text), expected);
  }
  EXPECT_EQ(pages->GetSize(), 1u);
  EXPECT_EQ(TTable::GetEntry(1023), &pages->GetPageArray()[0].load()->slots[1023]);
  EXPECT_STREQ(TTable::GetEntry(1023)->c_str(), "page text 1023");

  EXPECT_EQ(TTable::Intern("page text 1024"), 1024u);
  EXPECT_EQ(pages->GetSize(), 2u);
  EXPECT_EQ(TTable::GetEntry(1024), &pages->GetPageArray()[1].load()->slots[0]);
  EXPECT_STREQ(TTable::GetEntry(1024)->c_str(), "page text 1024");
  EXPECT_EQ(TTable::GetCount(), 1025u);
  EXPECT_EQ(pages->GetCapacity(), TTable::kReservedPages);
}

TYPED_TEST(InternedTokenTableTest, MapCapacityDoublesAsEntriesArrive) {
  using TTable = TypeParam;
  struct TPoint {
    std::uint32_t entries;
    std::uint32_t capacity;
  };
  const TPoint points[] = {{1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 16}, {17, 32}, {33, 64}, {65, 128}};
  std::uint32_t entries = 1;
  char text[32];
  for (const TPoint& point : points) {
    while (entries < point.entries) {
      std::snprintf(text, sizeof text, "entry %u", entries);
      ASSERT_EQ(TTable::Intern(text), entries);
      ++entries;
    }
    const auto* map = TTable::GetMap();
    EXPECT_EQ(map->Count(), point.entries);
    EXPECT_EQ(map->Capacity(), point.capacity) << point.entries << " entries";
    // Twice as many slots as entries: at most half of them in use.
    EXPECT_EQ(1u << map->SlotBits(), 2 * point.capacity);
  }
  // Growth keeps every text findable under its id.
  for (std::uint32_t id = 1; id < entries; ++id) {
    std::snprintf(text, sizeof text, "entry %u", id);
    EXPECT_EQ(TTable::Intern(text), id);
  }
}

TYPED_TEST(InternedTokenTableTest, ThreadHoldingTheLockInternsAgain) {
  using TTable = TypeParam;
  Orvan::TMutexLocker locked(TTable::GetMutex());
  EXPECT_EQ(TTable::Intern("under the lock"), 1u);
  EXPECT_EQ(TTable::Intern("under the lock"), 1u);
}

TYPED_TEST(InternedTokenTableTest, ShutdownNullsThePartsAndMayRunTwice) {
  using TTable = TypeParam;
  TTable::Intern("gone at shutdown");
  TTable::Shutdown();
  EXPECT_EQ(TTable::GetMap(), nullptr);
  EXPECT_EQ(TTable::GetPages(), nullptr);
  EXPECT_EQ(TTable::GetMutex(), nullptr);
  TTable::Shutdown();
  EXPECT_EQ(TTable::GetPages(), nullptr);

  TTable::Create();
  EXPECT_EQ(TTable::GetCount(), 1u);
  EXPECT_EQ(TTable::GetMap()->Count(), 1u);
  EXPECT_EQ(TTable::GetMap()->Capacity(), 1u);
  EXPECT_STREQ(TTable::GetEntry(0)->c_str(), "");
  EXPECT_EQ(TTable::Intern("gone at shutdown"), 1u);
}

TYPED_TEST(InternedTokenTableTest, AppendTokenGrowsTheVectorAndInterns) {
  using TToken = Orvan::TInternedToken<TypeParam>;
  Orvan::TVector<TToken> tokens;
  const char* texts[] = {"one", "two", "ONE", "three", "two", "four"};
  for (const char* text : texts) {
    const TToken& token = Orvan::AppendToken(tokens, text);
    EXPECT_EQ(&token, &tokens.Back());
  }
  ASSERT_EQ(tokens.GetSize(), 6u);
  const std::uint32_t sensitive[] = {1, 2, 3, 4, 2, 5};
  const std::uint32_t insensitive[] = {1, 2, 1, 3, 2, 4};
  for (std::uint32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(tokens[i].GetId(), this->kSensitive ? sensitive[i] : insensitive[i]) << i;
  }
}

// The 65,537th text of a 16-bit table would wrap to id 0 and alias the empty text: it is refused.
TEST(InternedTokenTable16Bit, RefusesTheTextPastId65535AndStaysIntact) {
  using TTable = OrvTest::TTestTable16Sensitive;
  TScopedTokenTable<TTable> table;
  char text[32];
  for (std::uint32_t id = 1; id <= 65535; ++id) {
    std::snprintf(text, sizeof text, "t%u", id);
    ASSERT_EQ(TTable::Intern(text), id);
  }
  const Orvan::TInternedTokenPages* pages = TTable::GetPages();
  EXPECT_EQ(pages->GetSize(), 64u);
  EXPECT_EQ(TTable::GetEntry(65535), &pages->GetPageArray()[63].load()->slots[1023]);
  EXPECT_STREQ(TTable::GetEntry(65535)->c_str(), "t65535");

  EXPECT_THROW(TTable::Intern("one too many"), Orvan::EException);
  EXPECT_THROW(TTable::Intern(TTokenText("one too many")), Orvan::EException);
  const char range[] = "one too many";
  EXPECT_THROW(TTable::Intern(TTokenRange{range, range + 3}), Orvan::EException);
  try {
    TTable::Intern("one too many");
  } catch (const Orvan::EException& error) {
    EXPECT_STREQ(error.what(), "Interned token table full: it holds at most 65536 texts");
  }

  EXPECT_EQ(TTable::GetCount(), 65536u);
  EXPECT_EQ(TTable::GetMap()->Count(), 65536u);
  EXPECT_EQ(pages->GetSize(), 64u);
  EXPECT_EQ(pages->GetCapacity(), 64u);
  EXPECT_EQ(TTable::GetMap()->Find("one too many"), nullptr);
  // Known texts keep their ids and the empty text keeps id 0.
  EXPECT_EQ(TTable::Intern("t65535"), 65535u);
  EXPECT_EQ(TTable::Intern("t1"), 1u);
  EXPECT_EQ(TTable::Intern(""), 0u);
  EXPECT_STREQ(TTable::GetEntry(0)->c_str(), "");
}

// Past its reservation a 32-bit table's page-pointer array moves; a reader still holding the old
// array must find it intact (AddressSanitizer checks it was not freed).
TEST(InternedTokenPageArray, GrowsPastItsReservationAndKeepsReplacedArrays) {
  using TTable = OrvTest::TTestTableTwoPages;
  TScopedTokenTable<TTable> table;
  const Orvan::TInternedTokenPages* pages = TTable::GetPages();
  char text[32];
  for (std::uint32_t id = 1; id < 2048; ++id) {
    std::snprintf(text, sizeof text, "grow %u", id);
    ASSERT_EQ(TTable::Intern(text), id);
  }
  const auto* first = pages->GetPageArray();
  EXPECT_EQ(pages->GetSize(), 2u);
  EXPECT_EQ(pages->GetCapacity(), 2u);

  ASSERT_EQ(TTable::Intern("grow 2048"), 2048u);
  const auto* second = pages->GetPageArray();
  EXPECT_NE(second, first);
  EXPECT_EQ(pages->GetSize(), 3u);
  EXPECT_EQ(pages->GetCapacity(), 4u);  // the engine vector growth rule from 2 pointers

  for (std::uint32_t id = 2049; id < 4097; ++id) {
    std::snprintf(text, sizeof text, "grow %u", id);
    ASSERT_EQ(TTable::Intern(text), id);
  }
  const auto* third = pages->GetPageArray();
  EXPECT_NE(third, second);
  EXPECT_EQ(pages->GetSize(), 5u);
  EXPECT_EQ(pages->GetCapacity(), 8u);

  for (std::uint32_t page = 0; page < 2; ++page) {
    EXPECT_EQ(first[page].load(), third[page].load());
    EXPECT_EQ(second[page].load(), third[page].load());
  }
  EXPECT_EQ(second[2].load(), third[2].load());
  for (std::uint32_t id = 0; id < 4097; id += 511) {
    std::snprintf(text, sizeof text, "grow %u", id);
    EXPECT_STREQ(TTable::GetEntry(id)->c_str(), id == 0 ? "" : text);
  }
}

// ---- Allocation failure: a failed Intern changes nothing, and the same text later takes the id
// it would have taken.

struct TTableState {
  std::uint32_t count;
  std::uint32_t mapCount;
  std::uint32_t mapCapacity;
  const void* mapStorage;
  std::uint32_t pageCount;
  std::uint32_t pageCapacity;
  const void* pageArray;
  bool operator==(const TTableState&) const = default;
};

template <typename TTable>
TTableState CaptureState() {
  return {TTable::GetCount(),
          TTable::GetMap()->Count(),
          TTable::GetMap()->Capacity(),
          TTable::GetMap()->Storage(),
          TTable::GetPages()->GetSize(),
          TTable::GetPages()->GetCapacity(),
          TTable::GetPages()->GetPageArray()};
}

// Long enough that its block holds the characters outside itself, on the string heap.
std::string LongText(std::uint32_t number) { return "allocation failure test text " + std::to_string(number); }

// Fills the table to `nextId`, then interns one more text with 0, 1, 2, ... allocations allowed
// until it succeeds. Returns the number of failed attempts.
template <typename TTable>
int CheckFailedInternsChangeNothing(std::uint32_t nextId) {
  TScopedTokenTable<TTable> table;
  for (std::uint32_t id = 1; id < nextId; ++id) EXPECT_EQ(TTable::Intern(LongText(id).c_str()), id);
  const std::string newText = LongText(nextId);
  const TTableState before = CaptureState<TTable>();
  int failures = 0;
  for (int allowance = 0;; ++allowance) {
    std::uint32_t id = 0xFFFFFFFF;
    bool failed = false;
    {
      OrvTest::TFailingAllocationScope scope(allowance);
      try {
        id = TTable::Intern(newText.c_str());
      } catch (const std::bad_alloc&) {
        failed = true;
      }
    }
    if (!failed) {
      EXPECT_EQ(id, nextId);
      break;
    }
    ++failures;
    EXPECT_EQ(CaptureState<TTable>(), before) << "allowance " << allowance;
    EXPECT_EQ(TTable::GetMap()->Find(newText.c_str()), nullptr);
    if (allowance > 100) {
      ADD_FAILURE() << "Intern never succeeded";
      break;
    }
  }
  // Every earlier text still has its id and text.
  for (std::uint32_t id = 1; id < nextId; id += (nextId / 16) + 1) {
    EXPECT_EQ(TTable::Intern(LongText(id).c_str()), id);
    EXPECT_EQ(*TTable::GetEntry(id), LongText(id).c_str());
  }
  EXPECT_EQ(TTable::GetCount(), nextId + 1);
  EXPECT_EQ(TTable::GetMap()->Count(), nextId + 1);
  EXPECT_STREQ(TTable::GetEntry(nextId)->c_str(), newText.c_str());
  return failures;
}

TEST(InternedTokenTableAllocation, FailedInternLeavesTheTableUnchanged) {
  using TTable = OrvTest::TTestTable32Insensitive;
  // The key's block alone.
  EXPECT_GE(CheckFailedInternsChangeNothing<TTable>(3), 1);
  // The key and map growth (2 entries fill a capacity of 2).
  EXPECT_GE(CheckFailedInternsChangeNothing<TTable>(2), 2);
  // The key, a new page and map growth (1024 entries fill a capacity of 1024).
  EXPECT_GE(CheckFailedInternsChangeNothing<TTable>(1024), 3);
  // The key, a new page, a larger page-pointer array and map growth.
  EXPECT_GE(CheckFailedInternsChangeNothing<OrvTest::TTestTableTwoPages>(2048), 4);
}

TEST(InternedTokenTableAllocation, FailedCreateLeavesOnlyWhatShutdownTakesDown) {
  using TTable = OrvTest::TTestTable16Insensitive;
  int failures = 0;
  for (int allowance = 0;; ++allowance) {
    bool failed = false;
    {
      OrvTest::TFailingAllocationScope scope(allowance);
      try {
        TTable::Create();
      } catch (const std::bad_alloc&) {
        failed = true;
      }
    }
    if (!failed) break;
    ++failures;
    // A failed step stores nothing; the steps before it stay for Shutdown.
    EXPECT_EQ(TTable::GetPages(), nullptr);
    TTable::Shutdown();
    EXPECT_EQ(TTable::GetMutex(), nullptr);
    EXPECT_EQ(TTable::GetMap(), nullptr);
    if (allowance > 100) {
      ADD_FAILURE() << "Create never succeeded";
      return;
    }
  }
  EXPECT_GE(failures, 3);  // the lock, the map, the pages
  EXPECT_EQ(TTable::GetCount(), 1u);
  EXPECT_STREQ(TTable::GetEntry(0)->c_str(), "");
  TTable::Shutdown();
}

}  // namespace
