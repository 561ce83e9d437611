// Fuzz target of format-letter unpacking. Input: a mode byte, then
// - even mode: the bytes of one fixed layout (mode / 2 picks which), read and, when read, written
//   back: the bytes consumed must come back, a flag byte as 0 or 1;
// - odd mode: a letter section up to a 0 byte, then the bytes to unpack. Each letter is one item
//   unpacked with typed arguments through a format given at run time ('#' takes the next byte:
//   bit 0 picks c or v, the rest the buffer size, 255 meaning 70,000). Every result is 0, 2 or 22;
//   integers, s strings and #v bytes pack back to the bytes consumed, an a byte to 0 or 1, a #c text
//   to its bytes up to its first NUL, an f or d word with an ordinary exponent to itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "network/packets/mms_messages.h"
#include "network/packets/value_packing.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan;
using namespace Orvan::Network;
using Bytes = std::vector<std::uint8_t>;

using OrvTest::FuzzCheck;

void CheckResult(std::uint32_t result) {
  FuzzCheck(result == kBufferOk || result == kBufferReaderShort || result == kPackBadFormat, "unexpected result");
}

// Writes with `write` into a large buffer and answers the bytes.
template <typename TWrite>
Bytes Repacked(TWrite write) {
  static std::uint8_t buffer[80000];
  TFixedBufferWriter writer(buffer, sizeof(buffer));
  FuzzCheck(write(writer) == kBufferOk, "a value read does not pack back");
  return Bytes(buffer, buffer + writer.GetPosition());
}

void CheckSame(const Bytes& repacked, const std::uint8_t* consumed, std::uint32_t size, std::int32_t flagAt) {
  FuzzCheck(repacked.size() == size, "packed back to another size");
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint8_t expected = static_cast<std::int32_t>(i) == flagAt ? (consumed[i] != 0 ? 1 : 0) : consumed[i];
    FuzzCheck(repacked[i] == expected, "packed back to other bytes");
  }
}

template <typename TMessage, typename TRead, typename TWrite>
void FixedLayout(const std::uint8_t* data, std::uint32_t size, TRead read, TWrite write, std::int32_t flagAt) {
  TFixedBufferReader reader(data, size);
  TMessage message;
  if (!read(reader, message)) return;
  CheckSame(Repacked([&](IBufferWriter& writer) { return write(writer, message); }), data, reader.GetPosition(),
            flagAt);
}

void FixedLayouts(std::uint32_t which, const std::uint8_t* data, std::uint32_t size) {
  switch (which % 7) {
    case 0:
      FixedLayout<TMmsDedicatedInitMessage>(data, size, ReadMmsDedicatedInitMessage, WriteMmsDedicatedInitMessage, 10);
      break;
    case 1:
      FixedLayout<TMmsValidatePlayerMessage>(data, size, ReadMmsValidatePlayerMessage, WriteMmsValidatePlayerMessage,
                                             -1);
      break;
    case 2:
      FixedLayout<TMmsValidatePlayerAnswer>(data, size, ReadMmsValidatePlayerAnswer, WriteMmsValidatePlayerAnswer, -1);
      break;
    case 3:
      FixedLayout<TMmsGameInfoMessage>(data, size, ReadMmsGameInfoMessage, WriteMmsGameInfoMessage, -1);
      break;
    case 4:
      FixedLayout<TMmsSlaveStatusMessage>(data, size, ReadMmsSlaveStatusMessage, WriteMmsSlaveStatusMessage, 0);
      break;
    case 5:
      FixedLayout<TMmsSlaveUpdateMessage>(data, size, ReadMmsSlaveUpdateMessage, WriteMmsSlaveUpdateMessage, -1);
      break;
    default:
      FixedLayout<TMmsDedicatedInitAnswer>(data, size, ReadMmsDedicatedInitAnswer, WriteMmsDedicatedInitAnswer, -1);
      break;
  }
}

// One integer item of `width` bytes read into T and packed back with the same letter.
template <typename T>
void IntegerItem(TFixedBufferReader& reader, const std::uint8_t* data, const char* format) {
  const std::uint32_t start = reader.GetPosition();
  T value = 0;
  const std::uint32_t result = UnpackValues(reader, TRuntimeFormat(format), &value);
  CheckResult(result);
  if (result != kBufferOk) return;
  const std::int32_t flagAt = format[0] == 'a' ? 0 : -1;
  CheckSame(Repacked([&](IBufferWriter& writer) { return PackValues(writer, TRuntimeFormat(format), value); }),
            data + start, reader.GetPosition() - start, flagAt);
}

template <typename T>
void RealItem(TFixedBufferReader& reader, const std::uint8_t* data, const char* format, std::uint32_t width,
              std::uint32_t exponentShift, std::uint32_t exponentMask) {
  const std::uint32_t start = reader.GetPosition();
  T value = 0;
  const std::uint32_t result = UnpackValues(reader, TRuntimeFormat(format), &value);
  CheckResult(result);
  if (result != kBufferOk) return;
  std::uint64_t word = 0;
  for (std::uint32_t i = 0; i < width; ++i) word = (word << 8) | data[start + i];
  const std::uint64_t exponent = (word >> exponentShift) & exponentMask;
  static std::uint8_t buffer[8];
  TFixedBufferWriter writer(buffer, sizeof(buffer));
  const std::uint32_t packed = PackValues(writer, TRuntimeFormat(format), static_cast<double>(value));
  if (word == 0 || (exponent != 0 && exponent != exponentMask)) {
    FuzzCheck(packed == kBufferOk && std::memcmp(buffer, data + start, width) == 0, "a real did not pack back");
  } else {
    FuzzCheck(packed == kBufferOk || packed == kPackBadFormat, "unexpected result packing a real back");
  }
}

