// CRC-64, CRC-32 and CRC-16 over their 256-entry tables.
#include "core/numbers/crc.h"

#include <array>

namespace Orvan {

namespace {

constexpr std::uint64_t kCrc64Polynomial = 0x42F0E1EBA9EA3693;
constexpr std::uint32_t kCrc32Polynomial = 0x04C11DB7;
constexpr std::uint32_t kCrc16Polynomial = 0x8005;

constexpr std::array<std::uint64_t, 256> BuildCrc64Table() {
  std::array<std::uint64_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint64_t value = std::uint64_t{i} << 56;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & (std::uint64_t{1} << 63)) != 0 ? (value << 1) ^ kCrc64Polynomial : value << 1;
    }
    table[i] = value;
  }
  return table;
}

constexpr std::array<std::uint64_t, 256> kCrc64Table = BuildCrc64Table();
static_assert(kCrc64Table[1] == kCrc64Polynomial);

template <typename T>
constexpr T ReverseBits(T value, int width) {
  T reversed = 0;
  for (int bit = 0; bit < width; ++bit) {
    reversed = static_cast<T>((reversed << 1) | (value & 1));
    value = static_cast<T>(value >> 1);
  }
  return reversed;
}

// The reflected table of a `width`-bit polynomial: the most-significant-bit-first division of each
// byte, its result reversed, stored at the byte's reversed index.
template <typename T>
std::array<T, 256> BuildReflectedTable(T polynomial, int width) {
  std::array<T, 256> table{};
  const T topBit = static_cast<T>(T{1} << (width - 1));
  for (std::uint32_t i = 0; i < 256; ++i) {
    T value = static_cast<T>(T(i) << (width - 8));
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & topBit) != 0 ? static_cast<T>((value << 1) ^ polynomial) : static_cast<T>(value << 1);
    }
    table[ReverseBits(i, 8)] = ReverseBits(value, width);
  }
  return table;
}

// Built on first use; the function-local statics make a first use on several threads at once safe.
const std::array<std::uint32_t, 256>& Crc32Table() {
  static const std::array<std::uint32_t, 256> table = BuildReflectedTable<std::uint32_t>(kCrc32Polynomial, 32);
  return table;
}

const std::array<std::uint16_t, 256>& Crc16Table() {
  static const std::array<std::uint16_t, 256> table = BuildReflectedTable<std::uint16_t>(kCrc16Polynomial, 16);
  return table;
}

template <typename T>
T UpdateReflected(const std::array<T, 256>& table, T crc, const std::uint8_t* data, std::uint32_t size) {
  for (std::uint32_t i = 0; i < size; ++i) crc = static_cast<T>(table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return crc;
}

}  // namespace

std::uint64_t Crc64Update(const std::uint8_t* data, std::uint32_t size, std::uint64_t crc) {
  if (data == nullptr) return crc;
  for (std::uint32_t i = 0; i < size; ++i) crc = kCrc64Table[(crc >> 56) ^ data[i]] ^ (crc << 8);
  return crc;
}

std::uint64_t Crc64(const std::uint8_t* data, std::uint32_t size) {
  return ~Crc64Update(data, size, ~std::uint64_t{0});
}

std::uint32_t Crc32(const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr) return 0;
  return Crc32WithInitial(0xFFFFFFFF, data, size);
}

std::uint32_t Crc32WithInitial(std::uint32_t initial, const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr) return initial;
  return ~UpdateReflected(Crc32Table(), ReverseBits(initial, 32), data, size);
}

std::uint32_t Crc16(const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr) return 0;
  return Crc16WithInitial(0, data, size);
}

std::uint32_t Crc16WithInitial(std::uint16_t initial, const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr) return initial;
  return UpdateReflected(Crc16Table(), ReverseBits(initial, 16), data, size);
}

}  // namespace Orvan
