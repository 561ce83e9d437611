// The engine's INI documents: typed reads from a text document (sections of wide keys and value
// texts), and the value document whose typed entries are written out as UTF-8 INI text. A
// document is used by one thread at a time.
#pragma once

#include <cstdint>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"

namespace Orvan {

// ---- Text documents (TIniSectionMap: section name to key map, letter case ignored).
// False when the section or the key is absent; otherwise the value text goes to `value`.
bool IniDocumentFind(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                     TOrvString<wchar_t>& value);
// The value text, or the default when absent.
TOrvString<wchar_t> IniDocumentGetString(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                                         const TOrvString<wchar_t>& defaultValue);
// The value read with "%f" (so "2x" reads 2); EIniWrongTypeValue when no number is read. The
// default when absent.
float IniDocumentGetFloat(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                          float defaultValue);
// "true" or "false", letter case ignored; EIniWrongTypeValue for any other text. The default when
// absent.
bool IniDocumentGetBool(const TIniSectionMap& sections, const wchar_t* section, const wchar_t* key,
                        bool defaultValue);

// ---- Value documents: the setters add to the section named CurrentSection, made on first use.
struct TIniValueDocument {
  TOrvString<wchar_t> CurrentSection;
  TIniTypedSectionMap sections;

  void SetCurrentSection(const TOrvString<wchar_t>& section) { CurrentSection = section; }
};

// Ends a value document held in raw storage, as its destructor does: every section (its values,
// then its name), the sections' storage, then the current section's name.
void DestroyNamedMapRecord(TIniValueDocument* document) noexcept;

// Each appends an entry without looking for one of the same key: both are written out.
void IniDocumentAddFlag(TIniValueDocument& document, const wchar_t* key, bool flag);
void IniDocumentAddText(TIniValueDocument& document, const wchar_t* key, const wchar_t* text);
void IniDocumentAddNumber(TIniValueDocument& document, const wchar_t* key, float number);

// The UTF-8 text of the document after its byte-order mark: per section "[name]" CR LF, then per
// entry TAB, key, " = ", the value (text, number in six significant digits, "true"/"false") and
// CR LF. The stream's position is at its end.
TCountedPtr<TMemoryStream> IniDocumentWriteToStream(const TIniValueDocument& document);

}  // namespace Orvan
