// Free text functions that the engine string and the rest of the system build on: case-insensitive
// equality, prefix and suffix tests, standard-string cuts, trimming, splitting, tokenizing, the INI
// identifier test, decimal parsing, bounded formatted printing, the platform's text functions and a
// streaming copy.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"

namespace Orvan {

// ---- Comparisons. Only ASCII letters fold. A null text reads as "".
bool EqualsNoCase(const char* a, const char* b);
bool EqualsNoCase(const wchar_t* a, const wchar_t* b);
bool CharEqualsNoCase(char a, char b);
// An empty prefix or suffix is found in every text.
bool StartsWith(const char* text, const char* prefix, std::uint32_t textLength, std::uint32_t prefixLength);
bool StartsWith(const char* text, const char* prefix);
bool StartsWithNoCase(const char* text, const char* prefix, std::uint32_t textLength, std::uint32_t prefixLength);
bool StartsWithNoCase(const char* text, const char* prefix);
bool EndsWith(const char* textBegin, const char* textEnd, const char* suffixBegin, const char* suffixEnd);
bool EndsWith(const char* text, const char* suffix);
bool EndsWithNoCase(const char* textBegin, const char* textEnd, const char* suffixBegin, const char* suffixEnd);
bool EndsWithNoCase(const char* text, const char* suffix);
// The wide forms follow the narrow rules over wcsncmp and wcsncasecmp.
bool StartsWith(const wchar_t* text, const wchar_t* prefix, std::uint32_t textLength, std::uint32_t prefixLength);
bool StartsWith(const wchar_t* text, const wchar_t* prefix);
bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix, std::uint32_t textLength,
                      std::uint32_t prefixLength);
bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix);
bool EndsWith(const wchar_t* textBegin, const wchar_t* textEnd, const wchar_t* suffixBegin,
              const wchar_t* suffixEnd);
bool EndsWith(const wchar_t* text, const wchar_t* suffix);
bool EndsWithNoCase(const wchar_t* textBegin, const wchar_t* textEnd, const wchar_t* suffixBegin,
                    const wchar_t* suffixEnd);
bool EndsWithNoCase(const wchar_t* text, const wchar_t* suffix);

// ---- Standard-string cuts.
std::string SubStringFrom(const std::string& text, std::uint32_t start);  // start > size: std::out_of_range
std::string Left(const std::string& text, std::uint32_t count);           // never throws
std::string Right(const std::string& text, std::uint32_t count);          // count > size: std::out_of_range
std::string DropLeft(const std::string& text, std::uint32_t count);       // count > size: std::out_of_range
std::string DropRight(const std::string& text, std::uint32_t count);      // count > size: the whole text
// Without one trailing '\\'.
std::string RemoveTrailingBackslash(const std::string& text);

// ---- Engine-string functions.
// Without leading and trailing spaces and tabs; shares the block when nothing is cut.
TOrvString<char> TrimSpacesAndTabs(const TOrvString<char>& text);
TOrvString<char> RemoveTrailingBackslash(const TOrvString<char>& text);
TOrvString<char> ToStringTwoDecimals(float value);
// Ends a pair of engine strings held in raw storage: the second, then the first, as the pair's own
// destructor would.
template <typename CharT>
void DestroyStringPair(std::pair<TOrvString<CharT>, TOrvString<CharT>>* pair) noexcept {
  pair->second.~TOrvString<CharT>();
  pair->first.~TOrvString<CharT>();
}

// Cuts at the first occurrence of `separator`: `before` gets the text before it and `after` the text
// after it; without one, `before` gets the whole text and `after` the empty text. Null outputs are
// not wanted.
void SplitAtFirst(const TOrvString<char>& text, const TOrvString<char>& separator, TOrvString<char>* before,
                  TOrvString<char>* after);
void SplitAtFirst(const TOrvString<char>& text, const char* separator, TOrvString<char>* before,
                  TOrvString<char>* after);
void SplitAtFirst(const std::string& text, const std::string& separator, std::string* before, std::string* after);
// The maximal runs of characters that are not delimiters, in text order; no empty tokens.
TVector<TOrvString<char>> Tokenize(const TOrvString<char>& text, const char* delimiters);
TVector<std::string> Tokenize(const std::string& text, const char* delimiters);

// ---- Character buffers.
// True for a non-empty text of letters, digits and '_'.
bool IsValidIdentifier(const wchar_t* text);
// The same test for a writable buffer.
bool IsValidIdentifier(wchar_t* text);
// An optional leading '-', then each byte adds (byte - '0') to ten times the value (mod 2^32) with
// no digit check. 0 for a null text or a length of 0.
std::int32_t ParseDecimal(const char* text, std::uint32_t length);

// Outcomes of VPrintToBuffer: done, the text needs more room, or the print itself failed (an
// encoding error), which no larger buffer mends.
inline constexpr int kPrintDone = 0;
inline constexpr int kPrintBufferTooSmall = 1;
inline constexpr int kPrintFailed = 2;
// Prints at most `capacity` units, terminator included. On kPrintDone stores the terminator's
// address in `end` (when not null). The argument list is copied, so the caller may pass it again.
int VPrintToBuffer(char* buffer, char** end, std::uint32_t capacity, const char* format, va_list arguments);
int VPrintToBuffer(wchar_t* buffer, wchar_t** end, std::uint32_t capacity, const wchar_t* format,
                   va_list arguments);

// The platform's text functions, with its arguments and results, for callers that reach them
// through the engine.
std::size_t strlen(const char* text);
std::size_t wcslen(const wchar_t* text);
int strncmp(const char* a, const char* b, std::size_t count);
int wcsncmp(const wchar_t* a, const wchar_t* b, std::size_t count);
int strncasecmp(const char* a, const char* b, std::size_t count);
int wcsncasecmp(const wchar_t* a, const wchar_t* b, std::size_t count);
void* memcpy(void* destination, const void* source, std::size_t size);

// Copies `size` bytes; a 16-aligned source with a size that is a multiple of 4 goes through 64-byte
// blocks that bypass the cache (when the destination is 16-aligned too) and ends with a full fence.
void StreamingCopy(void* destination, const void* source, std::uint32_t size);

}  // namespace Orvan
