// The link's capture of its target, the paths it builds below its prefix, and the forwarding that
// stops once the target is no longer mounted.
#include "core/filesystem/file_system_component_link.h"

#include <utility>

#include "core/filesystem/virtual_file_system.h"
#include "core/sync/reader_writer_lock.h"

namespace Orvan {

TFileSystemComponentLink::TFileSystemComponentLink(const std::uint16_t& targetMountingPoint, const TFileName& prefix)
    : targetMountingPoint_(targetMountingPoint) {
  const TOrvString<char> text = prefix.ToSlashString();
  TPathNode* parsed = TFileName::ParsePath(TCharRange<char>{text.GetData(), text.GetData() + text.GetLength()});
  if (parsed != nullptr) {
    prefixPath_ = MakeFileName(parsed, 0);
    TFileNameRegistry::Get()->ReleaseNode(parsed);
  }
  prefixPathCopy_ = TFileName(0, prefix);
  if (TVirtualFileSystem* fileSystem = TVirtualFileSystem::GetInstancePointer()) {
    const TScopedReadLock reading(&fileSystem->GetLock());
    target_ = fileSystem->FindComponent(targetMountingPoint_);
    targetSerial_ = fileSystem->FindMountSerial(targetMountingPoint_);
  }
}

bool TFileSystemComponentLink::IsTargetStillMounted() {
  TVirtualFileSystem* fileSystem = TVirtualFileSystem::GetInstancePointer();
  return (fileSystem != nullptr ? fileSystem->FindMountSerial(targetMountingPoint_) : 0) == targetSerial_;
}

TFileName TFileSystemComponentLink::MakeTargetPath(const TFileName& name) const {
  TFileName path = TFileName::AppendToNode(prefixPath_.GetNode(), name);
  path.SetMountingPoint(targetMountingPoint_);
  return path;
}

template <typename TResult, typename TCall>
TResult TFileSystemComponentLink::Forward(TResult missing, TCall&& call) {
  if (target_ == nullptr) return missing;
  TVirtualFileSystem* fileSystem = TVirtualFileSystem::GetInstancePointer();
  if (fileSystem == nullptr) return missing;
  // Held across the call, so the target cannot be unmounted (and deleted) while it runs; the
  // lookup's own read lock nests inside it.
  const TScopedReadLock reading(&fileSystem->GetLock());
  if (fileSystem->FindMountSerial(targetMountingPoint_) != targetSerial_) return missing;
  return call(*target_);
}

bool TFileSystemComponentLink::Exists(const TFileName& name) {
  return Forward(false, [&](TAbstractFileSystemComponent& target) { return target.Exists(MakeTargetPath(name)); });
}

bool TFileSystemComponentLink::QueryFileInfo(const TFileName& name, std::uint32_t* first, std::uint32_t* second) {
  return Forward(false, [&](TAbstractFileSystemComponent& target) {
    return target.QueryFileInfo(MakeTargetPath(name), first, second);
  });
}

std::uint32_t TFileSystemComponentLink::Open(const TFileName& name, TFileStatus& status) {
  const TFileStatus given = status;
  status = kFileStatusFileNotFound;
  return Forward(std::uint32_t{0}, [&](TAbstractFileSystemComponent& target) {
    status = given;
    return target.Open(MakeTargetPath(name), status);
  });
}

TCountedPtr<TAbstractMemoryStream> TFileSystemComponentLink::OpenMemoryStream(const std::uint16_t&,
                                                                              const TFileName& name,
                                                                              TFileOpenFlags flags,
                                                                              std::uint32_t extra1,
                                                                              std::uint32_t extra2,
                                                                              TFileStatus& status) {
  const TFileStatus given = status;
  status = kFileStatusFileNotFound;
  return Forward(TCountedPtr<TAbstractMemoryStream>(), [&](TAbstractFileSystemComponent& target) {
    status = given;
    return target.OpenMemoryStream(targetMountingPoint_, MakeTargetPath(name), flags, extra1, extra2, status);
  });
}

TCountedPtr<TStream> TFileSystemComponentLink::OpenStream(const std::uint16_t&, const TFileName& name,
                                                          TFileOpenFlags flags, std::uint32_t extra1,
                                                          std::uint32_t extra2, TFileStatus& status) {
  const TFileStatus given = status;
  status = kFileStatusFileNotFound;
  return Forward(TCountedPtr<TStream>(), [&](TAbstractFileSystemComponent& target) {
    status = given;
    return target.OpenStream(targetMountingPoint_, MakeTargetPath(name), flags, extra1, extra2, status);
  });
}

bool TFileSystemComponentLink::Delete(const TFileName& name) {
  return Forward(false, [&](TAbstractFileSystemComponent& target) { return target.Delete(MakeTargetPath(name)); });
}

void TFileSystemComponentLink::Enumerate(TSortedFileNameList& collector, const TFileName& folder,
                                         std::int32_t selector, bool flag) {
  Forward(false, [&](TAbstractFileSystemComponent& target) {
    TFileName path = TFileName::AppendToNode(prefixPathCopy_.GetNode(), folder);
    path.SetMountingPoint(targetMountingPoint_);
    target.Enumerate(collector, path, selector, flag);
    return true;
  });
}

bool TFileSystemComponentLink::IsWritable() {
  return Forward(false, [](TAbstractFileSystemComponent& target) { return target.IsWritable(); });
}

}  // namespace Orvan
