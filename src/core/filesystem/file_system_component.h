// TAbstractFileSystemComponent, the interface of every source of files that the virtual file
// system mounts: whether a file exists, what is known of it, three ways to open it, deleting it,
// listing a folder, whether it can be written, and where its contents are rooted. Components are
// owned by the virtual file system from mounting to unmounting and are called under its read lock,
// from any thread.
#pragma once

#include <cstdint>

#include "core/filesystem/file_name.h"
#include "core/objects/ref_counting.h"
#include "core/singletons/non_copyable.h"
#include "core/streams/abstract_memory_stream.h"
#include "core/streams/file_memory_stream.h"
#include "core/streams/stream.h"

namespace Orvan {

class TSortedFileNameList;

// The access part of open flags (kFileOpenRead, kFileOpenWrite) as text: 1 "RO", 2 "WO", 3 "RW",
// any other value "?".
const char* GetAccessModeText(std::uint32_t accessMode);

class TAbstractFileSystemComponent : public Meta::NonCopyable {
 public:
  TAbstractFileSystemComponent() = default;
  virtual ~TAbstractFileSystemComponent() noexcept = default;

  // Every operation reads only the name's path: the mounting point that routed the request here
  // has been used already.
  virtual bool Exists(const TFileName& name) = 0;
  // True when the file is there; then the two values the component keeps of it are stored through
  // the pointers that are not null.
  virtual bool QueryFileInfo(const TFileName& name, std::uint32_t* first, std::uint32_t* second) = 0;

  // The opens write the status on every call, success included: the virtual file system presets
  // kFileStatusNotDefined, which reads as corruption when left. A result of 0 or a null handle
  // means nothing was opened. The opens that take a mounting point are given the one that routed
  // the request; extra1 and extra2 belong to the component.
  virtual std::uint32_t Open(const TFileName& name, TFileStatus& status) = 0;
  virtual TCountedPtr<TAbstractMemoryStream> OpenMemoryStream(const std::uint16_t& mountingPoint,
                                                              const TFileName& name, TFileOpenFlags flags,
                                                              std::uint32_t extra1, std::uint32_t extra2,
                                                              TFileStatus& status) = 0;
  virtual TCountedPtr<TStream> OpenStream(const std::uint16_t& mountingPoint, const TFileName& name,
                                          TFileOpenFlags flags, std::uint32_t extra1, std::uint32_t extra2,
                                          TFileStatus& status) = 0;

  // True when the file was deleted.
  virtual bool Delete(const TFileName& name) = 0;
  // Adds what the folder holds to the collector, which keeps the first entry of each text. The
  // selector and the flag belong to the component.
  virtual void Enumerate(TSortedFileNameList& collector, const TFileName& folder, std::int32_t selector,
                         bool flag) = 0;
  virtual bool IsWritable() = 0;
  // Where the component's contents are rooted; the empty name unless the component says more.
  virtual TFileName GetRootName();
};

}  // namespace Orvan
