// Why a client is refused, kicked or disconnected: one code shared by the session, the users and the
// main task, sent to the client in its last packet and printed by name in the logs.
#pragma once

#include <cstdint>

namespace Orvan::Dedicated {

// The values travel on the wire as a u32: never renumber them. 19 has no name.
enum class ClientDisconnectReason : std::uint32_t {
  Success = 0,
  Refused = 1,
  ConnectionLost = 2,
  NotAvailable = 3,
  TimeOut = 4,
  Full = 5,
  PendingClientListFull = 6,
  AlreadyInSession = 7,
  InvalidUserName = 8,
  InvalidSessionInfo = 9,
  IdReclaimed = 10,
  IncorrectIdentification = 11,
  IncorrectVersion = 12,
  DatabaseError = 13,
  UserDiconnectRequest = 14,
  Kicked = 15,
  InvalidLobbyType = 16,
  AutoMatchNbPlayerChanged = 17,
  InvalidTicket = 18,
  Failed = 20,
  KickedAtEndGame = 21,
  KickedDueToBadPerf = 22,
  BannedFromMultiplayer = 23,
  BannedFromDedicatedServer = 24,
  DedicatedServerNeedPassword = 25,
  DedicatedServerInvalidPassword = 26,
};

// The name the logs print; "Unspecified" for 19 and for every value above 26.
const char* GetClientDisconnectReasonName(ClientDisconnectReason reason);

}  // namespace Orvan::Dedicated
