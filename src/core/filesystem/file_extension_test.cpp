// File extensions: registration, texts, "*" matching and the extension operations of file names.
#include "core/filesystem/file_extension.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "core/filesystem/file_name.h"
#include "support/failing_allocation.h"
#include "support/file_name_registries.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

using FileExtension = OrvTest::TFreshFileNameRegistries;

TFileExtension Register(const char* text) { return TFileExtension::Register(TOrvString<char>(text)); }
std::string AsText(const TFileName& name) { return name.ToString().c_str(); }
std::uint32_t RegisteredCount() { return TFileExtensionRegistry::GetTexts()->GetSize(); }

TEST_F(FileExtension, RegistrationIgnoresOneDotAndLetterCase) {
  const TFileExtension dds = Register("DDS");
  EXPECT_EQ(dds.GetId(), 0u);
  EXPECT_EQ(Register(".dds"), dds);
  EXPECT_EQ(Register(".DDS"), dds);
  EXPECT_EQ(dds.GetName(), "DDS");
  EXPECT_EQ(dds.ToString(), ".DDS");
  EXPECT_TRUE(dds.EqualsNoCase("dDs"));
  EXPECT_FALSE(dds.EqualsNoCase("dd"));

  for (const char* none : {"", "."}) {
    EXPECT_TRUE(Register(none).IsNone()) << '"' << none << '"';
    EXPECT_TRUE(Register(none).IsNone()) << '"' << none << '"';
  }
  EXPECT_EQ(RegisteredCount(), 1u);
  // ".." registers the extension whose text is one dot.
  const TFileExtension dot = Register("..");
  EXPECT_EQ(dot.GetId(), 1u);
  EXPECT_EQ(dot.GetName(), ".");
  EXPECT_EQ(Register("tga").GetId(), 2u);
  const TOrvString<char> text("x.tga");
  EXPECT_EQ(TFileExtension::Register(TOrvSubString<char>(&text, 1, 5)).GetId(), 2u);
  EXPECT_EQ(GetExtensionOfText(TOrvString<char>("a.b/c.TGA")).GetId(), 2u);
  EXPECT_EQ(GetExtensionOfText(TOrvString<char>("a.b/")).GetName(), "b/");

  const TFileExtension none;
  EXPECT_TRUE(none.IsNone());
  EXPECT_TRUE(none.ToString().IsEmpty());
  EXPECT_TRUE(none.GetName().IsEmpty());
  EXPECT_TRUE(none.EqualsNoCase(""));
  EXPECT_FALSE(none.EqualsNoCase("dds"));
}

