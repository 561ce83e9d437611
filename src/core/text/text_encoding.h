// Conversions between the engine's narrow text (UTF-8) and wide text (UTF-16 code units, one per
// 32-bit wchar_t), the text-encoding ids with their names and byte-order marks, and the error
// text of a failed conversion. Decoders accept well-formed UTF-8 only; no conversion throws.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "core/text/engine_string.h"

namespace Orvan {

class TStream;

using TTextEncoding = std::uint32_t;
inline constexpr TTextEncoding kTextEncodingUtf8 = 0;
inline constexpr TTextEncoding kTextEncodingUtf16LittleEndian = 1;
inline constexpr TTextEncoding kTextEncodingUtf16BigEndian = 2;
inline constexpr TTextEncoding kTextEncodingUtf32LittleEndian = 3;
inline constexpr TTextEncoding kTextEncodingUtf32BigEndian = 4;

// "utf-8", "utf-le-16", "utf-be-16", "utf-le-32", "utf-be-32"; "" above 4.
const char* GetTextEncodingName(TTextEncoding id);
const wchar_t* GetTextEncodingWideName(TTextEncoding id);

struct TByteOrderMark {
  std::uint32_t length = 0;  // 2, 3 or 4
  std::uint8_t bytes[4] = {0, 0, 0, 0};  // zero beyond `length`

  // Whether `data` starts with the mark; false when fewer than `length` bytes are available.
  bool Matches(const std::uint8_t* data, std::uint32_t available) const;
};

// The mark of `id`; ids outside 1-4 get the UTF-8 mark.
void GetByteOrderMark(TByteOrderMark& out, TTextEncoding id);

// The encoding whose mark starts the stream, tried in id order, with the stream left just past
// the mark; without one, UTF-8 with the stream at 0. The FF FE 00 00 mark reads as UTF-16 LE.
TTextEncoding DetectTextEncoding(TStream& stream);

// ---- UTF-8 to wide. Malformed input gives the empty result.
std::wstring Utf8ToWide(const char* text, std::uint32_t length);  // exactly `length` bytes, NULs included
std::wstring Utf8ToWide(const std::string& text);
std::wstring Utf8ToWide(const char* text);  // up to the NUL; null reads as ""
TOrvString<wchar_t> Utf8ToWide(const TOrvString<char>& text);
// Needs strlen(text) + 1 <= capacity. True with a terminated text on success. On failure a buffer
// of capacity 1 or more holds the empty text; capacity 0 is never written.
bool Utf8ToWide(wchar_t* buffer, std::uint32_t capacity, const char* text);
// Appends the decoded units; stops at the first malformed sequence, keeping what was written.
std::wostream& WriteUtf8AsWide(std::wostream& stream, const char* text);

// ---- Wide to UTF-8. A lone surrogate is malformed and gives the empty result; the pair that
// makes U+10FFFF is written as U+FFFD.
std::string WideToUtf8(const wchar_t* text, std::uint32_t length);
std::string WideToUtf8(const std::wstring& text);
std::string WideToUtf8(const wchar_t* text);  // up to the NUL; null reads as ""
TOrvString<char> WideToUtf8(const TOrvString<wchar_t>& text);
// True with a terminated text when the whole encoding and its NUL fit. False otherwise; a buffer of
// capacity 1 or more is still terminated: a cut output in its last slot, malformed input in its
// first. Capacity 0 is never written.
bool WideToUtf8(char* buffer, std::uint32_t capacity, const wchar_t* text);
// Appends the encoded bytes; stops at the first malformed unit, keeping what was written.
std::ostream& WriteWideAsUtf8(std::ostream& stream, const wchar_t* text);

// Widens `count` 16-bit units by zero extension, without decoding or checking.
void CopyUtf16ToWide(wchar_t* destination, const std::uint16_t* source, std::uint32_t count);

// kind 1: invalid value at `offset`; kind 2: incomplete code point; else internal error. Ends with a
// hex dump of the `size` source bytes. A null name ends the text before it.
std::wstring BuildTextConversionErrorMessage(const wchar_t* fromName, const wchar_t* toName, const void* source,
                                             std::uint32_t size, std::uint32_t offset, std::int32_t kind);

}  // namespace Orvan
