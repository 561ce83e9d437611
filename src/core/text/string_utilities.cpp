// Free text functions over raw texts, standard strings and engine strings.
#include "core/text/string_utilities.h"

#include <emmintrin.h>
#include <strings.h>

#include <boost/tokenizer.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "core/text/text_hash.h"

namespace Orvan {

namespace {

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }
const wchar_t* OrEmpty(const wchar_t* text) { return text != nullptr ? text : L""; }

template <typename CharT>
int CompareN(const CharT* a, const CharT* b, std::size_t n) {
  if constexpr (std::is_same_v<CharT, char>) {
    return std::strncmp(a, b, n);
  } else {
    return std::wcsncmp(a, b, n);
  }
}

template <typename CharT>
int CompareNoCaseN(const CharT* a, const CharT* b, std::size_t n) {
  if constexpr (std::is_same_v<CharT, char>) {
    return ::strncasecmp(a, b, n);
  } else {
    return ::wcsncasecmp(a, b, n);
  }
}

template <typename CharT>
std::size_t Length(const CharT* text) {
  if constexpr (std::is_same_v<CharT, char>) {
    return std::strlen(text);
  } else {
    return std::wcslen(text);
  }
}

template <bool kNoCase, typename CharT>
bool StartsWithT(const CharT* text, const CharT* prefix, std::uint32_t textLength, std::uint32_t prefixLength) {
  if (textLength < prefixLength) return false;
  return (kNoCase ? CompareNoCaseN(OrEmpty(text), OrEmpty(prefix), prefixLength)
                  : CompareN(OrEmpty(text), OrEmpty(prefix), prefixLength)) == 0;
}

template <bool kNoCase, typename CharT>
bool StartsWithT(const CharT* text, const CharT* prefix) {
  text = OrEmpty(text);
  prefix = OrEmpty(prefix);
  return StartsWithT<kNoCase>(text, prefix, static_cast<std::uint32_t>(Length(text)),
                              static_cast<std::uint32_t>(Length(prefix)));
}

template <bool kNoCase, typename CharT>
bool EndsWithT(const CharT* textBegin, const CharT* textEnd, const CharT* suffixBegin, const CharT* suffixEnd) {
  const std::ptrdiff_t textLength = textEnd - textBegin;
  const std::ptrdiff_t suffixLength = suffixEnd - suffixBegin;
  if (textLength < suffixLength) return false;
  if (suffixLength <= 0) return true;
  const CharT* tail = textEnd - suffixLength;
  return (kNoCase ? CompareNoCaseN(tail, suffixBegin, static_cast<std::size_t>(suffixLength))
                  : CompareN(tail, suffixBegin, static_cast<std::size_t>(suffixLength))) == 0;
}

template <bool kNoCase, typename CharT>
bool EndsWithT(const CharT* text, const CharT* suffix) {
  text = OrEmpty(text);
  suffix = OrEmpty(suffix);
  return EndsWithT<kNoCase>(text, text + Length(text), suffix, suffix + Length(suffix));
}

template <typename StringT, typename MakeString>
TVector<StringT> TokenizeT(const std::string& text, const char* delimiters, MakeString&& make) {
  using TSeparator = boost::char_separator<char>;
  const TSeparator separator(OrEmpty(delimiters), "", boost::drop_empty_tokens);
  const boost::tokenizer<TSeparator> tokens(text, separator);
  TVector<StringT> result;
  for (const std::string& token : tokens) result.PushBack(make(token));
  return result;
}

}  // namespace

bool EqualsNoCase(const char* a, const char* b) { return ::strcasecmp(OrEmpty(a), OrEmpty(b)) == 0; }
bool EqualsNoCase(const wchar_t* a, const wchar_t* b) { return ::wcscasecmp(OrEmpty(a), OrEmpty(b)) == 0; }
bool CharEqualsNoCase(char a, char b) { return FoldAsciiLower(a) == FoldAsciiLower(b); }

bool StartsWith(const char* text, const char* prefix, std::uint32_t textLength, std::uint32_t prefixLength) {
  return StartsWithT<false>(text, prefix, textLength, prefixLength);
}
bool StartsWith(const char* text, const char* prefix) { return StartsWithT<false>(text, prefix); }
bool StartsWithNoCase(const char* text, const char* prefix, std::uint32_t textLength, std::uint32_t prefixLength) {
  return StartsWithT<true>(text, prefix, textLength, prefixLength);
}
bool StartsWithNoCase(const char* text, const char* prefix) { return StartsWithT<true>(text, prefix); }
bool EndsWith(const char* textBegin, const char* textEnd, const char* suffixBegin, const char* suffixEnd) {
  return EndsWithT<false>(textBegin, textEnd, suffixBegin, suffixEnd);
}
bool EndsWith(const char* text, const char* suffix) { return EndsWithT<false>(text, suffix); }
bool EndsWithNoCase(const char* textBegin, const char* textEnd, const char* suffixBegin, const char* suffixEnd) {
  return EndsWithT<true>(textBegin, textEnd, suffixBegin, suffixEnd);
}
bool EndsWithNoCase(const char* text, const char* suffix) { return EndsWithT<true>(text, suffix); }

