// The named mounting points and their default folders.
#include "core/filesystem/mounting_points.h"

#include <cstdlib>

#include "core/filesystem/native_file_operations.h"
#include "core/startup/project_table.h"

namespace Orvan {

namespace {

// The number of the ZZ folder's generation, part of its path.
constexpr const char* kZZGeneration = "34";

constinit TNamedMountingPoint g_progDir("ProgDir");
constinit TNamedMountingPoint g_dataDir("DataDir");
constinit TNamedMountingPoint g_logs("logs");
constinit TNamedMountingPoint g_glad("Glad");
constinit TNamedMountingPoint g_commonData("CommonData");
constinit TNamedMountingPoint g_gameData("GameData");
constinit TNamedMountingPoint g_zz("ZZ");
constinit TNamedMountingPoint g_temp("Temp");

}  // namespace

void TNamedMountingPoint::Intern() {
  for (;;) {
    std::uint32_t state = kNotStarted;
    if (state_.compare_exchange_strong(state, kInterning, std::memory_order_acq_rel, std::memory_order_acquire)) {
      try {
        token_ = TMountingPointToken(name_);
      } catch (...) {
        state_.store(kNotStarted, std::memory_order_release);
        throw;
      }
      published_.exchange(&token_, std::memory_order_acq_rel);
      state_.exchange(kInterned, std::memory_order_acq_rel);
      return;
    }
    while (state == kInterning) {
      __builtin_ia32_pause();
      state = state_.load(std::memory_order_acquire);
    }
    if (state == kInterned) return;
  }
}

std::uint16_t GetProgDirMountingPoint() { return g_progDir.Get(); }
std::uint16_t GetDataDirMountingPoint() { return g_dataDir.Get(); }
std::uint16_t GetLogsMountingPoint() { return g_logs.Get(); }
std::uint16_t GetGladMountingPoint() { return g_glad.Get(); }
std::uint16_t GetCommonDataMountingPoint() { return g_commonData.Get(); }
std::uint16_t GetGameDataMountingPoint() { return g_gameData.Get(); }
std::uint16_t GetZZMountingPoint() { return g_zz.Get(); }
std::uint16_t GetTempMountingPoint() { return g_temp.Get(); }

TOrvString<char> GetDataDirDirectory() { return GetExecutableDirectory() + "../Data"; }

TOrvString<char> GetLogsDirectory() { return GetExecutableDirectory() + "/Logs"; }

TOrvString<char> GetZZDirectory() {
  return GetExecutableDirectory() + "../../Gen/ZZ/" + kZZGeneration + "/" + GetProjectName();
}

TOrvString<char> GetTempDirectory() {
  if (const char* folder = std::getenv("TMPDIR")) return TOrvString<char>(folder);
  return GetExecutableDirectory() + "../../Gen/Temp";
}

TFileName GetFileNameInDataDir(const TFileName& name) {
  return name.HasMountingPoint() ? name : TFileName(GetDataDirMountingPoint(), name);
}

TFileName GetFileNameInGameData(const TFileName& name) {
  return name.HasMountingPoint() ? name : TFileName(GetGameDataMountingPoint(), name);
}

}  // namespace Orvan
