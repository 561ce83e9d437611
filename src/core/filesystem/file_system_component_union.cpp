// The union's member list and the rules by which its members answer as one: who is asked, where
// the search stops and which status the union gives back.
#include "core/filesystem/file_system_component_union.h"

#include "core/diagnostics/assertion.h"

namespace Orvan {

TFileSystemComponentUnion::~TFileSystemComponentUnion() noexcept {
  for (TAbstractFileSystemComponent* member : members_) delete member;
  members_.Clear();
}

// ---- The member list.

void TFileSystemComponentUnion::AppendComponent(TAbstractFileSystemComponent* component) {
  try {
    members_.PushBack(component);
  } catch (...) {
    delete component;
    throw;
  }
}

bool TFileSystemComponentUnion::CheckIndex(std::uint32_t index, const char* expression) const {
  if (index < members_.GetSize()) return true;
  ReportAssertionFailure(__FILE__, __LINE__, expression, "a union member index at or past the count");
  return false;
}

TAbstractFileSystemComponent* TFileSystemComponentUnion::GetComponent(std::uint32_t index) const {
  if (!CheckIndex(index, "GetComponent: index < GetComponentCount()")) return nullptr;
  return members_[index];
}

void TFileSystemComponentUnion::SetComponent(std::uint32_t index, TAbstractFileSystemComponent* component) {
  if (!CheckIndex(index, "SetComponent: index < GetComponentCount()")) return;
  delete members_[index];
  members_[index] = component;
}

void TFileSystemComponentUnion::RemoveComponent(TAbstractFileSystemComponent* component) {
  for (std::uint32_t i = 0; i < members_.GetSize(); ++i) {
    if (members_[i] == component) {
      members_.EraseAt(i);
      return;
    }
  }
  ReportAssertionFailure(__FILE__, __LINE__, "RemoveComponent: component in the list",
                         "a component removed from a union that does not hold it");
}

void TFileSystemComponentUnion::DeleteWithoutComponents() noexcept {
  members_.Clear();
  delete this;
}

// ---- The component interface.

bool TFileSystemComponentUnion::Exists(const TFileName& name) {
  for (TAbstractFileSystemComponent* member : members_) {
    if (member != nullptr && member->Exists(name)) return true;
  }
  return false;
}

bool TFileSystemComponentUnion::QueryFileInfo(const TFileName& name, std::uint32_t* first, std::uint32_t* second) {
  for (TAbstractFileSystemComponent* member : members_) {
    if (member != nullptr && member->QueryFileInfo(name, first, second)) return true;
  }
  return false;
}

std::uint32_t TFileSystemComponentUnion::Open(const TFileName& name, TFileStatus& status) {
  for (TAbstractFileSystemComponent* member : members_) {
    if (member == nullptr) continue;
    status = kFileStatusNotDefined;
    if (const std::uint32_t result = member->Open(name, status); result != 0) {
      status = kFileStatusSuccess;
      return result;
    }
    if ((status & kFileStatusCorruptionBit) != 0) {
      status = kFileStatusFileCorrupted;
      return 0;
    }
  }
  status = kFileStatusFileNotFound;
  return 0;
}

bool TFileSystemComponentUnion::EndsSearch(TFileStatus& status, TFileOpenFlags flags) {
  // A member that left the status unwritten (kFileStatusNotDefined) carries the corruption bit and
  // ends here, as it would mounted on its own.
  if ((status & kFileStatusCorruptionBit) != 0) {
    status = kFileStatusFileCorrupted;
    return true;
  }
  return (status & kFileStatusCriticalBit) != 0 && (flags & kFileOpenQuiet) == 0;
}

TCountedPtr<TAbstractMemoryStream> TFileSystemComponentUnion::OpenMemoryStream(
    const std::uint16_t& mountingPoint, const TFileName& name, TFileOpenFlags flags, std::uint32_t extra1,
    std::uint32_t extra2, TFileStatus& status) {
  const bool writing = (flags & kFileOpenWrite) != 0;
  for (TAbstractFileSystemComponent* member : members_) {
    if (member == nullptr || (writing && !member->IsWritable())) continue;
    status = kFileStatusNotDefined;
    TCountedPtr<TAbstractMemoryStream> stream =
        member->OpenMemoryStream(mountingPoint, name, flags, extra1, extra2, status);
    if (stream) {
      status = kFileStatusSuccess;
      return stream;
    }
    if (EndsSearch(status, flags)) return nullptr;
  }
  status = writing ? kFileStatusNotSupported : kFileStatusFileNotFound;
  return nullptr;
}

TCountedPtr<TStream> TFileSystemComponentUnion::OpenStream(const std::uint16_t& mountingPoint, const TFileName& name,
                                                           TFileOpenFlags flags, std::uint32_t extra1,
                                                           std::uint32_t extra2, TFileStatus& status) {
  for (TAbstractFileSystemComponent* member : members_) {
    if (member == nullptr) continue;
    status = kFileStatusNotDefined;
    TCountedPtr<TStream> stream = member->OpenStream(mountingPoint, name, flags, extra1, extra2, status);
    if (stream) return stream;
    if (EndsSearch(status, flags)) return nullptr;
  }
  status = kFileStatusFileNotFound;
  return nullptr;
}

bool TFileSystemComponentUnion::Delete(const TFileName& name) {
  for (TAbstractFileSystemComponent* member : members_) {
    if (member != nullptr && member->Exists(name)) return member->Delete(name);
  }
  return false;
}

void TFileSystemComponentUnion::Enumerate(TSortedFileNameList& collector, const TFileName& folder,
                                          std::int32_t selector, bool flag) {
  for (TAbstractFileSystemComponent* member : members_) {
    if (member != nullptr) member->Enumerate(collector, folder, selector, flag);
  }
}

bool TFileSystemComponentUnion::IsWritable() {
  for (TAbstractFileSystemComponent* member : members_) {
    if (member != nullptr && member->IsWritable()) return true;
  }
  return false;
}

TFileName TFileSystemComponentUnion::GetRootName() {
  if (members_.IsEmpty() || members_[0] == nullptr) return TFileName();
  return members_[0]->GetRootName();
}

}  // namespace Orvan
