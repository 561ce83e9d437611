// Format-letter packing: every structured message body travels as fields named by letters of a
// format string, big-endian, written through an IBufferWriter and read through an IBufferReader.
//
//   B b  1 byte      H h  2 bytes     I L i l  4 bytes     Q q  8 bytes     a  1 byte, 0 or 1
//   f    binary32    d    binary64    s  u32 length then the bytes
//   #c   u16 length then the text (the argument pair: buffer size, text)
//   #v   count raw bytes (the argument pair: count, bytes)
//
// Callers use PackValues / UnpackValues: a format given as a literal is checked against the
// arguments' types at compile time (an `int` where `Q` reads 8 bytes does not compile); a format
// known only at run time goes in a TRuntimeFormat and a mismatch answers 22 with nothing done.
// The C-style entries behind them read their arguments by letter and trust the caller.
//
// Results: 0 done; 22 bad format or a value over a limit; otherwise the first non-zero result of
// the writer or reader (1 full, 2 short). Fields done before a failure stay done.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/text/engine_string.h"
#include "network/packets/buffer_io.h"

namespace Orvan::Network {

inline constexpr std::uint32_t kPackBadFormat = 22;
// Largest `s` string, `#` count and `#c` text length: lengths travel in 16 bits (`s` in a u32
// that never holds more).
inline constexpr std::uint32_t kPackMaximumLength = 65535;

// ---- C-style entries. Pack arguments by letter: B b a H h I L i l and the # count as int or
// unsigned, Q q as std::uint64_t, f d as double, s as const TOrvString<char>*, c as const char*,
// v as const void*. Unpack: pointers to std::uint8_t, bool (a), std::uint16_t, std::uint32_t,
// std::uint64_t, float, double, TOrvString<char>, then # with an unsigned buffer size and a char*
// (c) or void* (v).
std::uint32_t PackValuesUnchecked(IBufferWriter& writer, const char* format, ...);
std::uint32_t PackValuesList(IBufferWriter& writer, const char* format, va_list arguments);
std::uint32_t UnpackValuesUnchecked(IBufferReader& reader, const char* format, ...);
std::uint32_t UnpackValuesList(IBufferReader& reader, const char* format, va_list arguments);

namespace PackingDetail {

// What an argument may stand for: one bit per kind of letter it can fill.
enum : std::uint32_t {
  kSlotNone = 0,
  kSlotSmallInteger = 1u << 0,  // B b a H h
  kSlotWord = 1u << 1,          // I L i l, and the # count or buffer size
  kSlotLong = 1u << 2,          // Q q
  kSlotReal = 1u << 3,          // f d
  kSlotString = 1u << 4,        // s
  kSlotText = 1u << 5,          // #c
  kSlotBytes = 1u << 6,         // #v
  kSlotByteOut = 1u << 7,
  kSlotFlagOut = 1u << 8,
  kSlotShortOut = 1u << 9,
  kSlotWordOut = 1u << 10,
  kSlotLongOut = 1u << 11,
  kSlotFloatOut = 1u << 12,
  kSlotDoubleOut = 1u << 13,
  kSlotStringOut = 1u << 14,
  kSlotTextOut = 1u << 15,
  kSlotBytesOut = 1u << 16,
};

template <typename T>
inline constexpr bool kIsByteCharacter =
    std::is_same_v<std::remove_cv_t<T>, char> || std::is_same_v<std::remove_cv_t<T>, signed char> ||
    std::is_same_v<std::remove_cv_t<T>, unsigned char>;

template <typename T>
constexpr std::uint32_t SlotsOf() {
  std::uint32_t slots = 0;
  if constexpr (std::is_integral_v<T>) {
    if constexpr (sizeof(T) <= 4) slots |= kSlotSmallInteger | kSlotWord;
    if constexpr (sizeof(T) == 8) slots |= kSlotLong;
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    slots |= kSlotReal;
  } else if constexpr (std::is_pointer_v<T>) {
    using TPointee = std::remove_pointer_t<T>;
    using TBare = std::remove_cv_t<TPointee>;
    constexpr bool kWritable = !std::is_const_v<TPointee>;
    if constexpr (std::is_same_v<TBare, TOrvString<char>>) slots |= kSlotString | (kWritable ? kSlotStringOut : kSlotNone);
    if constexpr (std::is_same_v<TBare, char>) slots |= kSlotText | (kWritable ? kSlotTextOut : kSlotNone);
    if constexpr (std::is_void_v<TBare> || kIsByteCharacter<TBare>) {
      slots |= kSlotBytes | (kWritable ? kSlotBytesOut : kSlotNone);
    }
    if constexpr (kWritable) {
      if constexpr (std::is_same_v<TBare, bool>) {
        slots |= kSlotFlagOut;
      } else if constexpr (std::is_same_v<TBare, float>) {
        slots |= kSlotFloatOut;
      } else if constexpr (std::is_same_v<TBare, double>) {
        slots |= kSlotDoubleOut;
      } else if constexpr (std::is_integral_v<TBare> && !std::is_same_v<TBare, char>) {
        if constexpr (sizeof(TBare) == 1) slots |= kSlotByteOut;
        if constexpr (sizeof(TBare) == 2) slots |= kSlotShortOut;
        if constexpr (sizeof(TBare) == 4) slots |= kSlotWordOut;
        if constexpr (sizeof(TBare) == 8) slots |= kSlotLongOut;
      }
    }
  }
  return slots;
}

// The slot a letter fills; 0 for a letter with no meaning.
constexpr std::uint32_t LetterSlot(char letter, bool unpack) {
  switch (letter) {
    case 'B':
    case 'b':
      return unpack ? kSlotByteOut : kSlotSmallInteger;
    case 'a':
      return unpack ? kSlotFlagOut : kSlotSmallInteger;
    case 'H':
    case 'h':
      return unpack ? kSlotShortOut : kSlotSmallInteger;
    case 'I':
    case 'L':
    case 'i':
    case 'l':
      return unpack ? kSlotWordOut : kSlotWord;
    case 'Q':
    case 'q':
      return unpack ? kSlotLongOut : kSlotLong;
    case 'f':
      return unpack ? kSlotFloatOut : kSlotReal;
    case 'd':
      return unpack ? kSlotDoubleOut : kSlotReal;
    case 's':
      return unpack ? kSlotStringOut : kSlotString;
    default:
      return 0;
  }
}

enum class EFormatCheck { kMatch, kMismatch, kBadLetter };

// Walks the format against the arguments' slots. kBadLetter: the arguments match every item
// before the first letter without meaning (the entry answers 22 there).
constexpr EFormatCheck CheckFormat(const char* format, const std::uint32_t* slots, std::size_t count, bool unpack) {
  if (format == nullptr) return EFormatCheck::kBadLetter;
  std::size_t argument = 0;
  auto take = [&](std::uint32_t slot) {
    if (argument >= count || (slots[argument] & slot) == 0) return false;
    ++argument;
    return true;
  };
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p == '#') {
      const char next = p[1];
      if (next != 'c' && next != 'v') return EFormatCheck::kBadLetter;
      const std::uint32_t second =
          next == 'c' ? (unpack ? kSlotTextOut : kSlotText) : (unpack ? kSlotBytesOut : kSlotBytes);
      if (!take(kSlotWord) || !take(second)) return EFormatCheck::kMismatch;
      ++p;
      continue;
    }
    const std::uint32_t slot = LetterSlot(*p, unpack);
    if (slot == 0) return EFormatCheck::kBadLetter;
    if (!take(slot)) return EFormatCheck::kMismatch;
  }
  return argument == count ? EFormatCheck::kMatch : EFormatCheck::kMismatch;
}

