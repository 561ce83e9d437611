// The allocation profiler: counts and times the allocations and frees of a named allocator, and
// writes a three-line report of them. Several threads may time operations on one profile.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/sync/mutex.h"
#include "core/time/time_stamp.h"

namespace Orvan {

class TAllocatorProfile {
 public:
  // An allocation that takes longer than this many milliseconds counts as slow.
  static constexpr double kSlowAllocationMilliseconds = 0.1;

  // `name` must outlive the profile: the two process-wide profiles outlive the engine (they are
  // destroyed at process exit), so the name is a plain text rather than an engine string.
  explicit TAllocatorProfile(const char* name) : name_(name) {}
  TAllocatorProfile(const TAllocatorProfile&) = delete;
  TAllocatorProfile& operator=(const TAllocatorProfile&) = delete;

  const char* GetName() const { return name_; }
  std::uint32_t GetAllocationCount() const { return allocationCount_.load(std::memory_order_relaxed); }
  std::uint32_t GetFreeCount() const { return freeCount_.load(std::memory_order_relaxed); }
  std::uint32_t GetSlowAllocationCount() const { return slowAllocationCount_.load(std::memory_order_relaxed); }
  // Seconds, read under their mutexes.
  double GetTotalAllocationTime() const;
  double GetTotalFreeTime() const;

 private:
  friend class TAllocatorProfileScope;

  const char* name_;
  std::atomic<std::uint32_t> allocationCount_{0};
  std::atomic<std::uint32_t> freeCount_{0};
  std::atomic<std::uint32_t> slowAllocationCount_{0};
  mutable TMutex allocationTimeMutex_;
  mutable TMutex freeTimeMutex_;
  double totalAllocationTime_ = 0.0;
  double totalFreeTime_ = 0.0;
};

// "Profiler Allocator" and "Profiler Local Allocator", built on first use.
TAllocatorProfile& GetAllocatorProfile();
TAllocatorProfile& GetLocalAllocatorProfile();

// One timing of one allocation or free: Begin counts the operation and starts the clock, End stops
// it and adds the time to the profile. End is StopClock then Account; tests account spans of their
// own choosing.
class TAllocatorProfileScope {
 public:
  void BeginAllocation(TAllocatorProfile& profile);
  void EndAllocation() { AccountAllocation(StopClock()); }
  void BeginFree(TAllocatorProfile& profile);
  void EndFree() { AccountFree(StopClock()); }

  // Clears `running` and returns the nanoseconds since Begin.
  std::uint64_t StopClock();
  // Adds the span to the accumulated time and the accumulated seconds to the profile's total; an
  // allocation counts as slow when they come to more than 0.1 ms.
  void AccountAllocation(std::uint64_t nanoseconds);
  void AccountFree(std::uint64_t nanoseconds);

  bool IsRunning() const { return running_ != 0; }

 private:
  void Begin(TAllocatorProfile& profile);

  TAllocatorProfile* profile_ = nullptr;
  std::uint64_t accumulated_ = 0;
  TTimeStamp start_ = 0;
  std::uint8_t running_ = 0;
};

// Builds the profile's report, writes it to the debug output and returns it (UTF-8):
//   "<name> : \n"
//   "    Allocation : <count> (<slow>) --- Time : <ms> ms.\n"
//   "    Free : <count> --- Time : <ms> ms.\n"
// with the milliseconds in the default number format of a standard stream.
std::string WriteAllocatorProfileReport(const TAllocatorProfile& profile);

// Picks the unit for a memory figure and scales `value` to it: below 2049 bytes "B"; else, when the
// figure in KiB (shifted by 10) is below 2049, "KB"; otherwise "MB" (shifted by 20).
const char* ChooseMemoryUnit(std::uint64_t& value);

}  // namespace Orvan
