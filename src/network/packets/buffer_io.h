// Raw byte sinks and sources with result codes, through which the format-letter packer writes and
// reads, and their fixed-buffer forms over a caller's array.
#pragma once

#include <cstdint>

namespace Orvan::Network {

// Result codes of the sinks and sources and of the packer that passes them through.
inline constexpr std::uint32_t kBufferOk = 0;
inline constexpr std::uint32_t kBufferWriterFull = 1;
inline constexpr std::uint32_t kBufferReaderShort = 2;

class IBufferWriter {
 public:
  virtual ~IBufferWriter() = default;
  virtual std::uint32_t Write(const void* data, std::uint32_t size) = 0;
};

class IBufferReader {
 public:
  virtual ~IBufferReader() = default;
  virtual std::uint32_t Read(void* data, std::uint32_t size) = 0;
};

// Writes into a caller's array: 1 and nothing written when the bytes do not fit.
class TFixedBufferWriter final : public IBufferWriter {
 public:
  TFixedBufferWriter(void* buffer, std::uint32_t capacity)
      : buffer_(static_cast<std::uint8_t*>(buffer)), capacity_(capacity) {}
  std::uint32_t Write(const void* data, std::uint32_t size) override;

  std::uint32_t GetPosition() const { return position_; }
  std::uint32_t GetCapacity() const { return capacity_; }
  const std::uint8_t* GetBuffer() const { return buffer_; }

 private:
  std::uint8_t* buffer_;
  std::uint32_t capacity_;
  std::uint32_t position_ = 0;
};

// Reads from a caller's array: 2 and nothing read when fewer bytes remain.
class TFixedBufferReader final : public IBufferReader {
 public:
  TFixedBufferReader(const void* buffer, std::uint32_t capacity)
      : buffer_(static_cast<const std::uint8_t*>(buffer)), capacity_(capacity) {}
  std::uint32_t Read(void* data, std::uint32_t size) override;

  std::uint32_t GetPosition() const { return position_; }
  std::uint32_t GetCapacity() const { return capacity_; }

 private:
  const std::uint8_t* buffer_;
  std::uint32_t capacity_;
  std::uint32_t position_ = 0;
};

}  // namespace Orvan::Network
