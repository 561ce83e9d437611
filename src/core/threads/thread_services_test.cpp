#include "core/threads/thread_services.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

namespace Orvan {
namespace {

TEST(ThreadPriority, LevelsMapLinearlyOntoTheRange) {
  const std::uint32_t expected[] = {99, 85, 71, 57, 43, 29, 15, 1};
  for (std::uint32_t level = 0; level <= kLowestPriorityLevel; ++level) {
    EXPECT_EQ(ComputePriorityForLevel(level, 1, 99), expected[level]) << "level " << level;
  }
  // The platform's own limits: level 0 is the highest SCHED_FIFO priority, 7 the lowest.
  EXPECT_EQ(GetPriorityForLevel(0), sched_get_priority_max(SCHED_FIFO));
  EXPECT_EQ(GetPriorityForLevel(7), sched_get_priority_min(SCHED_FIFO));
  EXPECT_EQ(GetPriorityForLevel(3), static_cast<int>(ComputePriorityForLevel(3, sched_get_priority_min(SCHED_FIFO),
                                                                             sched_get_priority_max(SCHED_FIFO))));
}

TEST(ProcessorCountThreaded, CountsTheCallingThreadsAffinityMask) {
  if (std::thread::hardware_concurrency() < 4) GTEST_SKIP() << "needs processors 0 and 3";
  std::uint32_t count = 0;
  int setResult = -1;
  std::thread worker([&] {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    CPU_SET(3, &set);
    setResult = pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
    count = GetProcessorCount();
  });
  worker.join();
  if (setResult != 0) GTEST_SKIP() << "processors 0 and 3 are not both available";
  EXPECT_EQ(count, 2u);
  EXPECT_GE(GetProcessorCount(), 1u);
}

#if defined(__i386__) || defined(__x86_64__)
std::uint16_t ReadX87ControlWord() {
  std::uint16_t word;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}
void WriteX87ControlWord(std::uint16_t word) { __asm__ volatile("fldcw %0" : : "m"(word)); }

// Each test restores the control word it found.
class FloatingPointPrecision : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = ReadX87ControlWord(); }
  void TearDown() override { WriteX87ControlWord(saved_); }
  std::uint16_t saved_ = 0;
};

TEST_F(FloatingPointPrecision, ClearsOnlyThePrecisionBits) {
  // Precision field 11 (extended) or 10 (double), with rounding control and an exception mask that
  // must survive.
  for (const std::uint16_t start : {std::uint16_t{0x037F}, std::uint16_t{0x0E7F}, std::uint16_t{0x0A7E}}) {
    WriteX87ControlWord(start);
    SetFloatingPointSinglePrecision();
    EXPECT_EQ(ReadX87ControlWord(), static_cast<std::uint16_t>(start & ~0x0300)) << std::hex << start;
  }
}

TEST_F(FloatingPointPrecision, LongDoubleArithmeticRoundsToSinglePrecision) {
  volatile long double one = 1.0L;
  volatile long double tiny = 1.0L / (1 << 30);  // far below float's 24-bit mantissa
  WriteX87ControlWord(0x037F);
  EXPECT_NE(one + tiny, one);
  SetFloatingPointSinglePrecision();
  EXPECT_EQ(one + tiny, one);
}
#endif

class DebuggerLink : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("orv_debugger_link_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }
  std::string MakeLink(const std::string& name, const std::string& target) {
    const std::filesystem::path link = directory_ / name;
    std::filesystem::create_symlink(target, link);
    return link.string();
  }
  std::filesystem::path directory_;
};

TEST_F(DebuggerLink, AnswersWhetherTheExecutableNameContainsGdb) {
  struct Case {
    std::string target;
    bool debugger;
  };
  // 250 characters of path before the name.
  const std::string deep = "/" + std::string(249, 'd');
  const Case cases[] = {
      {"/usr/bin/gdb", true},
      {"/usr/libexec/gdb-multiarch", true},
      {"/usr/bin/bash", false},
      {"/opt/gdb/bin/lldb", false},  // only the name after the last '/' counts
      {"gdb", false},                // no '/' at all
      {deep + "/gdb", true},         // 254 bytes: fits with its terminator
      {deep + "x/gdb", false},       // 255 bytes: cut to ".../gd"
      {deep + std::string(300, 'e') + "/gdb", false},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string link = MakeLink("link" + std::to_string(index++), c.target);
    EXPECT_EQ(IsDebuggerLink(link.c_str()), c.debugger) << c.target.size() << " bytes: " << c.target.substr(0, 40);
  }
  EXPECT_FALSE(IsDebuggerLink((directory_ / "missing").c_str()));
}

TEST(ThreadServices, SleepLastsAtLeastTheRequestedTime) {
  const auto start = std::chrono::steady_clock::now();
  const std::uint32_t startMs = GetTimeMilliseconds();
  SleepMilliseconds(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_GE(GetTimeMilliseconds() - startMs, 19u);  // whole milliseconds on both sides
}

TEST(ThreadServices, LastSystemErrorIsErrno) {
  errno = EBADF;
  EXPECT_EQ(GetLastSystemError(), EBADF);
  errno = 0;
  EXPECT_EQ(GetLastSystemError(), 0);
}

}  // namespace
}  // namespace Orvan
