// Fuzz target of the statistics documents read into a user. Input: the database's answers to the
// requests of a player's general document, its game document and its team's document, in this
// order, a NUL between two; an answer left out, or one its request fails on, brings no document.
// Each answer is read by the statistics request of its kind, as the accesser hands it over; the
// player is then admitted with the general and game documents (filed under 0 and the game id, as
// the login step files them) beside a client whose connection takes what is sent, and the team's
// document reaches the user as the statistics manager hands it over (filed under 0).
// Checked: PlayerName, PlayerLevel, PlayerElo and PlayerAvatar hold the documents' "@name",
// "@level", "ELO" and "@avatar", or their defaults ("Player", "1", "1500", unchanged) when those
// are empty; PlayerTeamName holds the team document's "name" when it is not empty; the team's
// document is asked for when "active_team" is a team id written in plain decimal digits, and never
// when it holds no digit.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/database/statistics_request.h"
#include "network/logging/network_hooks.h"
#include "network/packets/network_id.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"
#include "support/in_process_server.h"
#include "support/network_test_helpers.h"

namespace {

using namespace Orvan;
using Orvan::Dedicated::TDedicatedUser;
using Orvan::Dedicated::TUserStatisticsDocuments;
using OrvTest::FuzzCheck;

constexpr std::uint64_t kPlayer = 12;
constexpr std::uint64_t kOther = 13;
constexpr std::uint64_t kTeam = 0x0100000000000007;

// A team request that cannot start (no database here) says so in the log: that is how the target
// sees that one was asked for.
constexpr char kTeamNotFetched[] = "Team statistics of client ";
bool gTeamAskedFor = false;

void WatchLog(int, const char* text) {
  if (std::strncmp(text, kTeamNotFetched, sizeof(kTeamNotFetched) - 1) == 0) {
    gTeamAskedFor = true;
  }
}

std::string Text(const TOrvString<char>& text) { return std::string(text.c_str(), text.GetLength()); }

std::string Variable(const TDedicatedUser* user, const char* name) {
  const Dedicated::TDedicatedPropertyValue* variable = user->GetUserVariable(name);
  FuzzCheck(variable != nullptr, "the user has the variable");
  return Text(variable->GetValue());
}

// The request's fields when it read the answer, as the statistics manager hands them on.
bool ReadAnswer(const char* answer, std::uint32_t documentNumber, std::uint64_t id, Network::TStatisticsDocumentKind kind,
                TUserStatisticsDocuments& documents, std::uint32_t fileAs) {
  Network::TDbRequestGetStatistics request(TOrvString<char>(), documentNumber, id, kind);
  request.InterpretRequestResult(200, answer);
  if (request.HasFailed()) return false;
  Network::TDocumentFieldMap fields = request.GetDocumentFields();
  documents.TakeFrom(fileAs, std::move(fields));
  return true;
}

// Whether the text is a team id written in decimal digits alone.
bool IsPlainTeamId(const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end &&
         Network::OrvNetId::FromValue(value).IsTeamId();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  Network::SetNetworkLogHandler(&WatchLog);

  std::vector<std::string> answers;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (std::size_t at = 0; at <= input.size() && answers.size() < 3;) {
    const std::size_t nul = std::min(input.find('\0', at), input.size());
    answers.emplace_back(input.substr(at, nul - at));
    at = nul + 1;
  }

  OrvTest::TInProcessServer server({});
  Dedicated::TStrivexDedicatedSession& session = server.Session();
  const std::uint32_t gameId = session.GetGameId();
  TUserStatisticsDocuments documents;
  if (answers.size() > 0) ReadAnswer(answers[0].c_str(), 0, kPlayer, Network::UserDocument, documents, 0);
  if (answers.size() > 1) ReadAnswer(answers[1].c_str(), gameId, kPlayer, Network::UserDocument, documents, gameId);

  OrvTest::TSocketPair pair;
  auto* connection = new Network::TBufferEventSocket(pair.TakeFirst(), server.Task().GetSocketManager());
  FuzzCheck(OrvTest::AdmitWithStatistics(session, connection, kOther, TUserStatisticsDocuments()) != nullptr,
            "the other client is admitted");
  gTeamAskedFor = false;
  TDedicatedUser* user = OrvTest::AdmitWithStatistics(session, nullptr, kPlayer, documents);
  FuzzCheck(user != nullptr, "the player is admitted");

  const auto field = [&](std::uint32_t document, const char* name) {
    return Text(documents.GetField(document, name));
  };
  const auto orDefault = [](const std::string& value, const char* fallback) {
    return value.empty() ? std::string(fallback) : value;
  };
  FuzzCheck(Variable(user, "PlayerName") == orDefault(field(0, "@name"), "Player"), "PlayerName from @name");
  FuzzCheck(Variable(user, "PlayerLevel") == orDefault(field(gameId, "@level"), "1"), "PlayerLevel from @level");
  FuzzCheck(Variable(user, "PlayerElo") == orDefault(field(gameId, "ELO"), "1500"), "PlayerElo from ELO");
  FuzzCheck(Variable(user, "PlayerAvatar") == field(0, "@avatar"), "PlayerAvatar from @avatar");
  const std::string team = field(gameId, "active_team");
  if (IsPlainTeamId(team)) FuzzCheck(gTeamAskedFor, "a team id's document is asked for");
  if (team.find_first_of("0123456789") == std::string::npos) FuzzCheck(!gTeamAskedFor, "no team, no request");

  if (answers.size() > 2) {
    TUserStatisticsDocuments teamDocuments;
    if (ReadAnswer(answers[2].c_str(), 0, kTeam, Network::TeamDocument, teamDocuments, 0)) {
      user->UpdateTeamName(teamDocuments);
      const std::string name = Text(teamDocuments.GetField(0, "name"));
      FuzzCheck(Variable(user, "PlayerTeamName") == name, "PlayerTeamName from the team's name");
    }
  }
  return 0;
}