bool StartsWith(const wchar_t* text, const wchar_t* prefix, std::uint32_t textLength, std::uint32_t prefixLength) {
  return StartsWithT<false>(text, prefix, textLength, prefixLength);
}
bool StartsWith(const wchar_t* text, const wchar_t* prefix) { return StartsWithT<false>(text, prefix); }
bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix, std::uint32_t textLength,
                      std::uint32_t prefixLength) {
  return StartsWithT<true>(text, prefix, textLength, prefixLength);
}
bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) { return StartsWithT<true>(text, prefix); }
bool EndsWith(const wchar_t* textBegin, const wchar_t* textEnd, const wchar_t* suffixBegin,
              const wchar_t* suffixEnd) {
  return EndsWithT<false>(textBegin, textEnd, suffixBegin, suffixEnd);
}
bool EndsWith(const wchar_t* text, const wchar_t* suffix) { return EndsWithT<false>(text, suffix); }
bool EndsWithNoCase(const wchar_t* textBegin, const wchar_t* textEnd, const wchar_t* suffixBegin,
                    const wchar_t* suffixEnd) {
  return EndsWithT<true>(textBegin, textEnd, suffixBegin, suffixEnd);
}
bool EndsWithNoCase(const wchar_t* text, const wchar_t* suffix) { return EndsWithT<true>(text, suffix); }

std::string SubStringFrom(const std::string& text, std::uint32_t start) { return text.substr(start); }

std::string Left(const std::string& text, std::uint32_t count) {
  return text.substr(0, count < text.size() ? count : text.size());
}

// A count above the size makes the start position wrap far beyond the text, which substr refuses.
std::string Right(const std::string& text, std::uint32_t count) { return text.substr(text.size() - count); }

std::string DropLeft(const std::string& text, std::uint32_t count) {
  return Right(text, static_cast<std::uint32_t>(text.size() - count));
}

std::string DropRight(const std::string& text, std::uint32_t count) {
  return Left(text, static_cast<std::uint32_t>(text.size() - count));
}

std::string RemoveTrailingBackslash(const std::string& text) {
  if (!text.empty() && text.back() == '\\') return text.substr(0, text.size() - 1);
  return text;
}

TOrvString<char> TrimSpacesAndTabs(const TOrvString<char>& text) {
  const std::uint32_t length = text.GetLength();
  if (length == 0) return text;
  const char* data = text.GetData();
  auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  std::uint32_t first = 0;
  while (first < length && isBlank(data[first])) ++first;
  if (first == length) return TOrvString<char>();
  std::uint32_t last = length - 1;
  while (isBlank(data[last])) --last;
  return TOrvString<char>(text, first, last + 1 - first);
}

TOrvString<char> RemoveTrailingBackslash(const TOrvString<char>& text) {
  const std::uint32_t length = text.GetLength();
  if (length != 0 && text[length - 1] == '\\') return text.Left(static_cast<std::int32_t>(length - 1));
  return text;
}

TOrvString<char> ToStringTwoDecimals(float value) {
  char buffer[512];  // far above the widest float printed with two decimals (about 50 characters)
  std::snprintf(buffer, sizeof(buffer), "%.2f", static_cast<double>(value));
  return TOrvString<char>(buffer);
}

void SplitAtFirst(const TOrvString<char>& text, const TOrvString<char>& separator, TOrvString<char>* before,
                  TOrvString<char>* after) {
  // Copies first: an output may be the text or the separator itself.
  const TOrvString<char> whole = text;
  const std::int32_t at = whole.Find(separator);
  if (at < 0) {
    if (before != nullptr) *before = whole;
    if (after != nullptr) after->Clear();
    return;
  }
  const std::uint32_t cut = static_cast<std::uint32_t>(at);
  const std::uint32_t rest = cut + separator.GetLength();
  TOrvString<char> head = whole.Left(at);
  TOrvString<char> tail = whole.SubStringFrom(rest);
  if (before != nullptr) *before = std::move(head);
  if (after != nullptr) *after = std::move(tail);
}

void SplitAtFirst(const TOrvString<char>& text, const char* separator, TOrvString<char>* before,
                  TOrvString<char>* after) {
  SplitAtFirst(text, TOrvString<char>(separator), before, after);
}

