// A game session that records what the match-making link tells it, for the link's tests and fuzz
// target: every entry point becomes one line ("link up", "wait 5 8", ...). Its game operations do
// nothing, and it declares the properties the link sets.
#pragma once

#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/session/dedicated_session.h"
#include "network/packets/mms_messages.h"

namespace OrvTest {

class TRecordingSession final : public Orvan::Dedicated::TDedicatedSession {
 public:
  TRecordingSession() : TDedicatedSession("1.0", 24) {}

  bool ValidatePropertyValue(const Orvan::TOrvString<char>&, const Orvan::TOrvString<char>&) override { return true; }
  Orvan::Dedicated::TDedicatedSessionAbstractState* CreateInitialState() override { return nullptr; }
  bool IsMatchMakingState(std::uint32_t stateId) override { return stateId == 0; }
  void ExecuteClientCommand(Orvan::Dedicated::TDedicatedUser*, const Orvan::TOrvString<char>&) override {}
  bool ExecuteRConCommand(const Orvan::TOrvString<char>&, Orvan::ServerTools::IVirtualConsole*) override {
    return false;
  }
  void RegisterServerProperties() override {
    for (const char* name : {"NbMaxPlayer", "NbPlayer", "WithHost", "Version", "Password", "NeedPassword",
                             "ServerProtocol", "TimeLeft"}) {
      GetPropertyTable()->DeclareVariable(name, new Orvan::Dedicated::TDedicatedPropertyValue(
                                                    std::string(name) == "Password" ? "" : "0", false, true, true,
                                                    std::string(name) == "Password"));
    }
  }
  Orvan::Dedicated::TDedicatedUser* CreateUser(std::uint32_t, const Orvan::Network::OrvNetId&,
                                               Orvan::Network::TBufferEventSocket*, const sockaddr_storage&,
                                               const Orvan::Dedicated::TUserStatisticsDocuments&) override {
    return nullptr;
  }
  void AssignAlliance(Orvan::Dedicated::TDedicatedUser*) override {}

  void OnMatchMakingLinkChanged(bool up) override { calls.push_back(up ? "link up" : "link down"); }
  void OnGameInfoUpdated() override { calls.push_back("game info"); }
  void OnWaitClientMessage(const Orvan::Network::OrvNetId& clientId, std::uint32_t playerLimit) override {
    calls.push_back("wait " + std::to_string(clientId.GetValue()) + " " + std::to_string(playerLimit));
  }
  void OnClientValidation(const Orvan::Network::TMmsValidatePlayerAnswer& answer) override {
    calls.push_back("verdict " + std::to_string(answer.id) + " " + std::to_string(answer.verdict));
  }
  void EndDatabaseWork() override { calls.push_back("end database work"); }

  std::vector<std::string> calls;
};

}  // namespace OrvTest
