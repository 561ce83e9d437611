// INI documents: typed reads of text documents, and the value document's setters and its bytes.
#include "core/filesystem/ini_document.h"

#include <gtest/gtest.h>

#include <string>

#include "core/diagnostics/engine_exception_kinds.h"

namespace Orvan {
namespace {

// One section "Game" with the given key and value text.
TIniSectionMap Document(const wchar_t* key, const wchar_t* value) {
  TIniSectionMap sections;
  TIniSectionMap::TEntryType* section;
  sections.FindOrInsert(TOrvString<wchar_t>(L"Game"), &section);
  ::new (static_cast<void*>(section)) TIniSectionMap::TEntryType{TOrvString<wchar_t>(L"Game"), TIniKeyMap()};
  TIniKeyMap::TEntryType* entry;
  section->value.FindOrInsert(TOrvString<wchar_t>(key), &entry);
  ::new (static_cast<void*>(entry)) TIniKeyMap::TEntryType{TOrvString<wchar_t>(key), TOrvString<wchar_t>(value)};
  return sections;
}

TEST(IniDocument, FindsValuesWithoutRegardToCase) {
  const TIniSectionMap document = Document(L"Name", L"orvan");
  TOrvString<wchar_t> value;
  EXPECT_TRUE(IniDocumentFind(document, L"GAME", L"name", value));
  EXPECT_TRUE(value == TOrvString<wchar_t>(L"orvan"));
  EXPECT_FALSE(IniDocumentFind(document, L"Other", L"Name", value));
  EXPECT_FALSE(IniDocumentFind(document, L"Game", L"Other", value));
  EXPECT_FALSE(IniDocumentFind(TIniSectionMap(), L"Game", L"Name", value));
  EXPECT_TRUE(IniDocumentGetString(document, L"game", L"NAME", L"x") == TOrvString<wchar_t>(L"orvan"));
  EXPECT_TRUE(IniDocumentGetString(document, L"game", L"absent", L"x") == TOrvString<wchar_t>(L"x"));
}

TEST(IniDocument, BooleansAndNumbers) {
  const struct {
    const wchar_t* text;
    bool throws;
    bool value;
  } booleans[] = {{L"TRUE", false, true}, {L"true", false, true}, {L"False", false, false},
                  {L"yes", true, false},  {L"", true, false},     {L"true ", true, false}};
  for (const auto& b : booleans) {
    const TIniSectionMap document = Document(L"Flag", b.text);
    if (b.throws) {
      EXPECT_THROW(IniDocumentGetBool(document, L"Game", L"Flag", true), EIniWrongTypeValue);
    } else {
      EXPECT_EQ(IniDocumentGetBool(document, L"Game", L"Flag", !b.value), b.value);
    }
  }
  EXPECT_TRUE(IniDocumentGetBool(Document(L"Flag", L"false"), L"Game", L"Absent", true));

  const struct {
    const wchar_t* text;
    bool throws;
    float value;
  } numbers[] = {{L"1.5", false, 1.5f}, {L"2x", false, 2.0f}, {L" -3", false, -3.0f}, {L"abc", true, 0.0f}, {L"", true, 0.0f}};
  for (const auto& n : numbers) {
    const TIniSectionMap document = Document(L"Speed", n.text);
    if (n.throws) {
      EXPECT_THROW(IniDocumentGetFloat(document, L"Game", L"Speed", 9.0f), EIniWrongTypeValue);
    } else {
      EXPECT_EQ(IniDocumentGetFloat(document, L"Game", L"Speed", 9.0f), n.value);
    }
  }
  EXPECT_EQ(IniDocumentGetFloat(Document(L"Speed", L"1"), L"Game", L"Absent", 9.0f), 9.0f);
}

std::string Bytes(const TCountedPtr<TMemoryStream>& stream) {
  return std::string(reinterpret_cast<const char*>(stream->GetData()), stream->GetSize());
}

TEST(IniDocument, WritesItsSectionsByteForByte) {
  TIniValueDocument document;
  document.SetCurrentSection(L"s");
  IniDocumentAddText(document, L"k", L"v");
  IniDocumentAddFlag(document, L"on", true);
  IniDocumentAddFlag(document, L"off", false);
  IniDocumentAddNumber(document, L"half", 1.5f);
  IniDocumentAddNumber(document, L"tenth", 0.1f);
  IniDocumentAddNumber(document, L"big", 1234567.0f);
  document.SetCurrentSection(L"\u00E9t\u00E9");
  IniDocumentAddText(document, L"k", L"one");
  IniDocumentAddText(document, L"K", L"two");
  document.SetCurrentSection(L"S");  // the first section again
  IniDocumentAddText(document, L"late", L"");

  const TCountedPtr<TMemoryStream> stream = IniDocumentWriteToStream(document);
  const std::string expected =
      "\xEF\xBB\xBF"
      "[s]\r\n"
      "\tk = v\r\n"
      "\ton = true\r\n"
      "\toff = false\r\n"
      "\thalf = 1.5\r\n"
      "\ttenth = 0.1\r\n"
      "\tbig = 1.23457e+06\r\n"
      "\tlate = \r\n"
      "[\xC3\xA9t\xC3\xA9]\r\n"
      "\tk = one\r\n"
      "\tK = two\r\n";
  EXPECT_EQ(Bytes(stream), expected);
  EXPECT_EQ(stream->GetPosition(), stream->GetSize());

  EXPECT_EQ(Bytes(IniDocumentWriteToStream(TIniValueDocument())), "\xEF\xBB\xBF");
}

// The document in raw storage gives back its section names and its values' storage; the sanitizer
// build sees any block left behind.
TEST(IniDocument, DestroyNamedMapRecordEndsEverySectionAndTheName) {
  const TOrvString<wchar_t> first(L"first");
  const TOrvString<wchar_t> second(L"second");
  alignas(TIniValueDocument) unsigned char storage[sizeof(TIniValueDocument)];
  auto* document = ::new (static_cast<void*>(storage)) TIniValueDocument();
  document->SetCurrentSection(first);
  for (int i = 0; i < 20; ++i) IniDocumentAddText(*document, L"key", L"a value long enough for a block");
  document->SetCurrentSection(second);
  IniDocumentAddNumber(*document, L"n", 2.0f);
  EXPECT_EQ(first.GetRefCount(), 2);   // the section's key
  EXPECT_EQ(second.GetRefCount(), 3);  // the key and the current section

  DestroyNamedMapRecord(document);
  EXPECT_EQ(first.GetRefCount(), 1);
  EXPECT_EQ(second.GetRefCount(), 1);
}

}  // namespace
}  // namespace Orvan
