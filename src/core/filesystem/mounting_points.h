// The named mounting points: the eight names under which the engine reaches its file sources
// (DataDir:/Units/tank.ase is Units/tank.ase of whatever is mounted as DataDir), each interned once
// on first use, and the default native folders of five of them. A mounting-point id is a token of
// the mounting-point names table, compared without regard to case; 0 means none.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/filesystem/file_name.h"
#include "core/text/engine_string.h"
#include "core/tokens/token_tables.h"

namespace Orvan {

// A mounting point named in code. The first Get interns the name, once whatever threads race for
// it; the others wait for it and read the published token. An interning that throws leaves the
// point as it was before, for the next caller to try again. Callable from any thread once the
// token tables exist; the token is kept after the tables are torn down.
class TNamedMountingPoint {
 public:
  explicit constexpr TNamedMountingPoint(const char* name) noexcept : name_(name) {}
  TNamedMountingPoint(const TNamedMountingPoint&) = delete;
  TNamedMountingPoint& operator=(const TNamedMountingPoint&) = delete;

  std::uint16_t Get() {
    if (state_.load(std::memory_order_acquire) != kInterned) Intern();
    return published_.load(std::memory_order_acquire)->GetId();
  }
  const char* GetName() const noexcept { return name_; }

 private:
  static constexpr std::uint32_t kNotStarted = 0;
  static constexpr std::uint32_t kInterning = 1;
  static constexpr std::uint32_t kInterned = 2;

  void Intern();

  const char* name_;
  std::atomic<std::uint32_t> state_{kNotStarted};
  std::atomic<const TMountingPointToken*> published_{nullptr};
  TMountingPointToken token_;
};

std::uint16_t GetProgDirMountingPoint();     // "ProgDir"
std::uint16_t GetDataDirMountingPoint();     // "DataDir"
std::uint16_t GetLogsMountingPoint();        // "logs"
std::uint16_t GetGladMountingPoint();        // "Glad"
std::uint16_t GetCommonDataMountingPoint();  // "CommonData"
std::uint16_t GetGameDataMountingPoint();    // "GameData"
std::uint16_t GetZZMountingPoint();          // "ZZ"
std::uint16_t GetTempMountingPoint();        // "Temp"

// The default folders, plain concatenations on the executable's folder (which ends with '/'),
// computed at every call; nothing is normalised, tested or created. The default folder of ProgDir
// is the executable's folder itself.
// exeDir + "../Data"
TOrvString<char> GetDataDirDirectory();
// exeDir + "/Logs" (two '/' in a row, harmless to the system)
TOrvString<char> GetLogsDirectory();
// exeDir + "../../Gen/ZZ/34/" + the current project's name ("UNKNOWN" until one is selected)
TOrvString<char> GetZZDirectory();
// $TMPDIR when it is set, else exeDir + "../../Gen/Temp"
TOrvString<char> GetTempDirectory();

// A name with a mounting point as it is; one without gets the same path under DataDir,
// respectively GameData.
TFileName GetFileNameInDataDir(const TFileName& name);
TFileName GetFileNameInGameData(const TFileName& name);

}  // namespace Orvan
