// The project table and the current selection.
#include "core/startup/project_table.h"

#include <strings.h>

namespace Orvan {

namespace {

struct TProjectRow {
  std::int32_t id;
  const char* name;
  const char* upperCaseName;
  const char* dataDirectory;
};

constexpr TProjectRow kProjects[] = {
    {1, "Kolvak", "KOLVAK", "..\\Data\\Kolvak\\"},
    {2, "Strivex", "STRIVEX", "..\\Data\\Strivex\\"},
    {3, "Melkobane", "MELKOBANE", "..\\Data\\Melkobane\\"},
    {4, "Thandle", "THANDLE", "..\\Data\\Thandle\\"},
};

constexpr std::int32_t kBuildProjectId = 3;

}  // namespace

void SelectProject(std::int32_t id) {
  CurrentProjectSelection.id = id;
  for (const TProjectRow& row : kProjects) {
    if (row.id == id) {
      CurrentProjectSelection.name = row.upperCaseName;
      CurrentProjectSelection.dataDirectory = row.dataDirectory;
    }
  }
}

void SelectProjectByName(const char* name) {
  if (name == nullptr) return;
  for (const TProjectRow& row : kProjects) {
    if (strcasecmp(row.name, name) == 0) {
      SelectProject(row.id);
      return;
    }
  }
}

std::int32_t GetProjectId() { return CurrentProjectSelection.id; }

const char* GetProjectName() { return CurrentProjectSelection.name; }

const char* GetProjectDataDirectory() { return CurrentProjectSelection.dataDirectory; }

std::int32_t GetBuildProjectId() { return kBuildProjectId; }

const char* GetBuildProjectName() { return kProjects[kBuildProjectId - 1].upperCaseName; }

}  // namespace Orvan
