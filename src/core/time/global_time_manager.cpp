// The global time manager: clocks, counters and the game-speed factor with its listeners.
#include "core/time/global_time_manager.h"

#include <ctime>
#include <limits>

namespace Orvan {

TGlobalTimeManager::TGlobalTimeManager() : startWallClock_(static_cast<std::uint32_t>(std::time(nullptr))) {
  GetTimeStamp(startStamp_);
}

TGlobalTimeManager::~TGlobalTimeManager() { listeners_.Clear(); }

float TGlobalTimeManager::SpeedStepToFactor(std::int32_t step) {
  const float n = static_cast<float>(step);
  return step >= 0 ? n + 1.0f : -1.0f / (n - 1.0f);
}

double TGlobalTimeManager::GetElapsedSinceStart() const {
  TTimeStamp now;
  return GetElapsedSeconds(startStamp_, GetTimeStamp(now));
}

void TGlobalTimeManager::NewFrame() {
  previousFrameTime_ = frameTime_;
  frameTime_ = GetElapsedSinceStart();
  ++frameCount_;
}

void TGlobalTimeManager::SetTimeValues(double first, double second, double third) {
  previousTimeValue0_ = timeValue0_;
  timeValue0_ = first;
  timeValue1_ = second;
  timeValue2_ = third;
}

void TGlobalTimeManager::CountEvent(bool flagged) {
  if (!flagged) ++unflaggedEventCount_;
  ++eventCount_;
}

void TGlobalTimeManager::SetSpeedStep(std::int32_t step) {
  // Stored so that the next SpeedUp or SlowDown counts from this step.
  speedStep_ = step;
  SetSpeedFactor(SpeedStepToFactor(step));
}

void TGlobalTimeManager::SetSpeedFactor(float factor) {
  const float previous = speedFactor_.exchange(factor, std::memory_order_acq_rel);
  if (previous != factor) NotifyListeners(factor);
}

void TGlobalTimeManager::SpeedUp() {
  if (GetSpeedFactor() < kMaxSpeedFactor && speedStep_ < std::numeric_limits<std::int32_t>::max()) {
    SetSpeedStep(speedStep_ + 1);
  }
}

void TGlobalTimeManager::SlowDown() {
  if (GetSpeedFactor() > kMinSpeedFactor && speedStep_ > std::numeric_limits<std::int32_t>::min()) {
    SetSpeedStep(speedStep_ - 1);
  }
}

void TGlobalTimeManager::ResetSpeed() { SetSpeedStep(0); }

void TGlobalTimeManager::AddListener(ITimeSpeedListener* listener) { listeners_.PushBack(listener); }

void TGlobalTimeManager::RemoveListener(ITimeSpeedListener* listener) {
  ITimeSpeedListener** data = listeners_.Data();
  const std::uint32_t size = listeners_.GetSize();
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    if (data[i] != listener) data[kept++] = data[i];
  }
  listeners_.Resize(kept);
}

// By index, with the list's size read afresh at each step: a listener may add or remove listeners
// while it is told, which may move the list to a new block.
void TGlobalTimeManager::NotifyListeners(float factor) {
  for (std::uint32_t i = 0; i < listeners_.GetSize(); ++i) listeners_[i]->OnSpeedFactorChanged(factor);
}

}  // namespace Orvan
