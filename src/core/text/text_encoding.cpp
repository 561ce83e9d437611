// UTF-8 <-> wide conversions, encoding names, byte-order marks and their detection, conversion error texts.
#include "core/text/text_encoding.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <sstream>

#include "core/diagnostics/hex_dump.h"
#include "core/streams/stream.h"

namespace Orvan {

namespace {

constexpr const char* kEncodingNames[] = {"utf-8", "utf-le-16", "utf-be-16", "utf-le-32", "utf-be-32"};
constexpr const wchar_t* kEncodingWideNames[] = {L"utf-8", L"utf-le-16", L"utf-be-16", L"utf-le-32",
                                                 L"utf-be-32"};
constexpr TByteOrderMark kByteOrderMarks[] = {
    {3, {0xEF, 0xBB, 0xBF, 0x00}}, {2, {0xFF, 0xFE, 0x00, 0x00}}, {2, {0xFE, 0xFF, 0x00, 0x00}},
    {4, {0xFF, 0xFE, 0x00, 0x00}}, {4, {0x00, 0x00, 0xFE, 0xFF}},
};

// Decodes [text, text + length) and hands each UTF-16 unit to `emit`; stops with false at the
// first sequence that is not well formed (never reading past the end to complete one).
template <typename Emit>
bool DecodeUtf8(const char* text, std::size_t length, Emit&& emit) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::size_t i = 0;
  while (i < length) {
    const unsigned lead = bytes[i];
    if (lead < 0x80) {
      if (!emit(static_cast<wchar_t>(lead))) return false;
      ++i;
      continue;
    }
    // Continuation count and the allowed range of the first continuation byte, which rules out
    // overlong forms, encoded surrogates and values above U+10FFFF.
    std::size_t continuations;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    std::uint32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
      continuations = 1;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuations = 2;
      value = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      continuations = 3;
      value = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (length - i - 1 < continuations) return false;
    for (std::size_t k = 1; k <= continuations; ++k) {
      const unsigned byte = bytes[i + k];
      if (byte < low || byte > high) return false;
      low = 0x80;
      high = 0xBF;
      value = (value << 6) | (byte & 0x3F);
    }
    i += continuations + 1;
    if (value < 0x10000) {
      if (!emit(static_cast<wchar_t>(value))) return false;
    } else {
      value -= 0x10000;
      if (!emit(static_cast<wchar_t>(0xD800 + (value >> 10)))) return false;
      if (!emit(static_cast<wchar_t>(0xDC00 + (value & 0x3FF)))) return false;
    }
  }
  return true;
}

// Encodes [text, text + length) and hands each byte to `emit`; false at the first lone surrogate.
template <typename Emit>
bool EncodeUtf8(const wchar_t* text, std::size_t length, Emit&& emit) {
  std::size_t i = 0;
  while (i < length) {
    const std::uint32_t unit = static_cast<std::uint32_t>(text[i]) & 0xFFFF;
    std::uint32_t value;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= length) return false;
      // The unit after a high surrogate is read in full, not by its low 16 bits.
      const std::uint32_t next = static_cast<std::uint32_t>(text[i + 1]);
      if (next < 0xDC00 || next > 0xDFFF) return false;
      value = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
      if (value == 0x10FFFF) value = 0xFFFD;
      i += 2;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    } else {
      value = unit;
      ++i;
    }
    if (value < 0x80) {
      emit(static_cast<char>(value));
    } else if (value < 0x800) {
      emit(static_cast<char>(0xC0 | (value >> 6)));
      emit(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
      emit(static_cast<char>(0xE0 | (value >> 12)));
      emit(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      emit(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
      emit(static_cast<char>(0xF0 | (value >> 18)));
      emit(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
      emit(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      emit(static_cast<char>(0x80 | (value & 0x3F)));
    }
  }
  return true;
}

template <typename WideString>
bool DecodeInto(WideString& out, const char* text, std::size_t length) {
  out.reserve(length);
  return DecodeUtf8(text, length, [&out](wchar_t unit) {
    out.push_back(unit);
    return true;
  });
}

template <typename NarrowString>
bool EncodeInto(NarrowString& out, const wchar_t* text, std::size_t length) {
  out.reserve(length);
  return EncodeUtf8(text, length, [&out](char byte) { out.push_back(byte); });
}

// The standard-string conversions: the whole text, or the empty text when it is malformed.
std::wstring DecodedOrEmpty(const char* text, std::size_t length) {
  std::wstring out;
  if (!DecodeInto(out, text, length)) out.clear();
  return out;
}

std::string EncodedOrEmpty(const wchar_t* text, std::size_t length) {
  std::string out;
  if (!EncodeInto(out, text, length)) out.clear();
  return out;
}

}  // namespace

const char* GetTextEncodingName(TTextEncoding id) { return id <= 4 ? kEncodingNames[id] : ""; }

const wchar_t* GetTextEncodingWideName(TTextEncoding id) { return id <= 4 ? kEncodingWideNames[id] : L""; }

bool TByteOrderMark::Matches(const std::uint8_t* data, std::uint32_t available) const {
  if (length > available) return false;
  return std::memcmp(data, bytes, length) == 0;
}

void GetByteOrderMark(TByteOrderMark& out, TTextEncoding id) {
  out = kByteOrderMarks[id >= 1 && id <= 4 ? id : 0];
}

TTextEncoding DetectTextEncoding(TStream& stream) {
  stream.SetPosition(0);
  std::uint8_t start[4] = {0, 0, 0, 0};
  const std::int32_t read = stream.Read(start, std::min<std::uint32_t>(stream.GetSize(), 4));
  // A stream that reports fewer bytes (or a failure) is matched against what it gave.
  const std::uint32_t available = read > 0 ? static_cast<std::uint32_t>(std::min(read, 4)) : 0;
  for (TTextEncoding id = kTextEncodingUtf8; id <= kTextEncodingUtf32BigEndian; ++id) {
    if (kByteOrderMarks[id].Matches(start, available)) {
      stream.SetPosition(kByteOrderMarks[id].length);
      return id;
    }
  }
  stream.SetPosition(0);
  return kTextEncodingUtf8;
}

std::wstring Utf8ToWide(const char* text, std::uint32_t length) { return DecodedOrEmpty(text, length); }

std::wstring Utf8ToWide(const std::string& text) { return DecodedOrEmpty(text.data(), text.size()); }

std::wstring Utf8ToWide(const char* text) {
  return text != nullptr ? DecodedOrEmpty(text, std::strlen(text)) : std::wstring();
}

TOrvString<wchar_t> Utf8ToWide(const TOrvString<char>& text) {
  typename TOrvString<wchar_t>::TStdString out;
  if (!DecodeInto(out, text.GetData(), text.GetLength())) return TOrvString<wchar_t>();
  return TOrvString<wchar_t>(std::move(out));
}

bool Utf8ToWide(wchar_t* buffer, std::uint32_t capacity, const char* text) {
  const std::size_t length = text != nullptr ? std::strlen(text) : 0;
  // Every unit comes from at least one byte, so the byte count bounds the output.
  if (length + 1 > capacity) {
    if (capacity > 0) buffer[0] = L'\0';
    return false;
  }
  std::size_t written = 0;
  const bool decoded = DecodeUtf8(text, length, [&](wchar_t unit) {
    buffer[written++] = unit;
    return true;
  });
  buffer[decoded ? written : 0] = L'\0';
  return decoded;
}

std::wostream& WriteUtf8AsWide(std::wostream& stream, const char* text) {
  if (text == nullptr) return stream;
  DecodeUtf8(text, std::strlen(text), [&stream](wchar_t unit) {
    stream.put(unit);
    return true;
  });
  return stream;
}

std::string WideToUtf8(const wchar_t* text, std::uint32_t length) { return EncodedOrEmpty(text, length); }

std::string WideToUtf8(const std::wstring& text) { return EncodedOrEmpty(text.data(), text.size()); }

std::string WideToUtf8(const wchar_t* text) {
  return text != nullptr ? EncodedOrEmpty(text, std::wcslen(text)) : std::string();
}

TOrvString<char> WideToUtf8(const TOrvString<wchar_t>& text) {
  typename TOrvString<char>::TStdString out;
  if (!EncodeInto(out, text.GetData(), text.GetLength())) return TOrvString<char>();
  return TOrvString<char>(std::move(out));
}

bool WideToUtf8(char* buffer, std::uint32_t capacity, const wchar_t* text) {
  const std::size_t length = text != nullptr ? std::wcslen(text) : 0;
  std::size_t count = 0;
  // Bytes that would reach the capacity land in the last slot: nothing is written past the buffer.
  const bool encoded = EncodeUtf8(text, length, [&](char byte) {
    if (capacity > 0) buffer[count < capacity ? count : capacity - 1] = byte;
    ++count;
  });
  if (!encoded) {
    if (capacity > 0) buffer[0] = '\0';
    return false;
  }
  if (count < capacity) {
    buffer[count] = '\0';
    return true;
  }
  if (capacity > 0) buffer[capacity - 1] = '\0';
  return false;
}

std::ostream& WriteWideAsUtf8(std::ostream& stream, const wchar_t* text) {
  if (text == nullptr) return stream;
  EncodeUtf8(text, std::wcslen(text), [&stream](char byte) { stream.put(byte); });
  return stream;
}

void CopyUtf16ToWide(wchar_t* destination, const std::uint16_t* source, std::uint32_t count) {
  std::uint32_t i = 0;
  while (i < count && (reinterpret_cast<std::uintptr_t>(destination + i) & 15) != 0) {
    destination[i] = static_cast<wchar_t>(source[i]);
    ++i;
  }
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= count; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    _mm_store_si128(reinterpret_cast<__m128i*>(destination + i), _mm_unpacklo_epi16(units, zero));
    _mm_store_si128(reinterpret_cast<__m128i*>(destination + i + 4), _mm_unpackhi_epi16(units, zero));
  }
  for (; i < count; ++i) destination[i] = static_cast<wchar_t>(source[i]);
}

std::wstring BuildTextConversionErrorMessage(const wchar_t* fromName, const wchar_t* toName, const void* source,
                                             std::uint32_t size, std::uint32_t offset, std::int32_t kind) {
  std::wostringstream stream;
  if (kind == 1) {
    stream << L"Invalid value at offset " << offset << L" ";
  } else if (kind == 2) {
    stream << L"Source buffer contains incomplete unicode code point ";
  } else {
    stream << L"Internal error ";
  }
  // A null name sets badbit, which ends the text there.
  stream << L" while converting string from " << fromName << L" to " << toName << L"." << L'\n';
  WriteHexDump(stream, source, size, 0);
  return stream.str();
}

}  // namespace Orvan
