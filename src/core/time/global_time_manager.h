// The engine's process-wide clock keeper: when the engine started, frame times measured against
// that start, a few counters, three caller-supplied time values, and the game-speed factor by which
// game time runs faster or slower than real time, with the listeners told of each change. The full
// engine start-up builds it in static storage and the full shutdown destroys it.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/singletons/singleton.h"
#include "core/singletons/static_singleton_storage.h"
#include "core/time/time_stamp.h"

namespace Orvan {

class ITimeSpeedListener {
 public:
  virtual void OnSpeedFactorChanged(float factor) = 0;

 protected:
  ~ITimeSpeedListener() = default;
};

// Lives in a static block (GetInstanceStorage): `new TGlobalTimeManager` builds there and `delete`
// frees nothing.
class TGlobalTimeManager : public Meta::TSingleton<TGlobalTimeManager, false>,
                           public TStaticSingletonStorage<TGlobalTimeManager> {
 public:
  // SpeedUp and SlowDown keep the factor within these: step 99 gives 100, step -99 gives 1/100.
  static constexpr float kMaxSpeedFactor = 100.0f;
  static constexpr float kMinSpeedFactor = 0.01f;

  // Registers the manager and reads the monotonic clock and the wall clock.
  TGlobalTimeManager();
  // Frees the listener list without telling any listener.
  ~TGlobalTimeManager() override;

  // The factor of a speed step: n + 1 for n >= 0, 1 / (1 - n) below 0, in single precision. The
  // step is made a float before 1 is added or taken away, so the ends of the i32 range give finite
  // factors of the right sign instead of overflowing.
  static float SpeedStepToFactor(std::int32_t step);

  // Seconds from the start stamp to now.
  double GetElapsedSinceStart() const;
  // Moves the frame time on to now and counts the frame.
  void NewFrame();
  void SetTimeValues(double first, double second, double third);
  void CountEvent(bool flagged);
  void Tick() { ++tickCount_; }
  void Step() { ++stepCount_; }

  // Stores the step and sets the factor from it; listeners hear of it when the factor changed.
  void SetSpeedStep(std::int32_t step);
  // Stores the factor, unbounded; listeners hear of it when it differs from the current one.
  void SetSpeedFactor(float factor);
  // One step faster while the factor is below 100; nothing past the top of the step range.
  void SpeedUp();
  // One step slower while the factor is above 0.01; nothing past the bottom of the step range.
  void SlowDown();
  // Back to step 0, factor 1.
  void ResetSpeed();

  // Listeners are not owned; one added twice is told twice.
  void AddListener(ITimeSpeedListener* listener);
  // Removes every occurrence, keeping the order of the others.
  void RemoveListener(ITimeSpeedListener* listener);

  std::uint32_t GetUnflaggedEventCount() const { return unflaggedEventCount_; }
  std::uint32_t GetEventCount() const { return eventCount_; }
  std::uint32_t GetTickCount() const { return tickCount_; }
  std::uint32_t GetStepCount() const { return stepCount_; }
  std::uint32_t GetFrameCount() const { return frameCount_; }
  double GetTimeValue0() const { return timeValue0_; }
  double GetTimeValue1() const { return timeValue1_; }
  double GetTimeValue2() const { return timeValue2_; }
  double GetPreviousTimeValue0() const { return previousTimeValue0_; }
  TTimeStamp GetStartStamp() const { return startStamp_; }
  double GetFrameTime() const { return frameTime_; }
  double GetPreviousFrameTime() const { return previousFrameTime_; }
  std::uint32_t GetStartWallClock() const { return startWallClock_; }
  float GetSpeedFactor() const { return speedFactor_.load(std::memory_order_acquire); }
  std::int32_t GetSpeedStep() const { return speedStep_; }
  const TVector<ITimeSpeedListener*>& GetListeners() const { return listeners_; }

 private:
  void NotifyListeners(float factor);

  std::uint32_t unflaggedEventCount_ = 0;
  std::uint32_t eventCount_ = 0;
  std::uint32_t tickCount_ = 1;
  std::uint32_t stepCount_ = 0;
  [[maybe_unused]] std::uint32_t reserved_ = 0;
  std::uint32_t frameCount_ = 0;
  double timeValue0_ = 0.0;
  double timeValue1_ = 0.0;
  double timeValue2_ = 0.0;
  TTimeStamp startStamp_ = 0;
  double frameTime_ = 0.0;
  double previousFrameTime_ = 0.0;
  double previousTimeValue0_ = 0.0;
  std::uint32_t startWallClock_ = 0;
  std::atomic<float> speedFactor_{1.0f};
  std::int32_t speedStep_ = 0;
  TVector<ITimeSpeedListener*> listeners_;
};

}  // namespace Orvan
