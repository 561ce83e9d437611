// The game session's life: construction, start-up, the player limit and the properties derived
// from others.
#include "dedicated/dedicated_session.h"

#include <string>

#include "dedicated/dedicated_property_table.h"
#include "dedicated/legacy_number_conversion.h"
#include "dedicated/main_server_task.h"
#include "dedicated/client_packet_sending.h"
#include "network/mms_messages.h"
#include "network/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

// The line between the blocks of the start-up log.
const char kSeparator[] = "---------------------------------------------------";
static_assert(sizeof(kSeparator) == 52, "the separator is 51 dashes");

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }
void LogWarning(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogWarning, text); }

const char kWaitRefused[] = "Failed to apply a wait client message in slave mode (reason : ";

}  // namespace

TDedicatedSession::TDedicatedSession(const char* protocolVersion, std::uint32_t gameId)
    : protocolVersion_(protocolVersion), gameId_(gameId) {}

TDedicatedSession::~TDedicatedSession() {
  delete propertyTable_;
  propertyTable_ = nullptr;
  admins_.Clear();
}

void TDedicatedSession::Initialize() {
  propertyTable_ = new TDedicatedPropertyTable(this);

  LogInformation(kSeparator);
  LogInformation("Initializing Server Properties : ");
  RegisterServerProperties();

  LogInformation(kSeparator);
  LogInformation("Overriding Server Properties from variables.ini file : ");
  LoadVariablesIni();
  // A version forced on the command line wins over the file.
  const TMainServerTask* task = TMainServerTask::GetInstance();
  if (task != nullptr && !task->GetForcedVersion().IsEmpty()) {
    propertyTable_->SetVariable("Version", task->GetForcedVersion(), false, false, false, true);
  }

  LogInformation(kSeparator);
  LogInformation("Retrieving admin list from admins.ini file : ");
  LoadAdminsIni();

  LogInformation(kSeparator);
  LogInformation("Initializing Server Protocol Property : " + protocolVersion_);
  propertyTable_->SetVariable("ServerProtocol", protocolVersion_, false, false, false, true);

  LogInformation(kSeparator);
  SetNbMaxPlayer(ConvertDecimalToU32(propertyTable_->GetValue("NbMaxPlayer").c_str()), false, false, false, true);
  UpdateNeedPassword();
  withHost_ = ConvertDecimalToU32(propertyTable_->GetValue("WithHost").c_str()) != 0;
  if (ConvertDecimalToU32(propertyTable_->GetValue("NbPlayer").c_str()) != 0) {
    propertyTable_->SetVariable("NbPlayer", "0", false, false, false, true);
  }
  if (task != nullptr && task->IsSlave()) {
    // A slave hosts only the clients the match-making server announces, one hosted game at a time.
    admissionOpen_ = false;
    if (ConvertDecimalToU32(propertyTable_->GetValue("WithHost").c_str()) == 0) {
      propertyTable_->SetVariable("WithHost", "1", false, false, false, true);
      withHost_ = true;
    }
  }
  // TimeLeft changes every second of a phase: too often for the log.
  propertyTable_->DisableLogging("TimeLeft");
}

void TDedicatedSession::SetNbMaxPlayer(std::uint32_t value, bool anyClient, bool host, bool admin, bool force) {
  if (propertyTable_ == nullptr) return;
  const TDedicatedPropertyValue* property = propertyTable_->GetVariable("NbMaxPlayer");
  if (property == nullptr || !property->IsChangeAllowed(anyClient, host, admin, force)) return;
  const std::uint32_t limit = value == 0 || value > kMaxPlayerLimit ? kMaxPlayerLimit : value;
  if (limit == playerLimit_) return;
  playerLimit_ = limit;
  propertyTable_->SetVariable("NbMaxPlayer", TOrvString<char>(std::to_string(limit)), anyClient, host, admin, force);
}

