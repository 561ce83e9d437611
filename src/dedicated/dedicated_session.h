// The game session: the one object that holds everything of the hosted game. This base holds the
// generic machinery (the server properties, the admin list, the player limit, slave-mode
// admission) and declares the game-specific operations that TStrivexDedicatedSession supplies.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "core/text/engine_string.h"
#include "dedicated/admin_rights.h"
#include "network/network_id.h"

namespace Orvan::Network {
class TBufferEventSocket;
}  // namespace Orvan::Network

namespace Orvan::ServerTools {
class IVirtualConsole;
}  // namespace Orvan::ServerTools

namespace Orvan::Dedicated {

class TDedicatedPropertyTable;
class TDedicatedSessionAbstractState;
class TDedicatedUser;
class TUserStatisticsDocuments;

// The players of one game: NbMaxPlayer is kept within 1 to 64, 0 standing for 64.
inline constexpr std::uint32_t kMaxPlayerLimit = 64;

// The configuration files, in the working folder.
inline constexpr const char* kVariablesIniFile = "variables.ini";
inline constexpr const char* kAdminsIniFile = "admins.ini";

class TDedicatedSession {
 public:
  // Nothing is published and no file is read here: Initialize does that.
  TDedicatedSession(const char* protocolVersion, std::uint32_t gameId);
  virtual ~TDedicatedSession();
  TDedicatedSession(const TDedicatedSession&) = delete;
  TDedicatedSession& operator=(const TDedicatedSession&) = delete;

  // ---- The game-specific operations, in this order.
  virtual bool ValidatePropertyValue(const TOrvString<char>& name, const TOrvString<char>& value) = 0;
  virtual TDedicatedSessionAbstractState* CreateInitialState() = 0;
  virtual bool IsMatchMakingState(std::uint32_t stateId) = 0;
  virtual void ExecuteClientCommand(TDedicatedUser* client, const TOrvString<char>& commandLine) = 0;
  // Answers through the console; true when the command was carried out.
  virtual bool ExecuteRConCommand(const TOrvString<char>& commandLine, ServerTools::IVirtualConsole* console) = 0;
  virtual void RegisterServerProperties() = 0;
  // The caller owns the user.
  virtual TDedicatedUser* CreateUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId,
                                     Network::TBufferEventSocket* connection, const sockaddr_storage& address,
                                     const TUserStatisticsDocuments& statistics) = 0;
  virtual void AssignAlliance(TDedicatedUser* user) = 0;

  // Start-up, once, when the main loop starts: the properties declared, "variables.ini" and
  // "admins.ini" read, the derived values applied. It does not fail: missing files leave the
  // defaults.
  void Initialize();
  // Only the match-making phase lets the program exit, and the session is in it until a phase
  // machine runs.
  bool CanExit() const { return true; }

  // ---- Properties.
  TDedicatedPropertyTable* GetPropertyTable() const { return propertyTable_; }
  // Applies NbMaxPlayer: clamped to 1..64 (0 gives 64), stored as the player limit, then set
  // through the property table with the same permissions.
  void SetNbMaxPlayer(std::uint32_t value, bool anyClient, bool host, bool admin, bool force);
  // NeedPassword follows Password: "1" when it is not empty.
  void UpdateNeedPassword();
  // Called by the property table after every change.
  void OnPropertyChanged(const TOrvString<char>& name, const TOrvString<char>& value);

  // ---- Configuration files.
  void LoadVariablesIni();
  void LoadAdminsIni();
  // False for an id absent from the admin list, else whether its rights hold the letter.
  bool HasAdminRight(const Network::OrvNetId& userId, char letter) const;
  const TAdminMap& GetAdmins() const { return admins_; }

  std::uint32_t GetPlayerLimit() const { return playerLimit_; }
  bool HasHost() const { return withHost_; }
  bool IsAdmissionOpen() const { return admissionOpen_; }
  std::uint32_t GetGameId() const { return gameId_; }
  const TOrvString<char>& GetProtocolVersion() const { return protocolVersion_; }
  std::uint32_t GetNextUserNumber() const { return nextUserNumber_; }

 private:
  TDedicatedPropertyTable* propertyTable_ = nullptr;
  TAdminMap admins_;
  std::uint32_t nextUserNumber_ = 1;
  std::uint32_t playerLimit_ = 0;
  bool withHost_ = false;
  TOrvString<char> protocolVersion_;
  std::uint32_t gameId_;
  bool admissionOpen_ = true;
};

}  // namespace Orvan::Dedicated
