// The names of the disconnect reasons, as the logs print them (misspellings included: log readers
// search for these texts).
#include "dedicated/clients/client_disconnect_reason.h"

namespace Orvan::Dedicated {

namespace {

// Indexed by value; null where a value has no name.
constexpr const char* kReasonNames[] = {
    "Success",
    "Refused",
    "ConnectionLost",
    "NotAvailable",
    "TimeOut",
    "Full",
    "PendingClientListFull",
    "AlreadyInSession",
    "InvalidUserName",
    "InvalidSessionInfo",
    "IdReclaimed",
    "IncorrectIdentification",
    "IncorrectVersion",
    "DatabaseError",
    "UserDiconnectRequest",
    "Kicked",
    "InvalidLobbyType",
    "AutoMatchNbPlayerChanged",
    "InvalidTicket",
    nullptr,
    "Failed",
    "KickedAtEndGame",
    "KickedDueToBadPerf",
    "BannedFromMultiplayer",
    "BannedFromDedicatedServer",
    "DedicatedServerNeedPassword",
    "DedicatedServerInvalidPassword",
};

}  // namespace

const char* GetClientDisconnectReasonName(ClientDisconnectReason reason) {
  const auto value = static_cast<std::uint32_t>(reason);
  if (value >= sizeof(kReasonNames) / sizeof(kReasonNames[0]) || kReasonNames[value] == nullptr) {
    return "Unspecified";
  }
  return kReasonNames[value];
}

}  // namespace Orvan::Dedicated
