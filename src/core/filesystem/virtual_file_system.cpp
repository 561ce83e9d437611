// The virtual file system: the mount list under its readers/writer lock, the routing of every
// operation by mounting point or mount order, the status checks after opens, and the reports.
#include "core/filesystem/virtual_file_system.h"

#include <atomic>
#include <cerrno>
#include <utility>

#include "core/diagnostics/assertion.h"
#include "core/diagnostics/dialog.h"
#include "core/diagnostics/engine_exception.h"
#include "core/diagnostics/engine_exception_kinds.h"
#include "core/diagnostics/system_messages.h"
#include "core/filesystem/file_name_errors.h"
#include "core/filesystem/sorted_file_name_list.h"
#include "core/startup/immediate_exit.h"
#include "core/text/number_text.h"
#include "core/text/text_encoding.h"
#include "core/threads/thread_services.h"
#include "core/tokens/token_tables.h"

namespace Orvan {

// The list holds native pointers on this host.
static_assert(sizeof(TMountEntry) == 16);

namespace {

// Ids of the localised system messages of the corruption report.
constexpr std::uint32_t kFatalErrorMessageId = 1;
constexpr std::uint32_t kCorruptedInstallationMessageId = 2;

constexpr char kErrorCaption[] = "Erreur";

constexpr char kWriteOpenWarning[] =
    "L'ouverture du fichier %1 en \xC3\xA9" "criture va se faire dans le 1er dossier mont\xC3\xA9 en \xC3\xA9"
    "criture trouv\xC3\xA9 ce qui est tr\xC3\xA8s mal. Il est indispensable de lui sp\xC3\xA9"
    "cifier un point de montage";
constexpr char kDeleteWarning[] =
    "La suppression du fichier %1 va se faire dans le 1er dossier mont\xC3\xA9 en \xC3\xA9"
    "criture trouv\xC3\xA9 ce qui est tr\xC3\xA8s mal. Il est indispensable de lui sp\xC3\xA9"
    "cifier un point de montage";
constexpr char kCriticalErrorText[] =
    "*Virtual File System Critical Error*\n @ %1 :\n     %2\n\nAucun gestionnaire de gestion d'erreur critique "
    "branch\xC3\xA9.";

[[noreturn]] void ThrowNoFileSystemMounted() { throw EException(TOrvString<wchar_t>(L"No filesystem mounted")); }

// The OK-only warning before a write by a name without a mounting point; the operation goes on.
void ShowWriteWarning(std::uint32_t site, const char* text, const TFileName& name) {
  const TDialogDescriptor descriptor{0, site, 1, kDialogButtonsOk, kErrorCaption, 0};
  const TStringStreamableImpl<const TFileName> nameArgument(name);
  const TStringStreamable* arguments[] = {&nameArgument};
  OrvDialog(&descriptor, text, arguments, 1);
}

class TScopedWriteLock {
 public:
  explicit TScopedWriteLock(TReaderWriterLock& lock) : lock_(lock) { lock_.WriteLock(); }
  ~TScopedWriteLock() { lock_.WriteUnlock(); }
  TScopedWriteLock(const TScopedWriteLock&) = delete;
  TScopedWriteLock& operator=(const TScopedWriteLock&) = delete;

