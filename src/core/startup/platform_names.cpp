// Platform, configuration and texture-group names, the per-platform tables and the empty flag word.
#include "core/startup/platform_names.h"

namespace Orvan {

namespace {

constexpr TFlaggedValue kEmptyFlaggedValue;

// The name of identifier 1, 2 or 4 from its row; "" otherwise.
const char* NameOf(std::int32_t identifier, const char* one, const char* two, const char* four) {
  switch (identifier) {
    case 1:
      return one;
    case 2:
      return two;
    case 4:
      return four;
    default:
      return "";
  }
}

}  // namespace

const char* GetPlatformName(std::int32_t platform) { return NameOf(platform, "PC", "XBox 360", "PS3"); }

const char* GetConfigurationName(std::int32_t configuration) {
  return NameOf(configuration, "Release", "Debug", "Final");
}

const char* GetTextureGroupName(std::int32_t platform) {
  return NameOf(platform, "TexGroup", "TexGroupXBox", "TexGroupPS3");
}

bool IsNamedIdentifier(std::int32_t identifier) { return identifier == 1 || identifier == 2 || identifier == 4; }

std::int32_t GetPlatformValue(std::int32_t platform) {
  static constexpr std::int32_t kValues[] = {4, 2, 2, 2};  // platforms 1 to 4
  return platform >= 1 && platform <= 4 ? kValues[platform - 1] : 2;
}

std::int32_t GetPlatformFlag(std::int32_t platform) {
  static constexpr std::int32_t kFlags[] = {0, 1, 0};  // platforms 2 to 4
  return platform >= 2 && platform <= 4 ? kFlags[platform - 2] : 1;
}

const TFlaggedValue& GetEmptyFlaggedValue() { return kEmptyFlaggedValue; }

}  // namespace Orvan
