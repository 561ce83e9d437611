// The named mounting points, their first interning and their default folders.
#include "core/filesystem/mounting_points.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/startup/project_table.h"
#include "support/failing_allocation.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

std::string ExecutableFolder() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
}

TEST(MountingPoints, EachGetterGivesTheIdOfItsNameWhateverTheLetterCase) {
  const struct {
    std::uint16_t (*get)();
    const char* name;
  } points[] = {{&GetProgDirMountingPoint, "progdir"}, {&GetDataDirMountingPoint, "DATADIR"},
                {&GetLogsMountingPoint, "Logs"},       {&GetGladMountingPoint, "glad"},
                {&GetCommonDataMountingPoint, "commondata"}, {&GetGameDataMountingPoint, "gamedata"},
                {&GetZZMountingPoint, "zz"},           {&GetTempMountingPoint, "TEMP"}};
  std::set<std::uint16_t> ids;
  for (const auto& point : points) {
    const std::uint16_t id = point.get();
    EXPECT_NE(id, 0u) << point.name;
    EXPECT_EQ(point.get(), id) << point.name;
    EXPECT_EQ(TMountingPointToken(point.name).GetId(), id) << point.name;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 8u);
  EXPECT_EQ(TFileName("datadir:/x").GetMountingPoint(), GetDataDirMountingPoint());
  EXPECT_STREQ(TMountingPointToken::FromId(GetLogsMountingPoint()).c_str(), "logs");
}

TEST(MountingPoints, AnInterningThatThrowsLeavesThePointForTheNextCaller) {
  // Longer than a string keeps inline, so that interning it allocates.
  TNamedMountingPoint point("OnlyInThisTestAndLongerThanInline");
  const std::uint32_t countBefore = TMountingPointToken::GetCount();
  bool threw = false;
  {
    const OrvTest::TFailingAllocationScope failing(0);
    try {
      point.Get();
    } catch (const std::bad_alloc&) {
      threw = true;
    }
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(TMountingPointToken::GetCount(), countBefore);
  const std::uint16_t id = point.Get();
  EXPECT_EQ(id, countBefore);
  EXPECT_STREQ(TMountingPointToken::FromId(id).c_str(), "OnlyInThisTestAndLongerThanInline");
}

TEST(MountingPointsThreaded, EightThreadsOnAFirstCallGetOneId) {
  TNamedMountingPoint point("RacedFor");
  const std::uint32_t countBefore = TMountingPointToken::GetCount();
  std::atomic<std::uint16_t> seen[8];
  OrvTest::RunOnThreadsTogether(8, [&](int index) { seen[index].store(point.Get()); });
  for (const auto& id : seen) EXPECT_EQ(id.load(), countBefore);
  EXPECT_EQ(TMountingPointToken::GetCount(), countBefore + 1);
}

// Each test leaves the project selection and TMPDIR as it found them.
class MountingPointFolders : public ::testing::Test {
 protected:
  void TearDown() override {
    CurrentProjectSelection = project_;
    if (temporaryFolder_) {
      setenv("TMPDIR", temporaryFolder_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  const TProjectSelection project_ = CurrentProjectSelection;
  const std::optional<std::string> temporaryFolder_ =
      std::getenv("TMPDIR") != nullptr ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt;
};

TEST_F(MountingPointFolders, DefaultFoldersLieAroundTheExecutablesFolder) {
  const std::string folder = ExecutableFolder();
  EXPECT_EQ(GetDataDirDirectory(), (folder + "../Data").c_str());
  EXPECT_EQ(GetLogsDirectory(), (folder + "/Logs").c_str());
  EXPECT_EQ(GetZZDirectory(), (folder + "../../Gen/ZZ/34/UNKNOWN").c_str());
  SelectProjectByName("strivex");
  EXPECT_EQ(GetZZDirectory(), (folder + "../../Gen/ZZ/34/STRIVEX").c_str());

  unsetenv("TMPDIR");
  EXPECT_EQ(GetTempDirectory(), (folder + "../../Gen/Temp").c_str());
  setenv("TMPDIR", "/tmp", 1);
  EXPECT_EQ(GetTempDirectory(), "/tmp");
}

TEST(MountingPoints, FileNamesWithoutAMountingPointGoUnderDataDirOrGameData) {
  const TFileName plain("Units/tank.ase");
  ASSERT_EQ(plain.GetMountingPoint(), 0u);
  const TFileName inDataDir = GetFileNameInDataDir(plain);
  EXPECT_EQ(inDataDir.GetMountingPoint(), GetDataDirMountingPoint());
  EXPECT_EQ(inDataDir.GetNode(), plain.GetNode());
  EXPECT_EQ(inDataDir, TFileName("DataDir:/Units/tank.ase"));
  const TFileName inGameData = GetFileNameInGameData(plain);
  EXPECT_EQ(inGameData.GetMountingPoint(), GetGameDataMountingPoint());
  EXPECT_EQ(inGameData.GetNode(), plain.GetNode());

  const TFileName inTemp("Temp:/a");
  EXPECT_EQ(GetFileNameInDataDir(inTemp), inTemp);
  EXPECT_EQ(GetFileNameInGameData(inTemp).GetMountingPoint(), GetTempMountingPoint());
  EXPECT_TRUE(GetFileNameInDataDir(TFileName()).IsEmpty());
}

}  // namespace
}  // namespace Orvan
