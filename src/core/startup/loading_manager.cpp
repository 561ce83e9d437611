// The loading manager's value list.
#include "core/startup/loading_manager.h"

namespace Orvan {

TLoadingManager::TLoadingManager() { GetTimeStamp(loadingStartStamp_); }

void TLoadingManager::RemoveValue(std::uint32_t value) {
  for (std::uint32_t i = 0; i < values_.GetSize(); ++i) {
    if (values_[i] == value) {
      values_.EraseAt(i);
      return;
    }
  }
}

}  // namespace Orvan
