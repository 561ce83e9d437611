// TFileSystemComponentLink, a component that holds no files of its own: it makes one mounting
// point show a sub-folder of another by putting a prefix path in front of every request and
// handing it to the component mounted at the target mounting point.
#pragma once

#include <cstdint>

#include "core/filesystem/file_name.h"
#include "core/filesystem/file_system_component.h"

namespace Orvan {

class TVirtualFileSystem;

// The target is the component mounted at the target mounting point when the link is built; the
// link never follows later mounts. It belongs to the virtual file system, which may unmount and
// delete it while the link lives, so a request is forwarded only while that very component is
// still mounted there (checked and called under one read lock of the file system). A link without
// its target answers as for a file that is not there.
class TFileSystemComponentLink : public TAbstractFileSystemComponent {
 public:
  // The prefix's own mounting point is ignored. A prefix component holding a byte a parsed name
  // may not hold throws EInvalidFileName.
  TFileSystemComponentLink(const std::uint16_t& targetMountingPoint, const TFileName& prefix);
  ~TFileSystemComponentLink() noexcept override = default;

  // Whether the target captured at construction is still mounted at the target mounting point by
  // the same mount (no replacement, unmounting or new mount since), or nothing was mounted there
  // and nothing is (no file system counts as nothing mounted).
  bool IsTargetStillMounted();

  // The prefix followed by the name's components (".." of the name climbs into the prefix), with
  // the target mounting point.
  TFileName MakeTargetPath(const TFileName& name) const;

  std::uint16_t GetTargetMountingPoint() const noexcept { return targetMountingPoint_; }

  // ---- The component interface: the target's answers, unchanged. The opens that take a mounting
  // point give the target the link's target mounting point. Without a target: false, 0 or an empty
  // handle with kFileStatusFileNotFound, and nothing listed.
  bool Exists(const TFileName& name) override;
  bool QueryFileInfo(const TFileName& name, std::uint32_t* first, std::uint32_t* second) override;
  std::uint32_t Open(const TFileName& name, TFileStatus& status) override;
  TCountedPtr<TAbstractMemoryStream> OpenMemoryStream(const std::uint16_t& mountingPoint, const TFileName& name,
                                                      TFileOpenFlags flags, std::uint32_t extra1, std::uint32_t extra2,
                                                      TFileStatus& status) override;
  TCountedPtr<TStream> OpenStream(const std::uint16_t& mountingPoint, const TFileName& name, TFileOpenFlags flags,
                                  std::uint32_t extra1, std::uint32_t extra2, TFileStatus& status) override;
  bool Delete(const TFileName& name) override;
  // The folder is put below the prefix as the caller's prefix named it, component for component.
  void Enumerate(TSortedFileNameList& collector, const TFileName& folder, std::int32_t selector, bool flag) override;
  bool IsWritable() override;
  // GetRootName is not forwarded: a link answers the empty name even when its target has a root.

 private:
  // Calls `call` with the target while it is still mounted, under the file system's read lock;
  // otherwise answers `missing`.
  template <typename TResult, typename TCall>
  TResult Forward(TResult missing, TCall&& call);

  std::uint16_t targetMountingPoint_;
  // Both hold one reference on their node and no mounting point. The prefix is the given one's
  // text parsed again; the copy is the given node itself (they differ only when a component name
  // holds a separator), and the listing uses it.
  TFileName prefixPath_;
  TFileName prefixPathCopy_;
  TAbstractFileSystemComponent* target_ = nullptr;
  // The file system's serial of the target's mount (0: nothing was mounted), so that a component
  // mounted later at the freed target's address is not taken for it.
  std::uint32_t targetSerial_ = 0;
};

}  // namespace Orvan