void SplitAtFirst(const std::string& text, const std::string& separator, std::string* before, std::string* after) {
  const std::string whole = text;
  const std::size_t at = whole.find(separator);
  if (at == std::string::npos) {
    if (before != nullptr) *before = whole;
    if (after != nullptr) after->clear();
    return;
  }
  std::string tail = whole.substr(at + separator.size());
  if (before != nullptr) *before = whole.substr(0, at);
  if (after != nullptr) *after = std::move(tail);
}

TVector<TOrvString<char>> Tokenize(const TOrvString<char>& text, const char* delimiters) {
  const std::string copy(text.GetData(), text.GetLength());
  return TokenizeT<TOrvString<char>>(copy, delimiters, [](const std::string& token) { return TOrvString<char>(token); });
}

TVector<std::string> Tokenize(const std::string& text, const char* delimiters) {
  return TokenizeT<std::string>(text, delimiters, [](const std::string& token) { return token; });
}

bool IsValidIdentifier(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return false;
  for (; *text != L'\0'; ++text) {
    if (!std::iswalpha(static_cast<wint_t>(*text)) && !std::iswdigit(static_cast<wint_t>(*text)) && *text != L'_') {
      return false;
    }
  }
  return true;
}

bool IsValidIdentifier(wchar_t* text) { return IsValidIdentifier(static_cast<const wchar_t*>(text)); }

std::int32_t ParseDecimal(const char* text, std::uint32_t length) {
  if (text == nullptr || length == 0) return 0;
  std::uint32_t i = 0;
  const bool negative = text[0] == '-';
  if (negative) i = 1;
  std::uint32_t value = 0;
  for (; i < length; ++i) value = value * 10 + static_cast<std::uint32_t>(static_cast<unsigned char>(text[i]) - 48u);
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

int VPrintToBuffer(char* buffer, char** end, std::uint32_t capacity, const char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  const int written = std::vsnprintf(buffer, capacity, format, copy);
  va_end(copy);
  if (written < 0) return kPrintFailed;
  if (static_cast<std::uint32_t>(written) >= capacity) return kPrintBufferTooSmall;
  if (end != nullptr) *end = buffer + written;
  return kPrintDone;
}

int VPrintToBuffer(wchar_t* buffer, wchar_t** end, std::uint32_t capacity, const wchar_t* format,
                   va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  // The wide print answers -1 both when the text does not fit (errno untouched) and when it
  // fails (errno set, EILSEQ for an encoding error): only the first is mended by more room.
  errno = 0;
  const int written = std::vswprintf(buffer, capacity, format, copy);
  const int error = errno;
  va_end(copy);
  if (written < 0) return error == 0 ? kPrintBufferTooSmall : kPrintFailed;
  if (static_cast<std::uint32_t>(written) >= capacity) return kPrintBufferTooSmall;
  if (end != nullptr) *end = buffer + written;
  return kPrintDone;
}

// Qualified: unqualified, each name would find the forwarder itself.
std::size_t strlen(const char* text) { return ::strlen(text); }
std::size_t wcslen(const wchar_t* text) { return ::wcslen(text); }
int strncmp(const char* a, const char* b, std::size_t count) { return ::strncmp(a, b, count); }
int wcsncmp(const wchar_t* a, const wchar_t* b, std::size_t count) { return ::wcsncmp(a, b, count); }
int strncasecmp(const char* a, const char* b, std::size_t count) { return ::strncasecmp(a, b, count); }
int wcsncasecmp(const wchar_t* a, const wchar_t* b, std::size_t count) { return ::wcsncasecmp(a, b, count); }
void* memcpy(void* destination, const void* source, std::size_t size) { return ::memcpy(destination, source, size); }

void StreamingCopy(void* destination, const void* source, std::uint32_t size) {
  const auto sourceAddress = reinterpret_cast<std::uintptr_t>(source);
  if ((sourceAddress & 15) != 0 || (size & 3) != 0) {
    std::memcpy(destination, source, size);
    return;
  }
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  const bool alignedDestination = (reinterpret_cast<std::uintptr_t>(to) & 15) == 0;
  std::uint32_t done = 0;
  for (; done + 64 <= size; done += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(from + done + 64), _MM_HINT_NTA);
    const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(from + done));
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(from + done + 16));
    const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(from + done + 32));
    const __m128i d = _mm_load_si128(reinterpret_cast<const __m128i*>(from + done + 48));
    if (alignedDestination) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + done), a);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + done + 16), b);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + done + 32), c);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + done + 48), d);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done), a);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done + 16), b);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done + 32), c);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done + 48), d);
    }
  }
  for (; done + 16 <= size; done += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done),
                     _mm_load_si128(reinterpret_cast<const __m128i*>(from + done)));
  }
  for (; done < size; done += 4) std::memcpy(to + done, from + done, 4);
  _mm_mfence();
}

}  // namespace Orvan
