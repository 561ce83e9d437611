// The game session: the one object that holds everything of the hosted game. This base holds the
// generic machinery (the server properties, the admin list and bans, the player limit, the clients
// logging in and admitted, slave-mode admission) and declares the game-specific operations that
// TStrivexDedicatedSession supplies.
#pragma once

#include <event2/bufferevent.h>
#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "core/containers/engine_vector.h"
#include "core/containers/open_hash_map.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "core/time/time_stamp.h"
#include "dedicated/admin/admin_rights.h"
#include "dedicated/clients/client_disconnect_reason.h"
#include "dedicated/game/session_state_record.h"
#include "network/packets/network_id.h"

namespace Orvan {
class TSpooledSaveFileWriter;
}  // namespace Orvan

namespace Orvan::Network {
class IStreamInterface;
class TBufferEventSocket;
class TPacketBufferPtr;
struct TMmsValidatePlayerAnswer;
}  // namespace Orvan::Network

namespace Orvan::ServerTools {
class IVirtualConsole;
}  // namespace Orvan::ServerTools

namespace Orvan::Dedicated {

class TDedicatedPropertyTable;
class TDedicatedSessionAbstractState;
class TDedicatedSessionStateManager;
class TDedicatedUser;
class TPendingClientSet;
class TUserStatisticsDocuments;
class TUserWaitingForLogin;

// Banned client ids to the end of each ban in seconds since the epoch; 0 is a ban forever.
using TBanMap = TOpenHashMap<TKeyValueEntry<Network::OrvNetId, std::int64_t>, Network::TNetIdHash, TWordEqual,
                             thread_local_allocator<unsigned char>>;

// The players of one game: NbMaxPlayer is kept within 1 to 64, 0 standing for 64.
inline constexpr std::uint32_t kMaxPlayerLimit = 64;

// Slave mode: a client announced by the match-making server that has not connected after this
// long frees the server for another session.
inline constexpr double kAwaitedClientTimeOutSeconds = 10.0;
// "awaited since" while no client is awaited.
inline constexpr TTimeStamp kNotAwaiting = ~TTimeStamp{0};

// A new ping cycle starts this long after the last one; a ping still unanswered then counts as lost.
inline constexpr double kPingCycleMilliseconds = 2500.0;

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
  // Only the match-making phase lets the program exit (and a session without phase machine).
  bool CanExit() const;
  // The first exit request: a game running plays on to its end, but none is launched any more (a
  // countdown under way stops), so that the exit, which waits for match making and the result
  // uploads, comes once the uploads already made have ended.
  void OnExitRequested();
  bool IsExiting() const { return exiting_; }

  // The session's step, once per loop pass whatever the state of the match-making link: a game
  // under way plays on while the link is down.
  void Update();
  // A new game may start only while the match-making link is Ready (always without a main task);
  // until then a launch waits at the end of its countdown.
  bool IsGameLaunchAllowed() const;

  // ---- The match-making link (virtual: tests and fuzz targets record what reaches the session).
  // Up: the property query opens, unless a slave hosts nobody yet; down: it closes. Either way
  // the clients still logging in are closed: their verdicts cannot come any more, or came from
  // an earlier link.
  virtual void OnMatchMakingLinkChanged(bool up);
  // New game information was applied.
  virtual void OnGameInfoUpdated();
  // Slave mode: the match-making server names the client to wait for and the player limit of the
  // session it is to host.
  virtual void OnWaitClientMessage(const Network::OrvNetId& clientId, std::uint32_t playerLimit);
  // The match-making server's verdict on a client that is logging in.
  virtual void OnClientValidation(const Network::TMmsValidatePlayerAnswer& answer);
  // Ends every request the session has in the database accesser, each with a line: called before
  // the accesser is deleted, so that no request is left in it and no operation keeps it.
  virtual void EndDatabaseWork();
  // Slave mode: when the awaited client has not come in time, admission closes and the
  // match-making server learns that the server is available again.
  void NotifyServerAvailable();
  // Closes and forgets every client still logging in.
  void ClosePendingClients();
  std::uint32_t GetAdmittedClientCount() const { return clients_.Size(); }

