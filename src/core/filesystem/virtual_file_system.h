// TVirtualFileSystem, the engine's one point of file access by TFileName: file-system components
// mounted under mounting-point ids, searched in mount order, and the policy for failed opens (a
// component reporting corruption ends the process; a critical failure goes to the newest installed
// handler or, with none, to a dialog).
//
// A name with a mounting point goes to the first component mounted under that id; a name without
// one goes through the components in mount order until one answers. At most one instance exists,
// built and destroyed by its owner; nothing in the server builds one.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/filesystem/file_name.h"
#include "core/filesystem/file_system_component.h"
#include "core/objects/ref_counting.h"
#include "core/singletons/singleton.h"
#include "core/streams/abstract_memory_stream.h"
#include "core/streams/file_memory_stream.h"
#include "core/streams/stream.h"
#include "core/sync/reader_writer_lock.h"
#include "core/text/engine_string.h"

namespace Orvan {

// Dialog sites of the file system: the write warnings of the three opens and of deletions, and the
// critical-error dialog (one site, so ignoring it always covers every later critical error).
inline constexpr std::uint32_t kWriteOpenWarningDialogId = 121;
inline constexpr std::uint32_t kSplitWriteOpenWarningDialogId = 122;
inline constexpr std::uint32_t kWriteMemoryOpenWarningDialogId = 123;
inline constexpr std::uint32_t kDeleteWarningDialogId = 124;
inline constexpr std::uint32_t kCriticalErrorDialogId = 125;

// Receives the critical failures of the file system while it is the newest installed handler.
// The file system does not own it: the owner pops it before it goes.
class TFileSystemCriticalErrorHandler {
 public:
  virtual void HandleCriticalError(const TFileName& name, const TOrvString<wchar_t>& message) = 0;
  bool IsInstalled() const noexcept { return installed_; }

 protected:
  TFileSystemCriticalErrorHandler() = default;
  ~TFileSystemCriticalErrorHandler() = default;

 private:
  friend class TVirtualFileSystem;
  bool installed_ = false;
};

// One mounted component; a null component is passed over by every operation. The serial tells
// this mount from every other of the process, also of a component at a reused address.
struct TMountEntry {
  std::uint16_t mountingPoint;
  std::uint32_t serial;
  TAbstractFileSystemComponent* component;
};

class TVirtualFileSystem : public Meta::TSingleton<TVirtualFileSystem, false> {
 public:
  // Makes the new object the singleton; nothing is mounted.
  TVirtualFileSystem();
  // Deletes every mounted component in mount order and forgets the handlers.
  ~TVirtualFileSystem() override;

  // ---- The mount list. Changes take the write lock, so they wait for every running operation.
  // Appends the component under the id and takes ownership of it (it is deleted when the append
  // throws).
  void Mount(const std::uint16_t& mountingPoint, TAbstractFileSystemComponent* component);
  // Puts the component in the first entry under the id and hands the old one to the caller; null,
  // and the new component stays the caller's, when nothing is mounted under the id.
  TAbstractFileSystemComponent* ReplaceComponent(const std::uint16_t& mountingPoint,
                                                 TAbstractFileSystemComponent* component);
  // Deletes the component of the first entry under the id and removes the entry; nothing when
  // there is none.
  void Unmount(const std::uint16_t& mountingPoint);

  // ---- Lookups, under a read lock of their own (nested read locks only count up).
  // The component of the first entry under the id, or null.
  TAbstractFileSystemComponent* FindComponent(const std::uint16_t& mountingPoint);
  // The serial of that entry's mount (Mount or ReplaceComponent), or 0 when there is none.
  std::uint32_t FindMountSerial(const std::uint16_t& mountingPoint);
  // As FindComponent; EMountingPointNotFound instead of null.
  TAbstractFileSystemComponent* GetComponentOrThrow(const std::uint16_t& mountingPoint);
  // The first writable component. EException "No filesystem mounted" or "No writable filesystem
  // mounted".
  TAbstractFileSystemComponent* GetFirstWritableComponent();
  // The component of the name's mounting point (not asked whether it has the file), or the first
  // component that has the file; null when there is none.
  TAbstractFileSystemComponent* FindOwningComponent(const TFileName& name);

  // ---- Routed operations. Each holds a read lock throughout, components, dialogs and reports
  // included. A name without a mounting point on an empty mount list throws EException "No
  // filesystem mounted" (Open answers 0 instead).
  // False when the name's mounting point is not mounted.
  bool Exists(const TFileName& name);
  // Either pointer may be null. EMountingPointNotFound for a mounting point not mounted.
  bool QueryFileInfo(const TFileName& name, std::uint32_t* first, std::uint32_t* second);
  bool QueryFirstFileInfo(const TFileName& name, std::uint32_t* first) { return QueryFileInfo(name, first, nullptr); }
  bool QuerySecondFileInfo(const TFileName& name, std::uint32_t* second) {
    return QueryFileInfo(name, nullptr, second);
  }
  // ThrowFileNotFound when the query answers false.
  std::uint32_t GetFirstFileInfo(const TFileName& name);
  std::uint32_t GetSecondFileInfo(const TFileName& name);
  // The component's answer. Without a mounting point, after a warning dialog, the first writable
  // component is asked, whether or not it has the file. EMountingPointNotFound for a mounting
  // point not mounted.
  bool DeleteFile(const TFileName& name);

