// Prints every build stamp, one "name=value" line each, so a test can patch a copy of this program
// as a release step would and read what the patched program parses.
#include <cstdint>
#include <cstdio>

#include "core/startup/build_stamps.h"

int main() {
  const std::uint32_t* version = Orvan::GetBuildVersion();
  std::printf("revision=%u\n", Orvan::GetBuildRevision());
  std::printf("version=%u.%u.%u.%u\n", version[0], version[1], version[2], version[3]);
  std::printf("branch=%s\n", Orvan::GetBuildBranch());
  std::printf("region=%d\n", Orvan::GetRegionInfo());
  std::printf("region257=%d\n", Orvan::IsRegionInfo257() ? 1 : 0);
  std::printf("info=%s\n", Orvan::GetAdditionalVersionInfo());
  std::printf("beta=%d\n", Orvan::GetBetaNumber());
  std::printf("betacode=0x%x\n", Orvan::GetBetaCode());
  std::printf("betazero=%d\n", Orvan::IsBetaZero() ? 1 : 0);
  std::printf("betaone=%d\n", Orvan::IsBetaOne() ? 1 : 0);
  return 0;
}
