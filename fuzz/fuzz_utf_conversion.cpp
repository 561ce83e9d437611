// Fuzz target of the UTF-8 <-> wide conversions: any bytes, read as UTF-8, as 16-bit units and as
// 32-bit units, through every form. Well-formed input round-trips; buffer forms never write past
// their capacity (each buffer is exactly its capacity, so the sanitizer sees any overrun).
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "core/text/text_encoding.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using OrvTest::FuzzCheck;

bool Contains(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }

void CheckUtf8BufferForm(const std::string& text, std::uint32_t capacity) {
  const std::string terminated = text.substr(0, std::strlen(text.c_str()));
  const std::wstring full = Orvan::Utf8ToWide(terminated);
  std::vector<wchar_t> buffer(capacity);
  const bool ok = Orvan::Utf8ToWide(buffer.data(), capacity, terminated.c_str());
  if (ok) {
    FuzzCheck(std::wcslen(buffer.data()) == full.size() && full.compare(buffer.data()) == 0,
              "UTF-8 buffer form differs from the string form");
  } else if (capacity > 0) {
    FuzzCheck(buffer[0] == L'\0', "failed UTF-8 buffer form left a text");
  }
}

void CheckWideBufferForm(const std::wstring& text, std::uint32_t capacity) {
  const std::string full = Orvan::WideToUtf8(text.c_str());
  std::vector<char> buffer(capacity);
  const bool ok = Orvan::WideToUtf8(buffer.data(), capacity, text.c_str());
  if (ok) {
    // A unit whose low 16 bits are 0 encodes as a NUL byte inside the text.
    FuzzCheck(full.size() < capacity && std::memcmp(buffer.data(), full.data(), full.size()) == 0 &&
                  buffer[full.size()] == '\0',
              "wide buffer form differs from the string form");
  } else if (capacity > 0) {
    FuzzCheck(full.size() >= capacity || full.empty(), "wide buffer form refused a text that fits");
    FuzzCheck(std::memchr(buffer.data(), '\0', capacity) != nullptr, "failed wide buffer form not terminated");
  }
}

// Well-formed wide text decodes back from its UTF-8 to the low 16 bits of every unit, but for the
// pair of U+10FFFF (a unit whose low 16 bits are 0xDBFF, then 0xDFFF in full), which comes back as
// the one unit U+FFFD.
void CheckRoundTrip(const std::wstring& text, const std::wstring& back) {
  std::size_t j = 0;
  for (std::size_t i = 0; i < text.size(); ++i, ++j) {
    FuzzCheck(j < back.size(), "back-conversion shorter than the source");
    const bool maxPair = (text[i] & 0xFFFF) == 0xDBFF && i + 1 < text.size() && text[i + 1] == 0xDFFF;
    if (maxPair) {
      FuzzCheck(back[j] == 0xFFFD, "U+10FFFF pair not written as U+FFFD");
      ++i;
    } else {
      FuzzCheck(back[j] == (text[i] & 0xFFFF), "back-conversion differs from the low 16 bits");
    }
  }
  FuzzCheck(j == back.size(), "back-conversion longer than the source");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  if (size > 65536) return 0;
  const std::uint32_t capacity = size > 0 ? data[0] % 40 : 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // UTF-8 in.
  const std::wstring wide = Orvan::Utf8ToWide(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  const bool wellFormed = bytes.empty() || !wide.empty();
  FuzzCheck(wide.size() <= bytes.size(), "more units than bytes");
  if (wellFormed && !Contains(bytes, "\xF4\x8F\xBF\xBF")) {
    FuzzCheck(Orvan::WideToUtf8(wide) == bytes, "well-formed UTF-8 does not round-trip");
  }
  {
    const Orvan::TOrvString<wchar_t> engine = Orvan::Utf8ToWide(Orvan::TOrvString<char>(bytes));
    FuzzCheck(std::wstring(engine.GetData(), engine.GetLength()) == wide, "engine-string form differs");
  }
  {
    std::wostringstream stream;
    Orvan::WriteUtf8AsWide(stream, bytes.c_str());
    const std::wstring untilNul = Orvan::Utf8ToWide(bytes.c_str());
    if (!untilNul.empty()) FuzzCheck(stream.str() == untilNul, "UTF-8 stream writer differs");
  }
  CheckUtf8BufferForm(bytes, capacity);

  // 16-bit units in (zero-extended), and raw 32-bit units in.
  std::vector<std::uint16_t> units(size / 2);
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  std::wstring fromUnits(units.size(), L'\0');
  Orvan::CopyUtf16ToWide(fromUnits.data(), units.data(), static_cast<std::uint32_t>(units.size()));
  std::wstring fromWords(size / 4, L'\0');
  if (!fromWords.empty()) std::memcpy(fromWords.data(), data, fromWords.size() * 4);
  for (const std::wstring& text : {fromUnits, fromWords}) {
    const std::string utf8 = Orvan::WideToUtf8(text.data(), static_cast<std::uint32_t>(text.size()));
    if (!utf8.empty()) CheckRoundTrip(text, Orvan::Utf8ToWide(utf8));
    {
      std::ostringstream stream;
      Orvan::WriteWideAsUtf8(stream, text.c_str());
      const std::string untilNul = Orvan::WideToUtf8(text.c_str());
      if (!untilNul.empty()) FuzzCheck(stream.str() == untilNul, "wide stream writer differs");
    }
    CheckWideBufferForm(text, capacity);
    Orvan::WideToUtf8(Orvan::TOrvString<wchar_t>(text.data(), static_cast<std::uint32_t>(text.size())));
  }

  Orvan::BuildTextConversionErrorMessage(L"utf-8", L"utf-le-16", data, static_cast<std::uint32_t>(size),
                                         capacity, static_cast<std::int32_t>(capacity % 3));
  return 0;
}
