#include "core/diagnostics/debug_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/threads_together.h"

namespace Orvan {
namespace {

void CollectLine(const wchar_t* line, void* context) {
  static_cast<std::vector<std::wstring>*>(context)->push_back(line);
}

class DebugOutput : public ::testing::Test {
 protected:
  void SetUp() override { SetDebugOutputLineSink(&CollectLine, &lines_); }
  void TearDown() override { SetDebugOutputLineSink(nullptr, nullptr); }
  std::vector<std::wstring> lines_;
};

TEST_F(DebugOutput, LongLinesAreCutAt1023Characters) {
  {
    OutputDebugString_ostream stream;
    stream << std::wstring(1500, L'a') << L'\n';
    stream << std::wstring(1023, L'b');
    stream << std::wstring(2046, L'c');
  }
  ASSERT_EQ(lines_.size(), 5u);
  EXPECT_EQ(lines_[0], std::wstring(1023, L'a'));
  EXPECT_EQ(lines_[1], std::wstring(477, L'a') + L"\n");
  EXPECT_EQ(lines_[2], std::wstring(1023, L'b'));
  EXPECT_EQ(lines_[3], std::wstring(1023, L'c'));
  EXPECT_EQ(lines_[4], std::wstring(1023, L'c'));
}

struct TOpenBuffer : OutputDebugString_streambuf {
  using OutputDebugString_streambuf::overflow;
};

TEST_F(DebugOutput, NewlineEndOfFileAndDestructionEndLines) {
  {
    TOpenBuffer buffer;
    std::wostream stream(&buffer);
    stream << L"one\ntwo";
    EXPECT_EQ(lines_.size(), 1u);
    // End-of-file ends the pending line without adding a character, and is answered as given.
    EXPECT_EQ(buffer.overflow(std::wstreambuf::traits_type::eof()), std::wstreambuf::traits_type::eof());
    stream << L"three";
  }
  EXPECT_EQ(lines_, (std::vector<std::wstring>{L"one\n", L"two", L"three"}));
}

TEST_F(DebugOutput, WithoutASinkLinesAreDiscarded) {
  SetDebugOutputLineSink(nullptr, nullptr);
  GetDebugOutputStream() << L"nowhere\n";
  EXPECT_TRUE(GetDebugOutputStream().good());
  EXPECT_TRUE(lines_.empty());
}

TEST(DebugOutputThreaded, EveryThreadWritesItsOwnStream) {
  constexpr int kThreads = 4;
  std::vector<const OutputDebugString_ostream*> streams(kThreads);
  OrvTest::RunOnThreadsTogether(kThreads, [&](int t) {
    streams[t] = &GetDebugOutputStream();
    for (int i = 0; i < 200; ++i) GetDebugOutputStream() << L"line from a thread " << i << L'\n';
  });
  for (int t = 1; t < kThreads; ++t) EXPECT_NE(streams[t], streams[0]);
}

}  // namespace
}  // namespace Orvan
