// The argument adapters' operations: direct prints for numbers and plain texts, a temporary
// standard stream for the others.
#include "core/text/string_streamable.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "core/text/text_encoding.h"

namespace Orvan {

namespace StreamableDetail {

int PrintText(char* buffer, std::uint32_t room, const char* text) { return std::snprintf(buffer, room, "%s", text); }

int TerminateCutWideText(wchar_t* buffer, std::uint32_t room, int written) {
  if (written < 0 && room > 0) buffer[room - 1] = L'\0';
  return written;
}

int PrintText(wchar_t* buffer, std::uint32_t room, const wchar_t* text) {
  return TerminateCutWideText(buffer, room, std::swprintf(buffer, room, L"%ls", text));
}

int PrintUtf8Text(wchar_t* buffer, std::uint32_t room, const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) >= 0x80) return PrintText(buffer, room, Utf8ToWide(text).c_str());
  }
  // ASCII widens byte by byte, without decoding or allocation.
  return TerminateCutWideText(buffer, room, std::swprintf(buffer, room, L"%s", text));
}

}  // namespace StreamableDetail

namespace {

using StreamableDetail::PrintText;
using StreamableDetail::PrintUtf8Text;

template <typename CharT>
std::basic_ostream<CharT>& InsertText(std::basic_ostream<CharT>& stream, const CharT* text) {
  if (text == nullptr) {
    stream.setstate(std::ios_base::badbit);
    return stream;
  }
  return stream << text;
}

// Hex-float texts are at most 64 units ("-0x1.000000p-1022" and the like need far fewer).
constexpr std::size_t kHexFloatTextUnits = 64;

bool WantsHexFloat(std::ios_base& stream) {
  const int index = GetHexFloatStreamFlagIndex();
  return index >= 0 && stream.iword(index) != 0;
}

}  // namespace

// ---- Prints through a temporary stream: the value's own StreamTo, then a print of the text.
int TStringStreamableThroughStream::PrintTo(char* buffer, std::uint32_t room) const {
  std::ostringstream stream;
  StreamTo(stream);
  return PrintText(buffer, room, stream.str().c_str());
}
int TStringStreamableThroughStream::PrintTo(wchar_t* buffer, std::uint32_t room) const {
  std::wostringstream stream;
  StreamTo(stream);
  return PrintText(buffer, room, stream.str().c_str());
}

// ---- Signed numbers.
std::ostream& TStringStreamableImpl<const long long, void>::StreamTo(std::ostream& stream) const {
  return stream << value_;
}
std::wostream& TStringStreamableImpl<const long long, void>::StreamTo(std::wostream& stream) const {
  return stream << value_;
}
int TStringStreamableImpl<const long long, void>::PrintTo(char* buffer, std::uint32_t room) const {
  return std::snprintf(buffer, room, "%lli", value_);
}
int TStringStreamableImpl<const long long, void>::PrintTo(wchar_t* buffer, std::uint32_t room) const {
  return StreamableDetail::TerminateCutWideText(buffer, room, std::swprintf(buffer, room, L"%lli", value_));
}

// ---- Unsigned numbers.
std::ostream& TStringStreamableImpl<const unsigned long long, void>::StreamTo(std::ostream& stream) const {
  return stream << value_;
}
std::wostream& TStringStreamableImpl<const unsigned long long, void>::StreamTo(std::wostream& stream) const {
  return stream << value_;
}
int TStringStreamableImpl<const unsigned long long, void>::PrintTo(char* buffer, std::uint32_t room) const {
  return std::snprintf(buffer, room, "%llu", value_);
}
int TStringStreamableImpl<const unsigned long long, void>::PrintTo(wchar_t* buffer, std::uint32_t room) const {
  return StreamableDetail::TerminateCutWideText(buffer, room, std::swprintf(buffer, room, L"%llu", value_));
}

// ---- Doubles.
std::ostream& TStringStreamableImpl<const double, void>::StreamTo(std::ostream& stream) const {
  if (!WantsHexFloat(stream)) return stream << value_;
  char text[kHexFloatTextUnits];
  std::snprintf(text, sizeof(text), "%.6a", value_);
  return stream << text;
}
std::wostream& TStringStreamableImpl<const double, void>::StreamTo(std::wostream& stream) const {
  if (!WantsHexFloat(stream)) return stream << value_;
  wchar_t text[kHexFloatTextUnits];
  std::swprintf(text, kHexFloatTextUnits, L"%.6a", value_);
  return stream << text;
}
int TStringStreamableImpl<const double, void>::PrintTo(char* buffer, std::uint32_t room) const {
  return std::snprintf(buffer, room, "%.6f", static_cast<double>(static_cast<float>(value_)));
}
int TStringStreamableImpl<const double, void>::PrintTo(wchar_t* buffer, std::uint32_t room) const {
  const double rounded = static_cast<double>(static_cast<float>(value_));
  return StreamableDetail::TerminateCutWideText(buffer, room, std::swprintf(buffer, room, L"%.6f", rounded));
}