// Never defined as constexpr: reaching it while a format literal is checked is the compile error.
void FormatDoesNotMatchItsArguments();

template <bool kUnpack, typename... Args>
class TCheckedFormat {
 public:
  template <std::size_t N>
  consteval TCheckedFormat(const char (&format)[N]) : text_(format) {
    constexpr std::uint32_t slots[] = {SlotsOf<Args>()..., 0};
    if (CheckFormat(format, slots, sizeof...(Args), kUnpack) != EFormatCheck::kMatch) {
      FormatDoesNotMatchItsArguments();
    }
  }
  const char* GetText() const { return text_; }

 private:
  const char* text_;
};

template <bool kUnpack, typename... Args>
bool RuntimeFormatFits(const char* format) {
  constexpr std::uint32_t slots[] = {SlotsOf<Args>()..., 0};
  return CheckFormat(format, slots, sizeof...(Args), kUnpack) != EFormatCheck::kMismatch;
}

// An argument as the C-style entry reads it: 8-byte integers as std::uint64_t, pointers to
// integers as pointers to the unsigned type of their width, other object pointers as void.
template <typename T>
auto PassArgument(T value) {
  if constexpr (std::is_integral_v<T> && sizeof(T) == 8) {
    return static_cast<std::uint64_t>(value);
  } else if constexpr (std::is_pointer_v<T>) {
    using TPointee = std::remove_pointer_t<T>;
    using TBare = std::remove_cv_t<TPointee>;
    if constexpr (std::is_same_v<TBare, char> || std::is_same_v<TBare, bool> || std::is_same_v<TBare, float> ||
                  std::is_same_v<TBare, double> || std::is_same_v<TBare, TOrvString<char>> ||
                  std::is_void_v<TBare>) {
      return value;
    } else if constexpr (std::is_integral_v<TBare>) {
      using TUnsigned = std::make_unsigned_t<TBare>;
      if constexpr (std::is_const_v<TPointee>) {
        return reinterpret_cast<const TUnsigned*>(value);
      } else {
        return reinterpret_cast<TUnsigned*>(value);
      }
    } else {
      return value;
    }
  } else {
    return value;
  }
}

}  // namespace PackingDetail

