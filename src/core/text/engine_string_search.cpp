// Exact-match searches of the engine string and its substring view.
#include <cstring>
#include <cwchar>

#include "core/text/engine_string.h"

namespace Orvan {

namespace {

template <typename CharT>
std::size_t TextLength(const CharT* text) {
  if (text == nullptr) return 0;
  return std::char_traits<CharT>::length(text);
}

template <typename CharT>
std::int32_t FindIn(const TEngineStdString<CharT>& text, const CharT* needle, std::size_t needleLength,
                    std::uint32_t start) {
  const std::size_t at = text.find(needle, start, needleLength);
  return at == TEngineStdString<CharT>::npos ? -1 : static_cast<std::int32_t>(at);
}

// The last index <= start where the needle's characters match; an empty needle gives
// min(length, start).
template <typename CharT>
std::int32_t FindLastIn(const CharT* text, std::uint32_t length, const CharT* needle, std::size_t needleLength,
                        std::uint32_t start) {
  if (needleLength > length) return -1;
  const std::uint32_t lastStart = length - static_cast<std::uint32_t>(needleLength);
  for (std::uint32_t i = start < lastStart ? start : lastStart;; --i) {
    if (std::char_traits<CharT>::compare(text + i, needle, needleLength) == 0) return static_cast<std::int32_t>(i);
    if (i == 0) return -1;
  }
}

}  // namespace

template <typename CharT>
std::int32_t TOrvString<CharT>::Find(CharT c, std::uint32_t start) const {
  const std::uint32_t length = GetLength();
  if (start >= length) return -1;
  const CharT* data = GetData();
  const CharT* hit = std::char_traits<CharT>::find(data + start, length - start, c);
  return hit != nullptr ? static_cast<std::int32_t>(hit - data) : -1;
}

template <typename CharT>
std::int32_t TOrvString<CharT>::Find(const CharT* needle, std::uint32_t start) const {
  static constexpr CharT kEmpty[1] = {};
  return FindIn(GetStdString(), needle != nullptr ? needle : kEmpty, TextLength(needle), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::Find(const TOrvString& needle, std::uint32_t start) const {
  return FindIn(GetStdString(), needle.GetData(), needle.GetLength(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::Find(const TStdString& needle, std::uint32_t start) const {
  return FindIn(GetStdString(), needle.data(), needle.size(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindFirstOf(const CharT* set, std::uint32_t setLength, std::uint32_t start) const {
  const std::uint32_t length = GetLength();
  if (setLength == 0 || start >= length) return -1;
  const CharT* data = GetData();
  for (std::uint32_t i = start; i < length; ++i) {
    if (std::char_traits<CharT>::find(set, setLength, data[i]) != nullptr) return static_cast<std::int32_t>(i);
  }
  return -1;
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindFirstOf(const CharT* set, std::uint32_t start) const {
  return FindFirstOf(set, static_cast<std::uint32_t>(TextLength(set)), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindFirstOf(const TOrvString& set, std::uint32_t start) const {
  return FindFirstOf(set.GetData(), set.GetLength(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(const CharT* needle) const {
  return FindLast(needle, GetLength());
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(const CharT* needle, std::uint32_t start) const {
  const std::size_t needleLength = TextLength(needle);
  return FindLastIn(GetData(), GetLength(), needleLength != 0 ? needle : GetData(), needleLength, start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(const TOrvString& needle) const {
  return FindLast(needle, GetLength());
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(const TOrvString& needle, std::uint32_t start) const {
  return FindLastIn(GetData(), GetLength(), needle.GetData(), needle.GetLength(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(const TStdString& needle) const {
  return FindLast(needle, GetLength());
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(const TStdString& needle, std::uint32_t start) const {
  return FindLastIn(GetData(), GetLength(), needle.data(), needle.size(), start);
}

template <typename CharT>
std::int32_t TOrvSubString<CharT>::Find(CharT c, std::uint32_t start) const {
  if (string_ == nullptr) return -1;
  const std::int32_t at = string_->Find(c, begin_ + start);
  if (at < 0 || static_cast<std::uint32_t>(at) >= end_) return -1;
  return at - static_cast<std::int32_t>(begin_);
}

#define ORV_INSTANTIATE_SEARCHES(CharT)                                                                  \
  template std::int32_t TOrvString<CharT>::Find(CharT, std::uint32_t) const;                             \
  template std::int32_t TOrvString<CharT>::Find(const CharT*, std::uint32_t) const;                      \
  template std::int32_t TOrvString<CharT>::Find(const TOrvString&, std::uint32_t) const;                 \
  template std::int32_t TOrvString<CharT>::Find(const TStdString&, std::uint32_t) const;                 \
  template std::int32_t TOrvString<CharT>::FindFirstOf(const CharT*, std::uint32_t, std::uint32_t) const; \
  template std::int32_t TOrvString<CharT>::FindFirstOf(const CharT*, std::uint32_t) const;               \
  template std::int32_t TOrvString<CharT>::FindFirstOf(const TOrvString&, std::uint32_t) const;          \
  template std::int32_t TOrvString<CharT>::FindLast(const CharT*) const;                                 \
  template std::int32_t TOrvString<CharT>::FindLast(const CharT*, std::uint32_t) const;                  \
  template std::int32_t TOrvString<CharT>::FindLast(const TOrvString&) const;                            \
  template std::int32_t TOrvString<CharT>::FindLast(const TOrvString&, std::uint32_t) const;             \
  template std::int32_t TOrvString<CharT>::FindLast(const TStdString&) const;                            \
  template std::int32_t TOrvString<CharT>::FindLast(const TStdString&, std::uint32_t) const;             \
  template std::int32_t TOrvSubString<CharT>::Find(CharT, std::uint32_t) const;

ORV_INSTANTIATE_SEARCHES(char)
ORV_INSTANTIATE_SEARCHES(wchar_t)
#undef ORV_INSTANTIATE_SEARCHES

}  // namespace Orvan
