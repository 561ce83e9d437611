// The game session of this game: its thirty server properties with their defaults and
// permissions, the validation of the phase timings and income rate, and its admin commands.
#pragma once

#include "dedicated/session/dedicated_session.h"

namespace Orvan::Dedicated {

class TStrivexDedicatedSession final : public TDedicatedSession {
 public:
  // The protocol version this server speaks, published as ServerProtocol.
  static constexpr const char* kProtocolVersion = "1.0";
  // The phase id of match making, the only phase in which the program may exit.
  static constexpr std::uint32_t kMatchMakingStateId = 0;

  explicit TStrivexDedicatedSession(std::uint32_t gameId) : TDedicatedSession(kProtocolVersion, gameId) {}

  bool ValidatePropertyValue(const TOrvString<char>& name, const TOrvString<char>& value) override;
  TDedicatedSessionAbstractState* CreateInitialState() override;
  bool IsMatchMakingState(std::uint32_t stateId) override { return stateId == kMatchMakingStateId; }
  void ExecuteClientCommand(TDedicatedUser* client, const TOrvString<char>& commandLine) override;
  bool ExecuteRConCommand(const TOrvString<char>& commandLine, ServerTools::IVirtualConsole* console) override;
  void RegisterServerProperties() override;
  TDedicatedUser* CreateUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId,
                             Network::TBufferEventSocket* connection, const sockaddr_storage& address,
                             const TUserStatisticsDocuments& statistics) override;
  void AssignAlliance(TDedicatedUser* user) override;

  // Whether the user may move to the alliance the text names, 0 or 1: not to where it already is,
  // not out of an empty alliance, not into a full one (MaxTeamSize), and not when the move leaves
  // the alliances further apart than DeltaMaxTeamSize and than they were.
  bool CanChangeAlliance(const TDedicatedUser* user, const TOrvString<char>& newAlliance) const;
};

}  // namespace Orvan::Dedicated
