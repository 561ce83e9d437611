// File-system components for tests of the virtual file system and of what is built over it:
//  - TScriptedComponent answers what the test set (per operation, or per path for Exists and the
//    enumeration) and records every call with its path text, mounting point and flags;
//  - TNativeFolderComponent serves a native folder (the test's temporary folder): streams are
//    native file streams, memory opens are file images attached to one, loading the file (flag 1)
//    and, for write opens, writing it back when released (flag 2).
// Both may be called from several threads at once, as the file system calls its components.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/filesystem/file_system_component.h"
#include "core/filesystem/sorted_file_name_list.h"
#include "core/streams/file_memory_stream.h"
#include "core/streams/native_file_stream.h"

namespace OrvTest {

// One call as a component saw it: the operation, the name's path alone ('/'-joined), the mounting
// point (the argument of the opens that take one, else the name's own) and the flags (0 for the
// operations without).
struct TComponentCall {
  std::string operation;
  std::string path;
  std::uint16_t mountingPoint;
  std::uint32_t flags;

  bool operator==(const TComponentCall&) const = default;
};

class TScriptedComponent final : public Orvan::TAbstractFileSystemComponent {
 public:
  // What the opens answer: the result and the status they write. `writesStatus` false leaves the
  // status as the caller preset it.
  struct TOpenScript {
    std::uint32_t result = 0;
    Orvan::TFileStatus status = Orvan::kFileStatusSuccess;
    bool writesStatus = true;
  };

  // `destroyed`, when given, is raised by the destructor.
  explicit TScriptedComponent(bool writable = true, int* destroyed = nullptr)
      : writable_(writable), destroyed_(destroyed) {}
  ~TScriptedComponent() noexcept override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }

  // ---- The script (set it before the component is called from other threads).
  // Paths ('/'-joined, as recorded) that Exists and QueryFileInfo find.
  std::vector<std::string> existing;
  std::uint32_t firstInfo = 0;
  std::uint32_t secondInfo = 0;
  TOpenScript open;                  // Open: result != 0 is an opened file
  TOpenScript openStream;            // result != 0: answers `stream`
  TOpenScript openMemoryStream;      // result != 0: answers `memoryStream`
  Orvan::TCountedPtr<Orvan::TStream> stream;
  Orvan::TCountedPtr<Orvan::TAbstractMemoryStream> memoryStream;
  bool deleteResult = true;
  // Entries Enumerate adds: the text, and the path given with it (none: the text is parsed).
  std::vector<std::pair<std::string, std::string>> enumerated;
  Orvan::TFileName rootName;

