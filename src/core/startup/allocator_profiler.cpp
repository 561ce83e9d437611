// The allocation profiler's counting, timing and report.
#include "core/startup/allocator_profiler.h"

#include <sstream>

#include "core/diagnostics/debug_output.h"
#include "core/text/text_encoding.h"

namespace Orvan {

double TAllocatorProfile::GetTotalAllocationTime() const {
  TMutexLocker lock(allocationTimeMutex_);
  return totalAllocationTime_;
}

double TAllocatorProfile::GetTotalFreeTime() const {
  TMutexLocker lock(freeTimeMutex_);
  return totalFreeTime_;
}

TAllocatorProfile& GetAllocatorProfile() {
  static TAllocatorProfile profile("Profiler Allocator");
  return profile;
}

TAllocatorProfile& GetLocalAllocatorProfile() {
  static TAllocatorProfile profile("Profiler Local Allocator");
  return profile;
}

void TAllocatorProfileScope::Begin(TAllocatorProfile& profile) {
  profile_ = &profile;
  accumulated_ = 0;
  running_ = 1;
  GetTimeStamp(start_);
}

void TAllocatorProfileScope::BeginAllocation(TAllocatorProfile& profile) {
  profile.allocationCount_.fetch_add(1, std::memory_order_relaxed);
  Begin(profile);
}

void TAllocatorProfileScope::BeginFree(TAllocatorProfile& profile) {
  profile.freeCount_.fetch_add(1, std::memory_order_relaxed);
  Begin(profile);
}

std::uint64_t TAllocatorProfileScope::StopClock() {
  running_ = 0;
  TTimeStamp now;
  TTimeStamp span;
  GetTimeSpan(span, start_, GetTimeStamp(now));
  return span;
}

void TAllocatorProfileScope::AccountAllocation(std::uint64_t nanoseconds) {
  accumulated_ += nanoseconds;
  const double seconds = TimeStampToSeconds(static_cast<std::int64_t>(accumulated_));
  if (seconds * 1000.0 > TAllocatorProfile::kSlowAllocationMilliseconds) {
    profile_->slowAllocationCount_.fetch_add(1, std::memory_order_relaxed);
  }
  TMutexLocker lock(profile_->allocationTimeMutex_);
  profile_->totalAllocationTime_ += seconds;
}

void TAllocatorProfileScope::AccountFree(std::uint64_t nanoseconds) {
  accumulated_ += nanoseconds;
  const double seconds = TimeStampToSeconds(static_cast<std::int64_t>(accumulated_));
  TMutexLocker lock(profile_->freeTimeMutex_);
  profile_->totalFreeTime_ += seconds;
}

std::string WriteAllocatorProfileReport(const TAllocatorProfile& profile) {
  std::ostringstream report;
  report << profile.GetName() << " : \n";
  report << "    Allocation : " << profile.GetAllocationCount() << " (" << profile.GetSlowAllocationCount()
         << ") --- Time : " << profile.GetTotalAllocationTime() * 1000 << " ms.\n";
  report << "    Free : " << profile.GetFreeCount() << " --- Time : " << profile.GetTotalFreeTime() * 1000.0
         << " ms.\n";
  std::string text = report.str();
  GetDebugOutputStream() << Utf8ToWide(text);
  return text;
}

const char* ChooseMemoryUnit(std::uint64_t& value) {
  if (value < 2049) return "B";
  if ((value >> 10) < 2049) {
    value >>= 10;
    return "KB";
  }
  value >>= 20;
  return "MB";
}

}  // namespace Orvan
