// The component interface's one default and the access-mode texts.
#include "core/filesystem/file_system_component.h"

namespace Orvan {

const char* GetAccessModeText(std::uint32_t accessMode) {
  switch (accessMode) {
    case kFileOpenRead:
      return "RO";
    case kFileOpenWrite:
      return "WO";
    case kFileOpenRead | kFileOpenWrite:
      return "RW";
    default:
      return "?";
  }
}

TFileName TAbstractFileSystemComponent::GetRootName() { return TFileName(); }

}  // namespace Orvan
