// TFileMemoryStream, the image of a file (or of a region of one) in memory: loaded from the file's
// stream when it is attached, written back when it is released, and meanwhile a memory stream
// like any other. Also the file layer's status word, TFileStatus.
#pragma once

#include <cstdint>

#include "core/memory/typed_pool.h"
#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"

namespace Orvan {

// The status of a file open, shared by streams, file-system components and the virtual file system.
using TFileStatus = std::uint32_t;
inline constexpr TFileStatus kFileStatusSuccess = 0;
inline constexpr TFileStatus kFileStatusFileNotFound = 1;
inline constexpr TFileStatus kFileStatusFileTooSmall = 2;
inline constexpr TFileStatus kFileStatusNotEnoughSpace = 3;
inline constexpr TFileStatus kFileStatusHasLatency = 7;
inline constexpr TFileStatus kFileStatusFileCorrupted = 8;
inline constexpr TFileStatus kFileStatusFileNotAvailable = 260;
inline constexpr TFileStatus kFileStatusFileNotWritable = 261;
inline constexpr TFileStatus kFileStatusNotSupported = 262;
inline constexpr TFileStatus kFileStatusNotDefined = 65535;
// The status bits the virtual file system acts on: corruption ends the process, a critical failure
// is reported. kFileStatusNotDefined carries both, so an open that leaves it unwritten is caught.
inline constexpr TFileStatus kFileStatusCorruptionBit = 8;
inline constexpr TFileStatus kFileStatusCriticalBit = 0x100;

// What an open asks for: read and write access, and quiet (a critical failure is not reported).
using TFileOpenFlags = std::uint32_t;
inline constexpr TFileOpenFlags kFileOpenRead = 1;
inline constexpr TFileOpenFlags kFileOpenWrite = 2;
inline constexpr TFileOpenFlags kFileOpenQuiet = 4;

// What attaching a file does: load the content, keep the file to write the content back on
// release, and take the stored region even when its offset and length are both 0.
inline constexpr std::uint32_t kFileMemoryStreamLoad = 1;
inline constexpr std::uint32_t kFileMemoryStreamWriteBack = 2;
inline constexpr std::uint32_t kFileMemoryStreamRegion = 16;

class TFileMemoryStream : public TAbstractMemoryStream {
 public:
  // The bytes of a file memory stream, created empty.
  class TFileMemoryStreamContent : public TMemoryStream {
   public:
    TFileMemoryStreamContent() : TMemoryStream(0) {}

    ORV_POOLED_ALLOCATION(TFileMemoryStreamContent)

   private:
    friend class TFileMemoryStream;
    using TMemoryStream::SetSizeShownBy;
    using TMemoryStream::WriteShownBy;
  };

  // The first argument is the opener's and is not kept. A region is mapped when the offset or the
  // length is not 0, or when the flags ask for one.
  TFileMemoryStream(std::uint32_t opener, std::uint32_t flags, std::uint32_t regionOffset, std::uint32_t regionLength);
  TFileMemoryStream(std::uint32_t opener, std::uint32_t flags);
  // Releases the content when a file is still attached (a write-back that fails there goes to the
  // debug output: a destructor cannot throw). Views of the stream must be gone.
  ~TFileMemoryStream() override;

  // "<Unavailable>".
  TOrvString<char> GetDescription() const override;
  // The stream operations act on the content.
  std::uint32_t GetSize() const override { return content_.GetSize(); }
  std::uint32_t GetPosition() const override { return content_.GetPosition(); }
  void SetPosition(std::uint32_t position) override { content_.SetPosition(position); }
  std::int32_t Read(void* destination, std::uint32_t count) override { return content_.Read(destination, count); }
  std::uint32_t ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) override {
    return content_.ReadWithStatus(destination, count, status);
  }
  std::int32_t Write(const void* source, std::uint32_t count) override;
  void SetSize(std::uint32_t size) override;
  std::uint8_t* GetData() const override { return content_.GetData(); }
  void Seek(std::uint32_t offset, std::uint32_t origin) override { content_.Seek(offset, origin); }

  // Sizes the content to the region's length (the file's size without a region), reads it from
  // the region's offset and stores the read status; true when it is kFileStatusSuccess. A short
  // read leaves only the bytes read in the content.
  bool LoadContent(const TCountedPtr<TStream>& file, TFileStatus* status);
  // Without a region, sets the file's size to the content's size first; then writes the content
  // at the region's offset and puts the content position back to 0. Returns the file's Write
  // result; -1, with nothing written, when the file could not be cut down to the content's size.
  // EVolumeFull passes on from the file.
  std::int32_t SaveContent(const TCountedPtr<TStream>& file);

  // Binds the stream to its file: the status is cleared, the content loaded when the flags say so
  // (false when that fails), and the file kept for the write-back when they say so.
  bool AttachFile(const TCountedPtr<TStream>& file, TFileStatus& status);
  // Writes the content back when the flags say so and lets go of the file. The file is let go
  // even when the write-back throws. True when nothing was to be written or the whole content was;
  // a lost write-back is also told on the debug output.
  bool ReleaseContent();

  std::uint32_t GetFlags() const noexcept { return flags_; }
  bool HasRegion() const noexcept { return regionFlag_ != 0; }
  std::uint32_t GetRegionOffset() const noexcept { return regionOffset_; }
  std::uint32_t GetRegionLength() const noexcept { return regionLength_; }
  const TCountedPtr<TStream>& GetAttachedFile() const noexcept { return file_; }
  const TFileMemoryStreamContent& GetContent() const noexcept { return content_; }

  ORV_POOLED_ALLOCATION(TFileMemoryStream)

 private:
  std::uint32_t regionFlag_;
  std::uint32_t flags_;
  TCountedPtr<TStream> file_;
  TFileMemoryStreamContent content_;
  std::uint32_t regionOffset_;
  std::uint32_t regionLength_;
};

}  // namespace Orvan
