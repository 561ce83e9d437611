// Build stamps: placeholder texts in the program's read-only data that a release step overwrites in
// the finished executable (revision, branch, region, additional version text), so build
// information is not compiled in. Each is parsed once, on first request; every getter may be
// called from any thread.
#pragma once

#include <cstdint>

namespace Orvan {

// The revision: the unsigned decimal number at the start of its field (0 as built).
std::uint32_t GetBuildRevision();
// Four words: 15, 1, 12, then the revision.
const std::uint32_t* GetBuildVersion();

// The branch name: the field's text after its leading spaces, up to the first '#' ("Local" as
// built); "Malformed branch name!" when no character comes before the '#' (or the end).
const char* GetBuildBranch();

// The region: the signed decimal number at the start of its field (0 as built).
std::int32_t GetRegionInfo();
bool IsRegionInfo257();

// The additional version text: after its leading spaces, up to the first '#' (empty as built).
const char* GetAdditionalVersionInfo();
// The number after the first "BETA_" of the additional text (0 when no digits follow it), clamped
// to 32 bits; -1 without a "BETA_" or when the text ends right after it.
std::int32_t GetBetaNumber();
// 0x2088 for beta 0, 0x4084 for beta 1, else 0.
std::uint32_t GetBetaCode();
bool IsBetaZero();
bool IsBetaOne();

}  // namespace Orvan
