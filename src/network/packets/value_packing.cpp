// The format-letter packer and unpacker.
#include "network/packets/value_packing.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "core/memory/stack_based_allocator.h"

namespace Orvan::Network {

namespace PackingDetail {
void FormatDoesNotMatchItsArguments() {}
}  // namespace PackingDetail

namespace {

// Strings up to this length are read through a buffer on the call stack.
constexpr std::uint32_t kStackStringBuffer = 256;

void StoreBigEndian(std::uint8_t* bytes, std::uint64_t value, std::uint32_t width) {
  for (std::uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

std::uint64_t LoadBigEndian(const std::uint8_t* bytes, std::uint32_t width) {
  std::uint64_t value = 0;
  for (std::uint32_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

std::uint32_t WriteBigEndian(IBufferWriter& writer, std::uint64_t value, std::uint32_t width) {
  std::uint8_t bytes[8];
  StoreBigEndian(bytes, value, width);
  return writer.Write(bytes, width);
}

std::uint32_t ReadBigEndian(IBufferReader& reader, std::uint64_t& value, std::uint32_t width) {
  std::uint8_t bytes[8];
  const std::uint32_t result = reader.Read(bytes, width);
  if (result == kBufferOk) value = LoadBigEndian(bytes, width);
  return result;
}

// The binary32 word of a value rounded to single precision. False for what the word cannot carry
// as a normal number: infinities, NaN, values beyond the float range and subnormals. Zero of
// either sign is the zero word.
bool EncodeFloat(double value, std::uint32_t& word) {
  if (!(std::fabs(value) <= FLT_MAX)) return false;
  const float rounded = static_cast<float>(value);
  if (rounded == 0.0f) {
    word = 0;
    return true;
  }
  if (!std::isnormal(rounded)) return false;
  word = std::bit_cast<std::uint32_t>(rounded);
  return true;
}

bool EncodeDouble(double value, std::uint64_t& word) {
  if (value == 0.0) {
    word = 0;
    return true;
  }
  if (!std::isnormal(value)) return false;
  word = std::bit_cast<std::uint64_t>(value);
  return true;
}

// The word read as sign, exponent and fraction with the exponent fields 0 and the largest taken
// as ordinary ones; computed in the target type, so the largest exponent gives infinity.
float DecodeFloat(std::uint32_t word) {
  if (word == 0) return 0.0f;
  const float mantissa = 1.0f + std::ldexp(static_cast<float>(word & 0x7FFFFFu), -23);
  const float magnitude = std::ldexp(mantissa, static_cast<int>((word >> 23) & 0xFFu) - 127);
  return (word & 0x80000000u) != 0 ? -magnitude : magnitude;
}

double DecodeDouble(std::uint64_t word) {
  if (word == 0) return 0.0;
  const double mantissa = 1.0 + std::ldexp(static_cast<double>(word & 0xFFFFFFFFFFFFFull), -52);
  const double magnitude = std::ldexp(mantissa, static_cast<int>((word >> 52) & 0x7FFu) - 1023);
  return (word >> 63) != 0 ? -magnitude : magnitude;
}

std::uint32_t PackString(IBufferWriter& writer, const TOrvString<char>* text) {
  if (text == nullptr) return kPackBadFormat;
  const std::uint32_t length = text->GetLength();
  if (length > kPackMaximumLength) return kPackBadFormat;
  const std::uint32_t result = WriteBigEndian(writer, length, 4);
  if (result != kBufferOk) return result;
  return writer.Write(text->GetData(), length);
}

std::uint32_t PackText(IBufferWriter& writer, std::uint32_t count, const char* text) {
  if (count > kPackMaximumLength || text == nullptr) return kPackBadFormat;
  // The text must end within the buffer size, its terminator included.
  const std::size_t length = strnlen(text, count);
  if (length == count) return kPackBadFormat;
  const std::uint32_t result = WriteBigEndian(writer, length, 2);
  if (result != kBufferOk) return result;
  return writer.Write(text, static_cast<std::uint32_t>(length));
}

std::uint32_t PackBytes(IBufferWriter& writer, std::uint32_t count, const void* bytes) {
  if (count > kPackMaximumLength || (bytes == nullptr && count != 0)) return kPackBadFormat;
  return writer.Write(bytes, count);
}

std::uint32_t UnpackString(IBufferReader& reader, TOrvString<char>* out) {
  if (out == nullptr) return kPackBadFormat;
  std::uint64_t length = 0;
  std::uint32_t result = ReadBigEndian(reader, length, 4);
  if (result != kBufferOk) return result;
  if (length > kPackMaximumLength) return kPackBadFormat;
  const auto size = static_cast<std::uint32_t>(length);
  char local[kStackStringBuffer];
  TStackBasedBlock block(size <= kStackStringBuffer ? local : nullptr, size);
  result = reader.Read(block.data, size);
  if (result != kBufferOk) return result;
  *out = TOrvString<char>(static_cast<const char*>(block.data), size);
  return kBufferOk;
}

std::uint32_t UnpackText(IBufferReader& reader, std::uint32_t count, char* buffer) {
  if (count > kPackMaximumLength || buffer == nullptr) return kPackBadFormat;
  std::uint64_t length = 0;
  const std::uint32_t result = ReadBigEndian(reader, length, 2);
  if (result != kBufferOk) return result;
  if (count < length + 1) return kPackBadFormat;
  const std::uint32_t textResult = reader.Read(buffer, static_cast<std::uint32_t>(length));
  if (textResult != kBufferOk) return textResult;
  buffer[length] = '\0';
  return kBufferOk;
}

std::uint32_t UnpackBytes(IBufferReader& reader, std::uint32_t count, void* bytes) {
  if (count > kPackMaximumLength || (bytes == nullptr && count != 0)) return kPackBadFormat;
  return reader.Read(bytes, count);
}

}  // namespace

// The arguments are taken here and handed to the helpers as values: a va_list copied for them
// would cost more than the rest of a short format.
std::uint32_t PackValuesList(IBufferWriter& writer, const char* format, va_list arguments) {
  if (format == nullptr) return kPackBadFormat;
  for (const char* p = format; *p != '\0'; ++p) {
    std::uint32_t result;
    switch (*p) {
      case 'B':
      case 'b':
        result = WriteBigEndian(writer, static_cast<std::uint8_t>(va_arg(arguments, int)), 1);
        break;
      case 'a':
        result = WriteBigEndian(writer, va_arg(arguments, int) != 0 ? 1 : 0, 1);
        break;
      case 'H':
      case 'h':
        result = WriteBigEndian(writer, static_cast<std::uint16_t>(va_arg(arguments, int)), 2);
        break;
      case 'I':
      case 'L':
      case 'i':
      case 'l':
        result = WriteBigEndian(writer, va_arg(arguments, unsigned), 4);
        break;
      case 'Q':
      case 'q':
        result = WriteBigEndian(writer, va_arg(arguments, std::uint64_t), 8);
        break;
      case 'f': {
        std::uint32_t word;
        if (!EncodeFloat(va_arg(arguments, double), word)) return kPackBadFormat;
        result = WriteBigEndian(writer, word, 4);
        break;
      }
      case 'd': {
        std::uint64_t word;
        if (!EncodeDouble(va_arg(arguments, double), word)) return kPackBadFormat;
        result = WriteBigEndian(writer, word, 8);
        break;
      }
      case 's':
        result = PackString(writer, va_arg(arguments, const TOrvString<char>*));
        break;
      case '#':
        if (p[1] != 'c' && p[1] != 'v') return kPackBadFormat;
        ++p;
        {
          const std::uint32_t count = va_arg(arguments, unsigned);
          if (*p == 'c') {
            const char* text = va_arg(arguments, const char*);
            result = PackText(writer, count, text);
          } else {
            const void* bytes = va_arg(arguments, const void*);
            result = PackBytes(writer, count, bytes);
          }
        }
        break;
      default:
        return kPackBadFormat;
    }
    if (result != kBufferOk) return result;
  }
  return kBufferOk;
}

std::uint32_t PackValuesUnchecked(IBufferWriter& writer, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::uint32_t result = PackValuesList(writer, format, arguments);
  va_end(arguments);
  return result;
}

std::uint32_t UnpackValuesList(IBufferReader& reader, const char* format, va_list arguments) {
  if (format == nullptr) return kPackBadFormat;
  for (const char* p = format; *p != '\0'; ++p) {
    std::uint32_t result;
    std::uint64_t value = 0;
    switch (*p) {
      case 'B':
      case 'b': {
        auto* out = va_arg(arguments, std::uint8_t*);
        result = ReadBigEndian(reader, value, 1);
        if (result == kBufferOk) *out = static_cast<std::uint8_t>(value);
        break;
      }
      case 'a': {
        bool* out = va_arg(arguments, bool*);
        result = ReadBigEndian(reader, value, 1);
        if (result == kBufferOk) *out = value != 0;
        break;
      }
      case 'H':
      case 'h': {
        auto* out = va_arg(arguments, std::uint16_t*);
        result = ReadBigEndian(reader, value, 2);
        if (result == kBufferOk) *out = static_cast<std::uint16_t>(value);
        break;
      }
      case 'I':
      case 'L':
      case 'i':
      case 'l': {
        auto* out = va_arg(arguments, std::uint32_t*);
        result = ReadBigEndian(reader, value, 4);
        if (result == kBufferOk) *out = static_cast<std::uint32_t>(value);
        break;
      }
      case 'Q':
      case 'q': {
        auto* out = va_arg(arguments, std::uint64_t*);
        result = ReadBigEndian(reader, value, 8);
        if (result == kBufferOk) *out = value;
        break;
      }
      case 'f': {
        float* out = va_arg(arguments, float*);
        result = ReadBigEndian(reader, value, 4);
        if (result == kBufferOk) *out = DecodeFloat(static_cast<std::uint32_t>(value));
        break;
      }
      case 'd': {
        double* out = va_arg(arguments, double*);
        result = ReadBigEndian(reader, value, 8);
        if (result == kBufferOk) *out = DecodeDouble(value);
        break;
      }
      case 's':
        result = UnpackString(reader, va_arg(arguments, TOrvString<char>*));
        break;
      case '#':
        if (p[1] != 'c' && p[1] != 'v') return kPackBadFormat;
        ++p;
        {
          const std::uint32_t count = va_arg(arguments, unsigned);
          if (*p == 'c') {
            char* buffer = va_arg(arguments, char*);
            result = UnpackText(reader, count, buffer);
          } else {
            void* bytes = va_arg(arguments, void*);
            result = UnpackBytes(reader, count, bytes);
          }
        }
        break;
      default:
        return kPackBadFormat;
    }
    if (result != kBufferOk) return result;
  }
  return kBufferOk;
}

std::uint32_t UnpackValuesUnchecked(IBufferReader& reader, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::uint32_t result = UnpackValuesList(reader, format, arguments);
  va_end(arguments);
  return result;
}

// The single values write and read exactly what "B", "H", "I" and "Q" do, without walking a format:
// the frame length of every message goes through them.
std::uint32_t WriteUInt8(IBufferWriter& writer, std::uint8_t value) { return WriteBigEndian(writer, value, 1); }
std::uint32_t WriteUInt16(IBufferWriter& writer, std::uint16_t value) { return WriteBigEndian(writer, value, 2); }
std::uint32_t WriteUInt32(IBufferWriter& writer, std::uint32_t value) { return WriteBigEndian(writer, value, 4); }
std::uint32_t WriteUInt64(IBufferWriter& writer, std::uint64_t value) { return WriteBigEndian(writer, value, 8); }

template <typename T>
static bool ReadSingle(IBufferReader& reader, T& value) {
  std::uint64_t read = 0;
  if (ReadBigEndian(reader, read, sizeof(T)) != kBufferOk) return false;
  value = static_cast<T>(read);
  return true;
}

bool ReadUInt8(IBufferReader& reader, std::uint8_t& value) { return ReadSingle(reader, value); }
bool ReadUInt16(IBufferReader& reader, std::uint16_t& value) { return ReadSingle(reader, value); }
bool ReadUInt32(IBufferReader& reader, std::uint32_t& value) { return ReadSingle(reader, value); }
bool ReadUInt64(IBufferReader& reader, std::uint64_t& value) { return ReadSingle(reader, value); }

}  // namespace Orvan::Network
