#include "core/startup/platform_names.h"

#include <gtest/gtest.h>

namespace Orvan {
namespace {

TEST(PlatformNamesTest, NamesOfTheThreeIdentifiersAndEmptyForOthers) {
  const struct {
    std::int32_t identifier;
    const char* platform;
    const char* configuration;
    const char* textureGroup;
    bool named;
  } cases[] = {
      {1, "PC", "Release", "TexGroup", true},     {2, "XBox 360", "Debug", "TexGroupXBox", true},
      {4, "PS3", "Final", "TexGroupPS3", true},   {0, "", "", "", false},
      {3, "", "", "", false},                     {5, "", "", "", false},
      {8, "", "", "", false},                     {-1, "", "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identifier);
    EXPECT_STREQ(GetPlatformName(c.identifier), c.platform);
    EXPECT_STREQ(GetConfigurationName(c.identifier), c.configuration);
    EXPECT_STREQ(GetTextureGroupName(c.identifier), c.textureGroup);
    EXPECT_EQ(IsNamedIdentifier(c.identifier), c.named);
  }
}

TEST(PlatformNamesTest, PerPlatformValueAndFlag) {
  const struct {
    std::int32_t platform;
    std::int32_t value;
    std::int32_t flag;
  } cases[] = {{-1, 2, 1}, {0, 2, 1}, {1, 4, 1}, {2, 2, 0}, {3, 2, 1}, {4, 2, 0}, {5, 2, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(GetPlatformValue(c.platform), c.value) << c.platform;
    EXPECT_EQ(GetPlatformFlag(c.platform), c.flag) << c.platform;
  }
}

TEST(PlatformNamesTest, FlaggedValuesSetTheTopBitsOverTheUnmaskedValue) {
  EXPECT_EQ(TFlaggedValue(5, true, false).GetWord(), 0x80000005u);
  EXPECT_EQ(TFlaggedValue(5, true, true).GetWord(), 0xC0000005u);
  EXPECT_EQ(TFlaggedValue(5, false, true).GetWord(), 0x40000005u);
  EXPECT_EQ(TFlaggedValue(0x80000001u, false, false).GetWord(), 0x80000001u);
  EXPECT_EQ(TFlaggedValue().GetWord(), 0u);
  TFlaggedValue copy = TFlaggedValue(7, false, true);
  copy = TFlaggedValue(copy);
  EXPECT_EQ(copy.GetWord(), 0x40000007u);
  EXPECT_EQ(GetEmptyFlaggedValue().GetWord(), 0u);
  EXPECT_EQ(&GetEmptyFlaggedValue(), &GetEmptyFlaggedValue());
}

}  // namespace
}  // namespace Orvan
