// Regular expressions over PCRE: compiling and sharing patterns, matching, captures, replacing.
#include "core/text/regex.h"

#include <pcre.h>

#include <cstring>
#include <limits>

#include "core/memory/global_allocation.h"
#include "core/text/string_streamable.h"

namespace Orvan {

namespace {

void* AllocateForRegex(std::size_t size) { return AllocateMemoryNoThrow(kDomainEngine, size); }
void FreeForRegex(void* block) { FreeMemory(kDomainEngine, block); }

}  // namespace

void InstallRegexAllocationHooks() noexcept {
  pcre_malloc = &AllocateForRegex;
  pcre_free = &FreeForRegex;
}

TRegex::TRegex(const TRegex& other) noexcept : pattern_(other.pattern_) {
  if (pattern_ != nullptr) pcre_refcount(pattern_, 1);
}

TRegex& TRegex::operator=(const TRegex& other) noexcept {
  if (this == &other) return *this;
  Release();
  pattern_ = other.pattern_;
  if (pattern_ != nullptr) pcre_refcount(pattern_, 1);
  return *this;
}

void TRegex::Release() noexcept {
  if (pattern_ == nullptr) return;
  if (pcre_refcount(pattern_, -1) == 0) pcre_free(pattern_);
  pattern_ = nullptr;
}

std::int32_t TRegex::Compile(const char* pattern, std::int32_t options) {
  Release();
  if (pattern != nullptr) {
    const char* error = nullptr;
    int errorOffset = 0;
    pattern_ = pcre_compile(pattern, options, &error, &errorOffset, nullptr);
  }
  return pcre_refcount(pattern_, 1);
}

std::int32_t TRegex::Compile(const char* pattern, ERegexCase mode) {
  return Compile(pattern, mode == kRegexIgnoreCase ? PCRE_CASELESS : 0);
}

int TRegex::Execute(const char* subject, std::uint32_t length, int* offsets) const {
  // PCRE takes an int length: a longer subject is no match rather than a wrapped length.
  if (subject == nullptr || length > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
    return PCRE_ERROR_NOMATCH;
  }
  const int result = pcre_exec(pattern_, nullptr, subject, static_cast<int>(length), 0, 0, offsets, kOffsetCount);
  return result == 0 ? kOffsetCount / 3 : result;
}

bool TRegex::Matches(const char* text) const {
  if (text == nullptr) return false;
  int offsets[kOffsetCount];
  return Execute(text, static_cast<std::uint32_t>(std::strlen(text)), offsets) > 0;
}

bool TRegex::Match(const char* text, TVector<TRegexCapture>& captures) const {
  if (text == nullptr) return false;
  int offsets[kOffsetCount];
  const int pairs = Execute(text, static_cast<std::uint32_t>(std::strlen(text)), offsets);
  if (pairs <= 0) return false;
  for (int group = 1; group < pairs; ++group) {
    const int start = offsets[2 * group];
    TRegexCapture capture;
    if (start != -1) {
      capture.matched = 1;
      capture.text = TOrvString<char>(text + start, static_cast<std::uint32_t>(offsets[2 * group + 1] - start));
    }
    captures.PushBack(std::move(capture));
  }
  return true;
}

void TRegex::ReplaceAll(TOrvString<char>& text, const char* replacement) const {
  if (replacement == nullptr) replacement = "";
  const char* rest = text.GetData();
  std::uint32_t restLength = text.GetLength();
  basic_ostringstream<char> built;
  std::uint32_t matches = 0;
  int offsets[kOffsetCount];
  while (Execute(rest, restLength, offsets) > 0) {
    const std::uint32_t start = static_cast<std::uint32_t>(offsets[0]);
    const std::uint32_t end = static_cast<std::uint32_t>(offsets[1]);
    ++matches;
    built.write(rest, start);
    built << replacement;
    if (end == start) {
      // An empty match would be found again at the same place: keep the next character and search
      // after it; at the end of the rest there is nothing left to search.
      if (end == restLength) {
        rest += end;
        restLength = 0;
        break;
      }
      built.put(rest[end]);
      rest += end + 1;
      restLength -= end + 1;
    } else {
      rest += end;
      restLength -= end;
    }
  }
  if (matches == 0) return;
  built.write(rest, restLength);
  text = TOrvString<char>(built.str());
}

}  // namespace Orvan
