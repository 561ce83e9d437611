// The project table and the selection.
#include "core/startup/project_table.h"

#include <gtest/gtest.h>

#include <string>

namespace Orvan {
namespace {

// Each test starts from the selection the process began with and leaves it so.
class ProjectTable : public ::testing::Test {
 protected:
  void TearDown() override { CurrentProjectSelection = initial_; }

  static void ExpectSelection(std::int32_t id, const std::string& name, const std::string& dataDirectory) {
    EXPECT_EQ(GetProjectId(), id);
    EXPECT_EQ(GetProjectName(), name);
    EXPECT_EQ(GetProjectDataDirectory(), dataDirectory);
  }

 private:
  const TProjectSelection initial_ = CurrentProjectSelection;
};

TEST_F(ProjectTable, NothingIsSelectedAtFirst) {
  ExpectSelection(0, "UNKNOWN", "Error!!");
  EXPECT_EQ(GetBuildProjectId(), 3);
  EXPECT_STREQ(GetBuildProjectName(), "MELKOBANE");
}

TEST_F(ProjectTable, SelectingByIdTakesTheRowAndAnIdOutsideTheTableOnlyTheId) {
  const struct {
    std::int32_t id;
    const char* name;
    const char* dataDirectory;
  } rows[] = {{1, "KOLVAK", "..\\Data\\Kolvak\\"},
              {2, "STRIVEX", "..\\Data\\Strivex\\"},
              {3, "MELKOBANE", "..\\Data\\Melkobane\\"},
              {4, "THANDLE", "..\\Data\\Thandle\\"}};
  for (const auto& row : rows) {
    SelectProject(row.id);
    ExpectSelection(row.id, row.name, row.dataDirectory);
  }
  SelectProject(7);
  ExpectSelection(7, "THANDLE", "..\\Data\\Thandle\\");
  SelectProject(0);
  ExpectSelection(0, "THANDLE", "..\\Data\\Thandle\\");
}

TEST_F(ProjectTable, SelectingByNameIgnoresLetterCaseAndAnUnknownNameChangesNothing) {
  for (const char* name : {"strivex", "STRIVEX", "StRiVeX"}) {
    SelectProject(0);
    SelectProjectByName(name);
    ExpectSelection(2, "STRIVEX", "..\\Data\\Strivex\\");
  }
  for (const char* name : {"strive", "strivexx", "", static_cast<const char*>(nullptr)}) {
    SelectProjectByName(name);
    ExpectSelection(2, "STRIVEX", "..\\Data\\Strivex\\");
  }
  SelectProjectByName("melkobane");
  ExpectSelection(3, "MELKOBANE", "..\\Data\\Melkobane\\");
}

}  // namespace
}  // namespace Orvan
