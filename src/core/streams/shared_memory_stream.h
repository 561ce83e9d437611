// Streams over a block of memory that somebody else owns: TLWSharedMemoryStream, a plain cursor
// with no virtual operations, and TSharedMemoryStream, the same cursor as a full memory stream.
// A shared block keeps its size: reads and writes are cut at it and SetSize does nothing.
#pragma once

#include <cstdint>

#include "core/memory/typed_pool.h"
#include "core/streams/abstract_memory_stream.h"

namespace Orvan {

class TLWSharedMemoryStream {
 public:
  // No block; flag 1.
  TLWSharedMemoryStream() noexcept = default;
  TLWSharedMemoryStream(std::uint8_t* block, std::uint32_t size, std::uint8_t flag) noexcept
      : block_(block), size_(size), flag_(flag) {}

  // Shows another block; the position stays where it was.
  void SetSharedBlock(std::uint8_t* block, std::uint32_t size, std::uint8_t flag) noexcept {
    block_ = block;
    size_ = size;
    flag_ = flag;
  }

  std::uint32_t GetSize() const noexcept { return size_; }
  std::uint32_t GetPosition() const noexcept { return position_; }
  std::uint8_t* GetData() const noexcept { return block_; }
  std::uint8_t GetFlag() const noexcept { return flag_; }
  void SetPosition(std::uint32_t position) noexcept { position_ = position; }
  void SetSize(std::uint32_t) noexcept {}
  // Both cut at the size; the result is the count copied.
  std::int32_t Read(void* destination, std::uint32_t count) noexcept;
  std::int32_t Write(const void* source, std::uint32_t count) noexcept;
  std::uint32_t ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) noexcept;
  void Seek(std::uint32_t offset, std::uint32_t origin) noexcept;

 private:
  std::uint8_t* block_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t position_ = 0;
  std::uint8_t flag_ = 1;
};

class TSharedMemoryStream : public TAbstractMemoryStream, public TLWSharedMemoryStream {
 public:
  TSharedMemoryStream() noexcept = default;
  TSharedMemoryStream(std::uint8_t* block, std::uint32_t size, std::uint8_t flag) noexcept
      : TLWSharedMemoryStream(block, size, flag) {}

  std::uint32_t GetSize() const override { return TLWSharedMemoryStream::GetSize(); }
  std::uint32_t GetPosition() const override { return TLWSharedMemoryStream::GetPosition(); }
  void SetPosition(std::uint32_t position) override { TLWSharedMemoryStream::SetPosition(position); }
  std::int32_t Read(void* destination, std::uint32_t count) override {
    return TLWSharedMemoryStream::Read(destination, count);
  }
  std::uint32_t ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) override {
    return TLWSharedMemoryStream::ReadWithStatus(destination, count, status);
  }
  std::int32_t Write(const void* source, std::uint32_t count) override {
    return TLWSharedMemoryStream::Write(source, count);
  }
  void SetSize(std::uint32_t) override {}
  std::uint8_t* GetData() const override { return TLWSharedMemoryStream::GetData(); }
  void Seek(std::uint32_t offset, std::uint32_t origin) override { TLWSharedMemoryStream::Seek(offset, origin); }

  ORV_POOLED_ALLOCATION(TSharedMemoryStream)
};

}  // namespace Orvan