void TDedicatedSession::UpdateNeedPassword() {
  if (propertyTable_ == nullptr) return;
  const bool needed = !propertyTable_->GetValue("Password").IsEmpty();
  propertyTable_->SetVariable("NeedPassword", needed ? "1" : "0", false, false, false, true);
}

void TDedicatedSession::OnPropertyChanged(const TOrvString<char>& name, const TOrvString<char>& /*value*/) {
  if (name == "Password") UpdateNeedPassword();
}

void TDedicatedSession::Update() {
  // The pending clients' expiry, the phase machine's tick, the relay and the ping cycle join this
  // step with the pieces that own them.
  NotifyServerAvailable();
}

void TDedicatedSession::OnMatchMakingLinkChanged(bool up) {
  const TMainServerTask* task = TMainServerTask::GetInstance();
  if (up) {
    // A slave opens the query only once it hosts a session.
    const bool slaveHostingNobody = task != nullptr && task->IsSlave() && GetAdmittedClientCount() == 0;
    if (!slaveHostingNobody && propertyTable_ != nullptr) propertyTable_->StartReporting();
  } else if (propertyTable_ != nullptr) {
    propertyTable_->StopReporting();
  }
  ClosePendingClients();
}

void TDedicatedSession::OnGameInfoUpdated() {
  // The phase machine takes this as its event 3 once it exists: the match-making phase then drops
  // clients of another version.
}

void TDedicatedSession::OnWaitClientMessage(const Network::OrvNetId& clientId, std::uint32_t playerLimit) {
  if (admissionOpen_) {
    LogWarning(TOrvString<char>(kWaitRefused) + "dedicated server is currently accepting anybody)");
    return;
  }
  if (awaitedClient_.IsValid()) {
    LogWarning(TOrvString<char>(kWaitRefused) + "dedicated server is currently waiting client with id " +
               awaitedClient_.ToString() + ")");
    return;
  }
  if (!clientId.IsClientId()) {
    LogWarning(TOrvString<char>(kWaitRefused) + "received client id is not a valid id)");
    return;
  }
  LogInformation("Waiting client with id " + clientId.ToString() + " to join hosted session");
  admissionOpen_ = true;
  awaitedClient_ = clientId;
  GetTimeStamp(awaitedSince_);
  SetNbMaxPlayer(playerLimit, false, false, false, true);
}

void TDedicatedSession::OnClientValidation(const Network::TMmsValidatePlayerAnswer& /*answer*/) {
  // The verdict goes to the pending client it names once clients log in; nobody waits for one yet.
}

void TDedicatedSession::EndDatabaseWork() {
  // Every user's statistics requests are cancelled here once users are admitted.
}

void TDedicatedSession::ClosePendingClients() {
  // Clients logging in are kept by the pending-client set, which comes with the client listener.
}

void TDedicatedSession::NotifyServerAvailable() {
  if (!awaitedClient_.IsValid()) return;
  TTimeStamp now;
  GetTimeStamp(now);
  if (GetElapsedSeconds(awaitedSince_, now) <= kAwaitedClientTimeOutSeconds) return;
  LogInformation("Client with id " + awaitedClient_.ToString() + " did not connect in " +
                 TOrvString<char>(std::to_string(static_cast<unsigned>(kAwaitedClientTimeOutSeconds))) +
                 " second : server is ready to host other session");
  awaitedClient_.Invalidate();
  admissionOpen_ = false;
  awaitedSince_ = kNotAwaiting;
  TMainServerTask* task = TMainServerTask::GetInstance();
  const Network::TMmsSlaveStatusMessage available{true};
  if (task == nullptr || !SendPacket(task->GetMatchMakingFramer(), task->GetMatchMakingStream(), kMmsSlaveChannel,
                                     available)) {
    LogWarning("Failed to inform mms that server is available");
    return;
  }
  if (propertyTable_ != nullptr) propertyTable_->StopReporting();
}

}  // namespace Orvan::Dedicated
