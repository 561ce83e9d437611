// Byte swaps of arrays, and big-endian numbers on standard streams.
#include "core/numbers/byte_order.h"

#include <bit>
#include <cstring>

namespace Orvan {

namespace {

std::uint16_t Swap(std::uint16_t value) { return __builtin_bswap16(value); }
std::uint32_t Swap(std::uint32_t value) { return __builtin_bswap32(value); }
std::uint64_t Swap(std::uint64_t value) { return __builtin_bswap64(value); }

template <typename T>
std::uint32_t SwapCopy(T* destination, const T* source, std::uint32_t size) {
  const std::uint32_t count = size / sizeof(T);
  for (std::uint32_t i = 0; i < count; ++i) destination[i] = Swap(source[i]);
  return count;
}

template <typename T>
std::uint32_t SwapInPlace(T* buffer, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) buffer[i] = Swap(buffer[i]);
  return count;
}

// The `width` bytes most significant first.
void PutBigEndian(std::ostream& stream, std::uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) stream.put(static_cast<char>(value >> shift));
}

// Up to `width` bytes, most significant first, stopping when the stream fails.
std::uint64_t GetBigEndian(std::istream& stream, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) {
    const std::istream::int_type byte = stream.get();
    if (std::istream::traits_type::eq_int_type(byte, std::istream::traits_type::eof())) break;
    value = (value << 8) | static_cast<unsigned char>(byte);
  }
  return value;
}

double ReadDoubleBits(std::istream& stream) {
  if (!stream.good()) {
    stream.setstate(std::ios_base::failbit);
    return 0.0;
  }
  return std::bit_cast<double>(GetBigEndian(stream, 8));
}

}  // namespace

void* SwapCopy8(void* destination, const void* source, std::uint32_t size) {
  if (size != 0) std::memmove(destination, source, size);
  return destination;
}

std::uint32_t SwapCopy16(std::uint16_t* destination, const std::uint16_t* source, std::uint32_t size) {
  return SwapCopy(destination, source, size);
}

std::uint32_t SwapCopy32(std::uint32_t* destination, const std::uint32_t* source, std::uint32_t size) {
  return SwapCopy(destination, source, size);
}

void SwapCopy64(std::uint64_t* destination, const std::uint64_t* source, std::uint32_t size) {
  SwapCopy(destination, source, size);
}

std::uint32_t SwapInPlace8(void*, std::uint32_t) { return 0; }

std::uint32_t SwapInPlace16(std::uint16_t* buffer, std::uint32_t size) { return SwapInPlace(buffer, size / 2); }

std::uint32_t SwapInPlace32(std::uint32_t* buffer, std::uint32_t size) { return SwapInPlace(buffer, size / 4); }

void SwapInPlace64(std::uint64_t* buffer, std::uint32_t size) { SwapInPlace(buffer, size / 8); }

std::uint32_t SwapWords32(std::uint32_t* buffer, std::uint32_t count) { return SwapInPlace(buffer, count); }

TBigEndianWriter& TBigEndianWriter::operator<<(std::int32_t value) {
  PutBigEndian(*stream_, static_cast<std::uint32_t>(value), 4);
  return *this;
}

TBigEndianWriter& TBigEndianWriter::operator<<(std::int64_t value) {
  PutBigEndian(*stream_, static_cast<std::uint64_t>(value), 8);
  return *this;
}

TBigEndianReader& TBigEndianReader::operator>>(std::uint32_t& value) {
  value = static_cast<std::uint32_t>(GetBigEndian(*stream_, 4));
  return *this;
}

TBigEndianReader& TBigEndianReader::operator>>(double& value) {
  value = ReadDoubleBits(*stream_);
  return *this;
}

void WriteBigEndianFloat(std::ostream& stream, const float& value) {
  PutBigEndian(stream, std::bit_cast<std::uint32_t>(value), 4);
}

void WriteBigEndianDouble(std::ostream& stream, const double& value) {
  PutBigEndian(stream, std::bit_cast<std::uint64_t>(value), 8);
}

std::int32_t ReadBigEndianInt32(std::istream& stream) {
  return static_cast<std::int32_t>(GetBigEndian(stream, 4));
}

double ReadBigEndianDouble(std::istream& stream) { return ReadDoubleBits(stream); }

}  // namespace Orvan
