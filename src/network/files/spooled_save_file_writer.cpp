// The save-file container written to its file as it grows.
#include "network/files/spooled_save_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "network/files/durable_file_replace.h"
#include "network/files/save_file_layout.h"

namespace Orvan {

namespace {

// Writes and reads go to the system in pieces of at most this, within what one call returns.
constexpr std::uint32_t kLargestFileCall = 1u << 30;

}  // namespace

TSpooledSaveFileWriter::~TSpooledSaveFileWriter() {
  if (!file_ || state_ == kSealed) return;
  file_.Reset();
  std::remove(path_.c_str());
}

bool TSpooledSaveFileWriter::RefuseOutOfOrder() {
  error_ = kOutOfOrder;
  return false;
}

bool TSpooledSaveFileWriter::FailFile(int systemError) {
  state_ = kFailed;
  error_ = kFileError;
  systemError_ = systemError != 0 ? systemError : EIO;
  return false;
}

bool TSpooledSaveFileWriter::Begin(const std::string& path) {
  if (state_ != kCreated) return RefuseOutOfOrder();
  path_ = path;
  const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor == -1) return FailFile(errno);
  file_ = new TNativeFileStream(descriptor, 0, 0);
  // What a recording cannot get is a failure to report, not an exception out of its caller.
  try {
    buffer_.resize(kBufferBytes);
  } catch (const std::bad_alloc&) {
    return FailFile(ENOMEM);
  }
  if (!digest_.Start()) return FailFile(ENOMEM);
  std::uint8_t header[kSaveFileHeaderSize];
  StoreSaveFileHeader(header);
  std::memcpy(buffer_.data(), header, sizeof header);
  size_ = sizeof header;
  state_ = kBegun;
  return true;
}

bool TSpooledSaveFileWriter::AddChunk(std::uint32_t tag, std::uint32_t value, const void* data, std::uint32_t size,
                                      bool refuse) {
  if (state_ == kFailed) return false;
  if (state_ != kBegun) return RefuseOutOfOrder();
  const std::uint64_t end = std::uint64_t{size_} + kSaveFileRecordHeadSize + size;
  if (refuse || end > kSaveFileMaximumSize) {
    error_ = kChunkRefused;
    return false;
  }
  std::uint8_t head[kSaveFileRecordHeadSize];
  StoreSaveFileRecordHead(head, tag, value, size);
  if (!digest_.Update(head, sizeof head) || !digest_.Update(data, size)) return FailFile(ENOMEM);
  const struct {
    const void* bytes;
    std::uint32_t count;
  } pieces[] = {{head, sizeof head}, {data, size}};
  for (const auto& piece : pieces) {
    if (piece.count == 0) continue;
    const std::uint32_t buffered = size_ - written_;
    if (buffered + std::uint64_t{piece.count} > kBufferBytes && !Flush()) return false;
    if (piece.count > kBufferBytes) {
      if (!WriteOut(piece.bytes, piece.count)) return false;
    } else {
      std::memcpy(buffer_.data() + (size_ - written_), piece.bytes, piece.count);
    }
    size_ += piece.count;
  }
  return true;
}

bool TSpooledSaveFileWriter::Flush() {
  if (state_ == kFailed) return false;
  if (state_ != kBegun) return RefuseOutOfOrder();
  return WriteOut(buffer_.data(), size_ - written_);
}

bool TSpooledSaveFileWriter::WriteOut(const void* bytes, std::uint32_t count) {
  const auto* from = static_cast<const std::uint8_t*>(bytes);
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t piece = std::min(count - done, kLargestFileCall);
    errno = 0;
    const std::int32_t result = file_->Write(from + done, piece);
    // A write that stopped short without an error had no room.
    if (result != static_cast<std::int32_t>(piece)) return FailFile(errno != 0 ? errno : ENOSPC);
    done += piece;
    written_ += piece;
  }
  return true;
}

bool TSpooledSaveFileWriter::Seal(const std::string& path) {
  if (state_ == kFailed) return false;
  if (state_ != kBegun) return RefuseOutOfOrder();
  std::uint8_t digest[kSaveFileDigestSize];
  if (!digest_.Finish(digest)) return FailFile(ENOMEM);
  if (!Flush()) return false;
  std::uint8_t seal[kSaveFileSealSize];
  StoreSaveFileSeal(seal, size_, digest);
  file_->SetPosition(kSaveFileSizeOffset);
  errno = 0;
  if (file_->Write(seal, sizeof seal) != static_cast<std::int32_t>(sizeof seal)) {
    return FailFile(errno != 0 ? errno : ENOSPC);
  }
  // Synced before and after the rename: a power loss leaves no empty or partial sealed file.
  if (const int error = Network::ReplaceFileDurably(path_.c_str(), path.c_str()); error != 0) return FailFile(error);
  path_ = path;
  state_ = kSealed;
  // A sealed file holds no descriptor: a server keeps none for replays it has saved.
  file_.Reset();
  return true;
}

bool TSpooledSaveFileWriter::ReadAt(std::uint32_t offset, void* destination, std::uint32_t count) {
  if (state_ == kFailed) return false;
  if (std::uint64_t{offset} + count > size_) return RefuseOutOfOrder();
  auto* to = static_cast<std::uint8_t*>(destination);
  TCountedPtr<TNativeFileStream> file = file_;
  if (!file && count != 0) {
    // Sealed and closed: opened again for this read.
    const int descriptor = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor == -1) return FailFile(errno);
    file = new TNativeFileStream(descriptor, 0, 0);
  }
  // The part already in the file, then the part still in the buffer.
  while (offset < written_ && count != 0) {
    const std::uint32_t piece = std::min({count, written_ - offset, kLargestFileCall});
    const ssize_t got = ::pread(file->GetDescriptor(), to, piece, off_t{offset});
    if (got < 0 && errno == EINTR) continue;
    // The file is shorter than what was written to it: somebody else changed it.
    if (got <= 0) return FailFile(got == 0 ? EIO : errno);
    to += got;
    offset += static_cast<std::uint32_t>(got);
    count -= static_cast<std::uint32_t>(got);
  }
  if (count != 0) std::memcpy(to, buffer_.data() + (offset - written_), count);
  return true;
}

}  // namespace Orvan
