// The session's side of the limits on what clients may make it do, checked once per step: the
// drop lines of the chat and property-query rates once their second has ended, and the clients
// whose unsent bytes have passed the send queue limit cut off, and the summary of the connections
// not written about.
#include <algorithm>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

void TDedicatedSession::EnforceClientLimits(TTimeStamp now) {
  if (propertyTable_ != nullptr) propertyTable_->GetReporting().ReportDrops(now);
  pendingClients_->GetLog().Flush(now);
  std::vector<TDedicatedUser*> overLimit;
  for (TDedicatedUser* client : clients_) {
    client->ReportDrops(now);
    if (client->GetQueuedSize() > kClientSendQueueLimit) overLimit.push_back(client);
  }
  // Each disconnect takes its user out of the clients, and may end the game and send others away:
  // the walk above is over before any, and a user already gone is not touched.
  for (TDedicatedUser* client : overLimit) {
    if (std::find(clients_.begin(), clients_.end(), client) == clients_.end()) continue;
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Client " + client->GetNetworkId().ToString() + " with IP " + client->GetAddressText() +
                            " has " + TOrvString<char>(std::to_string(client->GetQueuedSize())) +
                            " bytes queued, more than the " + TOrvString<char>(std::to_string(kClientSendQueueLimit)) +
                            " allowed -> Disconnected");
    client->Disconnect(ClientDisconnectReason::ConnectionLost);
  }
}

}  // namespace Orvan::Dedicated
