// Reading a save-file container: TSaveFileReader walks it one record a step and reports to an
// ISaveFileReaderVisitor; TestSaveFile walks a whole container with a visitor that only waits for
// the end.
#pragma once

#include <cstdint>
#include <vector>

#include "core/streams/stream.h"
#include "network/files/save_file_layout.h"
#include "network/files/sha224_digest.h"

namespace Orvan {

// Codes of OnError: the header could not be read.
inline constexpr std::uint32_t kSaveFileBadMagic = 0;
inline constexpr std::uint32_t kSaveFileVersionTooHigh = 1;
inline constexpr std::uint32_t kSaveFileShortRead = 2;
// OpenSSL had no memory for the running digest.
inline constexpr std::uint32_t kSaveFileNoDigest = 3;

class ISaveFileReaderVisitor {
 public:
  // The walk ends here: the header is bad or unreadable.
  virtual void OnError(std::uint32_t code) = 0;
  virtual void OnHeader() = 0;
  // The data lives until the next step.
  virtual void OnChunk(std::uint32_t tag, std::uint32_t value, const std::uint8_t* data, std::uint32_t size) = 0;
  // The walk ends here. True when the records fill the container exactly and the stored digest is
  // theirs.
  virtual void OnEnd(bool digestMatches) = 0;

 protected:
  // Visitors are never deleted through this interface.
  ~ISaveFileReaderVisitor() = default;
};

// Walks a container from the start of a stream (not owned). Every step reads at least a record's
// head or ends the walk, and the walk always ends with exactly one OnError or OnEnd: a record that
// announces more bytes than remain, a tail shorter than a record's head, or a read that comes
// short ends it with OnEnd(false).
class TSaveFileReader {
 public:
  TSaveFileReader(TStream& stream, ISaveFileReaderVisitor& visitor) : stream_(stream), visitor_(visitor) {}

  // The header on the first step, then one record a step. False once the walk has ended.
  bool Step();
  bool HasEnded() const { return ended_; }

 private:
  void ReadHeader();
  void ReadRecord();
  void End(bool intact);
  void Fail(std::uint32_t code);
  bool ReadExactly(void* destination, std::uint32_t count);
  bool ReadWord(std::uint32_t& value);

  TStream& stream_;
  ISaveFileReaderVisitor& visitor_;
  bool headerRead_ = false;
  bool ended_ = false;
  std::uint8_t storedDigest_[kSaveFileDigestSize] = {};
  Network::TSha224 digest_;
  // One record's data, reused from record to record.
  std::vector<std::uint8_t> data_;
};

// Ignores everything but the end of the walk; an error ends it as well.
class SaveFileReaderVisitorTester final : public ISaveFileReaderVisitor {
 public:
  void OnError(std::uint32_t code) override {
    failed_ = true;
    error_ = code;
  }
  void OnHeader() override {}
  void OnChunk(std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint32_t) override {}
  void OnEnd(bool) override { done_ = true; }

  bool IsDone() const { return done_; }
  bool HasFailed() const { return failed_; }
  std::uint32_t GetError() const { return error_; }

 private:
  bool done_ = false;
  bool failed_ = false;
  std::uint32_t error_ = 0;
};

// Walks the whole container until its end or an error.
void TestSaveFile(TStream& stream);

}  // namespace Orvan
