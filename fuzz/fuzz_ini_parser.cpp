// Fuzz target of the engine INI parser. Any bytes either parse into a map whose section names and
// keys are valid names, unique without regard to case, with trimmed values; or throw
// EIniParsingException with a line between -1 and the text's last line, leaving the filled
// destination as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <new>
#include <string>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/filesystem/ini_parser.h"
#include "core/streams/memory_stream.h"
#include "core/text/string_utilities.h"
#include "core/text/text_encoding.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using Orvan::TIniKeyMap;
using Orvan::TIniSectionMap;
using Orvan::TOrvString;
using OrvTest::FuzzCheck;

// Every byte of the map, in its order.
std::string Dump(const TIniSectionMap& sections) {
  std::string dump;
  for (const auto& section : sections) {
    dump += Orvan::WideToUtf8(section.key).c_str();
    dump += '\x01';
    for (const auto& entry : section.value) {
      dump += Orvan::WideToUtf8(entry.key).c_str();
      dump += '\x02';
      dump += Orvan::WideToUtf8(entry.value).c_str();
      dump += '\x03';
    }
  }
  return dump;
}

TIniSectionMap Filled() {
  TIniSectionMap sections;
  TIniSectionMap::TEntryType* section;
  sections.FindOrInsert(TOrvString<wchar_t>(L"Before"), &section);
  ::new (static_cast<void*>(section)) TIniSectionMap::TEntryType{TOrvString<wchar_t>(L"Before"), TIniKeyMap()};
  ::new (static_cast<void*>(section->value.AppendEntry(TOrvString<wchar_t>(L"key"))))
      TIniKeyMap::TEntryType{TOrvString<wchar_t>(L"key"), TOrvString<wchar_t>(L"value")};
  return sections;
}

bool IsTrimmed(const TOrvString<wchar_t>& value) {
  const std::uint32_t length = value.GetLength();
  if (length == 0) return true;
  return !std::iswspace(static_cast<wint_t>(value.c_str()[0])) &&
         !std::iswspace(static_cast<wint_t>(value.c_str()[length - 1]));
}

template <typename TMap>
bool UniqueWithoutCase(const TMap& map) {
  for (const auto* a = map.begin(); a != map.end(); ++a) {
    for (const auto* b = a + 1; b != map.end(); ++b) {
      if (a->key.EqualsNoCase(b->key)) return false;
    }
  }
  return true;
}

void CheckResult(const TIniSectionMap& sections) {
  FuzzCheck(UniqueWithoutCase(sections), "section names are unique without regard to case");
  for (const auto& section : sections) {
    FuzzCheck(Orvan::IsValidIdentifier(section.key.c_str()), "a section name is a valid name");
    FuzzCheck(!section.value.IsEmpty(), "a section holds a key");
    FuzzCheck(UniqueWithoutCase(section.value), "the keys of a section are unique without regard to case");
    for (const auto& entry : section.value) {
      FuzzCheck(Orvan::IsValidIdentifier(entry.key.c_str()), "a key is a valid name");
      FuzzCheck(IsTrimmed(entry.value), "a value is trimmed");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  Orvan::TMemoryStream stream(static_cast<std::uint32_t>(size));
  if (size > 0) std::memcpy(stream.GetData(), data, size);
  // The position on entry does not matter.
  stream.SetPosition(static_cast<std::uint32_t>(size / 2));

  TIniSectionMap sections = Filled();
  const std::string before = Dump(sections);
  try {
    Orvan::ParseIniStream(sections, stream);
  } catch (const Orvan::EIniParsingException& e) {
    FuzzCheck(Dump(sections) == before, "a failed parse leaves the destination as it was");
    // A line ends at every line feed and NUL byte; the text's own end ends the last one.
    std::int32_t lastLine = 0;
    for (std::size_t i = 0; i < size; ++i) lastLine += data[i] == '\n' || data[i] == '\0' ? 1 : 0;
    FuzzCheck(e.GetLine() >= -1 && e.GetLine() <= lastLine, "the line lies in the text");
    return 0;
  }
  CheckResult(sections);
  return 0;
}