 private:
  TReaderWriterLock& lock_;
};

}  // namespace

TVirtualFileSystem::TVirtualFileSystem() = default;

std::uint32_t TVirtualFileSystem::NextMountSerial() noexcept {
  static std::atomic<std::uint32_t> last{0};
  std::uint32_t serial = last.fetch_add(1, std::memory_order_relaxed) + 1;
  while (serial == 0) serial = last.fetch_add(1, std::memory_order_relaxed) + 1;
  return serial;
}

TVirtualFileSystem::~TVirtualFileSystem() {
  for (TMountEntry& entry : mounts_) delete std::exchange(entry.component, nullptr);
  handlers_.Clear();
  mounts_.Clear();
}

// ---- The mount list.

void TVirtualFileSystem::Mount(const std::uint16_t& mountingPoint, TAbstractFileSystemComponent* component) {
  TScopedWriteLock writing(lock_);
  try {
    mounts_.PushBack(TMountEntry{mountingPoint, NextMountSerial(), component});
  } catch (...) {
    delete component;
    throw;
  }
}

TAbstractFileSystemComponent* TVirtualFileSystem::ReplaceComponent(const std::uint16_t& mountingPoint,
                                                                   TAbstractFileSystemComponent* component) {
  TScopedWriteLock writing(lock_);
  for (TMountEntry& entry : mounts_) {
    if (entry.mountingPoint == mountingPoint) {
      entry.serial = NextMountSerial();
      return std::exchange(entry.component, component);
    }
  }
  return nullptr;
}

void TVirtualFileSystem::Unmount(const std::uint16_t& mountingPoint) {
  TScopedWriteLock writing(lock_);
  for (std::uint32_t i = 0; i < mounts_.GetSize(); ++i) {
    if (mounts_[i].mountingPoint != mountingPoint) continue;
    TAbstractFileSystemComponent* component = mounts_[i].component;
    mounts_.EraseAt(i);
    delete component;
    return;
  }
}

// ---- Lookups.

TAbstractFileSystemComponent* TVirtualFileSystem::FindComponent(const std::uint16_t& mountingPoint) {
  const TScopedReadLock reading(&lock_);
  for (const TMountEntry& entry : mounts_) {
    if (entry.mountingPoint == mountingPoint) return entry.component;
  }
  return nullptr;
}

std::uint32_t TVirtualFileSystem::FindMountSerial(const std::uint16_t& mountingPoint) {
  const TScopedReadLock reading(&lock_);
  for (const TMountEntry& entry : mounts_) {
    if (entry.mountingPoint == mountingPoint) return entry.serial;
  }
  return 0;
}

TAbstractFileSystemComponent* TVirtualFileSystem::GetComponentOrThrow(const std::uint16_t& mountingPoint) {
  const TScopedReadLock reading(&lock_);
  TAbstractFileSystemComponent* component = FindComponent(mountingPoint);
  if (component == nullptr) ThrowMountingPointNotFound(mountingPoint);
  return component;
}

TAbstractFileSystemComponent* TVirtualFileSystem::GetFirstWritableComponent() {
  const TScopedReadLock reading(&lock_);
  if (HasNoMounts()) ThrowNoFileSystemMounted();
  for (const TMountEntry& entry : mounts_) {
    if (entry.component != nullptr && entry.component->IsWritable()) return entry.component;
  }
  throw EException(TOrvString<wchar_t>(L"No writable filesystem mounted"));
}

TAbstractFileSystemComponent* TVirtualFileSystem::FindOwningComponent(const TFileName& name) {
  const TScopedReadLock reading(&lock_);
  if (name.HasMountingPoint()) return FindComponent(name.GetMountingPoint());
  if (HasNoMounts()) ThrowNoFileSystemMounted();
  for (const TMountEntry& entry : mounts_) {
    if (entry.component != nullptr && entry.component->Exists(name)) return entry.component;
  }
  return nullptr;
}

// ---- Routed operations.

bool TVirtualFileSystem::Exists(const TFileName& name) {
  const TScopedReadLock reading(&lock_);
  if (name.HasMountingPoint()) {
    TAbstractFileSystemComponent* component = FindComponent(name.GetMountingPoint());
    return component != nullptr && component->Exists(name);
  }
  return FindOwningComponent(name) != nullptr;
}

bool TVirtualFileSystem::QueryFileInfo(const TFileName& name, std::uint32_t* first, std::uint32_t* second) {
  const TScopedReadLock reading(&lock_);
  if (name.HasMountingPoint()) return GetComponentOrThrow(name.GetMountingPoint())->QueryFileInfo(name, first, second);
  if (HasNoMounts()) ThrowNoFileSystemMounted();
  for (const TMountEntry& entry : mounts_) {
    if (entry.component != nullptr && entry.component->QueryFileInfo(name, first, second)) return true;
  }
  return false;
}

std::uint32_t TVirtualFileSystem::GetFirstFileInfo(const TFileName& name) {
  std::uint32_t value = 0;
  if (!QueryFirstFileInfo(name, &value)) ThrowFileNotFound(name);
  return value;
}

std::uint32_t TVirtualFileSystem::GetSecondFileInfo(const TFileName& name) {
  std::uint32_t value = 0;
  if (!QuerySecondFileInfo(name, &value)) ThrowFileNotFound(name);
  return value;
}

bool TVirtualFileSystem::DeleteFile(const TFileName& name) {
  const TScopedReadLock reading(&lock_);
  if (name.HasMountingPoint()) return GetComponentOrThrow(name.GetMountingPoint())->Delete(name);
  if (HasNoMounts()) ThrowNoFileSystemMounted();
  ShowWriteWarning(kDeleteWarningDialogId, kDeleteWarning, name);
  return GetFirstWritableComponent()->Delete(name);
}

void TVirtualFileSystem::CheckOpenStatus(const TFileName& name, TFileStatus status, TFileOpenFlags flags) {
  if ((status & kFileStatusCorruptionBit) != 0) ReportCorruption(name);
  if ((status & kFileStatusCriticalBit) != 0 && (flags & kFileOpenQuiet) == 0) ReportCriticalError(name, status);
}

std::uint32_t TVirtualFileSystem::Open(const TFileName& name) {
  const TScopedReadLock reading(&lock_);
  TFileStatus status = kFileStatusNotDefined;
  if (name.HasMountingPoint()) {
    TAbstractFileSystemComponent* component = FindComponent(name.GetMountingPoint());
    if (component == nullptr) return 0;
    const std::uint32_t result = component->Open(name, status);
    CheckOpenStatus(name, status, 0);
    return result;
  }
  for (const TMountEntry& entry : mounts_) {
    if (entry.component == nullptr) continue;
    status = kFileStatusNotDefined;
    const std::uint32_t result = entry.component->Open(name, status);
    if (result != 0) {
      CheckOpenStatus(name, status, 0);
      return result;
    }
  }
  return 0;
}

template <typename TResult, typename TCall>
TResult TVirtualFileSystem::OpenThroughComponents(const std::uint16_t& mountingPoint, const TFileName& reportName,
                                                  TFileOpenFlags flags, TFileStatus& status, bool presetStatus,
                                                  bool skipReadOnly, std::uint32_t warningSite, TCall&& call) {
  const TScopedReadLock reading(&lock_);
  if (mountingPoint != 0) {
    if (presetStatus) status = kFileStatusNotDefined;
    TAbstractFileSystemComponent* component = FindComponent(mountingPoint);
    if (component == nullptr) return TResult();
    TResult result = call(*component);
    CheckOpenStatus(reportName, status, flags);
    return result;
  }
  if (HasNoMounts()) ThrowNoFileSystemMounted();
  const bool writing = (flags & kFileOpenWrite) != 0;
  if (writing) ShowWriteWarning(warningSite, kWriteOpenWarning, reportName);
  for (const TMountEntry& entry : mounts_) {
    if (entry.component == nullptr) continue;
    if (writing && skipReadOnly && !entry.component->IsWritable()) continue;
    if (presetStatus) status = kFileStatusNotDefined;
    TResult result = call(*entry.component);
    CheckOpenStatus(reportName, status, flags);
    if (result) return result;
  }
  return TResult();
}

TCountedPtr<TStream> TVirtualFileSystem::OpenStream(const std::uint16_t& mountingPoint, const TFileName& path,
                                                    TFileOpenFlags flags, std::uint32_t extra1, std::uint32_t extra2,
                                                    TFileStatus& status) {
  const TFileName reportName(mountingPoint, path);
  return OpenThroughComponents<TCountedPtr<TStream>>(
      mountingPoint, reportName, flags, status, false, true, kSplitWriteOpenWarningDialogId,
      [&](TAbstractFileSystemComponent& component) {
        return component.OpenStream(mountingPoint, path, flags, extra1, extra2, status);
      });
}

TCountedPtr<TStream> TVirtualFileSystem::OpenStream(const TFileName& name, TFileOpenFlags flags, std::uint32_t extra1,
                                                    std::uint32_t extra2) {
  const std::uint16_t mountingPoint = name.GetMountingPoint();
  TFileStatus status = kFileStatusNotDefined;
  return OpenThroughComponents<TCountedPtr<TStream>>(
      mountingPoint, name, flags, status, true, true, kWriteOpenWarningDialogId,
      [&](TAbstractFileSystemComponent& component) {
        return component.OpenStream(mountingPoint, name, flags, extra1, extra2, status);
      });
}

TCountedPtr<TStream> TVirtualFileSystem::OpenStreamOrThrow(const TFileName& name, TFileOpenFlags flags,
                                                           std::uint32_t extra1, std::uint32_t extra2) {
  TCountedPtr<TStream> stream = OpenStream(name, flags, extra1, extra2);
  if (!stream) ThrowFileNotFound(name);
  return stream;
}

TCountedPtr<TAbstractMemoryStream> TVirtualFileSystem::OpenMemoryStream(const TFileName& name, TFileOpenFlags flags,
                                                                        std::uint32_t extra1, std::uint32_t extra2) {
  const std::uint16_t mountingPoint = name.GetMountingPoint();
  TFileStatus status = kFileStatusNotDefined;
  return OpenThroughComponents<TCountedPtr<TAbstractMemoryStream>>(
      mountingPoint, name, flags, status, true, false, kWriteMemoryOpenWarningDialogId,
      [&](TAbstractFileSystemComponent& component) {
        return component.OpenMemoryStream(mountingPoint, name, flags, extra1, extra2, status);
      });
}

TCountedPtr<TAbstractMemoryStream> TVirtualFileSystem::OpenMemoryStreamOrThrow(const TFileName& name,
                                                                               TFileOpenFlags flags,
                                                                               std::uint32_t extra1,
                                                                               std::uint32_t extra2) {
  TCountedPtr<TAbstractMemoryStream> stream = OpenMemoryStream(name, flags, extra1, extra2);
  if (!stream) ThrowFileNotFound(name);
  return stream;
}

bool TVirtualFileSystem::TrySaveFile(TAbstractMemoryStream& source, const TFileName& name) {
  const TScopedReadLock reading(&lock_);
  TCountedPtr<TAbstractMemoryStream> stream = OpenMemoryStream(name, kFileOpenWrite, 0, 0);
  if (!stream) return false;
  const std::uint32_t size = source.GetSize();
  stream->SetSize(size);
  stream->Write(source.GetData(), size);
  // The bytes reach the file when the image lets go of it. Run that here while this handle is the
  // image's only one, so that a failed write-back is this save's answer and not lost in a
  // destructor.
  auto* image = dynamic_cast<TFileMemoryStream*>(stream.Get());
  if (image != nullptr && image->GetAttachedFile() &&
      TWeakAndRefCountable::GetReferenceCount(image->GetCountWord()) == 1) {
    const bool written = image->ReleaseContent();
    stream.Reset();
    return written;
  }
  stream.Reset();
  return true;
}

void TVirtualFileSystem::SaveFile(TAbstractMemoryStream& source, const TFileName& name) {
  if (!TrySaveFile(source, name)) {
    throw EFileException(static_cast<std::uint32_t>(GetLastSystemError()), L"Unable to save file : ", name);
  }
}

TVector<TFileName> TVirtualFileSystem::ListFiles(const TFileName& folder, std::uint32_t filter, bool flag) {
  TSortedFileNameList list(folder.GetMountingPoint());
  const auto selector = static_cast<std::int32_t>(filter);
  {
    const TScopedReadLock reading(&lock_);
    if (folder.HasMountingPoint()) {
      GetComponentOrThrow(folder.GetMountingPoint())->Enumerate(list, folder, selector, flag);
    } else {
      if (HasNoMounts()) ThrowNoFileSystemMounted();
      for (const TMountEntry& entry : mounts_) {
        if (entry.component != nullptr) entry.component->Enumerate(list, folder, selector, flag);
      }
    }
  }
  return list.ToVector();
}

// ---- Failure reports.

void TVirtualFileSystem::ReportCriticalError(const TFileName& name, const TOrvString<wchar_t>& message) {
  if (!handlers_.IsEmpty()) {
    handlers_.Back()->HandleCriticalError(name, message);
    return;
  }
  const TDialogDescriptor descriptor{0, kCriticalErrorDialogId, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit,
                                     kQuitGameCaption, 0};
  const TStringStreamableImpl<const TFileName> nameArgument(name);
  const TStringStreamableImpl<const TOrvString<wchar_t>> messageArgument(message);
  const TStringStreamable* arguments[] = {&nameArgument, &messageArgument};
  OrvDialog(&descriptor, kCriticalErrorText, arguments, 2);
}

void TVirtualFileSystem::ReportCriticalError(const TFileName& name, TFileStatus status) {
  ReportCriticalError(name, Utf8ToWide(TOrvString<char>(GetFileStatusText(static_cast<std::int32_t>(status)))));
}

void TVirtualFileSystem::ReportCorruption(const TFileName&) {
  ShowLocalisedMessageBox(kFatalErrorMessageId, kCorruptedInstallationMessageId);
  ExitImmediately(1);
}

void TVirtualFileSystem::PushCriticalErrorHandler(TFileSystemCriticalErrorHandler& handler) {
  handlers_.PushBack(&handler);
  handler.installed_ = true;
}

void TVirtualFileSystem::PopCriticalErrorHandler(TFileSystemCriticalErrorHandler& handler) {
  if (handlers_.IsEmpty()) {
    ReportAssertionFailure(__FILE__, __LINE__, "!handlers_.IsEmpty()",
                           "a critical-error handler popped with none installed");
    return;
  }
  handlers_.PopBack();
  handler.installed_ = false;
}

// ---- Static forms.

TOrvString<char> TVirtualFileSystem::GetMountingPointRootText(const TOrvString<char>& mountingPointName) {
  TVirtualFileSystem* instance = GetInstancePointer();
  if (instance == nullptr) return TOrvString<char>();
  const std::uint16_t mountingPoint = TMountingPointToken(mountingPointName.c_str()).GetId();
  TAbstractFileSystemComponent* component = instance->FindComponent(mountingPoint);
  if (component == nullptr) return TOrvString<char>();
  return component->GetRootName().ToString();
}

bool TVirtualFileSystem::StaticExists(const TFileName& name) {
  if (TVirtualFileSystem* instance = GetInstancePointer()) return instance->Exists(name);
  if (!name.HasMountingPoint()) ThrowNoFileSystemMounted();
  return false;
}

bool TVirtualFileSystem::StaticSaveFile(TAbstractMemoryStream& source, const TFileName& name) {
  if (TVirtualFileSystem* instance = GetInstancePointer()) {
    instance->SaveFile(source, name);
    return true;
  }
  if (!name.HasMountingPoint()) ThrowNoFileSystemMounted();
  throw EFileException(static_cast<std::uint32_t>(GetLastSystemError()), L"Unable to save file : ", name);
}

}  // namespace Orvan
