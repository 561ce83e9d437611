// Drives a libcurl multi handle from a test until a condition holds: runs the code's perform step,
// then waits for activity on the transfers' sockets or on the HTTP endpoint peer's events.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <functional>

#include "support/http_endpoint_peer.h"

namespace OrvTest {

// Calls `perform`, reads the peer's new events (when there is a peer) and stops as soon as `done`
// holds; false when it did not within the time-out.
inline bool PumpUntil(CURLM* multi, const std::function<void()>& perform, const std::function<bool()>& done,
                      THttpEndpointPeer* peer = nullptr, int timeoutMilliseconds = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  for (;;) {
    perform();
    if (peer != nullptr) peer->ReadEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    curl_waitfd extra{};
    unsigned extraCount = 0;
    if (peer != nullptr && peer->GetOutputDescriptor() != -1) {
      extra.fd = peer->GetOutputDescriptor();
      extra.events = CURL_WAIT_POLLIN;
      extraCount = 1;
    }
    curl_multi_poll(multi, extraCount != 0 ? &extra : nullptr, extraCount, 20, nullptr);
  }
}

}  // namespace OrvTest
