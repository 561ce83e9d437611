// The engine string: a one-pointer handle to a pooled, reference-counted content block shared by
// copies and copied before a write. A null handle is the empty string. The block caches the text's
// case-sensitive and case-insensitive 31-bit hashes so map lookups hash a shared text once.
// Narrow strings hold UTF-8 by convention; wide strings hold UTF-16 units in 32-bit characters.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/memory/heap.h"
#include "core/memory/untyped_pool.h"

namespace Orvan {

// A content pool: the engine's locked pool, counting the blocks it has handed out.
class TStringContentPool final : public TUntypedPoolAllocation<Domain::TMemoryDomainTag> {
 public:
  explicit TStringContentPool(std::uint32_t elementSize)
      : TUntypedPoolAllocation(elementSize, &Domain::AllDomain, "String content pool") {}
  void* Allocate() {
    void* block = TUntypedPoolAllocation::Allocate();
    liveCount_.fetch_add(1, std::memory_order_relaxed);
    return block;
  }
  void Free(void* block) {
    TUntypedPoolAllocation::Free(block);
    liveCount_.fetch_sub(1, std::memory_order_relaxed);
  }
};

template <typename CharT>
class TOrvString;
template <typename CharT>
class TOrvSubString;

// The standard string held by a content block: its characters live on the string heap.
template <typename CharT>
using TEngineStdString = std::basic_string<CharT, std::char_traits<CharT>, string_allocator<CharT>>;

// [begin, end) of characters; a null begin is the empty range.
template <typename CharT>
struct TCharRange {
  const CharT* begin = nullptr;
  const CharT* end = nullptr;
};

namespace StringDetail {
// The two "String content pool"s: null before InitStringLibrary and after DestroyStringContentPool.
template <typename CharT>
inline TStringContentPool* g_contentPool = nullptr;

inline void* AllocateContentBlock(TStringContentPool* pool) { return pool->Allocate(); }
inline void FreeContentBlock(TStringContentPool* pool, void* block) { pool->Free(block); }
}  // namespace StringDetail

// Tag of the constructor that copies another string's characters into a block of its own.
struct TDeepCopy {};
inline constexpr TDeepCopy kDeepCopy{};

template <typename CharT>
class TOrvStringContent {
 public:
  using TStdString = TEngineStdString<CharT>;

  // A block from the content pool of this character type, holding a count of 1; the pool element
  // goes back when the text's construction throws.
  template <typename... Args>
  static TOrvStringContent* Create(Args&&... args) {
    TStringContentPool* pool = StringDetail::g_contentPool<CharT>;
    void* block = StringDetail::AllocateContentBlock(pool);
    try {
      return new (block) TOrvStringContent(std::forward<Args>(args)...);
    } catch (...) {
      StringDetail::FreeContentBlock(pool, block);
      throw;
    }
  }

  TOrvStringContent(const TOrvStringContent&) = delete;
  TOrvStringContent& operator=(const TOrvStringContent&) = delete;

