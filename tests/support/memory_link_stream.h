// A byte stream in memory standing in for a connection: what the test feeds is what the code under
// test reads, and what it writes is kept for the test to look at.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "network/sockets/socket_interface.h"

namespace OrvTest {

class TMemoryLinkStream final : public Orvan::Network::IStreamInterface {
 public:
  void Feed(const std::string& bytes) { input_ += bytes; }
  // What was written, taken.
  std::string TakeOutput() {
    std::string output;
    output.swap(output_);
    return output;
  }
  std::size_t GetUnread() const { return input_.size() - position_; }

  void Close() override { closed_ = true; }
  bool IsClosed() const override { return closed_; }
  int GetDescriptor() const override { return -1; }
  std::uint32_t CheckIfProblemDuringReceiving(std::uint32_t size) override {
    if (closed_) return Orvan::Network::kReceiveFailure;
    return GetUnread() >= size ? Orvan::Network::kReceiveReady : Orvan::Network::kReceiveNotYet;
  }
  std::uint32_t Read(void* data, std::uint32_t size) override {
    if (closed_) return 0;
    const std::size_t count = std::min<std::size_t>(size, GetUnread());
    std::copy_n(input_.data() + position_, count, static_cast<char*>(data));
    position_ += count;
    return static_cast<std::uint32_t>(count);
  }
  bool Write(const void* data, std::uint32_t size) override {
    if (closed_) return false;
    output_.append(static_cast<const char*>(data), size);
    return true;
  }

 private:
  std::string input_;
  std::size_t position_ = 0;
  std::string output_;
  bool closed_ = false;
};

}  // namespace OrvTest
