// Fuzz target of the database answers. Input: one byte choosing the HTTP status, then the answer
// text. Every request class reads the answer; the statistics request is checked against a parse of
// its own, a statistics upload carrying the text as a field value must stay one JSON object that
// gives the value back, and the salt and digest decoders keep their contracts on the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "network/database/byte_decoding.h"
#include "network/database/game_info_request.h"
#include "network/database/json_tree.h"
#include "network/database/leaderboard_request.h"
#include "network/database/pack_info_request.h"
#include "network/database/set_statistics_request.h"
#include "network/database/statistics_request.h"
#include "network/database/user_record_requests.h"
#include "network/logging/network_hooks.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan::Network;
using OrvTest::FuzzCheck;

void DropLog(int, const char*) {}

constexpr std::int32_t kStatuses[] = {200, 201, 204, 299, 404, 409, 500, 0};

void CheckStatistics(std::int32_t status, const char* text) {
  TDbRequestGetStatistics request("", 0, 5, UserDocument);
  request.InterpretRequestResult(status, text);
  const TJsonTree tree(text);
  const bool object = tree.IsValid() && YAJL_IS_OBJECT(tree.GetRoot());
  FuzzCheck(request.HasFailed() == (status == 404 || !object), "statistics failure matches the answer");
  if (object && status != 404) {
    FuzzCheck(request.GetDocumentFields().Count() <= YAJL_GET_OBJECT(tree.GetRoot())->len, "no more fields than members");
  }
}

void CheckUpload(const char* text) {
  // Valid UTF-8 is needed for the parse back: other bytes become '?'.
  std::string value(text);
  for (char& c : value) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  TDbRequestSetStatistics request("http://db/", 1, 2, UserDocument);
  request.AddField("value", value.c_str());
  request.BuildUrl("http://unused/");
  const std::string body = request.GetBody();
  FuzzCheck(request.GetUploadSize() == body.size(), "upload size is the body's");
  const TJsonTree tree(body.c_str());
  FuzzCheck(tree.IsValid() && YAJL_IS_OBJECT(tree.GetRoot()), "upload body is one JSON object");
  const yajl_val member = GetJsonMember(tree.GetRoot(), "value", yajl_t_string);
  FuzzCheck(member != nullptr && value == YAJL_GET_STRING(member), "upload gives the value back");
  std::string uploaded;
  char part[7];
  while (const std::uint32_t n = request.ReadUploadData(part, sizeof part)) uploaded.append(part, n);
  FuzzCheck(uploaded == body, "upload parts make the body");
}

void CheckDecoders(const char* text) {
  std::uint8_t out[28];
  FuzzCheck(HexToBytes(text, out, 16) == (std::strlen(text) == 32), "hex result tells an exact length");
  std::memset(out, 0xEE, sizeof out);
  if (!Base64DecodeToBuffer(text, out, sizeof out)) {
    for (const std::uint8_t byte : out) FuzzCheck(byte == 0, "a short base64 value is zeroed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = [] {
    OrvTest::StartEngineForTests();
    SetNetworkLogHandler(&DropLog);
    return true;
  }();
  (void)started;
  if (size < 1 || size > 65536) return 0;
  const std::int32_t status = kStatuses[data[0] % 8];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* answer = text.c_str();  // up to the first NUL, as the accesser hands it over

  CheckStatistics(status, answer);
  CheckUpload(answer);
  CheckDecoders(answer);

  TDbRequestSetStatistics upload("http://db/", 0, 1, TeamDocument);
  upload.InterpretRequestResult(status, answer);
  TDbRequestCreateAccount account("bob", 1, "salt", 1, "digest");
  account.InterpretRequestResult(status, answer);
  TDbRequestGetUserLoginInfo login("bob");
  login.InterpretRequestResult(status, answer);
  FuzzCheck(login.HasFailed() || status != 404, "a 404 login answer fails");
  TDbRequestGetHighestMmsId highest;
  highest.InterpretRequestResult(status, answer);
  TDbRequestGetLeaderboard leaderboard("http://db/", "elo", 10, true);
  leaderboard.InterpretRequestResult(status, answer);
  TDbRequestGetPackInfo pack("pack");
  pack.InterpretRequestResult(status, answer);
  TDbRequestGetGameInfo changes(0);
  changes.InterpretRequestResult(status, answer);
  return 0;
}
