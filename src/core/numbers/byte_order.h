// Big-endian data on a little-endian machine: byte swaps of 16-, 32- and 64-bit arrays (copying or
// in place) and readers and writers of big-endian numbers on standard streams.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

namespace Orvan {

// ---- Array swaps. Sizes are in bytes: the element count is size / width, and trailing bytes are
// left alone. The counting forms return the element count.
void* SwapCopy8(void* destination, const void* source, std::uint32_t size);  // a plain copy
std::uint32_t SwapCopy16(std::uint16_t* destination, const std::uint16_t* source, std::uint32_t size);
std::uint32_t SwapCopy32(std::uint32_t* destination, const std::uint32_t* source, std::uint32_t size);
void SwapCopy64(std::uint64_t* destination, const std::uint64_t* source, std::uint32_t size);
std::uint32_t SwapInPlace8(void* buffer, std::uint32_t size);  // does nothing
std::uint32_t SwapInPlace16(std::uint16_t* buffer, std::uint32_t size);
std::uint32_t SwapInPlace32(std::uint32_t* buffer, std::uint32_t size);
void SwapInPlace64(std::uint64_t* buffer, std::uint32_t size);
// `count` is in words here, not bytes; returns it.
std::uint32_t SwapWords32(std::uint32_t* buffer, std::uint32_t count);

// ---- Streams. A read that meets the end of the stream, or a failed stream, stops there: the
// stream's fail bit says so and the value holds only the bytes read before (0 when none was).
class TBigEndianWriter {
 public:
  explicit TBigEndianWriter(std::ostream* stream) : stream_(stream) {}
  TBigEndianWriter& operator<<(std::int32_t value);
  // The high word, then the low one.
  TBigEndianWriter& operator<<(std::int64_t value);

 private:
  std::ostream* stream_;
};

class TBigEndianReader {
 public:
  explicit TBigEndianReader(std::istream* stream) : stream_(stream) {}
  TBigEndianReader& operator>>(std::uint32_t& value);
  // The eight bytes are the double's bit pattern, not a number to convert. A stream already failed
  // or at its end gives 0.0.
  TBigEndianReader& operator>>(double& value);

 private:
  std::istream* stream_;
};

void WriteBigEndianFloat(std::ostream& stream, const float& value);
void WriteBigEndianDouble(std::ostream& stream, const double& value);
std::int32_t ReadBigEndianInt32(std::istream& stream);
double ReadBigEndianDouble(std::istream& stream);

}  // namespace Orvan
