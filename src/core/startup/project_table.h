// The engine's projects: each has an upper-case name, from which the engine builds paths, and a
// data directory. The selection is not locked: select the project before other threads read it.
#pragma once

#include <cstdint>

namespace Orvan {

// The current selection: id 0, "UNKNOWN" and "Error!!" until a project is selected. Constant
// data defined in the engine's static-initialiser unit.
struct TProjectSelection {
  std::int32_t id;
  const char* name;
  const char* dataDirectory;
};
extern TProjectSelection CurrentProjectSelection;

// Stores the id; ids 1 to 4 also take their row's name and data directory, others keep the
// previous ones.
void SelectProject(std::int32_t id);
// Selects the row whose name matches, letter case ignored; no match (or a null name) changes
// nothing.
void SelectProjectByName(const char* name);

std::int32_t GetProjectId();
// The current upper-case name, never null.
const char* GetProjectName();
const char* GetProjectDataDirectory();

// The project this build is made for.
std::int32_t GetBuildProjectId();
const char* GetBuildProjectName();

}  // namespace Orvan