  // ---- Clients logging in.
  // An accepted connection: from here on the session owns it. It waits in the pending set (the
  // oldest unidentified connection closed when they are all taken), or is refused at once when the
  // identified clients fill the set. A quiet one is not written about until it is admitted.
  void OnNewConnection(Network::TBufferEventSocket* socket, const sockaddr_storage& address, bool quiet = false);
  // Closes, at once and without a last packet, the unidentified connection that arrived first.
  void CloseOldestUnidentified();
  // A line about a client logging in, unless it is quiet.
  static void LogPending(const TUserWaitingForLogin* pendingClient, std::int32_t level, const TOrvString<char>& text);
  // Takes one frame of the client's from `socket`: false when no whole frame was there (or the
  // connection failed). `reason` is Success unless the client is to be refused with it; the caller
  // refuses it.
  bool OnPendingClientPacket(Network::IStreamInterface* socket, TUserWaitingForLogin* pendingClient,
                             ClientDisconnectReason& reason);
  // The client identified itself (its connect packet was taken): it holds a player slot from now
  // on, and NbPlayer follows.
  void OnPendingClientIdentified(TUserWaitingForLogin* pendingClient);
  // Logs, takes the client out of the pending set and hands it to a kill of its connection, which
  // sends the reason and owns the client from then on.
  void RejectPendingClient(TUserWaitingForLogin* pendingClient, ClientDisconnectReason reason, bool updateCount);
  // The connection reported an error or its end.
  void OnPendingConnectionEvent(TUserWaitingForLogin* pendingClient, const TOrvString<char>& eventText);
  // The clients holding a player slot: those logging in that have identified themselves, and the
  // admitted ones.
  std::uint32_t GetClientCount() const;
  bool HasRoom() const { return GetClientCount() < playerLimit_; }
  // Whether a client of this version may join: never with an empty text or without a Version
  // property; any version while Version is "0" and every version is allowed; else the same text.
  bool IsVersionAccepted(const TOrvString<char>& clientVersion) const;
  // Out of the set; NbPlayer follows when `updateCount` is set.
  void RemovePendingClient(TUserWaitingForLogin* pendingClient, bool updateCount);
  TPendingClientSet* GetPendingClients() const { return pendingClients_; }
  // The pending connections' callbacks; they reach the session through the main task.
  static void OnPendingClientReadable(bufferevent* bufferEvent, void* pendingClient);
  static void OnPendingClientEvent(bufferevent* bufferEvent, short events, void* pendingClient);

  // ---- Admitted clients' connections: the read callback takes every whole frame that arrived and
  // dispatches it by channel; false once the user was disconnected.
  bool OnClientPacket(TDedicatedUser* user);
  // The connection reported an error, its end or a time-out: the user is disconnected.
  void OnClientNetworkError(TDedicatedUser* user, const TOrvString<char>& eventText);
  // The recipient of a game message meant for every player.
  static constexpr std::uint32_t kEveryPlayer = 0xFFFFFFFF;
  // The same loop over frames read from `stream` in place of the user's connection (in-process
  // tests and fuzz targets feed a user this way); a null stream holds nothing to read.
  bool OnClientPacket(TDedicatedUser* user, Network::IStreamInterface* stream);
  // One game message of channel 194: its type letter is the packet's channel, its data the payload.
  // Nothing happens for a user that is not (any more) admitted.
  void OnClientGameData(TDedicatedUser* user, const Network::TPacketBufferPtr& message, std::uint32_t recipient);
  // Channel 197: command 0 answers the last ping; any other command is dropped.
  void OnClientSystemMessage(TDedicatedUser* user, std::uint8_t command, std::uint32_t value);
  // To every non-spectator for kEveryPlayer, else to the non-spectator with that user session id.
  void RelayToPlayingClients(TDedicatedUser* sender, const Network::TPacketBufferPtr& message,
                             std::uint32_t recipient);
  // The message on channel 194 behind the sender's player id; false, not sent, to a user that is
  // not connected, and false, logged, when the send fails.
  bool SendClientData(TDedicatedUser* sender, TDedicatedUser* user, const Network::TPacketBufferPtr& message);
  // Relayed messages' frames laid out once for many users (AppendFrameWithData), sent to this one
  // as SendClientData sends one: false, not sent, to a user that is not connected; false, logged
  // once for each of the `frameCount` frames, when the write fails. With `now` they are written at
  // once rather than at the loop's next pass.
  bool SendClientFrames(TDedicatedUser* user, const void* frames, std::uint32_t size, std::uint32_t frameCount,
                        bool now);
  // The callbacks registered at admission; they reach the session through the main task.
  static void OnClientReadable(bufferevent* bufferEvent, void* user);
  static void OnClientEvent(bufferevent* bufferEvent, short events, void* user);
  // In order of admission.
  const TVector<TDedicatedUser*>& GetClients() const { return clients_; }
  // When the last ping cycle started (0 before the first): ping answers are timed from it.
  TTimeStamp GetLastPingCycle() const { return lastPingCycle_; }