  // ---- What happened.
  std::vector<TComponentCall> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::vector<std::string> Operations() const {
    std::vector<std::string> operations;
    for (const TComponentCall& call : Calls()) operations.push_back(call.operation);
    return operations;
  }
  void ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }
  // Stops recording (threaded tests call so often that the record would only cost time).
  void SetRecording(bool recording) { recording_ = recording; }

  bool Exists(const Orvan::TFileName& name) override {
    Record("Exists", name, name.GetMountingPoint(), 0);
    return Has(name);
  }
  bool QueryFileInfo(const Orvan::TFileName& name, std::uint32_t* first, std::uint32_t* second) override {
    Record("QueryFileInfo", name, name.GetMountingPoint(), 0);
    if (!Has(name)) return false;
    if (first != nullptr) *first = firstInfo;
    if (second != nullptr) *second = secondInfo;
    return true;
  }
  std::uint32_t Open(const Orvan::TFileName& name, Orvan::TFileStatus& status) override {
    Record("Open", name, name.GetMountingPoint(), 0);
    if (open.writesStatus) status = open.status;
    return open.result;
  }
  Orvan::TCountedPtr<Orvan::TAbstractMemoryStream> OpenMemoryStream(const std::uint16_t& mountingPoint,
                                                                    const Orvan::TFileName& name,
                                                                    Orvan::TFileOpenFlags flags, std::uint32_t,
                                                                    std::uint32_t, Orvan::TFileStatus& status) override {
    Record("OpenMemoryStream", name, mountingPoint, flags);
    if (openMemoryStream.writesStatus) status = openMemoryStream.status;
    return openMemoryStream.result != 0 ? memoryStream : nullptr;
  }
  Orvan::TCountedPtr<Orvan::TStream> OpenStream(const std::uint16_t& mountingPoint, const Orvan::TFileName& name,
                                                Orvan::TFileOpenFlags flags, std::uint32_t, std::uint32_t,
                                                Orvan::TFileStatus& status) override {
    Record("OpenStream", name, mountingPoint, flags);
    if (openStream.writesStatus) status = openStream.status;
    return openStream.result != 0 ? stream : nullptr;
  }
  bool Delete(const Orvan::TFileName& name) override {
    Record("Delete", name, name.GetMountingPoint(), 0);
    return deleteResult;
  }
  void Enumerate(Orvan::TSortedFileNameList& collector, const Orvan::TFileName& folder, std::int32_t selector,
                 bool) override {
    Record("Enumerate", folder, folder.GetMountingPoint(), static_cast<std::uint32_t>(selector));
    for (const auto& [text, path] : enumerated) {
      if (path.empty()) {
        collector.Add(text.c_str(), nullptr);
      } else {
        const Orvan::TFileName given(path.c_str());
        collector.Add(text.c_str(), &given);
      }
    }
  }
  bool IsWritable() override {
    Record("IsWritable", Orvan::TFileName(), 0, 0);
    return writable_;
  }
  Orvan::TFileName GetRootName() override { return rootName; }

 private:
  static std::string PathOf(const Orvan::TFileName& name) {
    const Orvan::TOrvString<char> path = name.ToSlashString();
    return std::string(path.c_str(), path.GetLength());
  }
  bool Has(const Orvan::TFileName& name) const {
    const std::string path = PathOf(name);
    for (const std::string& known : existing) {
      if (known == path) return true;
    }
    return false;
  }
  void Record(const char* operation, const Orvan::TFileName& name, std::uint16_t mountingPoint,
              std::uint32_t flags) {
    if (!recording_) return;
    TComponentCall call{operation, PathOf(name), mountingPoint, flags};
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }

  bool writable_;
  int* destroyed_;
  bool recording_ = true;
  mutable std::mutex mutex_;
  std::vector<TComponentCall> calls_;
};

// A scripted component for threaded tests: it records nothing, finds the given paths and opens
// (Open) with result 1.
inline TScriptedComponent* NewQuietComponent(std::vector<std::string> existing) {
  auto* component = new TScriptedComponent;
  component->SetRecording(false);
  component->existing = std::move(existing);
  component->open = {1, Orvan::kFileStatusSuccess, true};
  return component;
}

// Serves the files of a native folder. A name's path is taken below the folder; mounting points
// are not looked at.
class TNativeFolderComponent final : public Orvan::TAbstractFileSystemComponent {
 public:
  explicit TNativeFolderComponent(std::string folder, bool writable = true)
      : folder_(std::move(folder)), writable_(writable) {}

  std::string NativePath(const Orvan::TFileName& name) const {
    const Orvan::TOrvString<char> path = name.ToSlashString();
    return folder_ + "/" + std::string(path.c_str(), path.GetLength());
  }