// ---- const char*.
std::ostream& TStringStreamableImpl<const char*, void>::StreamTo(std::ostream& stream) const {
  return InsertText(stream, text_);
}
std::wostream& TStringStreamableImpl<const char*, void>::StreamTo(std::wostream& stream) const {
  return stream << Utf8ToWide(text_);
}
int TStringStreamableImpl<const char*, void>::PrintTo(char* buffer, std::uint32_t room) const {
  return PrintText(buffer, room, text_);
}
int TStringStreamableImpl<const char*, void>::PrintTo(wchar_t* buffer, std::uint32_t room) const {
  return PrintUtf8Text(buffer, room, text_);
}

// ---- const char* const.
std::ostream& TStringStreamableImpl<const char* const, void>::StreamTo(std::ostream& stream) const {
  return InsertText(stream, *text_);
}
std::wostream& TStringStreamableImpl<const char* const, void>::StreamTo(std::wostream& stream) const {
  return WriteUtf8AsWide(stream, *text_);
}

// ---- The engine's standard string.
std::ostream& TStringStreamableImpl<const TEngineStdString<char>, void>::StreamTo(std::ostream& stream) const {
  return stream.write(text_->data(), static_cast<std::streamsize>(text_->size()));
}
std::wostream& TStringStreamableImpl<const TEngineStdString<char>, void>::StreamTo(std::wostream& stream) const {
  return WriteUtf8AsWide(stream, text_->c_str());
}

// ---- const TOrvString<char>.
std::ostream& TStringStreamableImpl<const TOrvString<char>, void>::StreamTo(std::ostream& stream) const {
  return stream << *text_;
}
std::wostream& TStringStreamableImpl<const TOrvString<char>, void>::StreamTo(std::wostream& stream) const {
  return WriteUtf8AsWide(stream, text_->c_str());
}

// ---- TOrvString<char>.
std::ostream& TStringStreamableImpl<TOrvString<char>, void>::StreamTo(std::ostream& stream) const {
  return stream << *text_;
}
std::wostream& TStringStreamableImpl<TOrvString<char>, void>::StreamTo(std::wostream& stream) const {
  return stream << Utf8ToWide(*text_);
}
int TStringStreamableImpl<TOrvString<char>, void>::PrintTo(char* buffer, std::uint32_t room) const {
  return PrintText(buffer, room, text_->c_str());
}
int TStringStreamableImpl<TOrvString<char>, void>::PrintTo(wchar_t* buffer, std::uint32_t room) const {
  return PrintUtf8Text(buffer, room, text_->c_str());
}

// ---- const TOrvString<wchar_t>.
std::ostream& TStringStreamableImpl<const TOrvString<wchar_t>, void>::StreamTo(std::ostream& stream) const {
  return WriteWideAsUtf8(stream, text_->c_str());
}
std::wostream& TStringStreamableImpl<const TOrvString<wchar_t>, void>::StreamTo(std::wostream& stream) const {
  return stream << *text_;
}

// ---- const wchar_t* const.
std::ostream& TStringStreamableImpl<const wchar_t* const, void>::StreamTo(std::ostream& stream) const {
  return WriteWideAsUtf8(stream, *text_);
}
std::wostream& TStringStreamableImpl<const wchar_t* const, void>::StreamTo(std::wostream& stream) const {
  return InsertText(stream, *text_);
}

// ---- const char.
std::ostream& TStringStreamableImpl<const char, void>::StreamTo(std::ostream& stream) const {
  return stream << *character_;
}
std::wostream& TStringStreamableImpl<const char, void>::StreamTo(std::wostream& stream) const {
  return stream << stream.widen(*character_);
}

// ---- const wchar_t.
std::ostream& TStringStreamableImpl<const wchar_t, void>::StreamTo(std::ostream& stream) const {
  return stream << static_cast<int>(*character_);
}
std::wostream& TStringStreamableImpl<const wchar_t, void>::StreamTo(std::wostream& stream) const {
  return stream << *character_;
}

}  // namespace Orvan
