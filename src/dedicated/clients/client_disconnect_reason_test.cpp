#include "dedicated/clients/client_disconnect_reason.h"

#include <gtest/gtest.h>

#include <string>

namespace Orvan::Dedicated {
namespace {

TEST(ClientDisconnectReason, NamesAsTheLogsPrintThem) {
  const struct {
    std::uint32_t value;
    const char* name;
  } cases[] = {
      {0, "Success"},
      {4, "TimeOut"},
      {6, "PendingClientListFull"},
      {14, "UserDiconnectRequest"},
      {18, "InvalidTicket"},
      {19, "Unspecified"},
      {20, "Failed"},
      {26, "DedicatedServerInvalidPassword"},
      {27, "Unspecified"},
      {0xFFFFFFFF, "Unspecified"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(std::string(GetClientDisconnectReasonName(static_cast<ClientDisconnectReason>(test.value))), test.name)
        << test.value;
  }
  // Every named value answers its own name, not its neighbour's.
  EXPECT_STREQ(GetClientDisconnectReasonName(ClientDisconnectReason::KickedAtEndGame), "KickedAtEndGame");
  EXPECT_STREQ(GetClientDisconnectReasonName(ClientDisconnectReason::BannedFromDedicatedServer),
               "BannedFromDedicatedServer");
}

}  // namespace
}  // namespace Orvan::Dedicated
