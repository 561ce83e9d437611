// The save-file container writer.
#include "network/files/save_file_writer.h"

#include <cstring>
#include <new>

#include "network/files/save_file_layout.h"
#include "network/files/sha224_digest.h"

namespace Orvan {

TSaveFileWriter::TSaveFileWriter() : stream_(new TMemoryStream) {}

TSaveFileWriter::TSaveFileWriter(const TCountedPtr<TMemoryStream>& stream) : stream_(stream) {}

TSaveFileWriter::TSaveFileWriter(std::uint32_t optionWord) : stream_(new TMemoryStream), optionWord_(optionWord) {}

bool TSaveFileWriter::RefuseOutOfOrder() {
  error_ = kOutOfOrder;
  return false;
}

bool TSaveFileWriter::Begin() {
  if (state_ != kCreated) return RefuseOutOfOrder();
  std::uint8_t header[kSaveFileHeaderSize];
  StoreSaveFileHeader(header);
  sizePosition_ = stream_->GetPosition() + kSaveFileSizeOffset;
  stream_->Write(header, sizeof header);
  state_ = kBegun;
  return true;
}

bool TSaveFileWriter::AddChunk(std::uint32_t tag, std::uint32_t value, const void* data, std::uint32_t size,
                               bool refuse) {
  if (state_ != kBegun) return RefuseOutOfOrder();
  const std::uint32_t start = stream_->GetSize();
  const std::uint64_t end = std::uint64_t{start} + kSaveFileRecordHeadSize + size;
  if (refuse || end > kSaveFileMaximumSize) {
    error_ = kChunkRefused;
    return false;
  }
  // Grown first, filled after: a stream that cannot grow leaves no half record behind.
  stream_->SetSize(static_cast<std::uint32_t>(end));
  std::uint8_t* record = stream_->GetData() + start;
  StoreSaveFileRecordHead(record, tag, value, size);
  if (size != 0) std::memcpy(record + kSaveFileRecordHeadSize, data, size);
  stream_->SetPosition(static_cast<std::uint32_t>(end));
  return true;
}

bool TSaveFileWriter::Finish() {
  if (state_ != kBegun) return RefuseOutOfOrder();
  const std::uint32_t size = stream_->GetSize();
  std::uint8_t digest[kSaveFileDigestSize];
  Network::TSha224 sha224;
  if (!sha224.Start() || !sha224.Update(stream_->GetData() + kSaveFileHeaderSize, size - kSaveFileHeaderSize) ||
      !sha224.Finish(digest)) {
    throw std::bad_alloc();
  }
  // The size field and the digest lie side by side: one write fills both.
  std::uint8_t sealed[kSaveFileSealSize];
  StoreSaveFileSeal(sealed, size, digest);
  stream_->SetPosition(sizePosition_);
  stream_->Write(sealed, sizeof sealed);
  state_ = kFinished;
  return true;
}

TCountedPtr<TMemoryView> TSaveFileWriter::GetMemoryView() const {
  return stream_->CreateMemoryView(0, stream_->GetSize(), 0);
}

}  // namespace Orvan
