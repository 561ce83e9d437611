// What `main` installs besides the logger: the event library's fatal-error callback and the
// network library's assertion hook.
#pragma once

namespace Orvan::Dedicated {

// Logs "LibEvent Fatal Error <err>, dedicated-server will exit !" at level 2 through the network
// log hook and ends the process with status 1; no shutdown runs.
[[noreturn]] void OnLibEventFatalError(int error);

// The network library's assertions are ignored in the server.
void IgnoreNetworkAssert(const char* file, int line);

}  // namespace Orvan::Dedicated
