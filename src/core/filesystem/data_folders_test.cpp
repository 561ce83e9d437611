// Data folders and the decomposition of model file names.
#include "core/filesystem/data_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/diagnostics/assertion.h"
#include "core/filesystem/decomposed_file_name.h"
#include "core/filesystem/mounting_points.h"
#include "core/filesystem/virtual_file_system.h"
#include "core/filesystem/well_known_names.h"
#include "support/debug_output_recorder.h"
#include "support/dialog_recorder.h"
#include "support/file_system_components.h"

namespace Orvan {
namespace {

TFileName Name(const char* text) { return TFileName(text); }

std::string Text(const TFileName& name) { return name.ToString().c_str(); }

TFileExtension Extension(const char* text) { return TFileExtension::Register(TOrvString<char>(text)); }

TEST(DataFolders, PlacesNamesUnderRootAndKind) {
  const struct {
    const char* relative;
    std::uint32_t root;
    std::uint32_t kind;
    const char* subfolder;
    const char* expected;
  } cases[] = {
      {"Units/tank", 1, 3, "", "ZZ:/Xbox/Mesh/Units/tank"},
      {"Units/tank", 1, 5, "", "Glad:/Xbox/VDF/Units/tank"},
      {"Units/tank", 9, 40, "", "ZZ:/Other/Trash/Units/tank"},
      {"Units/tank", 1, 3, "Low", "ZZ:/Xbox/Mesh/Low/Units/tank"},
      {"a", 0, 0, "", "ZZ:/PC/Texture/a"},
      {"a", 2, 13, "x/y", "ZZ:/PS3/Animation/x/y/a"},
      {"a", 3, 12, "", "ZZ:/Intermediate/Video/a"},
      {"a", 4, 14, "", "ZZ:/AllPlatforms/Trash/a"},
      {"", 0, 9, "", "ZZ:/PC/Python"},
  };
  for (const auto& c : cases) {
    const TFileName folder = GetDataFolder(Name(c.relative), c.root, c.kind, TOrvString<char>(c.subfolder));
    EXPECT_EQ(folder, Name(c.expected)) << c.relative << " " << c.root << " " << c.kind << ": " << Text(folder);
  }
}

TEST(DataFolders, TestsAndStripsThePrefix) {
  EXPECT_TRUE(IsInDataFolder(Name("ZZ:/PC/Texture/a.dds"), 0, 0));
  EXPECT_TRUE(IsInDataFolder(Name("Other:/PC/Texture/a.dds"), 0, 0));  // mounting points are not compared
  EXPECT_FALSE(IsInDataFolder(Name("ZZ:/PC/Texture"), 0, 0));
  EXPECT_FALSE(IsInDataFolder(Name("ZZ:/PC/Mesh/a.dds"), 0, 0));
  EXPECT_TRUE(IsInZZ(Name("zz:/a")));
  EXPECT_FALSE(IsInZZ(Name("Glad:/a")));
  EXPECT_FALSE(IsInZZ(Name("a")));

  const struct {
    const char* name;
    const char* expected;
  } strips[] = {
      {"ZZ:/PC/Mesh/Units/tank", "Units/tank"},
      {"ZZ:/PC/Mesh/tank", "tank"},
      {"ZZ:/PC/tank", "tank"},
      {"ZZ:/a", "a"},
      {"ZZ:/", ""},
      {"", ""},
  };
  for (const auto& s : strips) {
    const TFileName stripped = StripDataFolderPrefix(Name(s.name));
    EXPECT_EQ(stripped, Name(s.expected)) << s.name << ": " << Text(stripped);
    EXPECT_FALSE(stripped.HasMountingPoint()) << s.name;
  }
}

TEST(DataFolders, MapsFileNamesToAnotherRootAndExtension) {
  const TFileExtension tgv = Extension("tgv");
  const struct {
    const char* source;
    TFileExtension extension;
    std::uint32_t root;
    std::uint32_t kind;
    const char* subfolder;
    const char* expected;
  } cases[] = {
      {"ZZ:/PC/Mesh/Units/tank.ase", tgv, 1, 3, "", "ZZ:/Xbox/Mesh/Units/tank.tgv"},
      {"ZZ:/PC/Mesh/Units/tank.ase", TFileExtension(), 1, 3, "", "ZZ:/Xbox/Mesh/Units/tank.ase"},
      {"DataDir:/Units/tank.ase", tgv, 0, 5, "", "Glad:/PC/VDF/Units/tank.tgv"},
      {"Units/tank", tgv, 0, 0, "Low", "ZZ:/PC/Texture/Low/Units/tank.tgv"},
      {"tank.a.b", tgv, 0, 0, "", "ZZ:/PC/Texture/tank.a.tgv"},
      {"ZZ:/", tgv, 0, 0, "", "ZZ:/PC/Texture"},
  };
  for (const auto& c : cases) {
    const TFileName result =
        GetDataFileName(Name(c.source), c.extension, c.root, c.kind, TOrvString<char>(c.subfolder));
    EXPECT_EQ(result, Name(c.expected)) << c.source << ": " << Text(result);
  }
}

TEST(DataFolders, LongLastComponentKeepsItsWholeText) {
  // Far beyond the 512 bytes the last component once had to fit.
  const std::string stem(600, 'x');
  const TFileName result =
      GetDataFileName(Name(("Units/" + stem + ".ase").c_str()), Extension("tgv"), 0, 3, TOrvString<char>());
  EXPECT_EQ(result, Name(("ZZ:/PC/Mesh/Units/" + stem + ".tgv").c_str()));
  EXPECT_EQ(result.GetComponent(3).GetLength(), stem.size() + 4);
}

TEST(DataFolders, PlatformRoots) {
  const struct {
    std::int32_t platform;
    std::uint32_t root;
  } cases[] = {{1, 0}, {2, 1}, {3, 5}, {4, 2}, {0, 5}, {-1, 5}, {5, 5}};
  for (const auto& c : cases) EXPECT_EQ(GetDataFolderRootOfPlatform(c.platform), c.root) << c.platform;
}

TEST(DecomposedFileName, LodSuffixes) {
  const struct {
    const char* name;
    bool hasSuffix;
    const char* stripped;
  } cases[] = {
      {"treeLOD2", true, "tree"},       {"treelod0", true, "tree"},
      {"a/TreeLoDx", true, "a/Tree"},   {"lod", false, "lod"},
      {"tree", false, "tree"},          {"lod1", true, ""},
      {"ZZ:/a/blod3", true, "ZZ:/a/b"}, {"", false, ""},
      {"a/lodz.x", false, "a/lodz.x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HasLodSuffix(Name(c.name)), c.hasSuffix) << c.name;
    EXPECT_EQ(StripLodSuffix(Name(c.name)), Name(c.stripped)) << c.name;
  }

  const struct {
    const char* name;
    std::uint8_t level;
    const char* expected;
  } levels[] = {{"a/b", 3, "a/blod3"}, {"a/blod1", 0, "a/blod0"}, {"ZZ:/a/b", 9, "ZZ:/a/blod9"}, {"", 0, "lod0"}};
  for (const auto& l : levels) EXPECT_EQ(WithLodLevel(Name(l.name), l.level), Name(l.expected)) << l.name;
}

TEST(DecomposedFileName, LevelWithoutDigitIsReported) {
  OrvTest::TDialogRecorder dialogs;
  OrvTest::TDebugOutputRecorder output;
  // '0' + 10 is ':', which would parse as a mounting point; 15 is '?', which would throw.
  EXPECT_EQ(WithLodLevel(Name("a/b"), 10), Name("a/b"));
  ASSERT_EQ(dialogs.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs.Dialogs()[0].idHigh, kAssertionDialogId);
  EXPECT_EQ(WithLodLevel(Name("a/blod2"), 15), Name("a/blod2"));
}

TEST(DecomposedFileName, SplitsVariantAndBaseName) {
  const struct {
    const char* name;
    const char* lod0;
    const char* withoutLod;
    const char* variant;
    bool dollar;
    bool backQuote;
    const char* base;
    const char* baseLod0;
    const char* ase2VdfBin;
  } cases[] = {
      {"Units/Tank$Desert.ase", "Units/Tank$Desertlod0", "Units/Tank$Desert", "Desert", true, false, "Units/Tank",
       "Units/Tanklod0", "Units/Tanklod0.Ase2VdfBin"},
      {"Units/Tank`Snow$x", "Units/Tank`Snow$xlod0", "Units/Tank`Snow$x", "Snow$x", false, true, "Units/Tank",
       "Units/Tanklod0", "Units/Tanklod0.Ase2VdfBin"},
      {"Units/Treelod2", "Units/Treelod0", "Units/Tree", "", false, false, "Units/Tree", "Units/Treelod0",
       "Units/Treelod0.Ase2VdfBin"},
      {"ZZ:/Units/Tank$D", "ZZ:/Units/Tank$Dlod0", "ZZ:/Units/Tank$D", "D", true, false, "ZZ:/Units/Tank",
       "ZZ:/Units/Tanklod0", "ZZ:/Units/Tanklod0.Ase2VdfBin"},
  };
  for (const auto& c : cases) {
    const TDecomposedFileName d(Name(c.name));
    EXPECT_TRUE(d.IsDecomposed()) << c.name;
    EXPECT_EQ(d.GetLod0Name(), Name(c.lod0)) << c.name << ": " << Text(d.GetLod0Name());
    EXPECT_EQ(d.GetNameWithoutLod(), Name(c.withoutLod)) << c.name << ": " << Text(d.GetNameWithoutLod());
    EXPECT_STREQ(d.GetVariant().c_str(), c.variant) << c.name;
    EXPECT_EQ(d.HasVariant(), *c.variant != '\0') << c.name;
    EXPECT_EQ(d.IsDollarMarker(), c.dollar) << c.name;
    EXPECT_EQ(d.IsBackQuoteMarker(), c.backQuote) << c.name;
    EXPECT_EQ(d.GetBaseName(), Name(c.base)) << c.name << ": " << Text(d.GetBaseName());
    EXPECT_EQ(d.GetBaseLod0Name(), Name(c.baseLod0)) << c.name << ": " << Text(d.GetBaseLod0Name());
    EXPECT_EQ(GetAse2VdfBinFileName(d), Name(c.ase2VdfBin)) << c.name;
    EXPECT_EQ(GetAse2VdfBinFileName(Name(c.name)), Name(c.ase2VdfBin)) << c.name;
    EXPECT_EQ(GetBaseName(Name(c.name)), Name(c.base)) << c.name;
    EXPECT_EQ(GetLod0BaseName(Name(c.name)), Name(c.baseLod0)) << c.name;
    EXPECT_EQ(GetLod0Name(Name(c.name)), Name(c.lod0)) << c.name;
    EXPECT_EQ(HasVariantMarker(Name(c.name)), *c.variant != '\0') << c.name;
  }
  EXPECT_TRUE(
      GetAse2VdfBinFileName(Name("Units/Tank$Desert.ase")).HasExtension(GetWellKnownNames()->Ase2VdfBinExtension));
}

TEST(DecomposedFileName, SetNameDecomposesAgainOnlyForAnotherName) {
  TDecomposedFileName d;
  EXPECT_FALSE(d.IsDecomposed());
  EXPECT_FALSE(d.HasVariant());
  EXPECT_TRUE(d.GetBaseName().IsEmpty());
  d.SetName(Name("a/b$v"));
  EXPECT_EQ(d.GetBaseName(), Name("a/b"));
  d.SetName(Name("a/c"));
  EXPECT_FALSE(d.HasVariant());
  EXPECT_TRUE(d.GetVariant().IsEmpty());
  EXPECT_EQ(d.GetBaseName(), Name("a/c"));
  // The current lod-0 name is the name already decomposed.
  d.SetName(Name("a/clod0"));
  EXPECT_EQ(d.GetLod0Name(), Name("a/clod0"));
  EXPECT_EQ(d.GetBaseName(), Name("a/c"));
}

TEST(DecomposedFileName, ConvertedModelIsLookedUpThroughTheFileSystem) {
  TVirtualFileSystem vfs;
  auto* component = new OrvTest::TScriptedComponent;
  component->existing = {"Units/Tanklod0.Ase2VdfBin"};
  vfs.Mount(GetDataDirMountingPoint(), component);
  EXPECT_TRUE(TVirtualFileSystem::Ase2VdfBinFileExists(Name("DataDir:/Units/Tank$Desert.ase")));
  EXPECT_TRUE(TVirtualFileSystem::Ase2VdfBinFileExists(Name("DataDir:/Units/Tanklod3")));
  EXPECT_FALSE(TVirtualFileSystem::Ase2VdfBinFileExists(Name("DataDir:/Units/Jeep.ase")));
  const std::vector<OrvTest::TComponentCall> calls = component->Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().path, "Units/Tanklod0.Ase2VdfBin");
}

}  // namespace
}  // namespace Orvan
