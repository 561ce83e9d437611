// Argument adapters of positional formatting: every value type that may fill a "%1" placeholder
// writes itself into narrow and wide streams and buffers through one TStringStreamableImpl. Callers
// build the adapters on their own stack for one Format call.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>

#include "core/memory/heap.h"
#include "core/text/engine_string.h"

namespace Orvan {

// A standard string stream whose text lives on an engine heap (string_allocator: the string heap).
template <typename CharT, typename Traits = std::char_traits<CharT>, typename Allocator = string_allocator<CharT>>
using basic_ostringstream = std::basic_ostringstream<CharT, Traits, Allocator>;

class TStringStreamable {
 public:
  virtual ~TStringStreamable() = default;
  virtual std::ostream& StreamTo(std::ostream& stream) const = 0;
  virtual std::wostream& StreamTo(std::wostream& stream) const = 0;
  // Both write a NUL-terminated text cut to room - 1 units. The narrow form returns the length of
  // the whole text, also when it was cut; the wide form returns the units written, or a negative
  // value when the text did not fit.
  virtual int PrintTo(char* buffer, std::uint32_t room) const = 0;
  virtual int PrintTo(wchar_t* buffer, std::uint32_t room) const = 0;

 protected:
  TStringStreamable() = default;
  TStringStreamable(const TStringStreamable&) = default;
  TStringStreamable& operator=(const TStringStreamable&) = default;
};

// Undefined for value types without an adapter, so such an argument does not compile.
template <typename T, typename Enable = void>
class TStringStreamableImpl;

namespace StreamableDetail {

template <typename T>
inline constexpr bool kIsCharacter =
    std::is_same_v<std::remove_cv_t<T>, char> || std::is_same_v<std::remove_cv_t<T>, wchar_t> ||
    std::is_same_v<std::remove_cv_t<T>, char8_t> || std::is_same_v<std::remove_cv_t<T>, char16_t> ||
    std::is_same_v<std::remove_cv_t<T>, char32_t> || std::is_same_v<std::remove_cv_t<T>, bool>;

// Integers other than the two 64-bit bases print through those bases.
template <typename T>
inline constexpr bool kWidensToSigned = std::is_integral_v<T> && std::is_signed_v<T> && !kIsCharacter<T> &&
                                        !std::is_same_v<T, const long long>;
template <typename T>
inline constexpr bool kWidensToUnsigned = std::is_integral_v<T> && std::is_unsigned_v<T> && !kIsCharacter<T> &&
                                          !std::is_same_v<T, const unsigned long long>;
template <typename T>
inline constexpr bool kWidensToDouble = std::is_floating_point_v<T> && !std::is_same_v<T, const double>;

// snprintf of "%s" and swprintf of "%ls"; the wide form also terminates a cut text (the platform's
// swprintf leaves the last slot as it was).
// Terminates the last slot of a wide print that did not fit; returns `written`.
int TerminateCutWideText(wchar_t* buffer, std::uint32_t room, int written);
int PrintText(char* buffer, std::uint32_t room, const char* text);
int PrintText(wchar_t* buffer, std::uint32_t room, const wchar_t* text);
// The wide print of a narrow text: decoded from UTF-8 by the engine's decoder (malformed text gives
// the empty text) rather than by the process's multibyte conversion, which refuses every byte
// above 0x7F in the C locale.
int PrintUtf8Text(wchar_t* buffer, std::uint32_t room, const char* text);

}  // namespace StreamableDetail

// Adapters whose buffer prints are the text of their own StreamTo, made in a temporary standard
// stream: they define only the two StreamTo.
class TStringStreamableThroughStream : public TStringStreamable {
 public:
  int PrintTo(char* buffer, std::uint32_t room) const override;
  int PrintTo(wchar_t* buffer, std::uint32_t room) const override;
};

// ---- Numbers.
template <>
class TStringStreamableImpl<const long long, void> : public TStringStreamable {
 public:
  explicit TStringStreamableImpl(long long value) : value_(value) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;
  int PrintTo(char* buffer, std::uint32_t room) const override;
  int PrintTo(wchar_t* buffer, std::uint32_t room) const override;

 protected:
  long long value_;
};

template <>
class TStringStreamableImpl<const unsigned long long, void> : public TStringStreamable {
 public:
  explicit TStringStreamableImpl(unsigned long long value) : value_(value) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;
  int PrintTo(char* buffer, std::uint32_t room) const override;
  int PrintTo(wchar_t* buffer, std::uint32_t room) const override;

