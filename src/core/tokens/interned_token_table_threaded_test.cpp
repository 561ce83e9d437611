// Interning from many threads at once while other threads read texts without the lock.
#include <gtest/gtest.h>
#include <strings.h>

#include <atomic>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "core/tokens/interned_token_table.h"
#include "support/threads_together.h"
#include "support/token_test_tables.h"

namespace {

using Orvan::TTokenRange;
using Orvan::TTokenText;

// Eight interners share 5000 texts: each skips every eighth, so every text is interned by seven
// threads, in an order of the thread's own, in a key form and letter case of the thread's own. The
// table reserves two page pointers, so its page-pointer array moves twice under the readers.
TEST(InternedTokenTableThreaded, ConcurrentInternersAgreeOnOneDenseIdPerText) {
  using TTable = OrvTest::TTestTableTwoPages;
  OrvTest::TScopedTokenTable<TTable> table;
  constexpr std::uint32_t kTexts = 5000;
  constexpr std::uint32_t kInterners = 8;
  constexpr std::uint32_t kReaders = 2;
  // Strides coprime to kTexts: each interner walks all texts in its own order.
  constexpr std::uint32_t kStrides[kInterners] = {1, 3, 7, 9, 11, 13, 17, 19};

  std::vector<std::string> texts(kTexts);
  std::vector<std::string> upperTexts(kTexts);
  for (std::uint32_t i = 0; i < kTexts; ++i) {
    texts[i] = "Shared text " + std::to_string(i);
    for (char c : texts[i]) upperTexts[i] += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  std::vector<std::vector<std::uint32_t>> ids(kInterners, std::vector<std::uint32_t>(kTexts, 0));
  std::vector<std::atomic<std::uint32_t>> published(kTexts);
  std::atomic<std::uint32_t> internersRunning{kInterners};
  std::atomic<std::uint32_t> wrongTexts{0};
  std::atomic<std::uint32_t> emptyNewest{0};
  std::atomic<std::uint64_t> reads{0};

  auto intern = [&](std::uint32_t t) {
    for (std::uint32_t k = 0; k < kTexts; ++k) {
      const std::uint32_t i = (k * kStrides[t] + t * 613) % kTexts;
      if (i % kInterners == t) continue;
      const std::string& text = (t & 1) != 0 ? upperTexts[i] : texts[i];
      std::uint32_t id;
      switch (t % 3) {
        case 0:
          id = TTable::Intern(text.c_str());
          break;
        case 1:
          id = TTable::Intern(TTokenRange{text.data(), text.data() + text.size()});
          break;
        default:
          id = TTable::Intern(TTokenText(text.c_str()));
          break;
      }
      ids[t][i] = id;
      published[i].store(id, std::memory_order_release);
    }
    internersRunning.fetch_sub(1, std::memory_order_release);
  };
  auto read = [&](std::uint32_t r) {
    bool last;
    do {
      last = internersRunning.load(std::memory_order_acquire) == 0;
      for (std::uint32_t i = r; i < kTexts; i += 7) {
        const std::uint32_t id = published[i].load(std::memory_order_acquire);
        if (id == 0) continue;
        if (!TTable::GetEntry(id)->EqualsNoCase(texts[i].c_str())) wrongTexts.fetch_add(1);
        if (strcasecmp(TTable::GetText(id), texts[i].c_str()) != 0) wrongTexts.fetch_add(1);
        reads.fetch_add(1, std::memory_order_relaxed);
        // Every id below the count already has its text.
        const std::uint32_t count = TTable::GetCount();
        if (count > 1 && TTable::GetEntry(count - 1)->IsEmpty()) emptyNewest.fetch_add(1);
      }
    } while (!last);
  };
  // Threads 0 to kInterners - 1 intern, the others read.
  OrvTest::RunOnThreadsTogether(kInterners + kReaders, [&](std::uint32_t t) {
    if (t < kInterners) {
      intern(t);
    } else {
      read(t - kInterners);
    }
  });

  EXPECT_EQ(wrongTexts.load(), 0u);
  EXPECT_EQ(emptyNewest.load(), 0u);
  EXPECT_GT(reads.load(), 0u);
  std::set<std::uint32_t> distinct;
  for (std::uint32_t i = 0; i < kTexts; ++i) {
    const std::uint32_t id = published[i].load();
    for (std::uint32_t t = 0; t < kInterners; ++t) {
      if (i % kInterners != t) {
        EXPECT_EQ(ids[t][i], id) << "text " << i << " thread " << t;
      }
    }
    distinct.insert(id);
    EXPECT_TRUE(TTable::GetEntry(id)->EqualsNoCase(texts[i].c_str())) << i;
  }
  // Dense: exactly the ids 1 to kTexts, one per text.
  ASSERT_EQ(distinct.size(), kTexts);
  EXPECT_EQ(*distinct.begin(), 1u);
  EXPECT_EQ(*distinct.rbegin(), kTexts);
  EXPECT_EQ(TTable::GetCount(), kTexts + 1);
  EXPECT_EQ(TTable::GetMap()->Count(), kTexts + 1);
  EXPECT_EQ(TTable::GetPages()->GetSize(), (kTexts + 1 + 1023) / 1024);
}

}  // namespace
