// The statuses the server's process exits with, so that a service manager or a script can tell a
// requested stop from a server that could not start, and why.
#pragma once

namespace Orvan::Dedicated {

enum EExitStatus : int {
  // Stopped on request (SIGTERM, SIGINT).
  kExitStopped = 0,
  // The "+" switches were refused; also a fatal error of the event library.
  kExitBadArguments = 1,
  // No login or no dedicated key: neither switch given and "login.ini" missing, unreadable or
  // without both keys, or only one of the two switches given.
  kExitNoAccount = 2,
  // The client port could not be bound or listened on (most often: another server holds it).
  kExitClientPortUnavailable = 3,
  // A connection to the match-making server could not even be requested (no socket, or a request
  // the event library refused at once).
  kExitMatchMakingUnreachable = 4,
};

}  // namespace Orvan::Dedicated
