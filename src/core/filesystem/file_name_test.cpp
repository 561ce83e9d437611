// File names: parsing, combining, texts and order.
#include "core/filesystem/file_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/diagnostics/assertion.h"
#include "core/diagnostics/engine_exception_kinds.h"
#include "core/tokens/token_tables.h"
#include "support/debug_output_recorder.h"
#include "support/dialog_recorder.h"
#include "support/file_name_registries.h"
#include "support/fresh_token_tables.h"

namespace Orvan {
namespace {

// Fresh token tables as well as fresh registries: a mounting point keeps the letter case it was
// first interned with, and the cases below expect the case they spell first. The named mounting
// points keep the ids of the tables found before (they are not for these tests); those tables come
// back afterwards, every text at its id, with fresh start-up registries.
class FileName : public ::testing::Test {
 protected:
  void SetUp() override { Recreate(); }
  void TearDown() override {
    Recreate();
    found_.Restore();
    TWellKnownNames::Create();
  }

 private:
  // Taken when the test is constructed, before SetUp.
  const OrvTest::TTokenTablesSnapshot found_;

  // Shutdown order, then start-up order, as the engine core does it.
  static void Recreate() {
    TWellKnownNames::Destroy();
    DestroyFileExtensionRegistry();
    TFileNameRegistry::Destroy();
    DestroyAllInternedTokenTables();
    InitInternedTokenTables();
    TFileNameRegistry::Create();
    TFileExtensionRegistry::Create();
  }
};

std::string NameText(const TFileName& name) { return name.ToString().c_str(); }

std::string MountingPointText(const TFileName& name) {
  return TMountingPointToken::FromId(name.GetMountingPoint()).c_str();
}

TEST_F(FileName, ParseTable) {
  const struct {
    const char* text;
    const char* mountingPoint;
    const char* form;
    std::uint32_t components;
  } cases[] = {
      {"ProgDir:a\\b/c", "ProgDir", "ProgDir:/a/b/c", 3},
      {"a//b/", "", "a/b", 2},
      {"/a/b", "", "a/b", 2},
      {"a/./b", "", "a/b", 2},
      {"", "", "", 0},
      {"/", "", "", 0},
      {"ProgDir:", "ProgDir", "ProgDir:/", 0},
      {":a", "", "a", 1},
      {"a/b/../../..", "", "..", 1},
      {"../../x", "", "../../x", 3},
      {"a/b/../c", "", "a/c", 2},
      {"a/..", "", "", 0},
      {"\x01" "ctl\x7F", "", "\x01" "ctl\x7F", 1},
  };
  for (const auto& c : cases) {
    const TFileName name(c.text);
    EXPECT_EQ(MountingPointText(name), c.mountingPoint) << c.text;
    EXPECT_EQ(NameText(name), c.form) << c.text;
    EXPECT_EQ(name.GetComponentCount(), c.components) << c.text;
    EXPECT_EQ(name.IsEmpty(), c.components == 0) << c.text;
    // Every form parses back to the same name.
    EXPECT_EQ(TFileName(name.ToString()), name) << c.text;
  }
  EXPECT_EQ(TFileName(static_cast<const char*>(nullptr)), TFileName());
  EXPECT_EQ(TFileName(TOrvString<char>()), TFileName());
  EXPECT_EQ(TFileName(TOrvString<char>("/")), TFileName());
}

TEST_F(FileName, EqualPathsShareOneNodeWhateverTheirCase) {
  const TFileName first("Data/Textures");
  for (const char* text : {"a//b/", "/a/b", "a/./b", "a\\b", "A/B"}) {
    EXPECT_EQ(TFileName(text).GetNode(), TFileName("a/b").GetNode()) << text;
  }
  EXPECT_EQ(TFileName("DATA/textures"), first);
  EXPECT_EQ(NameText(TFileName("DATA/textures")), "Data/Textures");
  EXPECT_EQ(TFileName("data:x"), TFileName("DATA:x"));
  EXPECT_NE(TFileName("data:x"), TFileName("x"));
  // The three text forms reach the same name.
  const TOrvString<char> text("Maps:a/b");
  EXPECT_EQ(TFileName(text), TFileName("Maps:a/b"));
  EXPECT_EQ(TFileName(TOrvSubString<char>(text)), TFileName("Maps:a/b"));
  EXPECT_EQ(TFileName(TOrvSubString<char>(&text, 5, 8)), TFileName("a/b"));
}

TEST_F(FileName, ForbiddenBytesThrowForTheirComponent) {
  const struct {
    std::string text;
    std::string component;
  } cases[] = {
      {"a/b?c", "b?c"},
      {"m:a/b:c", "b:c"},
      {"a/\x80z", "\x80z"},
      {"a/\xFF", "\xFF"},
      {"x*/y", "x*"},
      {std::string("a/b\0c", 5), std::string("b\0c", 3)},
  };
  for (const auto& c : cases) {
    try {
      TFileName name{TOrvString<char>(c.text.data(), static_cast<std::uint32_t>(c.text.size()))};
      ADD_FAILURE() << c.text << " parsed";
    } catch (const EInvalidFileName& failure) {
      EXPECT_EQ(std::string(failure.GetFileName()), c.component.substr(0, c.component.find('\0')));
      const std::string what = failure.what();
      const std::string prefix = "Invalid file name, forbidden characters. FileName = ";
      EXPECT_EQ(what.rfind(prefix, 0), 0u) << what;
      // Bytes that are not UTF-8 leave nothing of the component in the message.
      if (static_cast<unsigned char>(c.component[0]) < 0x80) {
        EXPECT_EQ(what.substr(prefix.size()), c.component.substr(0, c.component.find('\0'))) << c.text;
      }
    }
  }
}

TEST_F(FileName, LongInvalidComponentKeeps4095BytesAndTheWholeTextInTheMessage) {
  std::string component(5000, 'n');
  component[4500] = '?';
  try {
    TFileName name(("dir/" + component).c_str());
    ADD_FAILURE() << "parsed";
  } catch (const EInvalidFileName& failure) {
    EXPECT_EQ(std::strlen(failure.GetFileName()), 4095u);
    EXPECT_EQ(std::string(failure.GetFileName()), component.substr(0, 4095));
    EXPECT_EQ(std::string(failure.what()), "Invalid file name, forbidden characters. FileName = " + component);
  }
}

TEST_F(FileName, ComponentsOfAPath) {
  const TFileName name("a/b/c");
  TFileNameRegistry& registry = *TFileNameRegistry::Get();
  TComponentList components;
  name.GetComponents(components);
  ASSERT_EQ(components.GetSize(), 3u);
  EXPECT_EQ(registry.GetComponentName(components[0]), "a");
  EXPECT_EQ(registry.GetComponentName(components[2]), "c");
  EXPECT_EQ(name.GetComponentId(2), components[2]);
  EXPECT_EQ(name.GetComponentId(0), components[0]);
  EXPECT_EQ(name.GetLastComponent(), components[2]);
  EXPECT_TRUE(name.ContainsComponent(components[0]));
  EXPECT_FALSE(name.ContainsComponent(registry.GetDotDotId()));
  EXPECT_EQ(name.GetComponent(1), "b");
  EXPECT_TRUE(name.GetComponent(3).IsEmpty());
  EXPECT_TRUE(name.ContainsComponentName(TOrvString<char>("B")));
  EXPECT_FALSE(name.ContainsComponentName(TOrvString<char>("never-interned")));
  EXPECT_FALSE(registry.ContainsComponentName(TOrvString<char>("never-interned")));
  EXPECT_EQ(registry.GetDotDotId(), 0u);
  EXPECT_EQ(registry.GetComponentName(0), "..");
}

TEST_F(FileName, AncestorsAndDescendants) {
  const TFileName ab("a/b"), abc("a/b/c"), ax("a/x"), empty;
  EXPECT_TRUE(ab.IsStrictAncestorOf(abc));
  EXPECT_FALSE(abc.IsStrictAncestorOf(ab));
  EXPECT_FALSE(ab.IsStrictAncestorOf(ab));
  EXPECT_FALSE(ax.IsStrictAncestorOf(abc));
  EXPECT_TRUE(empty.IsStrictAncestorOf(ab));
  EXPECT_TRUE(TFileName("m:a").IsStrictAncestorOf(abc));
  EXPECT_TRUE(abc.IsSameOrDescendantOf(ab));
  EXPECT_TRUE(ab.IsSameOrDescendantOf(ab));
  EXPECT_TRUE(ab.IsSameOrDescendantOf(empty));
  EXPECT_FALSE(ab.IsSameOrDescendantOf(abc));
  EXPECT_FALSE(abc.IsSameOrDescendantOf(ax));
}

TEST_F(FileName, AppendAndPrepend) {
  const struct {
    const char* base;
    const char* tail;
    const char* appended;
    const char* prepended;  // tail prepended to base
  } cases[] = {
      {"a/b", "..", "a/b/..", "../a/b"},
      {"a/b", "c/d", "a/b/c/d", "c/d/a/b"},
      {"", "c", "c", "c"},
      {"a", "", "a", "a"},
      {"../x", "y", "../x/y", "x"},
      {"a", "../b", "b", "../b/a"},
      {"a", "../..", "..", "../../a"},
      {"M:a", "N:b", "M:/a/b", "M:/b/a"},
  };
  for (const auto& c : cases) {
    TFileName appended(c.base);
    appended.Append(TFileName(c.tail));
    EXPECT_EQ(NameText(appended), c.appended) << c.base << " + " << c.tail;
    TFileName prepended(c.base);
    prepended.Prepend(TFileName(c.tail));
    EXPECT_EQ(NameText(prepended), c.prepended) << c.tail << " + " << c.base;
  }
  // The ".." kept at the end pairs off with what precedes it once something follows.
  TFileName name("a/b");
  name.Append(TFileName(".."));
  name.Append(TFileName("c"));
  EXPECT_EQ(NameText(name), "a/c");
  EXPECT_EQ(NameText(TFileName(TFileName("M:a"), TFileName("N:b/c"))), "M:/a/b/c");
  EXPECT_EQ(NameText(TFileName(ParseMountingPoint("Other"), TFileName("M:a"))), "Other:/a");
  EXPECT_EQ(NameText(TFileName::AppendToNode(TFileName("M:a").GetNode(), TFileName("b"))), "a/b");
}

TEST_F(FileName, ShorteningAndLeaves) {
  const TFileName name("M:a/b/c");
  const struct {
    std::uint32_t n;
    const char* withoutLast;
    const char* withoutFirst;  // with mounting point N
  } cases[] = {{0, "M:/a/b/c", "N:/a/b/c"}, {1, "M:/a/b", "N:/b/c"}, {2, "M:/a", "N:/c"}, {3, "M:/", "N:/"}};
  const std::uint16_t other = ParseMountingPoint("N");
  for (const auto& c : cases) {
    EXPECT_EQ(NameText(TFileName::WithoutLastComponents(name, c.n)), c.withoutLast) << c.n;
    EXPECT_EQ(NameText(TFileName::WithoutFirstComponents(name, other, c.n)), c.withoutFirst) << c.n;
  }
  EXPECT_EQ(NameText(name.GetParent()), "M:/a/b");
  EXPECT_EQ(NameText(TFileName::GetLeafName(name)), "c");
  EXPECT_EQ(TFileName::GetLeafName(name), TFileName("c"));
  EXPECT_TRUE(TFileName::GetLeafName(TFileName()).IsEmpty());
}

TEST_F(FileName, MatchesPrefix) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"", "a/b", true},           {"", "", true},
      {"a/b/c", "a/b", false},     {"x", "", false},
      {"Data/Tex", "data/TEXTURES", true},
      {"Data/Tex", "data/TEXTURES/a.dds", true},
      {"Data/Tex", "data/Models", false},
      {"Data/Tex", "Other/Textures", false},
      {"Tex", "Te", false},        {"a/b", "a/b", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TFileName::MatchesPrefix(TFileName(c.pattern), TFileName(c.name)), c.matches)
        << c.pattern << " against " << c.name;
  }
}