TEST_F(FileExtension, TextsAreCutAtTheBufferSize) {
  const TFileExtension extension = Register("jpeg");
  const struct {
    std::uint32_t size;
    const char* withDot;
    const char* withoutDot;
  } cases[] = {{1, "", ""}, {2, ".", "j"}, {4, ".jp", "jpe"}, {5, ".jpe", "jpeg"}, {6, ".jpeg", "jpeg"}, {9, ".jpeg", "jpeg"}};
  for (const auto& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(extension.GetText(buffer, c.size), std::strlen(c.withDot)) << c.size;
    EXPECT_STREQ(buffer, c.withDot) << c.size;
    EXPECT_EQ(buffer[std::strlen(c.withDot) + 1], '#') << c.size;
    EXPECT_EQ(extension.GetTextWithoutDot(buffer, c.size), std::strlen(c.withoutDot)) << c.size;
    EXPECT_STREQ(buffer, c.withoutDot) << c.size;
  }
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(extension.GetText(buffer, 0), 0u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(TFileExtension().GetTextWithoutDot(buffer, 4), 0u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(TFileExtension().GetText(buffer, 4), 0u);
  EXPECT_STREQ(buffer, "");
  // Extension texts have no length limit.
  const std::string longText(300, 'e');
  EXPECT_EQ(Register(longText.c_str()).ToString(), ("." + longText).c_str());
}

TEST_F(FileExtension, MatchesItselfAndTheStar) {
  const TFileExtension dds = Register("dds");
  const TFileExtension tga = Register("tga");
  const TFileExtension star = Register("*");
  const TFileExtension none;
  const struct {
    TFileExtension value;
    TFileExtension pattern;
    bool matches;
  } cases[] = {{dds, dds, true}, {dds, tga, false}, {dds, star, true}, {none, star, true},
               {none, none, true}, {none, dds, false}, {star, dds, false}, {tga, none, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(TFileExtension::Matches(c.value, c.pattern), c.matches) << c.value.GetId() << " " << c.pattern.GetId();
  }
}

TEST(FileExtensionThreaded, EightFirstMatchesRegisterTheStarOnce) {
  OrvTest::RecreateFileNameRegistries();
  const TFileExtension dds = Register("dds");
  std::atomic<int> wrong{0};
  OrvTest::RunOnThreadsTogether(8, [&](int index) {
    const TFileExtension star = index % 2 == 0 ? Register("*") : Register(".*");
    if (!TFileExtension::Matches(dds, star)) wrong.fetch_add(1);
    if (TFileExtension::Matches(dds, Register("tga"))) wrong.fetch_add(1);
  });
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(RegisteredCount(), 3u);
  OrvTest::RestoreStartupFileNameRegistries();
}

TEST_F(FileExtension, AFailedStarRegistrationLetsTheNextCallerTryAgain) {
  const TFileExtension a = TFileExtension::FromId(7);
  const TFileExtension b = TFileExtension::FromId(8);
  bool threw = false;
  {
    // The empty registry must grow its list and map for "*".
    OrvTest::TFailingAllocationScope failing(0);
    try {
      TFileExtension::Matches(a, b);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(RegisteredCount(), 0u);
  EXPECT_FALSE(TFileExtension::Matches(a, b));
  EXPECT_EQ(RegisteredCount(), 1u);
  EXPECT_TRUE(TFileExtension::Matches(a, Register("*")));
}

TEST_F(FileExtension, ExtensionsOfFileNames) {
  const struct {
    const char* name;
    bool hasExtension;
    const char* stem;
    const char* extension;  // "" for none
  } cases[] = {
      {"d/a.tar.gz", true, "a.tar", "gz"}, {"a.", true, "a", ""},     {"readme", false, "readme", ""},
      {"d/.hidden", true, "", "hidden"},  {"a.b.c", true, "a.b", "c"}, {"x/CONFIG.INI", true, "CONFIG", "INI"},
  };
  for (const auto& c : cases) {
    const TFileName name(c.name);
    EXPECT_EQ(name.HasExtension(), c.hasExtension) << c.name;
    EXPECT_EQ(std::string(name.GetNameWithoutExtension().c_str()), c.stem) << c.name;
    const TFileExtension extension = name.GetExtension();
    EXPECT_EQ(std::string(extension.GetName().c_str()), c.extension) << c.name;
    EXPECT_EQ(extension.IsNone(), *c.extension == '\0') << c.name;
    TOrvString<char> stem;
    TFileExtension split;
    name.SplitNameAndExtension(stem, split);
    EXPECT_EQ(std::string(stem.c_str()), c.stem) << c.name;
    EXPECT_EQ(split, extension) << c.name;
  }
  EXPECT_TRUE(TFileName("x/CONFIG.INI").HasExtension(Register("ini")));
  EXPECT_FALSE(TFileName("x/CONFIG.INI").HasExtension(Register("in")));
  EXPECT_TRUE(TFileName("x/readme").HasExtension(TFileExtension()));
  EXPECT_FALSE(TFileName().HasExtension(TFileExtension()));
}

TEST_F(FileExtension, AddChangeAndReplace) {
  const TFileExtension dds = Register("dds");
  const TFileExtension none;
  const struct {
    const char* name;
    TFileExtension extension;
    const char* added;
    const char* changed;
  } cases[] = {
      {"M:a/b.tga", dds, "M:/a/b.tga.dds", "M:/a/b.dds"},
      {"a/b.dds", dds, "a/b.dds.dds", "a/b.dds"},
      {"a/b", dds, "a/b.dds", "a/b.dds"},
      {"a/.hidden", dds, "a/.hidden.dds", "a/.dds"},
      {"a/b.tga", none, "a/b.tga", "a/b"},
      {"", dds, ".dds", ""},
  };
  for (const auto& c : cases) {
    const TFileName name(c.name);
    EXPECT_EQ(AsText(TFileName::AddExtension(name, c.extension)), c.added) << c.name;
    EXPECT_EQ(AsText(TFileName::ChangeExtension(name, c.extension)), c.changed) << c.name;
  }
  const struct {
    const char* name;
    const char* newName;
    const char* replaced;
  } replacements[] = {{"M:a/b.tga", "c", "M:/a/c.tga"}, {"a/b", "c", "a/c"}, {"b.x", "c.y", "c.y.x"}};
  for (const auto& r : replacements) {
    EXPECT_EQ(AsText(TFileName::ReplaceName(TFileName(r.name), TOrvString<char>(r.newName))), r.replaced) << r.name;
  }
}

}  // namespace
}  // namespace Orvan
