// The names of the engine's target platforms, build configurations and per-platform texture
// groups, two small per-platform tables, and a 32-bit value word that carries two flags in its top
// bits.
#pragma once

#include <cstdint>

namespace Orvan {

// Platform and configuration identifiers: one bit each.
inline constexpr std::int32_t kPlatformPc = 1;
inline constexpr std::int32_t kPlatformXBox360 = 2;
inline constexpr std::int32_t kPlatformPs3 = 4;
inline constexpr std::int32_t kConfigurationRelease = 1;
inline constexpr std::int32_t kConfigurationDebug = 2;
inline constexpr std::int32_t kConfigurationFinal = 4;

// "PC", "XBox 360", "PS3"; "" for any other identifier.
const char* GetPlatformName(std::int32_t platform);
// "Release", "Debug", "Final"; "" for any other identifier.
const char* GetConfigurationName(std::int32_t configuration);
// "TexGroup", "TexGroupXBox", "TexGroupPS3"; "" for any other identifier.
const char* GetTextureGroupName(std::int32_t platform);
// True for 1, 2 and 4: platforms and configurations alike.
bool IsNamedIdentifier(std::int32_t identifier);

// 4 for platform 1, 2 for every other.
std::int32_t GetPlatformValue(std::int32_t platform);
// 0 for platforms 2 and 4, 1 for every other.
std::int32_t GetPlatformFlag(std::int32_t platform);

// A value word with a first flag in bit 31 and a second in bit 30; the value is stored unmasked.
class TFlaggedValue {
 public:
  static constexpr std::uint32_t kFirstFlag = 0x80000000u;
  static constexpr std::uint32_t kSecondFlag = 0x40000000u;

  constexpr TFlaggedValue() = default;
  constexpr TFlaggedValue(std::uint32_t value, bool first, bool second)
      : word_(value | (first ? kFirstFlag : 0u) | (second ? kSecondFlag : 0u)) {}

  constexpr std::uint32_t GetWord() const { return word_; }
  friend constexpr bool operator==(TFlaggedValue a, TFlaggedValue b) = default;

 private:
  std::uint32_t word_ = 0;
};

// The process-wide constant 0.
const TFlaggedValue& GetEmptyFlaggedValue();

}  // namespace Orvan