void LetterItems(const std::uint8_t* letters, std::uint32_t letterCount, const std::uint8_t* data, std::uint32_t size) {
  TFixedBufferReader reader(data, size);
  for (std::uint32_t i = 0; i < letterCount; ++i) {
    const char letter = static_cast<char>(letters[i]);
    const char format[2] = {letter, '\0'};
    switch (letter) {
      case 'B':
      case 'b':
        IntegerItem<std::uint8_t>(reader, data, format);
        break;
      case 'a': {
        const std::uint32_t start = reader.GetPosition();
        bool flag = false;
        const std::uint32_t result = UnpackValues(reader, TRuntimeFormat(format), &flag);
        CheckResult(result);
        if (result == kBufferOk) {
          CheckSame(Repacked([&](IBufferWriter& writer) { return PackValues(writer, "a", flag); }), data + start, 1, 0);
        }
        break;
      }
      case 'H':
      case 'h':
        IntegerItem<std::uint16_t>(reader, data, format);
        break;
      case 'I':
      case 'L':
      case 'i':
      case 'l':
        IntegerItem<std::uint32_t>(reader, data, format);
        break;
      case 'Q':
      case 'q':
        IntegerItem<std::uint64_t>(reader, data, format);
        break;
      case 'f':
        RealItem<float>(reader, data, format, 4, 23, 0xFF);
        break;
      case 'd':
        RealItem<double>(reader, data, format, 8, 52, 0x7FF);
        break;
      case 's': {
        const std::uint32_t start = reader.GetPosition();
        TOrvString<char> text("unset");
        const std::uint32_t result = UnpackValues(reader, TRuntimeFormat(format), &text);
        CheckResult(result);
        if (result != kBufferOk) {
          FuzzCheck(text == "unset", "a failed string read changed the string");
          break;
        }
        CheckSame(Repacked([&](IBufferWriter& writer) { return PackValues(writer, "s", &text); }), data + start,
                  reader.GetPosition() - start, -1);
        break;
      }
      case '#': {
        if (i + 1 >= letterCount) {
          CheckResult(UnpackValues(reader, TRuntimeFormat("#"), 1u));
          break;
        }
        const std::uint8_t selector = letters[++i];
        const std::uint32_t count = selector == 255 ? 70000u : selector >> 1;
        const std::uint32_t start = reader.GetPosition();
        std::vector<char> buffer(count + 1, '\x5A');
        if ((selector & 1) != 0) {
          const std::uint32_t result = UnpackValues(reader, TRuntimeFormat("#c"), count, buffer.data());
          CheckResult(result);
          FuzzCheck(buffer[count] == '\x5A', "#c wrote past its buffer");
          if (result != kBufferOk) break;
          const std::uint32_t length = (std::uint32_t{data[start]} << 8) | data[start + 1];
          FuzzCheck(length < count && buffer[length] == '\0', "#c text not terminated");
          const std::uint32_t upToNul = static_cast<std::uint32_t>(strnlen(buffer.data(), length));
          const Bytes repacked = Repacked([&](IBufferWriter& writer) {
            return PackValues(writer, "#c", count, static_cast<const char*>(buffer.data()));
          });
          FuzzCheck(repacked.size() == 2 + upToNul && repacked[0] == (upToNul >> 8) && repacked[1] == (upToNul & 0xFF),
                "#c packed back to another length");
          FuzzCheck(upToNul == 0 || std::memcmp(repacked.data() + 2, data + start + 2, upToNul) == 0,
                "#c packed back to other bytes");
        } else {
          const std::uint32_t result = UnpackValues(reader, TRuntimeFormat("#v"), count, buffer.data());
          CheckResult(result);
          FuzzCheck(buffer[count] == '\x5A', "#v wrote past its buffer");
          if (result != kBufferOk) break;
          CheckSame(Repacked([&](IBufferWriter& writer) {
                      return PackValues(writer, "#v", count, static_cast<const void*>(buffer.data()));
                    }),
                    data + start, reader.GetPosition() - start, -1);
        }
        break;
      }
      default: {
        const std::uint32_t start = reader.GetPosition();
        FuzzCheck(UnpackValues(reader, TRuntimeFormat(format)) == kPackBadFormat, "a letter without meaning was taken");
        FuzzCheck(reader.GetPosition() == start, "a letter without meaning consumed bytes");
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  if (size < 1 || size > 200000) return 0;
  const std::uint8_t mode = data[0];
  const std::uint8_t* rest = data + 1;
  const auto restSize = static_cast<std::uint32_t>(size - 1);
  if ((mode & 1) == 0) {
    FixedLayouts(mode >> 1, rest, restSize);
    return 0;
  }
  std::uint32_t letters = 0;
  while (letters < restSize && rest[letters] != 0) ++letters;
  const std::uint32_t dataStart = letters < restSize ? letters + 1 : letters;
  LetterItems(rest, letters, rest + dataStart, restSize - dataStart);
  return 0;
}