 protected:
  unsigned long long value_;
};

template <typename T>
class TStringStreamableImpl<T, std::enable_if_t<StreamableDetail::kWidensToSigned<T>>>
    : public TStringStreamableImpl<const long long, void> {
 public:
  explicit TStringStreamableImpl(T value)
      : TStringStreamableImpl<const long long, void>(static_cast<long long>(value)) {}
};

template <typename T>
class TStringStreamableImpl<T, std::enable_if_t<StreamableDetail::kWidensToUnsigned<T>>>
    : public TStringStreamableImpl<const unsigned long long, void> {
 public:
  explicit TStringStreamableImpl(T value)
      : TStringStreamableImpl<const unsigned long long, void>(static_cast<unsigned long long>(value)) {}
};

// Streams give the standard text of the double (or "%.6a" when the stream's hex-float word is set);
// buffers get "%.6f" of the value rounded to single precision.
template <>
class TStringStreamableImpl<const double, void> : public TStringStreamable {
 public:
  explicit TStringStreamableImpl(double value) : value_(value) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;
  int PrintTo(char* buffer, std::uint32_t room) const override;
  int PrintTo(wchar_t* buffer, std::uint32_t room) const override;

 protected:
  double value_;
};

template <typename T>
class TStringStreamableImpl<T, std::enable_if_t<StreamableDetail::kWidensToDouble<T>>>
    : public TStringStreamableImpl<const double, void> {
 public:
  explicit TStringStreamableImpl(T value) : TStringStreamableImpl<const double, void>(static_cast<double>(value)) {}
};

// ---- Narrow texts (UTF-8).
// Holds the text pointer itself. A null pointer is for narrow streams only (badbit, nothing written).
template <>
class TStringStreamableImpl<const char*, void> : public TStringStreamable {
 public:
  explicit TStringStreamableImpl(const char* text) : text_(text) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;  // whole text decoded, or nothing
  int PrintTo(char* buffer, std::uint32_t room) const override;
  int PrintTo(wchar_t* buffer, std::uint32_t room) const override;

 protected:
  const char* text_;
};

// Literals ("" and one-letter texts among them) behave as their pointer.
template <std::size_t N>
class TStringStreamableImpl<const char[N], void> : public TStringStreamableImpl<const char*, void> {
 public:
  explicit TStringStreamableImpl(const char (&text)[N]) : TStringStreamableImpl<const char*, void>(text) {}
};

// Holds the address of the caller's pointer; wide output stops at the first malformed sequence.
template <>
class TStringStreamableImpl<const char* const, void> : public TStringStreamableThroughStream {
 public:
  explicit TStringStreamableImpl(const char* const& text) : text_(&text) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;

 private:
  const char* const* text_;
};

// Narrow streams get every character (embedded NULs included); wide streams the text up to the
// first NUL, decoded.
template <>
class TStringStreamableImpl<const TEngineStdString<char>, void> : public TStringStreamableThroughStream {
 public:
  explicit TStringStreamableImpl(const TEngineStdString<char>& text) : text_(&text) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;

 private:
  const TEngineStdString<char>* text_;
};

template <>
class TStringStreamableImpl<const TOrvString<char>, void> : public TStringStreamableThroughStream {
 public:
  explicit TStringStreamableImpl(const TOrvString<char>& text) : text_(&text) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;  // stops at a malformed sequence

 private:
  const TOrvString<char>* text_;
};

// The non-const engine string prints straight into buffers; wide output is all or nothing.
template <>
class TStringStreamableImpl<TOrvString<char>, void> : public TStringStreamable {
 public:
  explicit TStringStreamableImpl(const TOrvString<char>& text) : text_(&text) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;
  int PrintTo(char* buffer, std::uint32_t room) const override;
  int PrintTo(wchar_t* buffer, std::uint32_t room) const override;

 private:
  const TOrvString<char>* text_;
};

// ---- Wide texts (UTF-16 units); narrow output is their UTF-8, cut at a lone surrogate.
template <>
class TStringStreamableImpl<const TOrvString<wchar_t>, void> : public TStringStreamableThroughStream {
 public:
  explicit TStringStreamableImpl(const TOrvString<wchar_t>& text) : text_(&text) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;

 private:
  const TOrvString<wchar_t>* text_;
};

// Holds the address of the caller's pointer. A null text is for wide streams only.
template <>
class TStringStreamableImpl<const wchar_t* const, void> : public TStringStreamableThroughStream {
 public:
  explicit TStringStreamableImpl(const wchar_t* const& text) : text_(&text) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;

 private:
  const wchar_t* const* text_;
};

// ---- Single characters.
// Wide output widens the character by the stream's locale.
template <>
class TStringStreamableImpl<const char, void> : public TStringStreamableThroughStream {
 public:
  explicit TStringStreamableImpl(const char& character) : character_(&character) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;

 private:
  const char* character_;
};

// Narrow output shows the character's decimal code.
template <>
class TStringStreamableImpl<const wchar_t, void> : public TStringStreamableThroughStream {
 public:
  explicit TStringStreamableImpl(const wchar_t& character) : character_(&character) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;

 private:
  const wchar_t* character_;
};

// The adapter of a value as a const argument: MakeStringStreamable(x) for an int is
// TStringStreamableImpl<const int>, for a const char* variable TStringStreamableImpl<const char* const>.
// Pointer-holding adapters must not outlive the value.
template <typename T>
TStringStreamableImpl<const T> MakeStringStreamable(const T& value) {
  return TStringStreamableImpl<const T>(value);
}

}  // namespace Orvan
