// The event library's fatal-error callback and the ignored network assertion.
#include "dedicated/program/program_entry.h"

#include <cstdlib>
#include <string>

#include "dedicated/program/exit_status.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

void OnLibEventFatalError(int error) {
  const std::string text = "LibEvent Fatal Error " + std::to_string(error) + ", dedicated-server will exit !";
  Network::NetworkLog(Network::kNetworkLogError, text.c_str());
  std::exit(kExitBadArguments);
}

void IgnoreNetworkAssert(const char* /*file*/, int /*line*/) {}

}  // namespace Orvan::Dedicated