// A format known only at run time: checked against the arguments when the call runs.
struct TRuntimeFormat {
  explicit TRuntimeFormat(const char* format) : text(format) {}
  const char* text;
};

// Arguments are taken by what they decay to: a char array is the char* of its first element.
template <typename... Args>
using TPackFormat = PackingDetail::TCheckedFormat<false, std::decay_t<Args>...>;
template <typename... Args>
using TUnpackFormat = PackingDetail::TCheckedFormat<true, std::decay_t<Args>...>;

template <typename... Args>
std::uint32_t PackValues(IBufferWriter& writer, std::type_identity_t<TPackFormat<Args...>> format,
                         Args&&... args) {
  return PackValuesUnchecked(writer, format.GetText(), PackingDetail::PassArgument<std::decay_t<Args>>(args)...);
}

template <typename... Args>
std::uint32_t PackValues(IBufferWriter& writer, TRuntimeFormat format, Args&&... args) {
  if (!PackingDetail::RuntimeFormatFits<false, std::decay_t<Args>...>(format.text)) return kPackBadFormat;
  return PackValuesUnchecked(writer, format.text, PackingDetail::PassArgument<std::decay_t<Args>>(args)...);
}

template <typename... Args>
std::uint32_t UnpackValues(IBufferReader& reader, std::type_identity_t<TUnpackFormat<Args...>> format,
                           Args&&... args) {
  return UnpackValuesUnchecked(reader, format.GetText(), PackingDetail::PassArgument<std::decay_t<Args>>(args)...);
}

template <typename... Args>
std::uint32_t UnpackValues(IBufferReader& reader, TRuntimeFormat format, Args&&... args) {
  if (!PackingDetail::RuntimeFormatFits<true, std::decay_t<Args>...>(format.text)) return kPackBadFormat;
  return UnpackValuesUnchecked(reader, format.text, PackingDetail::PassArgument<std::decay_t<Args>>(args)...);
}

// ---- Single values: writers return the result code, readers true for 0.
std::uint32_t WriteUInt8(IBufferWriter& writer, std::uint8_t value);
std::uint32_t WriteUInt16(IBufferWriter& writer, std::uint16_t value);
std::uint32_t WriteUInt32(IBufferWriter& writer, std::uint32_t value);
std::uint32_t WriteUInt64(IBufferWriter& writer, std::uint64_t value);
bool ReadUInt8(IBufferReader& reader, std::uint8_t& value);
bool ReadUInt16(IBufferReader& reader, std::uint16_t& value);
bool ReadUInt32(IBufferReader& reader, std::uint32_t& value);
bool ReadUInt64(IBufferReader& reader, std::uint64_t& value);

}  // namespace Orvan::Network
