// The engine's INI parser: the whole UTF-8 text of a stream into sections of keys and values,
// section names and keys compared without regard to letter case. Lines end at a line feed (a
// carriage return is ignored); ';' starts a comment; a pair of double quotes lets '=', '[', ']' and
// ';' stand in a value. Syntax errors throw EIniParsingException with the 0-based line, -1 when
// the error concerns the text as a whole.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"

namespace Orvan {

class TStream;

// A text of up to this many bytes is read into a buffer on the calling thread's stack; a longer
// one into a block of the thread's stack-based allocator.
inline constexpr std::uint32_t kIniStackTextBytes = 16400;

enum class TIniTokenKind : std::uint32_t {
  Word = 0,
  Quote = 1,         // '"'
  Equals = 2,        // '='
  OpenBracket = 3,   // '['
  CloseBracket = 4,  // ']'
  Semicolon = 5,     // ';'
  EndOfLine = 6,     // a line feed, or the character NUL
};

// Only words have a text.
struct TIniToken {
  TIniTokenKind kind;
  TOrvString<wchar_t> text;
};

// Parses the stream's whole text from its start (after a UTF-8 byte-order mark) and, on success,
// replaces the destination's content with the result. EIniParsingException on a syntax error, on
// an empty stream, a UTF-16 or UTF-32 text, text that is not UTF-8 and a failed read;
// std::bad_alloc on exhaustion. On failure the destination is unchanged.
void ParseIniStream(TIniSectionMap& destination, TStream& stream);

}  // namespace Orvan
