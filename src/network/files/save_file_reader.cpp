// The save-file container reader and the whole-file test walk.
#include "network/files/save_file_reader.h"

#include <cstring>

namespace Orvan {

bool TSaveFileReader::Step() {
  if (ended_) return false;
  if (!headerRead_) {
    ReadHeader();
  } else {
    ReadRecord();
  }
  return !ended_;
}

bool TSaveFileReader::ReadExactly(void* destination, std::uint32_t count) {
  std::uint32_t status = kStreamStatusDone;
  return stream_.ReadWithStatus(destination, count, status) == count && status == kStreamStatusDone;
}

bool TSaveFileReader::ReadWord(std::uint32_t& value) {
  std::uint8_t bytes[4];
  if (!ReadExactly(bytes, sizeof bytes)) return false;
  value = LoadBigEndian32(bytes);
  return true;
}

void TSaveFileReader::ReadHeader() {
  headerRead_ = true;
  stream_.SetPosition(0);
  std::uint32_t magic = 0;
  if (!ReadWord(magic)) return Fail(kSaveFileShortRead);
  if (magic != kSaveFileMagic) return Fail(kSaveFileBadMagic);
  std::uint32_t version = 0;
  if (!ReadWord(version)) return Fail(kSaveFileShortRead);
  if (version > kSaveFileVersion) return Fail(kSaveFileVersionTooHigh);
  // The size field is not needed for the walk: the stream's own size bounds it.
  std::uint32_t size = 0;
  if (!ReadWord(size)) return Fail(kSaveFileShortRead);
  if (!digest_.Start()) return Fail(kSaveFileNoDigest);
  if (!ReadExactly(storedDigest_, kSaveFileDigestSize)) return Fail(kSaveFileShortRead);
  visitor_.OnHeader();
}

void TSaveFileReader::ReadRecord() {
  const std::uint32_t size = stream_.GetSize();
  const std::uint32_t position = stream_.GetPosition();
  if (position >= size) return End(true);
  // In 64 bits: a size near 2^32 must not wrap round into range.
  const std::uint64_t remaining = std::uint64_t{size} - position;
  std::uint8_t head[kSaveFileRecordHeadSize];
  if (remaining < kSaveFileRecordHeadSize || !ReadExactly(head, sizeof head)) return End(false);
  const std::uint32_t dataSize = LoadBigEndian32(head + 8);
  if (dataSize > remaining - kSaveFileRecordHeadSize) return End(false);
  data_.resize(dataSize);
  if (dataSize != 0 && !ReadExactly(data_.data(), dataSize)) return End(false);
  if (!digest_.Update(head, sizeof head) || !digest_.Update(data_.data(), dataSize)) return End(false);
  visitor_.OnChunk(LoadBigEndian32(head), LoadBigEndian32(head + 4), data_.data(), dataSize);
}

void TSaveFileReader::End(bool intact) {
  ended_ = true;
  // What was not walked is not covered by the digest: the container is not intact.
  stream_.SetPosition(stream_.GetSize());
  std::uint8_t computed[kSaveFileDigestSize];
  const bool matches = digest_.Finish(computed) && std::memcmp(computed, storedDigest_, sizeof computed) == 0;
  visitor_.OnEnd(intact && matches);
}

void TSaveFileReader::Fail(std::uint32_t code) {
  ended_ = true;
  visitor_.OnError(code);
}

void TestSaveFile(TStream& stream) {
  SaveFileReaderVisitorTester tester;
  TSaveFileReader reader(stream, tester);
  while (!tester.IsDone() && !tester.HasFailed() && reader.Step()) {
  }
}

}  // namespace Orvan
