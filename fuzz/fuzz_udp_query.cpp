// Fuzz target of the UDP property query. Input: operations, each an opcode byte and its operands:
// 0 publishes (key length byte, key, value length in two bytes, value), 1 withdraws a key (length
// byte, key), 2 is a datagram (length in two bytes, bytes, at most the receive buffer). Every
// answer must match a plain model: only the prefix and exactly 4 bytes are answered, with the
// challenge and the publishable pairs in byte order, and nothing that would exceed 2047 bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "dedicated/link/server_property_reporting.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan;
using Orvan::Dedicated::kPropertyQueryBufferSize;
using OrvTest::FuzzCheck;

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return position_ >= size_; }
  std::uint32_t Byte() { return Empty() ? 0 : data_[position_++]; }
  std::uint32_t Word() { return Byte() << 8 | Byte(); }
  std::string Bytes(std::size_t count) {
    count = std::min(count, size_ - position_);
    std::string bytes(reinterpret_cast<const char*>(data_ + position_), count);
    position_ += count;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

bool Publishable(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 128) return false;
  }
  return true;
}

std::string ModelAnswer(const std::map<std::string, std::string>& published, const std::string& datagram) {
  if (datagram.size() != 13 || datagram.compare(0, 9, "getinfos ") != 0) return "-";
  std::string reply = datagram.substr(9);
  if (!published.empty()) {
    reply += '\x01';
    for (const auto& [key, value] : published) reply += key + '\x01' + value + '\x01';
  }
  return reply.size() > 2047 ? "-" : reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  TInput input(data, size);
  Dedicated::TServerPropertyReporting reporting;
  std::map<std::string, std::string> published;  // std::string orders bytes as unsigned: all below 128 here
  while (!input.Empty()) {
    switch (input.Byte() % 3) {
      case 0: {
        const std::string key = input.Bytes(input.Byte());
        const std::string value = input.Bytes(input.Word() % 2100);
        const bool accepted = Publishable(key) && Publishable(value);
        FuzzCheck(reporting.SetProperty(TOrvString<char>(key), TOrvString<char>(value)) == accepted,
                  "a pair is refused exactly when a byte is below 32 as a signed char");
        if (accepted) published[key] = value;
        break;
      }
      case 1: {
        const std::string key = input.Bytes(input.Byte());
        reporting.RemoveProperty(TOrvString<char>(key));
        published.erase(key);
        break;
      }
      default: {
        const std::string datagram = input.Bytes(input.Word() % (kPropertyQueryBufferSize + 1));
        std::uint8_t buffer[kPropertyQueryBufferSize];
        std::memcpy(buffer, datagram.data(), datagram.size());
        const std::uint32_t length = reporting.AnswerQuery(buffer, static_cast<std::uint32_t>(datagram.size()));
        const std::string answer = length == 0 ? "-" : std::string(reinterpret_cast<const char*>(buffer), length);
        FuzzCheck(answer == ModelAnswer(published, datagram), "the answer matches the model");
        FuzzCheck(reporting.GetPropertyCount() == published.size(), "the published count matches the model");
        break;
      }
    }
  }
  return 0;
}
