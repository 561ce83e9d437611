// The loading manager of the full engine start-up: when loading started, a flag, and a list of
// 32-bit values that loaders add and take away. It is made with operator new and deleted by the
// full shutdown.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/singletons/singleton.h"
#include "core/time/time_stamp.h"

namespace Orvan {

class TLoadingManager : public Meta::TSingleton<TLoadingManager, false> {
 public:
  // Registers the manager and takes the loading start stamp.
  TLoadingManager();

  void SetFlag(bool flag) { flag_ = flag; }
  bool GetFlag() const { return flag_; }
  void AddValue(std::uint32_t value) { values_.PushBack(value); }
  // Removes the first occurrence, moving the later ones down by one; an absent value leaves the
  // list as it is.
  void RemoveValue(std::uint32_t value);

  const TVector<std::uint32_t>& GetValues() const { return values_; }
  TTimeStamp GetLoadingStartStamp() const { return loadingStartStamp_; }

 private:
  TVector<std::uint32_t> values_;
  bool flag_ = true;
  [[maybe_unused]] bool secondFlag_ = false;
  [[maybe_unused]] std::uint64_t reserved_ = 0;
  TTimeStamp loadingStartStamp_ = 0;
  [[maybe_unused]] std::uint32_t lastWord_ = 1;
};

}  // namespace Orvan
