// The engine's fixed text hashes and comparisons, shared by engine strings, keyed tables, token
// tables and the file-name registry, so that every table agrees on them: djb2 for narrow text,
// djb2 over the raw bytes or (case-insensitive) FNV-1 for wide text. Hashes that key a table are
// masked to 31 bits and give 0 for an empty text; the cache words of strings use the top bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Orvan {

inline constexpr std::uint32_t kHashMask = 0x7FFFFFFF;
inline constexpr std::uint32_t kDjb2Start = 5381;
inline constexpr std::uint32_t kFnv1Start = 0x811C9DC5;
inline constexpr std::uint32_t kFnv1Prime = 16777619;

// The engine's case fold: the process never sets a locale, so only 'A'-'Z' fold. Every
// case-insensitive hash, comparison and conversion of the engine folds with these.
inline constexpr char FoldAsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
// Wide characters (UTF-16 units in 32 bits): everything but 'A'-'Z' passes unchanged.
inline constexpr wchar_t FoldAsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// ---- Narrow hashes over bytes.
// Unmasked djb2 of [first, last); 5381 for an empty range.
std::uint32_t HashDjb2(const char* first, const char* last);
// Unmasked djb2 of a fixed 12-byte key.
std::uint32_t HashDjb2Key12(const void* key);
// Masked djb2; 0 for an empty text.
std::uint32_t HashRangeDjb2(const char* first, const char* last);
std::uint32_t HashStringDjb2(const char* text);
std::uint32_t HashStdStringDjb2(const std::string& text);
// djb2 over the folded bytes, each taken as a signed value (bytes 0x80-0xFF add -128 to -1).
// Unmasked: 5381 for an empty range.
std::uint32_t HashRangeNoCaseUnmasked(const char* first, const char* last);
// Masked; 0 for an empty text.
std::uint32_t HashRangeNoCase(const char* first, const char* last);
std::uint32_t HashStringNoCase(const char* text);
std::uint32_t HashStdStringNoCase(const std::string& text);

// ---- Wide hashes (32-bit characters), all masked and 0 for an empty text.
// djb2 over the raw bytes of the characters, four per character in memory order.
std::uint32_t HashWideRangeDjb2(const wchar_t* first, const wchar_t* last);
std::uint32_t HashWideStringDjb2(const wchar_t* text);
// FNV-1 over the characters.
std::uint32_t HashWideStdStringFnv1(const std::wstring& text);
// FNV-1 over the folded characters.
std::uint32_t HashWideRangeNoCase(const wchar_t* first, const wchar_t* last);
std::uint32_t HashWideStringNoCase(const wchar_t* text);
std::uint32_t HashWideStdStringNoCase(const std::wstring& text);

// ---- Comparisons. The equality forms compare NUL-terminated texts over at most n characters
// and answer true at once for the same pointer.
bool StringEqualN(const char* a, const char* b, std::size_t n);
bool StringEqualN(const wchar_t* a, const wchar_t* b, std::size_t n);
bool StringEqualNoCaseN(const char* a, const char* b, std::size_t n);
bool StringEqualNoCaseN(const wchar_t* a, const wchar_t* b, std::size_t n);

// Order of the ranges [a1, a2) and [b1, b2): the first min(length) characters decide; when they
// are equal the shorter range is less (a proper prefix sorts first, equal texts are not less).
bool StringLess(const char* a1, const char* a2, const char* b1, const char* b2);
bool StringLess(const wchar_t* a1, const wchar_t* a2, const wchar_t* b1, const wchar_t* b2);
bool StringLessNoCase(const char* a1, const char* a2, const char* b1, const char* b2);
bool StringLessNoCase(const wchar_t* a1, const wchar_t* a2, const wchar_t* b1, const wchar_t* b2);

}  // namespace Orvan
