// The engine string's content blocks, pools, ownership and copy-on-write, and its operations.
#include "core/text/engine_string.h"

#include <strings.h>

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <ios>
#include <ostream>
#include <stdexcept>

#include "core/text/string_utilities.h"
#include "core/text/text_encoding.h"
#include "core/text/text_hash.h"

namespace Orvan {

namespace {

int g_hexFloatStreamFlagIndex = -1;

// Upper-case mapping beside the engine's lower-case fold: only 'a'-'z' change.
constexpr char FoldAsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr wchar_t FoldAsciiUpper(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Character-type primitives: the narrow and wide forms of the system library's text functions and
// the case folds, which touch ASCII letters only.
template <typename CharT>
struct TTextOps;

template <>
struct TTextOps<char> {
  static std::size_t Length(const char* text) { return std::strlen(text); }
  static const char* Empty() { return ""; }
  static int CompareN(const char* a, const char* b, std::size_t n) { return std::strncmp(a, b, n); }
  static int CompareNoCase(const char* a, const char* b) { return ::strcasecmp(a, b); }
  static int CompareNoCaseN(const char* a, const char* b, std::size_t n) { return ::strncasecmp(a, b, n); }
  static char ToLower(char c) { return FoldAsciiLower(c); }
  static char ToUpper(char c) { return FoldAsciiUpper(c); }
  static bool IsUpper(char c) { return ToLower(c) != c; }
  static bool IsLower(char c) { return ToUpper(c) != c; }
};

template <>
struct TTextOps<wchar_t> {
  static std::size_t Length(const wchar_t* text) { return std::wcslen(text); }
  static const wchar_t* Empty() { return L""; }
  static int CompareN(const wchar_t* a, const wchar_t* b, std::size_t n) { return std::wcsncmp(a, b, n); }
  static int CompareNoCase(const wchar_t* a, const wchar_t* b) { return ::wcscasecmp(a, b); }
  static int CompareNoCaseN(const wchar_t* a, const wchar_t* b, std::size_t n) { return ::wcsncasecmp(a, b, n); }
  // The single-byte fold applied to the character value: nothing outside ASCII changes.
  static wchar_t ToLower(wchar_t c) { return FoldAsciiLower(c); }
  static wchar_t ToUpper(wchar_t c) { return FoldAsciiUpper(c); }
  static bool IsUpper(wchar_t c) { return std::iswupper(static_cast<wint_t>(c)) != 0; }
  static bool IsLower(wchar_t c) { return std::iswlower(static_cast<wint_t>(c)) != 0; }
};

template <typename CharT>
const CharT* OrEmpty(const CharT* text) {
  return text != nullptr ? text : TTextOps<CharT>::Empty();
}

// Case-sensitive hash of a character range: djb2 over its bytes (four per wide character, in
// memory order), masked to 31 bits; 0 for an empty range.
template <typename CharT>
std::uint32_t HashCharacters(const CharT* first, const CharT* last) {
  if constexpr (std::is_same_v<CharT, char>) {
    return HashRangeDjb2(first, last);
  } else {
    return HashWideRangeDjb2(first, last);
  }
}

template <typename CharT>
std::uint32_t HashCharactersNoCase(const CharT* first, const CharT* last) {
  if constexpr (std::is_same_v<CharT, char>) {
    return HashRangeNoCase(first, last);
  } else {
    return HashWideRangeNoCase(first, last);
  }
}

}  // namespace

// ================================================================ pools and blocks

template <typename CharT>
void TOrvStringContent<CharT>::Destroy() {
  TStringContentPool* pool = StringDetail::g_contentPool<CharT>;
  this->~TOrvStringContent();
  StringDetail::FreeContentBlock(pool, this);
}

template <typename CharT>
std::uint32_t TOrvStringContent<CharT>::ComputeHash() const {
  const std::uint32_t value = HashCharacters(text_.data(), text_.data() + text_.size());
  std::atomic_ref<std::uint32_t>(hash_).store(value | 0x80000000u, std::memory_order_relaxed);
  return value;
}

template <typename CharT>
std::uint32_t TOrvStringContent<CharT>::ComputeHashNoCase() const {
  const std::uint32_t value = HashCharactersNoCase(text_.data(), text_.data() + text_.size());
  std::atomic_ref<std::uint32_t>(hashNoCase_).store(value | 0x80000000u, std::memory_order_relaxed);
  return value;
}

void InitStringLibrary() {
  StringDetail::g_contentPool<char> =
      new TStringContentPool(sizeof(TOrvStringContent<char>));
  StringDetail::g_contentPool<wchar_t> =
      new TStringContentPool(sizeof(TOrvStringContent<wchar_t>));
  if (g_hexFloatStreamFlagIndex < 0) g_hexFloatStreamFlagIndex = std::ios_base::xalloc();
}

template <typename CharT>
void DestroyStringContentPool() {
  TStringContentPool* pool = StringDetail::g_contentPool<CharT>;
  if (pool == nullptr) return;
  // Blocks still alive give their texts' storage back to the string heap; the chunks go at once.
  pool->ForEachAllocatedElement(
      [](void* element, void*) {
        using TStdString = TEngineStdString<CharT>;
        auto* content = static_cast<TOrvStringContent<CharT>*>(element);
        const_cast<TStdString&>(content->GetText()).~TStdString();
      },
      nullptr);
  pool->FreeAllChunks();
  delete pool;
  StringDetail::g_contentPool<CharT> = nullptr;
}

void ShutdownStringLibrary() {
  DestroyStringContentPool<char>();
  DestroyStringContentPool<wchar_t>();
}

template <typename CharT>
std::uint32_t GetStringContentLiveCount() {
  TStringContentPool* pool = StringDetail::g_contentPool<CharT>;
  return pool != nullptr ? pool->GetLiveCount() : 0;
}

int GetHexFloatStreamFlagIndex() { return g_hexFloatStreamFlagIndex; }

// ================================================================ construction and ownership

template <typename CharT>
TOrvString<CharT>::TOrvString(const CharT* text) {
  if (text != nullptr && *text != CharT()) content_ = TContent::Create(text);
}

template <typename CharT>
TOrvString<CharT>::TOrvString(const CharT* text, std::uint32_t length) {
  if (text != nullptr && length != 0) content_ = TContent::Create(text, std::size_t{length});
}

template <typename CharT>
TOrvString<CharT>::TOrvString(TRange range) {
  if (range.begin != nullptr && range.begin < range.end) {
    content_ = TContent::Create(range.begin, static_cast<std::size_t>(range.end - range.begin));
  }
}

template <typename CharT>
TOrvString<CharT>::TOrvString(CharT c) : content_(TContent::Create(std::size_t{1}, c)) {}

template <typename CharT>
TOrvString<CharT>::TOrvString(const TStdString& text) {
  if (!text.empty()) content_ = TContent::Create(text);
}

template <typename CharT>
TOrvString<CharT>::TOrvString(TStdString&& text) {
  if (!text.empty()) content_ = TContent::Create(std::move(text));
}

template <typename CharT>
TOrvString<CharT>::TOrvString(const TOrvString& other, TDeepCopy) {
  if (other.GetLength() != 0) content_ = TContent::Create(other.GetData(), std::size_t{other.GetLength()});
}

template <typename CharT>
TOrvString<CharT>::TOrvString(const TOrvString& source, std::uint32_t start, std::uint32_t count) {
  const std::uint32_t length = source.GetLength();
  if (start > length) start = length;
  if (count > length - start) count = length - start;
  if (count == 0) return;
  if (start == 0 && count == length) {
    content_ = source.content_;
    content_->AddRef();
  } else {
    content_ = TContent::Create(source.GetData() + start, std::size_t{count});
  }
}

template <typename CharT>
TOrvString<CharT>::TOrvString(const TSubString& view) {
  if (view.GetString() != nullptr) {
    TOrvString part(*view.GetString(), view.GetBegin(), view.GetEnd() - view.GetBegin());
    Swap(part);
  }
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator=(const CharT* text) {
  TOrvString fresh(text);
  Swap(fresh);
  return *this;
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator=(const TStdString& text) {
  TOrvString fresh(text);
  Swap(fresh);
  return *this;
}

template <typename CharT>
void TOrvString<CharT>::Reset(TContent* content) {
  if (content != nullptr) content->AddRef();
  Clear();
  content_ = content;
}

template <typename CharT>
void TOrvString<CharT>::Detach() {
  if (content_ == nullptr) return;
  TOrvString copy(*this, kDeepCopy);
  Swap(copy);
}

template <typename CharT>
void TOrvString<CharT>::MakeUnique() {
  if (content_ == nullptr || content_->GetRefCount() == 1) return;
  // The copy is made while this handle still holds the old block, so no other thread can destroy
  // it under the copy; a failed copy leaves the handle as it was.
  TContent* fresh = TContent::Create(content_->GetText());
  ReleaseContent(std::exchange(content_, fresh));
}

template <typename CharT>
typename TOrvString<CharT>::TContent* TOrvString<CharT>::GetOrCreateContent() {
  if (content_ == nullptr) content_ = TContent::Create();
  return content_;
}

template <typename CharT>
const typename TOrvString<CharT>::TStdString& TOrvString<CharT>::EmptyStdString() {
  // An empty standard string owns no storage, so it is valid before start-up and after shutdown.
  static const TStdString empty;
  return empty;
}

// The refusal, text included, that callers of the engine string have always seen from the standard
// string.
template <typename CharT>
void TOrvString<CharT>::ThrowNullRange() {
  throw std::logic_error("basic_string::_S_construct null not valid");
}

template <typename CharT>
CharT& TOrvString<CharT>::operator[](std::uint32_t index) {
  return BeginWrite()[index];
}

// ================================================================ size and appending

template <typename CharT>
void TOrvString<CharT>::Resize(std::uint32_t length) {
  if (length == GetLength()) return;
  if (length == 0) {
    Clear();
    return;
  }
  GetOrCreateContent();
  BeginWrite().resize(length);
}

template <typename CharT>
void TOrvString<CharT>::Reserve(std::uint32_t capacity) {
  if (GetCapacity() >= capacity) return;
  GetOrCreateContent();
  // Made private first: growing a shared text would move the characters under its other owners.
  BeginWrite().reserve(capacity);
}

template <typename CharT>
void TOrvString<CharT>::AppendCharacters(const CharT* text, std::size_t length) {
  if (content_->GetRefCount() == 1) {
    content_->BeginWrite().append(text, length);
    return;
  }
  // Shared: the joined text goes into a new block while this handle still holds the old one, in
  // which the appended characters may lie.
  const TStdString& old = content_->GetText();
  TStdString joined;
  joined.reserve(old.size() + length);
  joined.append(old).append(text, length);
  TContent* fresh = TContent::Create(std::move(joined));
  ReleaseContent(std::exchange(content_, fresh));
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator+=(const TOrvString& other) {
  if (other.GetLength() == 0) return *this;
  if (IsEmpty()) return *this = other;
  AppendCharacters(other.GetData(), other.GetLength());
  return *this;
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator+=(const TStdString& text) {
  if (text.empty()) return *this;
  if (IsEmpty()) return *this = text;
  AppendCharacters(text.data(), text.size());
  return *this;
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator+=(const CharT* text) {
  if (text == nullptr || *text == CharT()) return *this;
  if (IsEmpty()) return *this = text;
  AppendCharacters(text, TTextOps<CharT>::Length(text));
  return *this;
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator+=(TRange range) {
  if (range.begin == nullptr || range.begin >= range.end) return *this;
  if (IsEmpty()) return *this = TOrvString(range);
  AppendCharacters(range.begin, static_cast<std::size_t>(range.end - range.begin));
  return *this;
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator+=(const TSubString& view) {
  if (view.IsEmpty()) return *this;
  if (IsEmpty()) return *this = TOrvString(view.GetData(), view.GetLength());
  AppendCharacters(view.GetData(), view.GetLength());
  return *this;
}

template <typename CharT>
TOrvString<CharT>& TOrvString<CharT>::operator+=(CharT c) {
  if (IsEmpty()) return *this = TOrvString(c);
  AppendCharacters(&c, 1);
  return *this;
}

template <typename CharT>
TOrvString<CharT> TOrvString<CharT>::Concatenate(const CharT* a, std::size_t aLength, const CharT* b,
                                                 std::size_t bLength) {
  TStdString text;
  text.reserve(aLength + bLength);
  text.append(a, aLength).append(b, bLength);
  return TOrvString(std::move(text));
}

template <typename CharT>
TOrvString<CharT> TOrvString<CharT>::ConcatenateText(const TOrvString& a, const CharT* b) {
  if (b == nullptr || *b == CharT()) return a;
  if (a.IsEmpty()) return TOrvString(b);
  return Concatenate(a.GetData(), a.GetLength(), b, TTextOps<CharT>::Length(b));
}

template <typename CharT>
TOrvString<CharT> TOrvString<CharT>::ConcatenateText(const CharT* a, const TOrvString& b) {
  if (a == nullptr || *a == CharT()) return b;
  if (b.IsEmpty()) return TOrvString(a);
  return Concatenate(a, TTextOps<CharT>::Length(a), b.GetData(), b.GetLength());
}

// ================================================================ substrings, case, replacing

template <typename CharT>
TOrvString<CharT> TOrvString<CharT>::SubString(std::uint32_t start, std::int32_t count) const {
  const std::uint32_t wanted = count == -1 ? GetLength() - start : static_cast<std::uint32_t>(count);
  return TOrvString(*this, start, wanted);
}

template <typename CharT>
TOrvString<CharT> TOrvString<CharT>::Trim() const
  requires kWide
{
  const std::uint32_t length = GetLength();
  const CharT* data = GetData();
  std::uint32_t first = 0;
  while (first < length && std::iswspace(static_cast<wint_t>(data[first]))) ++first;
  if (first == length) return TOrvString();
  std::uint32_t last = length;
  while (std::iswspace(static_cast<wint_t>(data[last - 1]))) --last;
  return TOrvString(*this, first, last - first);
}

template <typename CharT>
bool TOrvString<CharT>::IsLowerCase() const {
  for (CharT c : GetStdString()) {
    if (TTextOps<CharT>::IsUpper(c)) return false;
  }
  return true;
}

template <typename CharT>
bool TOrvString<CharT>::IsUpperCase() const {
  for (CharT c : GetStdString()) {
    if (TTextOps<CharT>::IsLower(c)) return false;
  }
  return true;
}

// A text that the mapping leaves as it is keeps its (possibly shared) block; otherwise every
// character from the first changed one is mapped.
template <typename CharT>
void TOrvString<CharT>::ToUpper() {
  const std::uint32_t length = GetLength();
  const CharT* data = GetData();
  std::uint32_t first = 0;
  while (first < length && TTextOps<CharT>::ToUpper(data[first]) == data[first]) ++first;
  if (first == length) return;
  TStdString& text = BeginWrite();
  for (std::uint32_t i = first; i < length; ++i) text[i] = TTextOps<CharT>::ToUpper(text[i]);
}

template <typename CharT>
void TOrvString<CharT>::ToLower() {
  const std::uint32_t length = GetLength();
  const CharT* data = GetData();
  std::uint32_t first = 0;
  while (first < length && TTextOps<CharT>::ToLower(data[first]) == data[first]) ++first;
  if (first == length) return;
  TStdString& text = BeginWrite();
  for (std::uint32_t i = first; i < length; ++i) text[i] = TTextOps<CharT>::ToLower(text[i]);
}

template <typename CharT>
TOrvString<CharT> TOrvString<CharT>::GetUpperCase() const {
  TOrvString copy(*this);
  copy.ToUpper();
  return copy;
}

template <typename CharT>
TOrvString<CharT> TOrvString<CharT>::GetLowerCase() const {
  TOrvString copy(*this);
  copy.ToLower();
  return copy;
}

template <typename CharT>
void TOrvString<CharT>::ReplaceChar(CharT from, CharT to) {
  if (IsEmpty()) return;
  for (CharT& c : BeginWrite()) {
    if (c == from) c = to;
  }
}

template <typename CharT>
void TOrvString<CharT>::ReplaceAll(const TOrvString& search, const TOrvString& replacement) {
  if (IsEmpty() || search.GetLength() == 0) return;
  // Own references: either argument may be this very string, whose text is about to change.
  const TOrvString needle(search);
  const TOrvString with(replacement);
  TStdString& text = BeginWrite();
  const CharT* const needleText = needle.GetData();
  const std::size_t needleLength = needle.GetLength();
  const std::size_t withLength = with.GetLength();
  // Each search starts behind the previous occurrence, so inserted text is never searched. The
  // occurrences are counted first and the new text laid out once: replacing in place would move the
  // rest of the text again at every occurrence.
  std::size_t count = 0;
  for (std::size_t at = text.find(needleText, 0, needleLength); at != TStdString::npos;
       at = text.find(needleText, at + needleLength, needleLength)) {
    ++count;
  }
  if (count == 0) return;
  TStdString replaced;
  replaced.reserve(text.size() - count * needleLength + count * withLength);
  std::size_t copied = 0;
  for (std::size_t at = text.find(needleText, 0, needleLength); at != TStdString::npos;
       at = text.find(needleText, copied, needleLength)) {
    replaced.append(text, copied, at - copied).append(with.GetData(), withLength);
    copied = at + needleLength;
  }
  replaced.append(text, copied, TStdString::npos);
  text.swap(replaced);
  if (text.empty()) Clear();
}

// ================================================================ comparisons

template <typename CharT>
bool TOrvString<CharT>::operator==(const TOrvString& other) const {
  if (content_ == other.content_) return true;
  if (content_ == nullptr || other.content_ == nullptr) return false;
  const std::uint32_t hash = content_->GetHashWord();
  const std::uint32_t otherHash = other.content_->GetHashWord();
  if (hash != 0 && otherHash != 0 && hash != otherHash) return false;
  return content_->GetText() == other.content_->GetText();
}

template <typename CharT>
bool TOrvString<CharT>::operator==(const CharT* text) const {
  const bool otherEmpty = text == nullptr || *text == CharT();
  if (content_ == nullptr) return otherEmpty;
  if (otherEmpty) return false;
  const std::size_t length = TTextOps<CharT>::Length(text);
  return GetLength() == length && std::char_traits<CharT>::compare(GetData(), text, length) == 0;
}

template <typename CharT>
bool TOrvString<CharT>::operator==(const TStdString& text) const {
  if (content_ == nullptr) return text.empty();
  return content_->GetText() == text;
}

template <typename CharT>
bool TOrvString<CharT>::operator==(CharT c) const {
  return GetLength() == 1 && GetData()[0] == c;
}

template <typename CharT>
bool TOrvString<CharT>::IsLess(const TOrvString& other) const {
  if (content_ == other.content_) return false;
  if (content_ == nullptr) return true;
  const std::uint32_t length = GetLength();
  const std::uint32_t otherLength = other.GetLength();
  const int c = std::char_traits<CharT>::compare(GetData(), other.GetData(), length < otherLength ? length : otherLength);
  return c != 0 ? c < 0 : length < otherLength;
}

template <typename CharT>
bool TOrvString<CharT>::EqualsNoCase(const TOrvString& other) const {
  if (content_ == other.content_) return true;
  // The wide form compares through wcscasecmp alone, up to the first NUL of either text.
  if (!kWide && GetLength() != other.GetLength()) return false;
  return TTextOps<CharT>::CompareNoCase(c_str(), other.c_str()) == 0;
}

template <typename CharT>
bool TOrvString<CharT>::EqualsNoCase(const CharT* text) const {
  return TTextOps<CharT>::CompareNoCase(c_str(), OrEmpty(text)) == 0;
}

template <typename CharT>
bool TOrvString<CharT>::StartsWith(const TOrvString& prefix) const {
  const std::uint32_t length = GetLength();
  const std::uint32_t prefixLength = prefix.GetLength();
  if (length < prefixLength) return false;
  if (length == prefixLength) return *this == prefix;
  return TTextOps<CharT>::CompareN(c_str(), prefix.c_str(), prefixLength) == 0;
}

template <typename CharT>
bool TOrvString<CharT>::StartsWith(const CharT* prefix) const {
  return Orvan::StartsWith(c_str(), OrEmpty(prefix));
}

template <typename CharT>
bool TOrvString<CharT>::StartsWithNoCase(const TOrvString& prefix) const {
  const std::uint32_t prefixLength = prefix.GetLength();
  if (GetLength() < prefixLength) return false;
  return TTextOps<CharT>::CompareNoCaseN(c_str(), prefix.c_str(), prefixLength) == 0;
}

template <typename CharT>
bool TOrvString<CharT>::StartsWithNoCase(const CharT* prefix) const {
  return Orvan::StartsWithNoCase(c_str(), OrEmpty(prefix));
}

template <typename CharT>
bool TOrvString<CharT>::EndsWith(const TOrvString& suffix) const {
  const std::uint32_t length = GetLength();
  const std::uint32_t suffixLength = suffix.GetLength();
  if (length < suffixLength) return false;
  if (length == suffixLength) return *this == suffix;
  if (suffixLength == 0) return true;
  return TTextOps<CharT>::CompareN(GetData() + length - suffixLength, suffix.c_str(), suffixLength) == 0;
}

template <typename CharT>
bool TOrvString<CharT>::EndsWith(const CharT* suffix) const {
  return Orvan::EndsWith(c_str(), OrEmpty(suffix));
}

template <typename CharT>
bool TOrvString<CharT>::EndsWithNoCase(const TOrvString& suffix) const {
  const std::uint32_t length = GetLength();
  const std::uint32_t suffixLength = suffix.GetLength();
  if (length < suffixLength) return false;
  if (suffixLength == 0) return true;
  return TTextOps<CharT>::CompareNoCaseN(GetData() + length - suffixLength, suffix.c_str(), suffixLength) == 0;
}

template <typename CharT>
bool TOrvString<CharT>::EndsWithNoCase(const CharT* suffix) const {
  return Orvan::EndsWithNoCase(c_str(), OrEmpty(suffix));
}

// ================================================================ case-insensitive searches

namespace {

template <typename CharT>
std::int32_t FindNoCaseIn(const CharT* text, std::uint32_t length, const CharT* needle, std::size_t needleLength,
                          std::uint32_t start) {
  if (needleLength == 0 || length < std::uint64_t{start} + needleLength) return -1;
  const std::uint32_t lastStart = length - static_cast<std::uint32_t>(needleLength);
  for (std::uint32_t p = start; p <= lastStart; ++p) {
    if (TTextOps<CharT>::CompareNoCaseN(text + p, needle, needleLength) == 0) return static_cast<std::int32_t>(p);
  }
  return -1;
}

template <typename CharT>
std::int32_t FindLastNoCaseIn(const CharT* text, std::uint32_t length, const CharT* needle,
                              std::size_t needleLength, std::uint32_t start) {
  if (needleLength == 0 || length < std::uint64_t{start} + needleLength) return -1;
  for (std::uint32_t p = length - static_cast<std::uint32_t>(needleLength);; --p) {
    if (TTextOps<CharT>::CompareNoCaseN(text + p, needle, needleLength) == 0) return static_cast<std::int32_t>(p);
    if (p == start) return -1;
  }
}

}  // namespace

template <typename CharT>
std::int32_t TOrvString<CharT>::FindNoCase(const CharT* needle, std::uint32_t start) const {
  needle = OrEmpty(needle);
  return FindNoCaseIn(c_str(), GetLength(), needle, TTextOps<CharT>::Length(needle), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindNoCase(const TOrvString& needle, std::uint32_t start) const {
  return FindNoCaseIn(c_str(), GetLength(), needle.c_str(), needle.GetLength(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindNoCase(const TStdString& needle, std::uint32_t start) const {
  return FindNoCaseIn(c_str(), GetLength(), needle.c_str(), needle.size(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLastNoCase(const CharT* needle, std::uint32_t start) const {
  needle = OrEmpty(needle);
  return FindLastNoCaseIn(c_str(), GetLength(), needle, TTextOps<CharT>::Length(needle), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLastNoCase(const TOrvString& needle, std::uint32_t start) const {
  return FindLastNoCaseIn(c_str(), GetLength(), needle.c_str(), needle.GetLength(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLastNoCase(const TStdString& needle, std::uint32_t start) const {
  return FindLastNoCaseIn(c_str(), GetLength(), needle.c_str(), needle.size(), start);
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(CharT c) const {
  return FindLast(c, GetLength());
}

template <typename CharT>
std::int32_t TOrvString<CharT>::FindLast(CharT c, std::uint32_t from) const {
  const std::uint32_t length = GetLength();
  if (length == 0) return -1;
  const CharT* data = GetData();
  for (std::uint32_t i = from < length - 1 ? from : length - 1;; --i) {
    if (data[i] == c) return static_cast<std::int32_t>(i);
    if (i == 0) return -1;
  }
}

// ================================================================ substring views

namespace {

template <typename CharT>
const TOrvString<CharT>& StaticEmptyString() {
  static const TOrvString<CharT> empty;
  return empty;
}

}  // namespace

template <typename CharT>
TOrvSubString<CharT>::TOrvSubString() : string_(&StaticEmptyString<CharT>()), begin_(0), end_(0) {}

template <typename CharT>
bool TOrvSubString<CharT>::operator==(const TOrvSubString& other) const {
  if (string_ == other.string_ && begin_ == other.begin_ && end_ == other.end_) return true;
  const std::uint32_t length = GetLength();
  if (length != other.GetLength()) return false;
  // Two empty views are equal even when one has no string to read a pointer from.
  if (length == 0) return true;
  return std::char_traits<CharT>::compare(GetData(), other.GetData(), length) == 0;
}

template <typename CharT>
bool TOrvSubString<CharT>::EqualsNoCase(const TOrvSubString& other) const {
  const std::uint32_t length = GetLength();
  if (length != other.GetLength()) return false;
  const CharT* a = length != 0 ? GetData() : nullptr;
  const CharT* b = length != 0 ? other.GetData() : nullptr;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (TTextOps<CharT>::ToLower(a[i]) != TTextOps<CharT>::ToLower(b[i])) return false;
  }
  return true;
}

template <typename CharT>
std::uint32_t TOrvSubString<CharT>::GetHash() const {
  if (string_ == nullptr || IsEmpty()) return 0;
  return HashCharacters(GetData(), GetDataEnd());
}

template <typename CharT>
std::uint32_t TOrvSubString<CharT>::GetHashNoCase() const {
  if (string_ == nullptr || IsEmpty()) return 0;
  return HashCharactersNoCase(GetData(), GetDataEnd());
}

template <typename CharT>
TOrvSubString<CharT> StripTrailingSeparators(const TOrvSubString<CharT>& view) {
  std::uint32_t end = view.GetLength();
  while (end > 0 && (view[end - 1] == CharT('\\') || view[end - 1] == CharT('/'))) --end;
  return TOrvSubString<CharT>(view, 0, end);
}

template <typename CharT>
TOrvSubString<CharT> ExtractExtension(const TOrvSubString<CharT>& view) {
  const std::uint32_t length = view.GetLength();
  for (std::uint32_t i = length; i > 0; --i) {
    if (view[i - 1] == CharT('.')) return TOrvSubString<CharT>(view, i, length);
  }
  return TOrvSubString<CharT>(view, length, length);
}

template <typename CharT>
TOrvSubString<CharT> SkipMountingPointPrefix(const TOrvSubString<CharT>& view) {
  const std::uint32_t length = view.GetLength();
  for (std::uint32_t i = 0; i < length; ++i) {
    if (view[i] == CharT(':')) return TOrvSubString<CharT>(view, i + 1, length);
  }
  return view;
}

std::int32_t ToInteger(const TOrvString<char>& text) { return ParseDecimal(text.GetData(), text.GetLength()); }

std::int32_t ToInteger(const TOrvSubString<char>& text) {
  return text.IsEmpty() ? 0 : ParseDecimal(text.GetData(), text.GetLength());
}

// ================================================================ stream insertion

std::ostream& operator<<(std::ostream& stream, const TOrvString<char>& text) {
  return stream.write(text.c_str(), static_cast<std::streamsize>(std::strlen(text.c_str())));
}

std::wostream& operator<<(std::wostream& stream, const TOrvString<char>& text) {
  return WriteUtf8AsWide(stream, text.c_str());
}

std::wostream& operator<<(std::wostream& stream, const TOrvString<wchar_t>& text) {
  return stream.write(text.c_str(), static_cast<std::streamsize>(std::wcslen(text.c_str())));
}

std::ostream& operator<<(std::ostream& stream, const TOrvString<wchar_t>& text) {
  return WriteWideAsUtf8(stream, text.c_str());
}

std::ostream& operator<<(std::ostream& stream, const TEngineStdString<char>& text) {
  return stream.write(text.c_str(), static_cast<std::streamsize>(std::strlen(text.c_str())));
}

std::wostream& operator<<(std::wostream& stream, const TEngineStdString<char>& text) {
  return WriteUtf8AsWide(stream, text.c_str());
}

std::wostream& operator<<(std::wostream& stream, const TEngineStdString<wchar_t>& text) {
  return stream.write(text.c_str(), static_cast<std::streamsize>(std::wcslen(text.c_str())));
}

std::ostream& operator<<(std::ostream& stream, const TEngineStdString<wchar_t>& text) {
  return WriteWideAsUtf8(stream, text.c_str());
}

std::wostream& operator<<(std::wostream& stream, const std::string& text) {
  return WriteUtf8AsWide(stream, text.c_str());
}

std::ostream& operator<<(std::ostream& stream, const std::wstring& text) {
  return WriteWideAsUtf8(stream, text.c_str());
}

// ================================================================ instantiations

template class TOrvStringContent<char>;
template class TOrvStringContent<wchar_t>;
template class TOrvString<char>;
template class TOrvString<wchar_t>;
template class TOrvSubString<char>;
template class TOrvSubString<wchar_t>;
template void DestroyStringContentPool<char>();
template void DestroyStringContentPool<wchar_t>();
template std::uint32_t GetStringContentLiveCount<char>();
template std::uint32_t GetStringContentLiveCount<wchar_t>();
template TOrvSubString<char> StripTrailingSeparators(const TOrvSubString<char>&);
template TOrvSubString<wchar_t> StripTrailingSeparators(const TOrvSubString<wchar_t>&);
template TOrvSubString<char> ExtractExtension(const TOrvSubString<char>&);
template TOrvSubString<wchar_t> ExtractExtension(const TOrvSubString<wchar_t>&);
template TOrvSubString<char> SkipMountingPointPrefix(const TOrvSubString<char>&);
template TOrvSubString<wchar_t> SkipMountingPointPrefix(const TOrvSubString<wchar_t>&);

}  // namespace Orvan