  // Increments are relaxed (the caller already holds a reference); the decrement that reaches 0
  // must see every write made through the other handles before the block is destroyed.
  std::int32_t AddRef() { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::int32_t Release() { return refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
  // Destroys the text and gives the block back to its pool.
  void Destroy();

  // Clears both hash caches and hands out the text for modification.
  TStdString& BeginWrite() {
    std::atomic_ref<std::uint32_t>(hash_).store(0, std::memory_order_relaxed);
    std::atomic_ref<std::uint32_t>(hashNoCase_).store(0, std::memory_order_relaxed);
    return text_;
  }

  std::int32_t GetRefCount() const { return refCount_.load(std::memory_order_acquire); }
  // The cache words as stored: 0 = not computed, else the hash with bit 31 set.
  std::uint32_t GetHashWord() const { return std::atomic_ref<std::uint32_t>(hash_).load(std::memory_order_relaxed); }
  std::uint32_t GetHashNoCaseWord() const {
    return std::atomic_ref<std::uint32_t>(hashNoCase_).load(std::memory_order_relaxed);
  }
  const TStdString& GetText() const { return text_; }

  std::uint32_t GetHash() const {
    const std::uint32_t word = GetHashWord();
    return word != 0 ? (word & 0x7FFFFFFF) : ComputeHash();
  }
  std::uint32_t GetHashNoCase() const {
    const std::uint32_t word = GetHashNoCaseWord();
    return word != 0 ? (word & 0x7FFFFFFF) : ComputeHashNoCase();
  }

 private:
  template <typename... Args>
  explicit TOrvStringContent(Args&&... args) : text_(std::forward<Args>(args)...) {}
  ~TOrvStringContent() = default;

  // Whichever thread needs a hash first fills its word; racing threads store the same value.
  std::uint32_t ComputeHash() const;
  std::uint32_t ComputeHashNoCase() const;

  std::atomic<std::int32_t> refCount_{1};
  mutable std::uint32_t hash_ = 0;
  mutable std::uint32_t hashNoCase_ = 0;
  TStdString text_;
};

template <typename CharT>
class TOrvString {
 public:
  using TChar = CharT;
  using TStdString = TEngineStdString<CharT>;
  using TContent = TOrvStringContent<CharT>;
  using TRange = TCharRange<CharT>;
  using TSubString = TOrvSubString<CharT>;
  static constexpr bool kWide = std::is_same_v<CharT, wchar_t>;

  // ---- Construction: whatever would give an empty text gives the null handle.
  TOrvString() noexcept = default;
  TOrvString(const TOrvString& other) noexcept : content_(other.content_) {
    if (content_ != nullptr) content_->AddRef();
  }
  TOrvString(TOrvString&& other) noexcept : content_(std::exchange(other.content_, nullptr)) {}
  TOrvString(const CharT* text);  // null or "" -> null
  TOrvString(const CharT* text, std::uint32_t length);
  // Pointer range; the wide form also takes 16-bit units, each zero-extended (pairs not combined).
  template <typename P>
    requires(std::is_same_v<P, const CharT*> || std::is_same_v<P, CharT*> ||
             (kWide && (std::is_same_v<P, const std::uint16_t*> || std::is_same_v<P, std::uint16_t*>)))
  TOrvString(P first, P last) {
    if (first == last) return;
    // The standard string no longer refuses a null range start itself; it would try to copy it.
    if (first == nullptr) ThrowNullRange();
    content_ = TContent::Create(first, last);
  }
  TOrvString(TRange range);
  explicit TOrvString(CharT c);
  TOrvString(const TStdString& text);
  TOrvString(TStdString&& text);
  template <typename Allocator>
    requires(!std::is_same_v<Allocator, string_allocator<CharT>>)
  TOrvString(const std::basic_string<CharT, std::char_traits<CharT>, Allocator>& text) {
    if (!text.empty()) content_ = TContent::Create(text.data(), text.size());
  }
  TOrvString(const TOrvString& other, TDeepCopy);
  // `count` characters from `start`; shares the block when that is the whole text. Positions
  // beyond the text are clamped to it.
  TOrvString(const TOrvString& source, std::uint32_t start, std::uint32_t count);
  explicit TOrvString(const TSubString& view);

  ~TOrvString() {
    // After DestroyStringContentPool the blocks are gone: strings destroyed at exit do nothing.
    if (content_ != nullptr && StringDetail::g_contentPool<CharT> != nullptr) ReleaseContent(content_);
  }

  // ---- Assignment. Texts and standard strings may lie in this string's own block: the new block
  // is built before the old one is released.
  TOrvString& operator=(const TOrvString& other) noexcept {
    TOrvString copy(other);
    Swap(copy);
    return *this;
  }
  TOrvString& operator=(TOrvString&& other) noexcept {
    TOrvString moved(std::move(other));
    Swap(moved);
    return *this;
  }
  TOrvString& operator=(const CharT* text);
  TOrvString& operator=(const TStdString& text);

  void Swap(TOrvString& other) noexcept { std::swap(content_, other.content_); }
  void Reset(TContent* content);
  void Clear() {
    if (content_ != nullptr) ReleaseContent(std::exchange(content_, nullptr));
  }
  // Takes an extra reference that no handle owns (the block then outlives every handle).
  void AddRef() {
    if (content_ != nullptr) content_->AddRef();
  }
  // Gives a non-empty string a block of its own holding a copy of its text.
  void Detach();
  // Makes a shared block private to this handle (a copy of the text); a null handle is left alone.
  void MakeUnique();
  // The block, created with an empty text for a null handle.
  TContent* GetOrCreateContent();

  // ---- Reading.
  std::int32_t GetRefCount() const { return content_ != nullptr ? content_->GetRefCount() : 0; }
  const TContent* GetContent() const { return content_; }
  bool IsEmpty() const { return content_ == nullptr; }
  std::uint32_t GetLength() const {
    return content_ != nullptr ? static_cast<std::uint32_t>(content_->GetText().size()) : 0;
  }
  std::uint32_t GetCapacity() const {
    return content_ != nullptr ? static_cast<std::uint32_t>(content_->GetText().capacity()) : 0;
  }
  const CharT* c_str() const { return content_ != nullptr ? content_->GetText().c_str() : EmptyText(); }
  const CharT* GetData() const { return c_str(); }
  const TStdString& GetStdString() const { return content_ != nullptr ? content_->GetText() : EmptyStdString(); }
  CharT operator[](std::uint32_t index) const { return content_->GetText()[index]; }
  // A writable character: makes the block private and clears its hash caches.
  CharT& operator[](std::uint32_t index);
  std::uint32_t GetHash() const { return content_ != nullptr ? content_->GetHash() : 0; }
  std::uint32_t GetHashNoCase() const { return content_ != nullptr ? content_->GetHashNoCase() : 0; }
  explicit operator std::basic_string<CharT>() const {
    return std::basic_string<CharT>(GetData(), GetLength());
  }

  // ---- Size.
  void Resize(std::uint32_t length);  // new characters are NUL
  // Makes room for `capacity` characters; a null handle gets a block with an empty text.
  void Reserve(std::uint32_t capacity);

  // ---- Appending.
  TOrvString& operator+=(const TOrvString& other);
  TOrvString& operator+=(const TStdString& text);
  TOrvString& operator+=(const CharT* text);
  TOrvString& operator+=(TRange range);
  TOrvString& operator+=(const TSubString& view);
  TOrvString& operator+=(CharT c);

  // ---- Substrings (no bound checks beyond clamping to the text).
  TOrvString SubString(std::uint32_t start, std::int32_t count = -1) const;
  TOrvString Left(std::int32_t count) const { return SubString(0, count); }
  TOrvString Right(std::uint32_t count) const { return SubString(GetLength() - count, static_cast<std::int32_t>(count)); }
  TOrvString DropLeft(std::uint32_t count) const { return Right(GetLength() - count); }
  TOrvString DropRight(std::uint32_t count) const { return Left(static_cast<std::int32_t>(GetLength() - count)); }
  TOrvString SubStringFrom(std::uint32_t start) const {
    return SubString(start, static_cast<std::int32_t>(GetLength() - start));
  }
  // Without leading and trailing white space (wide form only).
  TOrvString Trim() const
    requires kWide;

  // ---- Case (only ASCII letters fold).
  bool IsLowerCase() const;
  bool IsUpperCase() const;
  void ToUpper();
  void ToLower();
  TOrvString GetUpperCase() const;
  TOrvString GetLowerCase() const;

  // ---- Replacing.
  void ReplaceChar(CharT from, CharT to);
  // Replaces every occurrence, left to right; inserted text is not searched again. An empty search
  // text leaves the string unchanged.
  void ReplaceAll(const TOrvString& search, const TOrvString& replacement);

  // ---- Comparison. A null text pointer compares as "".
  bool operator==(const TOrvString& other) const;
  bool operator==(const CharT* text) const;
  bool operator==(const TStdString& text) const;
  bool operator==(CharT c) const;
  friend bool operator<(const TOrvString& a, const TOrvString& b) { return a.IsLess(b); }
  friend bool operator<=(const TOrvString& a, const TOrvString& b) { return !b.IsLess(a); }
  friend bool operator>(const TOrvString& a, const TOrvString& b) { return b.IsLess(a); }
  friend bool operator>=(const TOrvString& a, const TOrvString& b) { return !a.IsLess(b); }
  bool EqualsNoCase(const TOrvString& other) const;
  bool EqualsNoCase(const CharT* text) const;
  bool StartsWith(const TOrvString& prefix) const;
  bool StartsWith(const CharT* prefix) const;
  bool StartsWithNoCase(const TOrvString& prefix) const;
  bool StartsWithNoCase(const CharT* prefix) const;
  bool EndsWith(const TOrvString& suffix) const;
  bool EndsWith(const CharT* suffix) const;
  bool EndsWithNoCase(const TOrvString& suffix) const;
  bool EndsWithNoCase(const CharT* suffix) const;

  // ---- Searches: an index, or -1.
  std::int32_t Find(CharT c, std::uint32_t start = 0) const;
  std::int32_t Find(const CharT* needle, std::uint32_t start = 0) const;
  std::int32_t Find(const TOrvString& needle, std::uint32_t start = 0) const;
  std::int32_t Find(const TStdString& needle, std::uint32_t start = 0) const;
  std::int32_t FindFirstOf(const CharT* set, std::uint32_t setLength, std::uint32_t start) const;
  std::int32_t FindFirstOf(const CharT* set, std::uint32_t start = 0) const;
  std::int32_t FindFirstOf(const TOrvString& set, std::uint32_t start = 0) const;
  std::int32_t FindLast(CharT c) const;
  std::int32_t FindLast(CharT c, std::uint32_t from) const;
  std::int32_t FindLast(const CharT* needle) const;
  std::int32_t FindLast(const CharT* needle, std::uint32_t start) const;
  std::int32_t FindLast(const TOrvString& needle) const;
  std::int32_t FindLast(const TOrvString& needle, std::uint32_t start) const;
  std::int32_t FindLast(const TStdString& needle) const;
  std::int32_t FindLast(const TStdString& needle, std::uint32_t start) const;
  std::int32_t FindNoCase(const CharT* needle, std::uint32_t start = 0) const;
  std::int32_t FindNoCase(const TOrvString& needle, std::uint32_t start = 0) const;
  std::int32_t FindNoCase(const TStdString& needle, std::uint32_t start = 0) const;
  std::int32_t FindLastNoCase(const CharT* needle, std::uint32_t start = 0) const;
  std::int32_t FindLastNoCase(const TOrvString& needle, std::uint32_t start = 0) const;
  std::int32_t FindLastNoCase(const TStdString& needle, std::uint32_t start = 0) const;

  // ---- Concatenation: an empty side gives the other side.
  friend TOrvString operator+(const TOrvString& a, const TOrvString& b) {
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    return Concatenate(a.GetData(), a.GetLength(), b.GetData(), b.GetLength());
  }
  friend TOrvString operator+(const TOrvString& a, const CharT* b) { return ConcatenateText(a, b); }
  friend TOrvString operator+(const CharT* a, const TOrvString& b) { return ConcatenateText(a, b); }
  friend TOrvString operator+(const TOrvString& a, CharT c) {
    return Concatenate(a.GetData(), a.GetLength(), &c, 1);
  }
  template <typename Allocator>
  friend TOrvString operator+(const TOrvString& a, const std::basic_string<CharT, std::char_traits<CharT>, Allocator>& b) {
    if (b.empty()) return a;
    return Concatenate(a.GetData(), a.GetLength(), b.data(), b.size());
  }
  template <typename Allocator>
  friend TOrvString operator+(const std::basic_string<CharT, std::char_traits<CharT>, Allocator>& a, const TOrvString& b) {
    if (a.empty()) return b;
    return Concatenate(a.data(), a.size(), b.GetData(), b.GetLength());
  }

 private:
  static void ReleaseContent(TContent* content) {
    if (content->Release() == 0) content->Destroy();
  }
  static const CharT* EmptyText() {
    if constexpr (kWide) {
      return L"";
    } else {
      return "";
    }
  }
  static const TStdString& EmptyStdString();
  [[noreturn]] static void ThrowNullRange();
  // A new string of a followed by b (both non-empty, or the result's caller accepts a copy).
  static TOrvString Concatenate(const CharT* a, std::size_t aLength, const CharT* b, std::size_t bLength);
  static TOrvString ConcatenateText(const TOrvString& a, const CharT* b);
  static TOrvString ConcatenateText(const CharT* a, const TOrvString& b);
  bool IsLess(const TOrvString& other) const;
  // Appends [text, text + length) (length > 0).
  void AppendCharacters(const CharT* text, std::size_t length);
  // This string's block, made private and with its caches cleared.
  TStdString& BeginWrite() {
    MakeUnique();
    return content_->BeginWrite();
  }

  TContent* content_ = nullptr;
};

// A view {string, begin, end} of part of an engine string: hashed and compared like the text it
// covers, so tables keyed by engine strings can be probed without building a string. It owns no
// reference; the string must outlive it.
template <typename CharT>
class TOrvSubString {
 public:
  using TString = TOrvString<CharT>;
  using TRange = TCharRange<CharT>;

  TOrvSubString();
  explicit TOrvSubString(const TString& string) : string_(&string), begin_(0), end_(string.GetLength()) {}
  TOrvSubString(const TString* string, std::uint32_t begin, std::uint32_t end)
      : string_(string), begin_(begin), end_(end) {}
  // Offsets relative to `view`.
  TOrvSubString(const TOrvSubString& view, std::uint32_t from, std::uint32_t to)
      : string_(view.string_), begin_(view.begin_ + from), end_(view.begin_ + to) {}

  const TString* GetString() const { return string_; }
  std::uint32_t GetBegin() const { return begin_; }
  std::uint32_t GetEnd() const { return end_; }
  bool IsEmpty() const { return end_ == begin_; }
  std::uint32_t GetLength() const { return end_ - begin_; }
  const CharT* GetData() const { return string_->GetData() + begin_; }
  const CharT* GetDataEnd() const { return string_->GetData() + end_; }
  CharT operator[](std::uint32_t index) const { return string_->GetData()[begin_ + index]; }
  TRange GetRange() const {
    if (string_ == nullptr) return TRange{};
    return TRange{GetData(), GetDataEnd()};
  }
  TString ToString() const { return TString(*this); }

  bool operator==(const TOrvSubString& other) const;
  bool EqualsNoCase(const TOrvSubString& other) const;
  friend bool operator<(const TOrvSubString& a, const TOrvSubString& b) { return a.ToString() < b.ToString(); }
  friend bool operator<=(const TOrvSubString& a, const TOrvSubString& b) { return a.ToString() <= b.ToString(); }
  friend bool operator>(const TOrvSubString& a, const TOrvSubString& b) { return a.ToString() > b.ToString(); }
  friend bool operator>=(const TOrvSubString& a, const TOrvSubString& b) { return a.ToString() >= b.ToString(); }

  // Not cached: the functions of the string's own hashes over [begin, end).
  std::uint32_t GetHash() const;
  std::uint32_t GetHashNoCase() const;

  // Relative to the view: an index, or -1 (also when the character occurs only after the view).
  std::int32_t Find(CharT c, std::uint32_t start = 0) const;

 private:
  const TString* string_;
  std::uint32_t begin_;
  std::uint32_t end_;
};

// ---- Path-like text operations on views.
// Without trailing '\\' and '/' characters.
template <typename CharT>
TOrvSubString<CharT> StripTrailingSeparators(const TOrvSubString<CharT>& view);
// After the last '.', empty when there is none.
template <typename CharT>
TOrvSubString<CharT> ExtractExtension(const TOrvSubString<CharT>& view);
// After the first ':', the whole view when there is none.
template <typename CharT>
TOrvSubString<CharT> SkipMountingPointPrefix(const TOrvSubString<CharT>& view);
template <typename CharT>
TOrvSubString<CharT> SkipMountingPointPrefix(const TOrvString<CharT>& string) {
  return SkipMountingPointPrefix(TOrvSubString<CharT>(string));
}

// The decimal value of the text (see ParseDecimal); 0 for an empty text.
std::int32_t ToInteger(const TOrvString<char>& text);
std::int32_t ToInteger(const TOrvSubString<char>& text);

// ---- Stream insertion: the text up to its first NUL, converted between UTF-8 and wide text
// where the stream's character type differs. A null string writes nothing.
std::ostream& operator<<(std::ostream& stream, const TOrvString<char>& text);
std::wostream& operator<<(std::wostream& stream, const TOrvString<char>& text);
std::wostream& operator<<(std::wostream& stream, const TOrvString<wchar_t>& text);
std::ostream& operator<<(std::ostream& stream, const TOrvString<wchar_t>& text);
std::ostream& operator<<(std::ostream& stream, const TEngineStdString<char>& text);
std::wostream& operator<<(std::wostream& stream, const TEngineStdString<char>& text);
std::wostream& operator<<(std::wostream& stream, const TEngineStdString<wchar_t>& text);
std::ostream& operator<<(std::ostream& stream, const TEngineStdString<wchar_t>& text);
std::wostream& operator<<(std::wostream& stream, const std::string& text);
std::ostream& operator<<(std::ostream& stream, const std::wstring& text);

// ---- Start-up and shutdown (engine core).
// Creates the narrow and the wide content pools and reserves the hex-float stream flag index.
void InitStringLibrary();
// Destroys the texts of the blocks still alive, frees the pool's chunks and deletes the pool; from
// then on string destructors of that character type do nothing.
template <typename CharT>
void DestroyStringContentPool();
void ShutdownStringLibrary();
// The content pool of a character type (null outside InitStringLibrary .. DestroyStringContentPool).
template <typename CharT>
TStringContentPool* GetStringContentPool() {
  return StringDetail::g_contentPool<CharT>;
}
// Blocks of a content pool in use (0 without a pool).
template <typename CharT>
std::uint32_t GetStringContentLiveCount();
// The std::ios_base::xalloc index of the stream word that asks for hexadecimal floating point.
int GetHexFloatStreamFlagIndex();

// A handle is one pointer: engine vectors move it bitwise.
template <typename CharT>
struct TMovesBitwise<TOrvString<CharT>> : std::true_type {};

extern template class TOrvStringContent<char>;
extern template class TOrvStringContent<wchar_t>;
extern template class TOrvString<char>;
extern template class TOrvString<wchar_t>;
extern template class TOrvSubString<char>;
extern template class TOrvSubString<wchar_t>;

}  // namespace Orvan
