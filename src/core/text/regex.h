// TRegex, a small value class over PCRE: a pattern compiled once and shared between copies by PCRE's
// own reference count, with a match test, the capturing groups of a match, and replacing every
// match in an engine string by a fixed text. Compiled patterns live on the engine's heaps.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"

struct real_pcre;

namespace Orvan {

// One capturing group of a match: matched is 1 when the group took part in it, and only then does
// `text` hold the group's text.
struct TRegexCapture {
  std::uint8_t matched = 0;
  TOrvString<char> text;
};

template <>
struct TMovesBitwise<TRegexCapture> : std::true_type {};

// Only kRegexIgnoreCase is tested for: any other value matches case.
enum ERegexCase : std::int32_t { kRegexMatchCase = 0, kRegexIgnoreCase = 1 };

class TRegex {
 public:
  // Offset words handed to every match: 10 {start, end} pairs (the whole match and groups 1 to 9)
  // and PCRE's work space.
  static constexpr int kOffsetCount = 30;

  TRegex() noexcept = default;
  // Compiles `pattern` with PCRE options (PCRE_CASELESS is 1); see Compile.
  TRegex(const char* pattern, std::int32_t options) { Compile(pattern, options); }
  // The same with options 1 (PCRE_CASELESS) for kRegexIgnoreCase, else 0.
  TRegex(const char* pattern, ERegexCase mode) { Compile(pattern, mode); }
  TRegex(const TRegex& other) noexcept;
  TRegex& operator=(const TRegex& other) noexcept;
  ~TRegex() { Release(); }

  // Lets go of the current pattern, compiles the new one (a null pattern fails to compile) and
  // holds it. Returns PCRE's reference count of it: 1 for a fresh pattern, -2 (PCRE_ERROR_NULL)
  // when compiling failed and the expression holds no pattern. The compiler's error text is not
  // kept.
  std::int32_t Compile(const char* pattern, std::int32_t options);
  std::int32_t Compile(const char* pattern, ERegexCase mode);

  // Drops this holder's reference; the last holder frees the compiled pattern.
  void Release() noexcept;

  bool HasPattern() const noexcept { return pattern_ != nullptr; }
  real_pcre* GetPattern() const noexcept { return pattern_; }

  // Whether the pattern matches somewhere in the text. Every PCRE failure (no match, no pattern,
  // a null text) is no match.
  bool Matches(const char* text) const;

  // As Matches; on a match, appends one capture per group up to the last group that took part
  // (groups 1 to 9 at most), and nothing when the pattern has no groups. The list is only
  // appended to.
  bool Match(const char* text, TVector<TRegexCapture>& captures) const;

  // Replaces every match by `replacement` (copied as it is: no group references). Each search
  // starts after the previous match as a subject of its own, so "^" matches at the start of every
  // rest. After an empty match the next character is kept and the search goes on after it; an empty
  // match at the end of the rest is the last. Without any match the string keeps its content
  // block. A null replacement reads as the empty text.
  void ReplaceAll(TOrvString<char>& text, const char* replacement) const;

 private:
  // pcre_exec over [subject, subject + length) into `offsets`; a match with more groups than the
  // offsets hold counts as all 10 pairs filled. Below 1: no match.
  int Execute(const char* subject, std::uint32_t length, int* offsets) const;

  real_pcre* pattern_ = nullptr;
};

// Points PCRE's allocation hooks at the engine's allocation and free in memory domain 0. The
// engine's static initialisers call it before main; safe to repeat.
void InstallRegexAllocationHooks() noexcept;

}  // namespace Orvan
