// Typed reads of INI text documents, and the value document's setters and writer.
#include "core/filesystem/ini_document.h"

#include <cwchar>
#include <new>
#include <sstream>
#include <string>
#include <utility>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/text_encoding.h"

namespace Orvan {

namespace {

// The document's text is built on the calling thread's heap.
using TThreadHeapWideStream =
    std::basic_ostringstream<wchar_t, std::char_traits<wchar_t>, thread_local_allocator<wchar_t>>;

constexpr unsigned char kUtf8ByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

TIniTypedValueMap& CurrentSectionValues(TIniValueDocument& document) {
  TIniTypedSectionMap::TEntryType* entry;
  if (document.sections.FindOrInsert(document.CurrentSection, &entry)) {
    ::new (static_cast<void*>(entry)) TIniTypedSectionMap::TEntryType{document.CurrentSection, TIniTypedValueMap()};
  }
  return entry->value;
}

void AddValue(TIniValueDocument& document, TIniTypedValue value) {
  TIniTypedValueMap& values = CurrentSectionValues(document);
  TIniTypedValue* entry = values.AppendEntry(value.name.c_str());
  ::new (static_cast<void*>(entry)) TIniTypedValue(std::move(value));
}

}  // namespace

bool IniDocumentFind(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                     TOrvString<wchar_t>& value) {
  const TIniSectionMap::TEntryType* found = sections.Find(section);
  if (found == nullptr) return false;
  const TIniKeyMap::TEntryType* entry = found->value.Find(key);
  if (entry == nullptr) return false;
  value = entry->value;
  return true;
}

TOrvString<wchar_t> IniDocumentGetString(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                                         const TOrvString<wchar_t>& defaultValue) {
  TOrvString<wchar_t> value;
  return IniDocumentFind(sections, section, key, value) ? value : defaultValue;
}

float IniDocumentGetFloat(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                          float defaultValue) {
  TOrvString<wchar_t> value;
  if (!IniDocumentFind(sections, section, key, value)) return defaultValue;
  float number = 0.0f;
  if (std::swscanf(value.c_str(), L"%f", &number) != 1) throw EIniWrongTypeValue();
  return number;
}

bool IniDocumentGetBool(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                        bool defaultValue) {
  TOrvString<wchar_t> value;
  if (!IniDocumentFind(sections, section, key, value)) return defaultValue;
  if (value.EqualsNoCase(L"true")) return true;
  if (value.EqualsNoCase(L"false")) return false;
  throw EIniWrongTypeValue();
}

bool TIniSectionMap::FindValue(const wchar_t* section, const wchar_t* key, TOrvString<wchar_t>& value) const {
  return IniDocumentFind(*this, section, key, value);
}

TOrvString<wchar_t> TIniSectionMap::GetString(const wchar_t* section, const wchar_t* key,
                                              const TOrvString<wchar_t>& defaultValue) const {
  return IniDocumentGetString(*this, section, key, defaultValue);
}

float TIniSectionMap::GetFloat(const wchar_t* section, const wchar_t* key, float defaultValue) const {
  return IniDocumentGetFloat(*this, section, key, defaultValue);
}

bool TIniSectionMap::GetBool(const wchar_t* section, const wchar_t* key, bool defaultValue) const {
  return IniDocumentGetBool(*this, section, key, defaultValue);
}

void DestroyNamedMapRecord(TIniValueDocument* document) noexcept { document->~TIniValueDocument(); }

void IniDocumentAddFlag(TIniValueDocument& document, const wchar_t* key, bool flag) {
  AddValue(document, {TOrvString<wchar_t>(key), TIniTypedValue::kFlag, flag ? std::uint8_t{1} : std::uint8_t{0},
                      TOrvString<wchar_t>(), 0.0f});
}

void IniDocumentAddText(TIniValueDocument& document, const wchar_t* key, const wchar_t* text) {
  AddValue(document, {TOrvString<wchar_t>(key), TIniTypedValue::kText, 0, TOrvString<wchar_t>(text), 0.0f});
}

void IniDocumentAddNumber(TIniValueDocument& document, const wchar_t* key, float number) {
  AddValue(document, {TOrvString<wchar_t>(key), TIniTypedValue::kNumber, 0, TOrvString<wchar_t>(), number});
}

TCountedPtr<TMemoryStream> IniDocumentWriteToStream(const TIniValueDocument& document) {
  TThreadHeapWideStream text;
  for (const auto& section : document.sections) {
    text << L'[' << section.key << L"]\r\n";
    for (const TIniTypedValue& entry : section.value) {
      text << L'\t' << entry.name << L" = ";
      switch (entry.kind) {
        case TIniTypedValue::kFlag:
          text << (entry.flag != 0 ? L"true" : L"false");
          break;
        case TIniTypedValue::kText:
          text << entry.value;
          break;
        case TIniTypedValue::kNumber:
          text << static_cast<double>(entry.number);
          break;
        default:
          break;
      }
      text << L"\r\n";
    }
  }
  const auto wide = text.str();
  const std::string utf8 = WideToUtf8(wide.data(), static_cast<std::uint32_t>(wide.size()));
  const auto length = static_cast<std::uint32_t>(utf8.size());
  TCountedPtr<TMemoryStream> stream(new TMemoryStream(length + 3));
  stream->Write(kUtf8ByteOrderMark, 3);
  stream->Write(utf8.data(), length);
  return stream;
}

}  // namespace Orvan
