// Build stamps: the placeholder fields and their parsing, each done once.
#include "core/startup/build_stamps.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace Orvan {

namespace {

#define ORV_SIXTEEN_SPACES "                "

// The placeholders as built. A release step finds each by its "####...####" marker and writes the
// value over the field in place, so the field sizes are fixed here (30, 50, 27 and 147 bytes with
// the NUL) and every parse stays within them. `used` keeps them in the program even though only
// the opaque reads below touch them.
[[gnu::used]] const char kRevisionField[] = "0000000000####SVNREVISION####";
[[gnu::used]] const char kBranchField[] = "                           Local####SVNBRANCH####";
[[gnu::used]] const char kRegionField[] = "00000000####REGIONINFO####";
[[gnu::used]] const char kAdditionalInfoField[] = ORV_SIXTEEN_SPACES ORV_SIXTEEN_SPACES ORV_SIXTEEN_SPACES
    ORV_SIXTEEN_SPACES ORV_SIXTEEN_SPACES ORV_SIXTEEN_SPACES ORV_SIXTEEN_SPACES ORV_SIXTEEN_SPACES "####VERADDINFO####";

#undef ORV_SIXTEEN_SPACES

static_assert(sizeof kRevisionField == 30 && sizeof kBranchField == 50 && sizeof kRegionField == 27 &&
              sizeof kAdditionalInfoField == 147);

constexpr std::uint32_t kVersionMajor = 15;
constexpr std::uint32_t kVersionMinor = 1;
constexpr std::uint32_t kVersionBuild = 12;
constexpr std::uint32_t kBetaZeroCode = 0x2088;
constexpr std::uint32_t kBetaOneCode = 0x4084;
const char kMalformedBranch[] = "Malformed branch name!";
const char kBetaMarker[] = "BETA_";

// The field's address hidden from the optimiser: the bytes are whatever the file holds at run
// time, so no parse may be folded from the text as built.
template <std::size_t N>
const char* Opaque(const char (&field)[N]) {
  const char* address = field;
  asm volatile("" : "+r"(address));
  return address;
}

// The field's bytes up to its size, always NUL-terminated: a release step that overwrote the NUL
// does not make a parse run past the field.
template <std::size_t N>
struct TFieldText {
  char text[N];
};

template <std::size_t N>
TFieldText<N> ReadField(const char (&field)[N]) {
  TFieldText<N> copy;
  std::memcpy(copy.text, Opaque(field), N - 1);
  copy.text[N - 1] = '\0';
  return copy;
}

// Skips the leading spaces, then copies up to the first '#' or NUL.
template <std::size_t N>
TFieldText<N> ReadTextStamp(const char (&field)[N]) {
  const TFieldText<N> raw = ReadField(field);
  TFieldText<N> stamp;
  std::size_t from = 0;
  while (raw.text[from] == ' ') ++from;
  std::size_t length = 0;
  while (raw.text[from + length] != '#' && raw.text[from + length] != '\0') {
    stamp.text[length] = raw.text[from + length];
    ++length;
  }
  stamp.text[length] = '\0';
  return stamp;
}

// As a 32-bit strtoul reads the text: a sign is applied modulo 2^32, a magnitude past 32 bits is
// 0xFFFFFFFF.
std::uint32_t ParseUnsigned32(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  if (*text < '0' || *text > '9') return 0;
  errno = 0;
  const unsigned long long magnitude = std::strtoull(text, nullptr, 10);
  if (errno == ERANGE || magnitude > std::numeric_limits<std::uint32_t>::max()) {
    return std::numeric_limits<std::uint32_t>::max();
  }
  const auto value = static_cast<std::uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

// As a 32-bit strtol reads the text: clamped to the i32 range.
std::int32_t ClampToInt32(long long value) {
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::int32_t ParseSigned32(const char* text) { return ClampToInt32(std::strtoll(text, nullptr, 10)); }

}  // namespace

std::uint32_t GetBuildRevision() {
  static const std::uint32_t revision = ParseUnsigned32(ReadField(kRevisionField).text);
  return revision;
}

const std::uint32_t* GetBuildVersion() {
  static const std::uint32_t version[4] = {kVersionMajor, kVersionMinor, kVersionBuild, GetBuildRevision()};
  return version;
}

const char* GetBuildBranch() {
  static const TFieldText<sizeof kBranchField> branch = ReadTextStamp(kBranchField);
  return branch.text[0] != '\0' ? branch.text : kMalformedBranch;
}

std::int32_t GetRegionInfo() {
  static const std::int32_t region = ParseSigned32(ReadField(kRegionField).text);
  return region;
}

bool IsRegionInfo257() { return GetRegionInfo() == 257; }

const char* GetAdditionalVersionInfo() {
  static const TFieldText<sizeof kAdditionalInfoField> info = ReadTextStamp(kAdditionalInfoField);
  return info.text;
}

std::int32_t GetBetaNumber() {
  static const std::int32_t beta = [] {
    const char* marker = std::strstr(GetAdditionalVersionInfo(), kBetaMarker);
    if (marker == nullptr) return -1;
    const char* number = marker + (sizeof kBetaMarker - 1);
    if (*number == '\0') return -1;
    // strtol is 64 bits wide here: clamp as the 32-bit one did.
    return ClampToInt32(std::strtol(number, nullptr, 10));
  }();
  return beta;
}

std::uint32_t GetBetaCode() {
  switch (GetBetaNumber()) {
    case 0:
      return kBetaZeroCode;
    case 1:
      return kBetaOneCode;
    default:
      return 0;
  }
}

bool IsBetaZero() { return GetBetaNumber() == 0; }
bool IsBetaOne() { return GetBetaNumber() == 1; }

}  // namespace Orvan