  bool Exists(const Orvan::TFileName& name) override {
    struct stat status;
    return ::stat(NativePath(name).c_str(), &status) == 0 && S_ISREG(status.st_mode);
  }
  // The size and the modification time.
  bool QueryFileInfo(const Orvan::TFileName& name, std::uint32_t* first, std::uint32_t* second) override {
    struct stat status;
    if (::stat(NativePath(name).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    if (first != nullptr) *first = static_cast<std::uint32_t>(status.st_size);
    if (second != nullptr) *second = static_cast<std::uint32_t>(status.st_mtime);
    return true;
  }
  // 1 when the file is there.
  std::uint32_t Open(const Orvan::TFileName& name, Orvan::TFileStatus& status) override {
    const bool found = Exists(name);
    status = found ? Orvan::kFileStatusSuccess : Orvan::kFileStatusFileNotFound;
    return found ? 1 : 0;
  }
  // A file image that loads the file and, opened for writing, writes it back when released.
  Orvan::TCountedPtr<Orvan::TAbstractMemoryStream> OpenMemoryStream(const std::uint16_t&, const Orvan::TFileName& name,
                                                                    Orvan::TFileOpenFlags flags, std::uint32_t,
                                                                    std::uint32_t, Orvan::TFileStatus& status) override {
    Orvan::TCountedPtr<Orvan::TStream> file = OpenNative(name, flags, status);
    if (!file) return nullptr;
    const std::uint32_t imageFlags = Orvan::kFileMemoryStreamLoad |
                                     ((flags & Orvan::kFileOpenWrite) != 0 ? Orvan::kFileMemoryStreamWriteBack : 0);
    Orvan::TCountedPtr<Orvan::TFileMemoryStream> image(new Orvan::TFileMemoryStream(0, imageFlags));
    if (!image->AttachFile(file, status)) return nullptr;
    return image;
  }
  Orvan::TCountedPtr<Orvan::TStream> OpenStream(const std::uint16_t&, const Orvan::TFileName& name,
                                                Orvan::TFileOpenFlags flags, std::uint32_t, std::uint32_t,
                                                Orvan::TFileStatus& status) override {
    return OpenNative(name, flags, status);
  }
  bool Delete(const Orvan::TFileName& name) override { return ::unlink(NativePath(name).c_str()) == 0; }
  // The folder's regular files, each under its own name with the path folder/name.
  void Enumerate(Orvan::TSortedFileNameList& collector, const Orvan::TFileName& folder, std::int32_t,
                 bool) override {
    const std::string path = NativePath(folder);
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory)) {
      struct stat status;
      const std::string name = entry->d_name;
      if (::stat((path + "/" + name).c_str(), &status) == 0 && S_ISREG(status.st_mode)) names.push_back(name);
    }
    ::closedir(directory);
    for (const std::string& name : names) {
      const Orvan::TFileName file = Orvan::TFileName::AppendText(folder, Orvan::TOrvString<char>(("/" + name).c_str()));
      collector.Add(name.c_str(), &file);
    }
  }
  bool IsWritable() override { return writable_; }

 private:
  // Write opens create the file and keep its bytes (a file image cuts it to size when it writes
  // back). A missing file gives kFileStatusFileNotFound, any other failure
  // kFileStatusFileNotAvailable.
  Orvan::TCountedPtr<Orvan::TStream> OpenNative(const Orvan::TFileName& name, Orvan::TFileOpenFlags flags,
                                                Orvan::TFileStatus& status) const {
    const bool writing = (flags & Orvan::kFileOpenWrite) != 0;
    if (writing && !writable_) {
      status = Orvan::kFileStatusFileNotWritable;
      return nullptr;
    }
    const int mode = writing ? O_RDWR | O_CREAT : O_RDONLY;
    const int descriptor = ::open(NativePath(name).c_str(), mode | O_CLOEXEC, 0644);
    if (descriptor == -1) {
      status = errno == ENOENT ? Orvan::kFileStatusFileNotFound : Orvan::kFileStatusFileNotAvailable;
      return nullptr;
    }
    status = Orvan::kFileStatusSuccess;
    return Orvan::TCountedPtr<Orvan::TStream>(new Orvan::TNativeFileStream(descriptor, 0, 0));
  }

  std::string folder_;
  bool writable_;
};

}  // namespace OrvTest
