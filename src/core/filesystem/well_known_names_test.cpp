// The well-known names: their members, the ids they seed at start-up, and the rows of their data
// file.
#include "core/filesystem/well_known_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/filesystem/file_name_errors.h"
#include "core/filesystem/file_name_registry.h"
#include "core/filesystem/mounting_points.h"
#include "core/startup/engine_core_startup.h"
#include "support/child_checks.h"
#include "support/failing_allocation.h"
#include "support/temporary_folder.h"

namespace Orvan {
namespace {

using OrvTest::TChildChecks;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Every path-component name the object interns, in its order: those of its two file names, then
// the list.
std::vector<std::string> InternedComponentNames() {
  std::vector<std::string> names = {"Assets", "2D", "Misc", "ToutBlanc.tga", "mesh"};
  for (std::string_view row : WellKnownNameRows::GetComponentNames()) names.emplace_back(row);
  names.insert(names.end(), {"VirtualData", "ZZ"});
  return names;
}

// The extension members in their order.
constexpr TFileExtension TWellKnownNames::* kExtensionMembers[] = {
    &TWellKnownNames::tgaExtension,         &TWellKnownNames::tgvExtension,
    &TWellKnownNames::pngExtension,         &TWellKnownNames::FileIDExtension,
    &TWellKnownNames::SourceFileIdExtension, &TWellKnownNames::Ase2VdfBinExtension,
    &TWellKnownNames::vdfExtension,         &TWellKnownNames::cubeExtension,
    &TWellKnownNames::R32Extension,         &TWellKnownNames::IFFExtension,
    &TWellKnownNames::SFormatExtension,     &TWellKnownNames::essExtension,
    &TWellKnownNames::edatExtension,        &TWellKnownNames::sdatExtension,
    &TWellKnownNames::datExtension,         &TWellKnownNames::bafExtension,
    &TWellKnownNames::Neu3Extension,        &TWellKnownNames::VdfBinExtension,
    &TWellKnownNames::VdfBin_debugExtension, &TWellKnownNames::TrueVdfBinExtension,
    &TWellKnownNames::cppGladVDFBinDebugExtension, &TWellKnownNames::boobsExtension,
    &TWellKnownNames::vdfBinExtension,      &TWellKnownNames::dicExtension,
    &TWellKnownNames::xyzExtension,         &TWellKnownNames::KdtExtension,
    &TWellKnownNames::UVKdtExtension,       &TWellKnownNames::vidExtension,
    &TWellKnownNames::dlcExtension,         &TWellKnownNames::webmExtension,
    &TWellKnownNames::AnyExtension,         &TWellKnownNames::tgv_pcExtension,
    &TWellKnownNames::tgv_macosExtension,   &TWellKnownNames::tgv_360Extension,
    &TWellKnownNames::tgv_ps3Extension};

// Every id the object seeded, one line each.
std::string DumpSeededIds() {
  const TWellKnownNames& names = *GetWellKnownNames();
  std::ostringstream dump;
  const auto ids = [&dump](const char* what, const auto& tokens) {
    dump << what;
    for (const auto& token : tokens) dump << ' ' << token.GetId();
    dump << '\n';
  };
  ids("material", names.MaterialParameterNames);
  ids("model", names.ModelPartNames);
  ids("mounting", names.MountingPointNames);
  ids("table18", names.Table18Names);
  ids("table5", names.Table5Names);
  ids("table7", names.Table7Names);
  dump << "points " << names.LocalShotDir.GetId() << ' ' << names.LocalDataDir.GetId() << ' '
       << names.LocalSaveDir.GetId() << ' ' << names.MapDat.GetId() << ' '
       << names.ToutBlancFileName.GetMountingPoint() << '\n';
  dump << "extensions";
  for (const auto member : kExtensionMembers) dump << ' ' << (names.*member).GetId();
  dump << "\ncomponents";
  TFileNameRegistry& registry = *TFileNameRegistry::Get();
  for (const std::string& name : InternedComponentNames()) {
    dump << ' ' << registry.FindComponentId(TOrvString<char>(name.c_str()));
  }
  dump << '\n';
  return dump.str();
}

TEST(WellKnownNames, MembersHoldTheirNames) {
  const TWellKnownNames* names = GetWellKnownNames();
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(names->VdfBinExtension, names->vdfBinExtension);
  EXPECT_NE(names->VdfBinExtension, names->VdfBin_debugExtension);
  EXPECT_TRUE(names->AnyExtension.EqualsNoCase("*"));
  EXPECT_TRUE(TFileExtension::Matches(names->tgaExtension, names->AnyExtension));
  EXPECT_FALSE(TFileExtension::Matches(names->tgaExtension, names->pngExtension));
  EXPECT_EQ(names->Ase2VdfBinExtension.GetName(), "Ase2VdfBin");
  EXPECT_EQ(names->cppGladVDFBinDebugExtension.GetName(), "cpp.GladVDFBinDebug");

  ASSERT_EQ(names->MaterialParameterNames.GetSize(), kWellKnownMaterialParameterNameCount);
  EXPECT_STREQ(names->MaterialParameterNames[0].c_str(), "diffuseTexture");
  EXPECT_STREQ(names->MaterialParameterNames[14].c_str(), "iconeNoCampColor");
  std::vector<std::uint32_t> techniques;
  std::set<std::uint32_t> materialIds;
  for (const auto& token : names->MaterialParameterNames) {
    if (token == "technique") techniques.push_back(token.GetId());
    materialIds.insert(token.GetId());
  }
  ASSERT_EQ(techniques.size(), 3u);
  EXPECT_TRUE(techniques[0] == techniques[1] && techniques[1] == techniques[2]);
  EXPECT_EQ(materialIds.size(), 13u);

  ASSERT_EQ(names->MountingPointNames.GetSize(), 4u);
  const char* mountingPoints[] = {"CommonData", "DatasMap", "VirtualData", "ZZ"};
  std::set<std::uint16_t> mountingIds;
  for (std::uint32_t i = 0; i < 4; ++i) {
    EXPECT_STREQ(names->MountingPointNames[i].c_str(), mountingPoints[i]);
    mountingIds.insert(names->MountingPointNames[i].GetId());
  }
  EXPECT_EQ(mountingIds.size(), 4u);
  EXPECT_EQ(names->MountingPointNames[0].GetId(), GetCommonDataMountingPoint());
  EXPECT_EQ(names->MountingPointNames[3].GetId(), GetZZMountingPoint());
  EXPECT_EQ(names->EmptyMountingPoint1.GetId(), 0u);
  EXPECT_EQ(names->EmptyMountingPoint2.GetId(), 0u);
  EXPECT_STREQ(names->EmptyMountingPoint1.c_str(), "");
  EXPECT_STREQ(names->MapDat.c_str(), "MapDat");

  ASSERT_EQ(names->ModelPartNames.GetSize(), kWellKnownModelPartNameCount);
  const auto rows = WellKnownNameRows::GetModelPartNames();
  for (std::uint32_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(std::string_view(names->ModelPartNames[i].c_str()), rows[i]) << i;
  }
  EXPECT_STREQ(names->Table18Names[0].c_str(), "SuperWeaponDelegator");
  EXPECT_STREQ(names->Table5Names[1].c_str(), "vitremiroir");
  EXPECT_STREQ(names->Table7Names[0].c_str(), "Camp");

  EXPECT_EQ(names->PlatformPC, "PC");
  EXPECT_EQ(names->SoundText, "_Sound");
  EXPECT_EQ(names->ToutBlancFileName.ToString(), "CommonData:/Assets/2D/Misc/ToutBlanc.tga");
  EXPECT_EQ(names->ToutBlancFileName.GetMountingPoint(), GetCommonDataMountingPoint());
  EXPECT_EQ(names->MeshFileName.ToString(), "mesh");
  for (const std::string& name : InternedComponentNames()) {
    EXPECT_TRUE(TFileNameRegistry::Get()->ContainsComponentName(TOrvString<char>(name.c_str()))) << name;
  }
}

TEST(WellKnownNames, DestroyClearsThePointerAndCreateBuildsOnce) {
  const std::string before = DumpSeededIds();
  TWellKnownNames::Destroy();
  EXPECT_EQ(GetWellKnownNames(), nullptr);
  TWellKnownNames::Destroy();
  EXPECT_EQ(GetWellKnownNames(), nullptr);
  TWellKnownNames::Create();
  const TWellKnownNames* built = GetWellKnownNames();
  ASSERT_NE(built, nullptr);
  TWellKnownNames::Create();
  EXPECT_EQ(GetWellKnownNames(), built);
  // Everything was interned already: the same ids again.
  EXPECT_EQ(DumpSeededIds(), before);
}

TEST(WellKnownNames, AFailedConstructionPublishesNothing) {
  TWellKnownNames::Destroy();
  // Each allowance fails one allocation further into the construction, until one is enough.
  int failures = 0;
  bool published = false;
  bool built = false;
  for (int allowance = 0; allowance < 256 && !built; ++allowance) {
    bool threw = false;
    {
      const OrvTest::TFailingAllocationScope failing(allowance);
      try {
        TWellKnownNames::Create();
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    }
    if (threw) {
      ++failures;
      published = published || GetWellKnownNames() != nullptr;
    } else {
      built = true;
    }
  }
  EXPECT_GT(failures, 0);
  EXPECT_FALSE(published);
  ASSERT_TRUE(built);
  EXPECT_NE(GetWellKnownNames(), nullptr);
}

// A start-up with nothing interned yet: the ids follow the object's order alone.
[[noreturn]] void CheckIdsOfAFreshStart() {
  TChildChecks checks;
  ShutdownEngineCore();
  InitEngineCore();
  const TWellKnownNames& names = *GetWellKnownNames();

  std::map<int, std::uint32_t> counts = {{9, 1071}, {6, 14}, {8, 9}, {5, 3}, {7, 2}, {18, 2}};
  int table = 0;
  TAllTokenTables::ForEach([&]<typename TTable>() {
    ++table;
    const std::uint32_t expected = counts.count(table) != 0 ? counts[table] : 1;
    checks.Check(TTable::GetCount() == expected, "table " + std::to_string(table) + " holds " +
                                                     std::to_string(TTable::GetCount()) + " texts");
  });
  for (std::uint32_t i = 0; i < names.ModelPartNames.GetSize(); ++i) {
    checks.Check(names.ModelPartNames[i].GetId() == i + 1, "model part " + std::to_string(i) + " has the next id");
  }
  ORV_CHILD_CHECK(checks, names.LocalShotDir.GetId() == 1 && names.LocalDataDir.GetId() == 2 &&
                              names.LocalSaveDir.GetId() == 3 && names.MapDat.GetId() == 4);
  ORV_CHILD_CHECK(checks, names.ToutBlancFileName.GetMountingPoint() == 5);
  // CommonData came first with the file name; DatasMap, VirtualData and ZZ follow.
  for (std::uint32_t i = 0; i < 4; ++i) {
    checks.Check(names.MountingPointNames[i].GetId() == 5 + i, "mounting point " + std::to_string(i));
  }

  // Extensions in member order from 0, "vdfBin" taking the id of "VdfBin".
  std::uint32_t next = 0;
  for (const auto member : kExtensionMembers) {
    const std::uint32_t id = (names.*member).GetId();
    if (member == &TWellKnownNames::vdfBinExtension) {
      ORV_CHILD_CHECK(checks, id == names.VdfBinExtension.GetId());
    } else {
      checks.Check(id == next, "extension " + std::to_string(next));
      ++next;
    }
  }
  ORV_CHILD_CHECK(checks, TFileExtensionRegistry::GetTexts()->GetSize() == next);

  // Component names: ".." is 0, then each new name the next id; one seen before keeps its id.
  std::map<std::string, std::uint32_t> expected;
  std::uint32_t nextComponent = 1;
  TFileNameRegistry& registry = *TFileNameRegistry::Get();
  for (const std::string& name : InternedComponentNames()) {
    const auto [entry, added] = expected.emplace(Lower(name), nextComponent);
    if (added) ++nextComponent;
    checks.Check(registry.FindComponentId(TOrvString<char>(name.c_str())) == entry->second, "component " + name);
  }
  checks.Exit();
}

TEST(WellKnownNamesDeathTest, AFreshStartSeedsIdsInTheObjectsOrder) {
  EXPECT_EXIT(CheckIdsOfAFreshStart(), ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

[[noreturn]] void DumpIdsOfAFreshStart(const std::string& path) {
  ShutdownEngineCore();
  InitEngineCore();
  std::ofstream(path) << DumpSeededIds();
  std::_Exit(0);
}

TEST(WellKnownNamesDeathTest, TwoRunsSeedTheSameIds) {
  const OrvTest::TTemporaryFolder folder;
  EXPECT_EXIT(DumpIdsOfAFreshStart(folder.Path("first")), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(DumpIdsOfAFreshStart(folder.Path("second")), ::testing::ExitedWithCode(0), "");
  const std::string first = OrvTest::ReadFileBytes(folder.Path("first"));
  EXPECT_GT(first.size(), 3000u);
  EXPECT_EQ(first, OrvTest::ReadFileBytes(folder.Path("second")));
}

// ---- The rows of the data file.

TEST(WellKnownNameRows, MaterialParameterNamesHoldTechniqueThriceAndNoOtherRepeat) {
  const auto rows = WellKnownNameRows::GetMiddleMaterialParameterNames();
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "technique"), 3);
  std::set<std::string> distinct = {"diffusetexture", "specularlevel", "specularpower", "standard",
                                    "iconenocampcolor"};
  for (std::string_view row : rows) distinct.insert(Lower(row));
  EXPECT_EQ(distinct.size(), 13u);
}

TEST(WellKnownNameRows, ModelPartNamesAreDistinctWithoutCase) {
  const auto rows = WellKnownNameRows::GetModelPartNames();
  ASSERT_EQ(rows.size(), kWellKnownModelPartNameCount);
  std::set<std::string> lowered;
  for (std::string_view row : rows) {
    EXPECT_TRUE(lowered.insert(Lower(row)).second) << "repeated: '" << row << "'";
    EXPECT_GE(row.size(), 2u) << row;
    EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) << row;
  }
  // A name that differs from its neighbour by a trailing blank is a row of its own.
  const auto blank = std::find(rows.begin(), rows.end(), "Axe_Canon_01 ");
  ASSERT_NE(blank, rows.end());
  EXPECT_TRUE(blank != rows.begin() && *(blank - 1) == "Axe_Canon_01");
}

TEST(WellKnownNameRows, ComponentNamesAscendInByteOrderWithTheirExtensionCounts) {
  const auto rows = WellKnownNameRows::GetComponentNames();
  ASSERT_EQ(rows.size(), kWellKnownComponentNameCount - 2);
  std::map<std::string, int> extensions;
  std::set<std::string> lowered;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string_view row = rows[i];
    if (i != 0) {
      EXPECT_LT(rows[i - 1], row) << "not ascending at " << row;
    }
    EXPECT_TRUE(lowered.insert(Lower(row)).second) << "repeated: " << row;
    EXPECT_GE(row.size(), 2u) << row;
    EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](char c) { return IsAllowedFileNameByte(static_cast<unsigned char>(c)); })) << row;
    const std::size_t dot = row.rfind('.');
    ++extensions[dot == std::string_view::npos ? std::string() : std::string(row.substr(dot + 1))];
  }
  const std::map<std::string, int> expected = {{"Ase2VdfBin", 142}, {"png", 112}, {"VdfBin", 89}, {"tga", 19},
                                               {"vdftxt", 7},       {"tgv", 4},   {"vdf", 2},     {"", 241}};
  EXPECT_EQ(extensions, expected);
  for (const char* name : {"2_IA_versus_2_IA", "PC", "mesh"}) EXPECT_EQ(lowered.count(Lower(name)), 1u) << name;
  // The two that end the list are not among the rows.
  for (const char* name : {"virtualdata", "zz"}) EXPECT_EQ(lowered.count(name), 0u) << name;
}

}  // namespace
}  // namespace Orvan