  // ---- Properties.
  TDedicatedPropertyTable* GetPropertyTable() const { return propertyTable_; }
  // Applies NbMaxPlayer: clamped to 1..64 (0 gives 64), stored as the player limit, then set
  // through the property table with the same permissions.
  void SetNbMaxPlayer(std::uint32_t value, bool anyClient, bool host, bool admin, bool force);
  // NeedPassword follows Password: "1" when it is not empty.
  void UpdateNeedPassword();
  // Called by the property table after every change.
  void OnPropertyChanged(const TOrvString<char>& name, const TOrvString<char>& value);
  // A user's player variable changed: every admitted client is sent it (channel 202).
  void OnPlayerVariableChanged(TDedicatedUser* user, const TOrvString<char>& name, const TOrvString<char>& value);

  // The statistics of a client whose verdict was 0 arrived (or failed): it is admitted, or refused
  // and handed to a kill. Either way the pending client is gone when this returns.
  void OnPendingClientStats(TUserWaitingForLogin* pendingClient, bool failed,
                            const TUserStatisticsDocuments& statistics);

  // ---- Admitted users.
  // Admission: the checks, then the user made, told about everyone and everyone about it. False,
  // with `reason` set, when the client is refused; the session is then unchanged (an expired ban of
  // the client's aside, which is erased).
  bool AddClient(TUserWaitingForLogin* pendingClient, const TUserStatisticsDocuments& statistics,
                 ClientDisconnectReason& reason);
  // Called by TDedicatedUser::Disconnect once the user has logged its leaving: out of the clients,
  // the others told, the host role moved on.
  void RemoveClient(TDedicatedUser* user);
  // Before the session is deleted: every user is disconnected with ConnectionLost.
  void Shutdown();
  // The first admitted client with that id; null when none.
  TDedicatedUser* FindClientById(const Network::OrvNetId& id) const;
  // Outside the match-making phase: true when no admitted client is both connected and playing.
  bool NoPlayerLeft();
  // Every 2.5 s: the pings still unanswered count as lost, each client is sent a new ping, and
  // everyone the table of pings.
  void PingClients();
  // Once per step: the drop lines of the chat and property-query limits whose second has ended, and
  // every client with more than kClientSendQueueLimit bytes queued cut off (ConnectionLost), so
  // that a client that does not read costs the server at most that much, plus what one step queues.
  void EnforceClientLimits(TTimeStamp now);
  // Seed is set, and every client sent it once more.
  void SetSeed(std::uint32_t seed);

  // ---- Bans: a client whose ban has not ended is refused at admission.
  const TBanMap& GetBans() const { return bans_; }
  // Enters or replaces the end of the client's ban (0: forever).
  void SetBan(const Network::OrvNetId& clientId, std::int64_t end);

