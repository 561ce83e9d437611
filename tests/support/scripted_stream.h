// A stream socket over bytes in memory: it records what is written (and in how many writes), hands
// out what a test made arrive, and can be told to misbehave or to report itself closed.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "network/sockets/socket_interface.h"

namespace OrvTest {

class TScriptedStream final : public Orvan::Network::IStreamInterface {
 public:
  using Bytes = std::vector<std::uint8_t>;

  void Close() override { closed = true; }
  bool IsClosed() const override { return closed; }
  int GetDescriptor() const override { return -1; }
  std::uint32_t CheckIfProblemDuringReceiving(std::uint32_t size) override {
    if (failChecks) return Orvan::Network::kReceiveFailure;
    return incoming.size() >= size || claimReady ? Orvan::Network::kReceiveReady : Orvan::Network::kReceiveNotYet;
  }
  std::uint32_t Read(void* data, std::uint32_t size) override {
    const std::uint32_t delivered = incoming.size() < size ? static_cast<std::uint32_t>(incoming.size()) : size;
    for (std::uint32_t i = 0; i < delivered; ++i) {
      static_cast<std::uint8_t*>(data)[i] = incoming.front();
      incoming.pop_front();
    }
    return delivered;
  }
  bool Write(const void* data, std::uint32_t size) override {
    if (failWrites) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    written.insert(written.end(), bytes, bytes + size);
    ++writes;
    return true;
  }
  void Arrive(const Bytes& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }

  std::deque<std::uint8_t> incoming;
  Bytes written;
  int writes = 0;
  bool failWrites = false;
  bool failChecks = false;
  bool claimReady = false;  // says "ready" even when the bytes are not there
  bool closed = false;
};

}  // namespace OrvTest
