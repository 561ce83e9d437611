// Cost of the network library's message paths against the same work written by hand: packing and
// unpacking the match-making init message and a player ticket through format letters, and taking
// length-prefixed frames off a stream through the packet helper.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/text/engine_string.h"
#include "network/packets/buffer_io.h"
#include "network/packets/mms_messages.h"
#include "network/packets/packet_helper.h"
#include "network/packets/value_packing.h"

namespace {

using namespace Orvan;
using namespace Orvan::Network;

constexpr std::uint32_t kWriterSize = 4096;
const char kLogin[] = "dedicated-login1";                   // 16 bytes
const char kKey[] = "0123456789abcdef0123456789abcdef";      // 32 bytes
static_assert(sizeof(kLogin) == 17 && sizeof(kKey) == 33);

TMmsDedicatedInitMessage MakeInitMessage() {
  TMmsDedicatedInitMessage message;
  message.address = inet_addr("10.1.2.3");
  message.port = htons(10000);
  message.gameId = 24;
  message.slave = true;
  message.login = kLogin;
  message.dedicatedKey = kKey;
  return message;
}

// ---- The init message by hand: byte swaps and memcpy.
std::uint32_t PackInitByHand(std::uint8_t* out, const TMmsDedicatedInitMessage& message) {
  std::uint8_t* at = out;
  const std::uint16_t port = htons(message.port);
  std::memcpy(at, &port, 2);
  at += 2;
  const std::uint32_t gameId = htonl(message.gameId);
  std::memcpy(at, &gameId, 4);
  at += 4;
  const std::uint32_t address = htonl(message.address);
  std::memcpy(at, &address, 4);
  at += 4;
  *at++ = message.slave ? 1 : 0;
  for (const TOrvString<char>* text : {&message.login, &message.dedicatedKey}) {
    const std::uint32_t length = htonl(text->GetLength());
    std::memcpy(at, &length, 4);
    at += 4;
    std::memcpy(at, text->GetData(), text->GetLength());
    at += text->GetLength();
  }
  return static_cast<std::uint32_t>(at - out);
}

bool UnpackInitByHand(const std::uint8_t* in, std::uint32_t size, TMmsDedicatedInitMessage& message) {
  if (size < 15) return false;
  std::uint16_t port;
  std::memcpy(&port, in, 2);
  message.port = ntohs(port);
  std::uint32_t word;
  std::memcpy(&word, in + 2, 4);
  message.gameId = ntohl(word);
  std::memcpy(&word, in + 6, 4);
  message.address = ntohl(word);
  message.slave = in[10] != 0;
  std::uint32_t at = 11;
  for (TOrvString<char>* text : {&message.login, &message.dedicatedKey}) {
    if (size - at < 4) return false;
    std::memcpy(&word, in + at, 4);
    const std::uint32_t length = ntohl(word);
    at += 4;
    if (length > 65535 || size - at < length) return false;
    *text = TOrvString<char>(reinterpret_cast<const char*>(in + at), length);
    at += length;
  }
  return true;
}

void BM_PackInit_FormatLetters(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  TMmsDedicatedInitMessage message = MakeInitMessage();
  for (auto _ : state) {
    message.login = kLogin;
    message.dedicatedKey = kKey;
    TFixedBufferWriter writer(buffer, kWriterSize);
    benchmark::DoNotOptimize(WriteMmsDedicatedInitMessage(writer, message));
    benchmark::DoNotOptimize(writer.GetPosition());
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
}

void BM_PackInit_Memcpy(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  TMmsDedicatedInitMessage message = MakeInitMessage();
  for (auto _ : state) {
    message.login = kLogin;
    message.dedicatedKey = kKey;
    benchmark::DoNotOptimize(PackInitByHand(buffer, message));
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
}

void BM_UnpackInit_FormatLetters(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  TFixedBufferWriter writer(buffer, kWriterSize);
  WriteMmsDedicatedInitMessage(writer, MakeInitMessage());
  const std::uint32_t size = writer.GetPosition();
  for (auto _ : state) {
    TMmsDedicatedInitMessage message;
    TFixedBufferReader reader(buffer, size);
    benchmark::DoNotOptimize(ReadMmsDedicatedInitMessage(reader, message));
    benchmark::DoNotOptimize(message.dedicatedKey.GetContent());
  }
}

void BM_UnpackInit_Memcpy(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  const std::uint32_t size = PackInitByHand(buffer, MakeInitMessage());
  for (auto _ : state) {
    TMmsDedicatedInitMessage message;
    benchmark::DoNotOptimize(UnpackInitByHand(buffer, size, message));
    benchmark::DoNotOptimize(message.dedicatedKey.GetContent());
  }
}

// ---- The player ticket, "Q#v" with 128 bytes.
TMmsValidatePlayerMessage MakeTicket() {
  TMmsValidatePlayerMessage ticket;
  ticket.id = 0x0000000012345678ull;
  for (std::uint32_t i = 0; i < kMmsLoginDataSize; ++i) ticket.loginData[i] = static_cast<std::uint8_t>(i * 7);
  return ticket;
}

void BM_PackTicket_FormatLetters(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  const TMmsValidatePlayerMessage ticket = MakeTicket();
  for (auto _ : state) {
    TFixedBufferWriter writer(buffer, kWriterSize);
    benchmark::DoNotOptimize(WriteMmsValidatePlayerMessage(writer, ticket));
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
}

void BM_PackTicket_Memcpy(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  const TMmsValidatePlayerMessage ticket = MakeTicket();
  for (auto _ : state) {
    const std::uint64_t id = __builtin_bswap64(ticket.id);
    std::memcpy(buffer, &id, 8);
    std::memcpy(buffer + 8, ticket.loginData, kMmsLoginDataSize);
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
}

void BM_UnpackTicket_FormatLetters(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  TFixedBufferWriter writer(buffer, kWriterSize);
  WriteMmsValidatePlayerMessage(writer, MakeTicket());
  for (auto _ : state) {
    TMmsValidatePlayerMessage ticket;
    TFixedBufferReader reader(buffer, writer.GetPosition());
    benchmark::DoNotOptimize(ReadMmsValidatePlayerMessage(reader, ticket));
    benchmark::DoNotOptimize(ticket.loginData);
    benchmark::ClobberMemory();
  }
}

void BM_UnpackTicket_Memcpy(benchmark::State& state) {
  std::uint8_t buffer[kWriterSize];
  TFixedBufferWriter writer(buffer, kWriterSize);
  WriteMmsValidatePlayerMessage(writer, MakeTicket());
  const std::uint32_t size = writer.GetPosition();
  for (auto _ : state) {
    TMmsValidatePlayerMessage ticket;
    benchmark::DoNotOptimize(size);
    if (size >= 8 + kMmsLoginDataSize) {
      std::uint64_t id;
      std::memcpy(&id, buffer, 8);
      ticket.id = __builtin_bswap64(id);
      std::memcpy(ticket.loginData, buffer + 8, kMmsLoginDataSize);
    }
    benchmark::DoNotOptimize(ticket.loginData);
    benchmark::ClobberMemory();
  }
}

// ---- Frames off a stream held in memory.
constexpr std::uint32_t kFramesPerIteration = 64;

// A stream over bytes in memory: everything is there at once.
class TMemoryFrameStream final : public IStreamInterface {
 public:
  explicit TMemoryFrameStream(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  void Close() override {}
  bool IsClosed() const override { return false; }
  int GetDescriptor() const override { return -1; }
  std::uint32_t CheckIfProblemDuringReceiving(std::uint32_t size) override {
    return Remaining() >= size ? kReceiveReady : kReceiveNotYet;
  }
  std::uint32_t Read(void* data, std::uint32_t size) override {
    const std::uint32_t delivered = Remaining() < size ? Remaining() : size;
    std::memcpy(data, bytes_.data() + position_, delivered);
    position_ += delivered;
    return delivered;
  }
  bool Write(const void*, std::uint32_t) override { return false; }
  void Rewind() { position_ = 0; }

 private:
  std::uint32_t Remaining() const { return static_cast<std::uint32_t>(bytes_.size()) - position_; }
  const std::vector<std::uint8_t>& bytes_;
  std::uint32_t position_ = 0;
};

std::vector<std::uint8_t> MakeFrames(std::uint32_t size) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t frame = 0; frame < kFramesPerIteration; ++frame) {
    bytes.push_back(static_cast<std::uint8_t>(size >> 8));
    bytes.push_back(static_cast<std::uint8_t>(size));
    for (std::uint32_t i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(frame + i));
  }
  return bytes;
}

void BM_ReceiveFrames_PacketHelper(benchmark::State& state) {
  const auto size = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint8_t> bytes = MakeFrames(size);
  TMemoryFrameStream stream(bytes);
  TPacketHelperBase helper(4096);
  for (auto _ : state) {
    stream.Rewind();
    std::uint16_t pending = 0;
    std::uint16_t received = 0;
    std::uint32_t total = 0;
    for (std::uint32_t frame = 0; frame < kFramesPerIteration; ++frame) {
      helper.ReceivePacket(&stream, pending, received);
      total += received;
      benchmark::DoNotOptimize(helper.GetReceiveBuffer());
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes.size());
}

void BM_ReceiveFrames_Memcpy(benchmark::State& state) {
  const auto size = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint8_t> bytes = MakeFrames(size);
  std::vector<std::uint8_t> buffer(4096);
  for (auto _ : state) {
    std::uint32_t position = 0;
    std::uint32_t total = 0;
    const auto end = static_cast<std::uint32_t>(bytes.size());
    for (std::uint32_t frame = 0; frame < kFramesPerIteration; ++frame) {
      if (end - position < 2) break;
      const std::uint32_t length = (std::uint32_t{bytes[position]} << 8) | bytes[position + 1];
      if (length > buffer.size() || end - position - 2 < length) break;
      std::memcpy(buffer.data(), bytes.data() + position + 2, length);
      position += 2 + length;
      total += length;
      benchmark::DoNotOptimize(buffer.data());
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes.size());
}

}  // namespace

BENCHMARK(BM_PackInit_FormatLetters);
BENCHMARK(BM_PackInit_Memcpy);
BENCHMARK(BM_UnpackInit_FormatLetters);
BENCHMARK(BM_UnpackInit_Memcpy);
BENCHMARK(BM_PackTicket_FormatLetters);
BENCHMARK(BM_PackTicket_Memcpy);
BENCHMARK(BM_UnpackTicket_FormatLetters);
BENCHMARK(BM_UnpackTicket_Memcpy);
BENCHMARK(BM_ReceiveFrames_PacketHelper)->Arg(16)->Arg(256)->Arg(4096);
BENCHMARK(BM_ReceiveFrames_Memcpy)->Arg(16)->Arg(256)->Arg(4096);