  // ---- Banning, unbanning and the ban file; the admin commands' view of the clients.
  // The bans kept across restarts: client ids in decimal to the end of each ban in decimal seconds
  // since the epoch, "0" for forever.
  static constexpr const char* kBannedClientsIniFile = "banned_clients.ini";
  // Nothing for an id that is not a client's. 0 hours, or an end beyond what 64-bit seconds hold,
  // is a ban forever. The file is merged into the list and the list written to it at once, as the
  // refresh does; then an admitted client of that id is disconnected.
  void BanClient(const Network::OrvNetId& clientId, std::uint64_t hours);
  // Out of the list and out of the file at once, wherever the file holds it, so that neither the
  // next refresh nor a restart brings the ban back.
  void UnbanClient(const Network::OrvNetId& clientId);
  // On entering match making: the file merged into the list (forever, else the later end, wins),
  // the expired bans dropped from both, the banned clients still admitted disconnected, and the
  // list written back outside any section.
  void RefreshBanList();
  // The id a command argument names: decimal digits are the id itself; any other text names the
  // first admitted client whose PlayerName contains it. The invalid id for an empty text or no
  // such client.
  Network::OrvNetId FindClientId(const TOrvString<char>& text) const;

  // ---- Configuration files.
  void LoadVariablesIni();
  void LoadAdminsIni();
  // False for an id absent from the admin list, else whether its rights hold the letter.
  bool HasAdminRight(const Network::OrvNetId& userId, char letter) const;
  const TAdminMap& GetAdmins() const { return admins_; }

  std::uint32_t GetPlayerLimit() const { return playerLimit_; }
  bool HasHost() const { return withHost_; }
  bool IsAdmissionOpen() const { return admissionOpen_; }
  void SetAdmissionOpen(bool open) { admissionOpen_ = open; }
  const Network::OrvNetId& GetAwaitedClient() const { return awaitedClient_; }
  TTimeStamp GetAwaitedSince() const { return awaitedSince_; }
  void SetAwaitedClient(const Network::OrvNetId& clientId, TTimeStamp since) {
    awaitedClient_ = clientId;
    awaitedSince_ = since;
  }
  std::uint32_t GetGameId() const { return gameId_; }
  const TOrvString<char>& GetProtocolVersion() const { return protocolVersion_; }
  std::uint32_t GetNextUserNumber() const { return nextUserNumber_; }

  // ---- Phase machine.
  // Makes the machine and has it enter the initial state (the machine is the session's before
  // that state is made, so the state finds it). A machine already there is deleted first.
  void CreateStateManager();
  // Null until CreateStateManager.
  TDedicatedSessionStateManager* GetStateManager() const { return stateManager_; }
  // Whether the phase in force plays a game (loading to debriefing).
  bool IsGameRunning() const;
  // The number of the next relay tick: the phase packets carry it.
  std::uint32_t GetTickCounter() const { return tickCounter_; }
  bool IsRecording() const { return recording_; }
  // While a game is recorded, how long from `now` until its next tick is due (0 when it is due
  // already); negative while none is recorded.
  double GetMillisecondsToNextTick(TTimeStamp now) const;
  // While a game is recorded, every change of phase and every countdown step is kept for the
  // replay's next tick.
  void RecordStateChange(std::uint32_t previousState, std::uint32_t newState);
  void RecordStateTimer(std::uint32_t stateId, std::uint32_t timeLeft);
  const TVector<TStateRecord>& GetStateRecords() const { return stateRecords_; }
  // Tests: a recording under way at this tick, without the relay that owns both.
  void SetRecordingForTests(bool recording, std::uint32_t tickCounter) {
    recording_ = recording;
    tickCounter_ = tickCounter;
  }