  // The opens check the component's status: corruption ends the process, a critical failure is
  // reported unless the flags are quiet (Open has none), and the open goes on. Opening for writing
  // by a name without a mounting point draws a warning dialog first. A mounting point not mounted
  // answers 0 or null.
  // The component's result (0: nothing opened); without a mounting point, the first that is not 0.
  std::uint32_t Open(const TFileName& name);
  // The split form: the component under `mountingPoint` (0: every component in mount order) is
  // given the path, whose own mounting point is not used. The status is the caller's and is not
  // preset: it ends as the last component asked left it.
  TCountedPtr<TStream> OpenStream(const std::uint16_t& mountingPoint, const TFileName& path, TFileOpenFlags flags,
                                  std::uint32_t extra1, std::uint32_t extra2, TFileStatus& status);
  // Without a mounting point, write opens skip the components that are not writable.
  TCountedPtr<TStream> OpenStream(const TFileName& name, TFileOpenFlags flags, std::uint32_t extra1,
                                  std::uint32_t extra2);
  TCountedPtr<TStream> OpenStreamOrThrow(const TFileName& name, TFileOpenFlags flags, std::uint32_t extra1,
                                         std::uint32_t extra2);
  // Every component is asked, writable or not.
  TCountedPtr<TAbstractMemoryStream> OpenMemoryStream(const TFileName& name, TFileOpenFlags flags,
                                                      std::uint32_t extra1, std::uint32_t extra2);
  TCountedPtr<TAbstractMemoryStream> OpenMemoryStreamOrThrow(const TFileName& name, TFileOpenFlags flags,
                                                             std::uint32_t extra1, std::uint32_t extra2);

  // Opens the name in memory for writing, gives it the source's bytes and releases it. When the
  // opened stream is a file image whose write-back this release runs, the answer is the write-back's:
  // false when the bytes did not all reach the file (EVolumeFull from the file passes on).
  // Otherwise true when the open answered a stream.
  bool TrySaveFile(TAbstractMemoryStream& source, const TFileName& name);
  // EFileException "Unable to save file : " and the name when TrySaveFile answers false.
  void SaveFile(TAbstractMemoryStream& source, const TFileName& name);

  // The files of the folder as every component asked lists them (the first component's entry of a
  // text wins), sorted by text without regard to case, with the folder's mounting point.
  // EMountingPointNotFound for a mounting point not mounted.
  TVector<TFileName> ListFiles(const TFileName& folder, std::uint32_t filter, bool flag);

  // ---- Failure reports.
  // To the newest installed handler, else the critical-error dialog; then returns.
  void ReportCriticalError(const TFileName& name, const TOrvString<wchar_t>& message);
  // The status's text as the message.
  void ReportCriticalError(const TFileName& name, TFileStatus status);
  // The localised "Fatal Error" box about a corrupted installation, then the process ends with
  // status 1 at once.
  [[noreturn]] void ReportCorruption(const TFileName& name);

  // Handlers are installed and removed without a lock: never while file operations run on other
  // threads. They leave in the reverse order of installation.
  void PushCriticalErrorHandler(TFileSystemCriticalErrorHandler& handler);
  // Removes the newest handler and marks the given one as not installed. With no handler installed
  // the misuse is reported as an engine assertion and nothing changes.
  void PopCriticalErrorHandler(TFileSystemCriticalErrorHandler& handler);
  std::uint32_t GetCriticalErrorHandlerCount() const noexcept { return handlers_.GetSize(); }

  // A count of its own that the owner raises and lowers; nothing in the engine decides on it.
  void RaiseCounter() noexcept { ++counter_; }
  void LowerCounter() noexcept { --counter_; }
  std::uint32_t GetCounter() const noexcept { return counter_; }

  // For callers that hold the mount list stable across several operations (read side only).
  TReaderWriterLock& GetLock() noexcept { return lock_; }

  // ---- Static forms over the singleton. Without an instance they answer as an instance with
  // nothing mounted.
  // The text form of the root name of the component mounted under the name (interned into the
  // mounting-point names table); empty without an instance or without such a component.
  static TOrvString<char> GetMountingPointRootText(const TOrvString<char>& mountingPointName);
  static bool StaticExists(const TFileName& name);
  // StaticExists of the converted model file of a model source (GetAse2VdfBinFileName). Defined
  // with the decomposition of model file names.
  static bool Ase2VdfBinFileExists(const TFileName& source);
  // SaveFile; true or the exception.
  static bool StaticSaveFile(TAbstractMemoryStream& source, const TFileName& name);

 private:
  template <typename TResult, typename TCall>
  TResult OpenThroughComponents(const std::uint16_t& mountingPoint, const TFileName& reportName, TFileOpenFlags flags,
                                TFileStatus& status, bool presetStatus, bool skipReadOnly, std::uint32_t warningSite,
                                TCall&& call);
  void CheckOpenStatus(const TFileName& name, TFileStatus status, TFileOpenFlags flags);
  bool HasNoMounts() const noexcept { return mounts_.IsEmpty(); }

  // A serial that no mount of the process had (0 is never given; wraps after 2^32 - 1 mounts).
  static std::uint32_t NextMountSerial() noexcept;

  TVector<TMountEntry> mounts_;
  TReaderWriterLock lock_;
  std::uint32_t counter_ = 0;
  TVector<TFileSystemCriticalErrorHandler*> handlers_;
};

}  // namespace Orvan