TEST_F(FileName, AppendText) {
  const struct {
    const char* name;
    const char* text;
    const char* result;
  } cases[] = {
      {"a/b", ".bak", "a/b.bak"},   {"a/b", "/c", "a/b/c"},   {"M:a/b", "/c", "M:/a/b/c"},
      {"", "N:x", "N:/x"},          {"a", "", "a"},           {"a/b", "\\..\\c", "a/c"},
      {"M:a", "?x", "M:/a?x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameText(TFileName::AppendText(TFileName(c.name), TOrvString<char>(c.text))), c.result)
        << c.name << " + " << c.text;
  }
  EXPECT_THROW(TFileName::AppendText(TFileName("a"), TOrvString<char>("/b?")), EInvalidFileName);
}

TEST_F(FileName, AppendToLastComponentOnTheStackAndOnTheHeap) {
  const std::string stem(250, 's');
  for (const char* suffix : {"1234", "12345"}) {  // 254 and 255 characters
    TFileName name(("M:dir/" + stem).c_str());
    const TFileName sibling(("M:dir/" + stem + "x").c_str());
    name.AppendToLastComponent(suffix);
    EXPECT_EQ(NameText(name), "M:/dir/" + stem + suffix);
    EXPECT_EQ(name, TFileName(("M:dir/" + stem + suffix).c_str()));
    EXPECT_EQ(name.GetParent(), sibling.GetParent());
  }
  // No validation: a separator becomes part of the one component.
  TFileName name("a/b");
  name.AppendToLastComponent("/c", 2);
  EXPECT_EQ(name.GetComponentCount(), 2u);
  EXPECT_EQ(name.GetComponent(1), "b/c");
}

TEST_F(FileName, TextFormsAreCutAtTheBufferSize) {
  const TFileName name("CutMp:ab/cd");
  const std::string full = "CutMp:/ab/cd";
  for (std::uint32_t size = 0; size <= full.size() + 2; ++size) {
    char buffer[32];
    std::memset(buffer, '#', sizeof(buffer));
    const std::uint32_t length = name.GetText(buffer, size);
    const std::size_t expected = size == 0 ? 0 : std::min<std::size_t>(size - 1, full.size());
    EXPECT_EQ(length, expected) << size;
    if (size != 0) {
      EXPECT_EQ(std::string(buffer), full.substr(0, expected)) << size;
    }
    EXPECT_EQ(buffer[size == 0 ? 0 : expected + 1], '#') << size;
  }
  char buffer[64];
  EXPECT_EQ(name.GetText(buffer, sizeof(buffer), '\\'), 12u);
  EXPECT_STREQ(buffer, "CutMp:\\ab\\cd");
  EXPECT_EQ(name.GetPathText(buffer, sizeof(buffer), '\\'), 5u);
  EXPECT_STREQ(buffer, "ab\\cd");
  EXPECT_EQ(name.WriteText(buffer, 4), 3u);
  EXPECT_STREQ(buffer, "ab/");
  EXPECT_EQ(std::string(name.ToString('\\').c_str()), "CutMp:\\ab\\cd");
  EXPECT_EQ(std::string(name.ToSlashString().c_str()), "ab/cd");
  EXPECT_EQ(std::string(name.JoinComponents('|').c_str()), "ab|cd");
  EXPECT_TRUE(name.ToWideString() == TOrvString<wchar_t>(L"CutMp:/ab/cd"));
  EXPECT_EQ(TFileName().GetText(buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(FileName, LongPathsGrowTheirStrings) {
  std::string path;
  for (int i = 0; i < 300; ++i) path += "component" + std::to_string(i) + "/";
  path.pop_back();
  const TFileName name(("Deep:" + path).c_str());
  EXPECT_EQ(NameText(name), "Deep:/" + path);
  std::vector<char> buffer(100);
  EXPECT_EQ(name.GetText(buffer.data(), 100), 99u);
  EXPECT_EQ(std::string(buffer.data()), ("Deep:/" + path).substr(0, 99));
}

TEST_F(FileName, OrderOfPathsAndOfMountingPoints) {
  const TFileName same("a/b");
  const struct {
    const char* a;
    const char* b;
    bool less;
    bool compare;
  } cases[] = {
      {"a/b", "a/b/c", true, true},    {"a/b/c", "a/b", false, false}, {"a/B", "a/c", true, true},
      {"a/c", "a/B", false, false},    {"a/b", "A/B", false, false},   {"", "a", true, true},
      {"a", "", false, false},         {"M:a", "N:a", false, true},    {"N:a", "M:a", false, false},
      {"Alpha:z", "beta:a", false, true}, {"beta:a", "alpha:z", true, false},
      {"a", "X:a", false, true},       {"zz", "zzz/y", true, true},    {"ab", "a/b", false, false},
  };
  for (const auto& c : cases) {
    const TFileName a(c.a), b(c.b);
    EXPECT_EQ(a < b, c.less) << c.a << " < " << c.b;
    EXPECT_EQ(TFileName::Compare(a, b), c.compare) << "Compare " << c.a << ", " << c.b;
  }
  EXPECT_FALSE(same < same);
  EXPECT_FALSE(TFileName::Compare(same, same));
}

TEST_F(FileName, CopiesShareTheNodeAndCountIt) {
  const TFileName name("counted/node");
  const std::uint32_t before = name.GetNode()->count.load();
  {
    const TFileName copy(name);
    EXPECT_EQ(copy.GetNode(), name.GetNode());
    EXPECT_EQ(name.GetNode()->count.load(), before + 1);
    TFileName assigned;
    assigned = copy;
    EXPECT_EQ(name.GetNode()->count.load(), before + 2);
    assigned = assigned;
    EXPECT_EQ(name.GetNode()->count.load(), before + 2);
    const TFileName moved(std::move(assigned));
    EXPECT_EQ(name.GetNode()->count.load(), before + 2);
  }
  EXPECT_EQ(name.GetNode()->count.load(), before);
  const TFileName empty;
  const TFileName emptyCopy(empty);
  EXPECT_TRUE(emptyCopy.IsEmpty());
  TFileName a("S:x"), b("y");
  a.Swap(b);
  EXPECT_EQ(NameText(a), "y");
  EXPECT_EQ(NameText(b), "S:/x");
  EXPECT_EQ(MakeFileName(b.GetNode(), 0), TFileName("x"));
}

TEST_F(FileName, EmptyNameHasNoLastComponent) {
  OrvTest::TDialogRecorder dialogs;
  OrvTest::TDebugOutputRecorder output;
  const TFileName empty;
  TComponentList components;
  empty.GetComponents(components);
  EXPECT_TRUE(components.IsEmpty());
  EXPECT_EQ(empty.GetComponentCount(), 0u);
  EXPECT_FALSE(empty.ContainsComponent(0));
  EXPECT_FALSE(empty.HasExtension());
  EXPECT_TRUE(empty.GetNameWithoutExtension().IsEmpty());
  EXPECT_TRUE(empty.GetExtension().IsNone());
  TOrvString<char> stem("stale");
  TFileExtension extension = TFileExtension::Register(TOrvString<char>("txt"));
  empty.SplitNameAndExtension(stem, extension);
  EXPECT_TRUE(stem.IsEmpty());
  EXPECT_TRUE(extension.IsNone());
  EXPECT_TRUE(TFileName::ChangeExtension(empty, TFileExtension::Register(TOrvString<char>("dds"))).IsEmpty());
  EXPECT_TRUE(TFileName::ReplaceName(empty, TOrvString<char>("c")).IsEmpty());
  EXPECT_TRUE(dialogs.Dialogs().empty());

  EXPECT_EQ(output.CountLinesContaining("ASSERTION FAILED"), 0u);

  EXPECT_EQ(empty.GetLastComponent(), kNoComponentId);
  ASSERT_EQ(dialogs.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs.Dialogs()[0].idHigh, kAssertionDialogId);
  TFileName renamed;
  renamed.AppendToLastComponent(".bak");
  EXPECT_TRUE(renamed.IsEmpty());
  EXPECT_EQ(output.CountLinesContaining("ASSERTION FAILED"), 2u);
}

}  // namespace
}  // namespace Orvan