  // ---- The running game's relay and its replay.
  // Milliseconds between two ticks.
  static constexpr double kTickMilliseconds = 200.0;
  // One tick: the state records, each player's orders to every player, the players who left, the
  // spectators' share of the replay; then the tick counter moves on.
  void RecordTick();
  // Each spectator is sent the next piece of the replay it has not had yet.
  void StreamReplayToSpectators();
  // A new replay: counter at 0, the header chunk written, the tick's lists and checksums emptied.
  // The replay goes to kRecordingReplayFile as it is recorded. Without a header, or without a file
  // (logged), the game runs on without replay (and without spectator stream).
  void StartReplayRecording(TTimeStamp now);
  // The replay sealed under its numbered name in "Replays/" (and copied when the players
  // disagreed), the players' unsent orders dropped. A file that cannot be written is logged. The
  // writer stays, so spectators can still be sent what it holds.
  void SaveReplay(TTimeStamp now);
  // A player's state checksum for a tick already run: two players disagreeing set the desync flag.
  // Ticks not run yet are ignored, so a client cannot grow the table beyond the game's length.
  void RecordTickChecksum(std::uint32_t tick, std::uint32_t checksum);
  bool IsDesynchronized() const { return desync_; }
  std::uint32_t GetTickChecksumCount() const { return tickChecksums_.Count(); }
  TSpooledSaveFileWriter* GetReplayWriter() const { return replayWriter_; }
  // The number the next saved replay takes, 1 to 100.
  std::uint32_t GetReplayCounter() const { return replayCounter_; }
  void SetReplayCounterForTests(std::uint32_t counter) { replayCounter_ = counter; }
  const TVector<std::uint32_t>& GetDepartedPlayers() const { return departedPlayers_; }

 private:
  // NbPlayer := GetClientCount(), forced.
  void PublishClientCount();
  // One chunk of the replay being recorded, when there is one; a file that fails ends the recording.
  void AddReplayChunk(std::uint32_t tag, const void* data, std::uint32_t size);
  // The replay's file failed, in a write or, with `readingBack`, in the read for the spectators:
  // logged, and the game goes on without replay.
  void AbandonReplay(bool readingBack = false);
  // The ban file's keys merged into the ban list: forever, else the later end, wins.
  void MergeBanFile();
  // The ban file rewritten once: the keys of the `expired` ids removed from every section, every
  // ban of the list put outside any section; a file that cannot be written is logged.
  void WriteBanFile(const std::vector<Network::OrvNetId>& expired = {});
  // Slave mode: tells the match-making server, on the link, that this server can host a session.
  bool SendServerAvailable();
  // The phase the session is in, and whether it is match making.
  std::uint32_t GetCurrentStateId() const;
  bool IsInMatchMaking();

  TPendingClientSet* pendingClients_;
  TVector<TDedicatedUser*> clients_;
  TDedicatedPropertyTable* propertyTable_ = nullptr;
  TAdminMap admins_;
  std::uint32_t nextUserNumber_ = 1;
  std::uint32_t playerLimit_ = 0;
  bool withHost_ = false;
  TOrvString<char> protocolVersion_;
  std::uint32_t gameId_;
  TBanMap bans_;
  bool admissionOpen_ = true;
  bool exiting_ = false;
  Network::OrvNetId awaitedClient_;
  TTimeStamp awaitedSince_ = kNotAwaiting;
  TTimeStamp lastPingCycle_ = 0;
  // Deletes the machine and its phases first, while everything they may use is still there.
  void DeleteStateManager();
  TDedicatedSessionStateManager* stateManager_ = nullptr;
  std::uint32_t tickCounter_ = 0;
  bool recording_ = false;
  TVector<TStateRecord> stateRecords_;
  TTimeStamp recordingStart_ = 0;
  TSpooledSaveFileWriter* replayWriter_ = nullptr;
  TVector<std::uint32_t> departedPlayers_;
  bool desync_ = false;
  // A replay's ticks to the state checksum first reported for each.
  TU32ToU32Map tickChecksums_;
  std::uint32_t replayCounter_ = 1;
};

}  // namespace Orvan::Dedicated
