// TSpooledSaveFileWriter builds a save-file container straight into a file, for containers that grow
// without bound (a game's replay): the records gather in a buffer of at most kBufferBytes that goes to
// the file whenever the next record would not fit, the digest runs along record by record, and Seal
// fills in the size and the digest and gives the file its final name. The file holds exactly the
// bytes TSaveFileWriter lays out in memory; what has left the buffer is read back from the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/objects/ref_counting.h"
#include "core/streams/native_file_stream.h"
#include "network/files/sha224_digest.h"

namespace Orvan {

class TSpooledSaveFileWriter {
 public:
  enum EState : std::uint32_t { kCreated = 0, kBegun = 1, kSealed = 2, kFailed = 3 };
  // TSaveFileWriter's errors, and a file that could not be made, written, read or renamed
  // (GetSystemError tells why). After a file error the writer only answers false.
  enum EError : std::uint32_t { kNoError = 0, kOutOfOrder = 3, kChunkRefused = 4, kFileError = 5 };

  // Records held in memory before they go to the file: the writer's memory stays within this
  // however long the container grows; a record larger than it goes to the file directly.
  static constexpr std::uint32_t kBufferBytes = 64 * 1024;

  TSpooledSaveFileWriter() = default;
  // Closes the file; a file that was begun but not sealed is removed, as it is no container.
  ~TSpooledSaveFileWriter();
  TSpooledSaveFileWriter(const TSpooledSaveFileWriter&) = delete;
  TSpooledSaveFileWriter& operator=(const TSpooledSaveFileWriter&) = delete;

  // Creates the file at `path` (emptying one that is there) and writes the header with a zero size
  // and digest. Only once, first (error 3 otherwise).
  bool Begin(const std::string& path);
  // One record, as TSaveFileWriter::AddChunk lays it out: error 3 out of order, error 4 refused (by
  // `refuse`, or past 4 GiB - 1 bytes) with nothing written.
  bool AddChunk(std::uint32_t tag, std::uint32_t value, const void* data, std::uint32_t size, bool refuse = false);
  // The buffered records to the file.
  bool Flush();
  // The records to the file, the size and the digest into its header, the file renamed to `path`
  // (replacing what is there) and closed; ReadAt opens it again for each read.
  bool Seal(const std::string& path);
  // `count` bytes of the container from `offset`, from the buffer or the file (before Seal the size
  // and the digest read as zeros). False for a range past GetSize() (error 3), and as a file error
  // when the file cannot give them.
  bool ReadAt(std::uint32_t offset, void* destination, std::uint32_t count);

  // The container's bytes so far, header included.
  std::uint32_t GetSize() const { return size_; }
  // The memory the writer holds for the records not yet in the file.
  std::size_t GetResidentBytes() const { return buffer_.capacity(); }
  // Where the file is: the path given to Begin, then the one given to Seal once renamed.
  const std::string& GetPath() const { return path_; }
  std::uint32_t GetState() const { return state_; }
  std::uint32_t GetError() const { return error_; }
  bool HasFileError() const { return error_ == kFileError; }
  // The errno of the file error.
  int GetSystemError() const { return systemError_; }

 private:
  bool RefuseOutOfOrder();
  // Records the file error and answers false.
  bool FailFile(int systemError);
  // The bytes to the end of the file.
  bool WriteOut(const void* bytes, std::uint32_t count);

  TCountedPtr<TNativeFileStream> file_;
  std::string path_;
  // The container's bytes from `written_` to `size_`.
  std::vector<std::uint8_t> buffer_;
  std::uint32_t written_ = 0;
  std::uint32_t size_ = 0;
  Network::TSha224 digest_;
  std::uint32_t state_ = kCreated;
  std::uint32_t error_ = kNoError;
  int systemError_ = 0;
};

}  // namespace Orvan
