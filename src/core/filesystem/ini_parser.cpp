// The engine's INI parser: read, tokenise line by line, parse into a local map, hand it over.
#include "core/filesystem/ini_parser.h"

#include <cstddef>
#include <cwctype>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/diagnostics/engine_exception_kinds.h"
#include "core/memory/global_allocation.h"
#include "core/memory/stack_based_allocator.h"
#include "core/streams/stream.h"
#include "core/text/string_utilities.h"
#include "core/text/text_encoding.h"

namespace Orvan {

namespace {

using TTokenList = TVector<TIniToken>;

constexpr const wchar_t* kParsingError = L".INI parsing error";

[[noreturn]] void ThrowParsingError(std::int32_t line, const wchar_t* message) {
  throw EIniParsingException(line, TOrvString<wchar_t>(message));
}

// The stream's bytes from its position to its end, decoded, ending with the character NUL (the
// text is empty when the bytes are not UTF-8).
std::wstring ReadText(TStream& stream) {
  const std::uint32_t size = stream.GetSize();
  if (size == 0) ThrowParsingError(-1, L"Empty .INI file");
  if (DetectTextEncoding(stream) != kTextEncodingUtf8) ThrowParsingError(-1, kParsingError);
  const std::uint32_t position = stream.GetPosition();
  const std::uint32_t count = position < size ? size - position : 0;
  const std::uint64_t bytes = std::uint64_t{count} + 1;
  if (bytes > std::numeric_limits<std::uint32_t>::max()) ThrowBadAlloc();

  char stackText[kIniStackTextBytes + 1];
  TStackBasedBlock block;
  char* text = stackText;
  if (count > kIniStackTextBytes) {
    block.Reset(static_cast<std::uint32_t>(bytes));
    text = static_cast<char*>(block.data);
  }
  std::uint32_t read = 0;
  if (count > 0) {
    const std::int32_t result = stream.Read(text, count);
    if (result < 0) ThrowParsingError(-1, kParsingError);
    // A stream that delivers fewer bytes than its size gives just those.
    read = static_cast<std::uint32_t>(result) < count ? static_cast<std::uint32_t>(result) : count;
  }
  text[read] = '\0';
  return Utf8ToWide(text, read + 1);
}

void Tokenise(const std::wstring& text, TTokenList& tokens) {
  bool inWord = false;
  std::size_t wordStart = 0;
  const std::size_t length = text.size();
  for (std::size_t p = 0; p < length; ++p) {
    TIniTokenKind kind;
    switch (text[p]) {
      case L'"':
        kind = TIniTokenKind::Quote;
        break;
      case L'=':
        kind = TIniTokenKind::Equals;
        break;
      case L'[':
        kind = TIniTokenKind::OpenBracket;
        break;
      case L']':
        kind = TIniTokenKind::CloseBracket;
        break;
      case L';':
        kind = TIniTokenKind::Semicolon;
        break;
      case L'\n':
      case L'\0':
        kind = TIniTokenKind::EndOfLine;
        break;
      case L'\r':
        // Neither opens nor closes a word; inside one it stays in the word's text.
        continue;
      default:
        if (!inWord) {
          inWord = true;
          wordStart = p;
        }
        continue;
    }
    if (inWord) {
      tokens.PushBack(TIniToken{TIniTokenKind::Word, TOrvString<wchar_t>(text.data() + wordStart,
                                                                         static_cast<std::uint32_t>(p - wordStart))});
      inWord = false;
    }
    tokens.PushBack(TIniToken{kind, TOrvString<wchar_t>()});
  }
}

bool IsBlank(const TOrvString<wchar_t>& text) {
  const wchar_t* data = text.c_str();
  for (std::uint32_t i = 0, length = text.GetLength(); i < length; ++i) {
    if (!std::iswspace(static_cast<wint_t>(data[i]))) return false;
  }
  return true;
}

bool IsValidName(const TOrvString<wchar_t>& name) { return IsValidIdentifier(name.c_str()); }

// The value of a key line from tokens [first, end): quotes kept, the text after an unquoted ';'
// dropped.
TOrvString<wchar_t> BuildValue(const TTokenList& tokens, std::uint32_t first, std::uint32_t end, std::int32_t line) {
  std::wstring value;
  bool inQuotes = false;
  for (std::uint32_t j = first; j < end; ++j) {
    const TIniToken& token = tokens[j];
    switch (token.kind) {
      case TIniTokenKind::Word:
        value.append(token.text.c_str(), token.text.GetLength());
        break;
      case TIniTokenKind::Quote:
        value += L'"';
        if (!inQuotes) {
          inQuotes = true;
        } else if (j + 1 == end) {
          return TOrvString<wchar_t>(value).Trim();
        } else if (tokens[j + 1].kind == TIniTokenKind::Semicolon) {
          inQuotes = false;
        } else {
          ThrowParsingError(line, kParsingError);
        }
        break;
      case TIniTokenKind::Equals:
      case TIniTokenKind::OpenBracket:
      case TIniTokenKind::CloseBracket:
        if (!inQuotes) ThrowParsingError(line, kParsingError);
        value += token.kind == TIniTokenKind::Equals ? L'=' : token.kind == TIniTokenKind::OpenBracket ? L'[' : L']';
        break;
      case TIniTokenKind::Semicolon:
        if (!inQuotes) return TOrvString<wchar_t>(value).Trim();
        value += L';';
        break;
      case TIniTokenKind::EndOfLine:
        break;
    }
  }
  if (inQuotes) ThrowParsingError(line, L"Mismatched quotes");
  return TOrvString<wchar_t>(value).Trim();
}

void Parse(const TTokenList& tokens, TIniSectionMap& result) {
  const std::uint32_t count = tokens.GetSize();
  // Text that is not UTF-8 decodes to nothing: there is no line to end.
  if (count == 0 || tokens.Back().kind != TIniTokenKind::EndOfLine) ThrowParsingError(-1, kParsingError);
  std::uint32_t i = 0;
  std::int32_t line = 0;
  TOrvString<wchar_t> section;
  for (; i < count; ++line) {
    if (tokens[i].kind == TIniTokenKind::EndOfLine) {
      ++i;
      continue;
    }
    std::uint32_t e = i + 1;
    while (tokens[e].kind != TIniTokenKind::EndOfLine) ++e;
    while (i < e && tokens[i].kind == TIniTokenKind::Word && IsBlank(tokens[i].text)) ++i;
    if (i == e || tokens[i].kind == TIniTokenKind::Semicolon) {
      i = e + 1;
      continue;
    }
    const std::uint32_t m = e - i;
    const TIniToken& first = tokens[i];
    if (first.kind == TIniTokenKind::OpenBracket) {
      if (m < 3 || tokens[i + 1].kind != TIniTokenKind::Word || tokens[i + 2].kind != TIniTokenKind::CloseBracket) {
        ThrowParsingError(line, kParsingError);
      }
      const TOrvString<wchar_t> name = tokens[i + 1].text.Trim();
      if (!IsValidName(name)) ThrowParsingError(line, L"Invalid section name");
      section = name;
      i = e + 1;
      continue;
    }
    if (first.kind != TIniTokenKind::Word || m < 3 || tokens[i + 1].kind != TIniTokenKind::Equals ||
        tokens[i + 2].kind != TIniTokenKind::Word || section.IsEmpty()) {
      ThrowParsingError(line, kParsingError);
    }
    const TOrvString<wchar_t> key = first.text.Trim();
    const TOrvString<wchar_t> value = BuildValue(tokens, i + 2, e, line);
    if (!IsValidName(key)) ThrowParsingError(line, L"Invalid key name");

    TIniSectionMap::TEntryType* entry;
    if (result.FindOrInsert(section, &entry)) {
      ::new (static_cast<void*>(entry)) TIniSectionMap::TEntryType{section, TIniKeyMap()};
    }
    TIniKeyMap& keys = entry->value;
    if (keys.Find(key) != nullptr) {
      const TOrvString<wchar_t> message =
          TOrvString<wchar_t>(L".INI parsing error duplicate key ") + key + L" in section" + section + L"\n";
      throw EIniParsingException(line, message);
    }
    ::new (static_cast<void*>(keys.AppendEntry(key))) TIniKeyMap::TEntryType{key, value};
    i = e + 1;
  }
}

}  // namespace

void ParseIniStream(TIniSectionMap& destination, TStream& stream) {
  TIniSectionMap result;
  {
    TTokenList tokens;
    Tokenise(ReadText(stream), tokens);
    Parse(tokens, result);
  }
  // Handed over by moves, which cannot fail: the old entries die with `previous`.
  TIniSectionMap previous(std::move(destination));
  destination = std::move(result);
}

}  // namespace Orvan
