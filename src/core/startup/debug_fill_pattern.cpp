// The debug fill pattern: its choice, the fill and the check.
#include "core/startup/debug_fill_pattern.h"

#include <cstddef>
#include <cstring>

#include "core/time/time_stamp.h"

namespace Orvan {

namespace {

struct TDebugFillPattern {
  std::uint32_t word;
  std::uint32_t index;
};

constinit TDebugFillPattern g_pattern = {kDebugFillPatterns[0], 0};

void UsePattern(std::uint32_t index) { g_pattern = {kDebugFillPatterns[index], index}; }

bool IsWordAligned(const unsigned char* address) { return (reinterpret_cast<std::uintptr_t>(address) & 3) == 0; }

unsigned char PatternByteAt(const unsigned char* address, const unsigned char (&bytes)[4]) {
  return bytes[reinterpret_cast<std::uintptr_t>(address) & 3];
}

}  // namespace

std::uint32_t GetDebugFillPattern() { return g_pattern.word; }
std::uint32_t GetDebugFillPatternIndex() { return g_pattern.index; }

void ChooseDebugFillPattern() {
  TTimeStamp now;
  GetTimeStamp(now);
  UsePattern(static_cast<std::uint32_t>(now % kDebugFillPatternCount));
}

void SetDebugFillPatternForTests(std::uint32_t index) { UsePattern(index % kDebugFillPatternCount); }

// Three pieces: the bytes before the first aligned address, whole words, and the bytes after them.
void FillWithDebugPattern(void* start, std::uint32_t size) {
  if (start == nullptr) return;
  const std::uint32_t word = g_pattern.word;
  unsigned char bytes[4];
  std::memcpy(bytes, &word, sizeof word);
  auto* at = static_cast<unsigned char*>(start);
  unsigned char* const end = at + size;
  for (; at < end && !IsWordAligned(at); ++at) *at = PatternByteAt(at, bytes);
  for (; end - at >= 4; at += 4) std::memcpy(at, &word, sizeof word);
  for (; at < end; ++at) *at = PatternByteAt(at, bytes);
}

bool IsFilledWithDebugPattern(const void* start, std::uint32_t size) {
  if (start == nullptr) return true;
  const std::uint32_t word = g_pattern.word;
  unsigned char bytes[4];
  std::memcpy(bytes, &word, sizeof word);
  const auto* at = static_cast<const unsigned char*>(start);
  const unsigned char* const end = at + size;
  for (; at < end && !IsWordAligned(at); ++at) {
    if (*at != PatternByteAt(at, bytes)) return false;
  }
  for (; end - at >= 4; at += 4) {
    std::uint32_t held;
    std::memcpy(&held, at, sizeof held);
    if (held != word) return false;
  }
  for (; at < end; ++at) {
    if (*at != PatternByteAt(at, bytes)) return false;
  }
  return true;
}

}  // namespace Orvan
