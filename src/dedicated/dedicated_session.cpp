// The game session's life: construction, start-up, the player limit and the properties derived
// from others.
#include "dedicated/dedicated_session.h"

#include "dedicated/dedicated_property_table.h"
#include "dedicated/legacy_number_conversion.h"
#include "dedicated/main_server_task.h"
#include "network/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

// The line between the blocks of the start-up log.
const char kSeparator[] = "---------------------------------------------------";
static_assert(sizeof(kSeparator) == 52, "the separator is 51 dashes");

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }

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

}  // namespace Orvan::Dedicated
