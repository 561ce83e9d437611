#include <gtest/gtest.h>

#include <vector>

#include "core/text/engine_string.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kCopiesPerThread = 100000;
#else
constexpr int kCopiesPerThread = 1000000;
#endif
constexpr int kThreads = 8;

TEST(EngineStringThreadedTest, CopiesAndReleasesOfOneStringOnManyThreadsBalance) {
  const std::uint32_t liveBefore = GetStringContentLiveCount<char>();
  {
    const TOrvString<char> shared("one text shared by every thread");
    OrvTest::RunOnThreadsTogether(kThreads, [&](int) {
      for (int i = 0; i < kCopiesPerThread; ++i) {
        TOrvString<char> copy(shared);
        TOrvString<char> other;
        other = copy;
      }
    });
    EXPECT_EQ(shared.GetRefCount(), 1);
    EXPECT_EQ(shared, "one text shared by every thread");
    EXPECT_EQ(GetStringContentLiveCount<char>(), liveBefore + 1);
  }
  EXPECT_EQ(GetStringContentLiveCount<char>(), liveBefore);
}

TEST(EngineStringThreadedTest, WritersOfSharedHandlesEachTakeTheirOwnCopy) {
  const std::uint32_t liveBefore = GetStringContentLiveCount<wchar_t>();
  {
    std::vector<TOrvString<wchar_t>> handles(kThreads, TOrvString<wchar_t>(L"base"));
    OrvTest::RunOnThreadsTogether(kThreads, [&](int t) {
      for (int i = 0; i < 1000; ++i) {
        TOrvString<wchar_t> mine = handles[t];
        mine += static_cast<wchar_t>(L'a' + t);
        handles[t].GetHash();
        handles[t] = mine.Left(4);
      }
      handles[t] += static_cast<wchar_t>(L'a' + t);
    });
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(handles[t], (TOrvString<wchar_t>(L"base") + static_cast<wchar_t>(L'a' + t)));
    }
  }
  EXPECT_EQ(GetStringContentLiveCount<wchar_t>(), liveBefore);
}

}  // namespace
}  // namespace Orvan
