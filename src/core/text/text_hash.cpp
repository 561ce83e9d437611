// The engine's text hashes and comparisons.
#include "core/text/text_hash.h"

#include <strings.h>

#include <cstring>
#include <cwchar>

namespace Orvan {

namespace {

inline std::uint32_t Djb2Step(std::uint32_t hash, std::uint32_t unit) { return hash + (hash << 5) + unit; }
inline std::uint32_t Fnv1Step(std::uint32_t hash, std::uint32_t unit) { return (hash * kFnv1Prime) ^ unit; }

std::uint32_t Djb2OfBytes(const unsigned char* first, const unsigned char* last) {
  std::uint32_t hash = kDjb2Start;
  for (; first != last; ++first) hash = Djb2Step(hash, *first);
  return hash;
}

// A folded byte adds its signed value, as a 32-bit two's-complement number.
inline std::uint32_t FoldedUnit(char c) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(FoldAsciiLower(c))));
}

inline std::uint32_t WideUnit(wchar_t c) { return static_cast<std::uint32_t>(c); }

}  // namespace

std::uint32_t HashDjb2(const char* first, const char* last) {
  return Djb2OfBytes(reinterpret_cast<const unsigned char*>(first), reinterpret_cast<const unsigned char*>(last));
}

std::uint32_t HashDjb2Key12(const void* key) {
  const auto* bytes = static_cast<const unsigned char*>(key);
  return Djb2OfBytes(bytes, bytes + 12);
}

std::uint32_t HashRangeDjb2(const char* first, const char* last) {
  if (first == last) return 0;
  return HashDjb2(first, last) & kHashMask;
}

std::uint32_t HashStringDjb2(const char* text) { return HashRangeDjb2(text, text + std::strlen(text)); }

std::uint32_t HashStdStringDjb2(const std::string& text) {
  return HashRangeDjb2(text.data(), text.data() + text.size());
}

std::uint32_t HashRangeNoCaseUnmasked(const char* first, const char* last) {
  std::uint32_t hash = kDjb2Start;
  for (; first != last; ++first) hash = Djb2Step(hash, FoldedUnit(*first));
  return hash;
}

std::uint32_t HashRangeNoCase(const char* first, const char* last) {
  if (first == last) return 0;
  return HashRangeNoCaseUnmasked(first, last) & kHashMask;
}

std::uint32_t HashStringNoCase(const char* text) { return HashRangeNoCase(text, text + std::strlen(text)); }

std::uint32_t HashStdStringNoCase(const std::string& text) {
  return HashRangeNoCase(text.data(), text.data() + text.size());
}

std::uint32_t HashWideRangeDjb2(const wchar_t* first, const wchar_t* last) {
  if (first == last) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(first);
  return Djb2OfBytes(bytes, bytes + (last - first) * sizeof(wchar_t)) & kHashMask;
}

std::uint32_t HashWideStringDjb2(const wchar_t* text) { return HashWideRangeDjb2(text, text + std::wcslen(text)); }

std::uint32_t HashWideStdStringFnv1(const std::wstring& text) {
  if (text.empty()) return 0;
  std::uint32_t hash = kFnv1Start;
  for (wchar_t c : text) hash = Fnv1Step(hash, WideUnit(c));
  return hash & kHashMask;
}

// Folds each character as it goes instead of hashing a folded copy: the same value, no allocation.
std::uint32_t HashWideRangeNoCase(const wchar_t* first, const wchar_t* last) {
  if (first == last) return 0;
  std::uint32_t hash = kFnv1Start;
  for (; first != last; ++first) hash = Fnv1Step(hash, WideUnit(FoldAsciiLower(*first)));
  return hash & kHashMask;
}

std::uint32_t HashWideStringNoCase(const wchar_t* text) { return HashWideRangeNoCase(text, text + std::wcslen(text)); }

std::uint32_t HashWideStdStringNoCase(const std::wstring& text) {
  return HashWideRangeNoCase(text.data(), text.data() + text.size());
}

bool StringEqualN(const char* a, const char* b, std::size_t n) { return a == b || std::strncmp(a, b, n) == 0; }

bool StringEqualN(const wchar_t* a, const wchar_t* b, std::size_t n) {
  return a == b || std::wcsncmp(a, b, n) == 0;
}

bool StringEqualNoCaseN(const char* a, const char* b, std::size_t n) { return a == b || ::strncasecmp(a, b, n) == 0; }

bool StringEqualNoCaseN(const wchar_t* a, const wchar_t* b, std::size_t n) {
  return a == b || ::wcsncasecmp(a, b, n) == 0;
}

namespace {

template <typename Char, typename Compare>
bool RangeLess(const Char* a1, const Char* a2, const Char* b1, const Char* b2, Compare compare) {
  if (a1 == b1 && a2 == b2) return false;
  const std::size_t lengthA = static_cast<std::size_t>(a2 - a1);
  const std::size_t lengthB = static_cast<std::size_t>(b2 - b1);
  const int order = compare(a1, b1, lengthA < lengthB ? lengthA : lengthB);
  return order == 0 ? lengthA < lengthB : order < 0;
}

}  // namespace

bool StringLess(const char* a1, const char* a2, const char* b1, const char* b2) {
  return RangeLess(a1, a2, b1, b2, [](const char* a, const char* b, std::size_t n) { return std::strncmp(a, b, n); });
}

bool StringLess(const wchar_t* a1, const wchar_t* a2, const wchar_t* b1, const wchar_t* b2) {
  return RangeLess(a1, a2, b1, b2,
                   [](const wchar_t* a, const wchar_t* b, std::size_t n) { return std::wcsncmp(a, b, n); });
}

bool StringLessNoCase(const char* a1, const char* a2, const char* b1, const char* b2) {
  return RangeLess(a1, a2, b1, b2, [](const char* a, const char* b, std::size_t n) { return ::strncasecmp(a, b, n); });
}

bool StringLessNoCase(const wchar_t* a1, const wchar_t* a2, const wchar_t* b1, const wchar_t* b2) {
  return RangeLess(a1, a2, b1, b2,
                   [](const wchar_t* a, const wchar_t* b, std::size_t n) { return ::wcsncasecmp(a, b, n); });
}

}  // namespace Orvan
