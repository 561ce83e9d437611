// A remote-console connection.
#include "network/console/rcon_console.h"

#include <event2/buffer.h>
#include <netinet/in.h>
#include <openssl/crypto.h>

#include <cstring>

#include "core/text/positional_format.h"
#include "network/console/rcon_server.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::ServerTools {

namespace {

constexpr std::uint32_t kSizeFieldBytes = 4;
// Id and type before the body.
constexpr std::uint32_t kHeaderBytes = 8;

std::int32_t ReadLittleEndian(const std::uint8_t* bytes) {
  const std::uint32_t value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
                              std::uint32_t{bytes[3]} << 24;
  return static_cast<std::int32_t>(value);
}

void WriteLittleEndian(std::uint8_t* bytes, std::int32_t value) {
  const auto word = static_cast<std::uint32_t>(value);
  bytes[0] = static_cast<std::uint8_t>(word);
  bytes[1] = static_cast<std::uint8_t>(word >> 8);
  bytes[2] = static_cast<std::uint8_t>(word >> 16);
  bytes[3] = static_cast<std::uint8_t>(word >> 24);
}

bool IsAcceptedSize(std::int32_t size) {
  return static_cast<std::uint32_t>(size) - static_cast<std::uint32_t>(kRConMinPacketSize) <=
         static_cast<std::uint32_t>(kRConMaxPacketSize - kRConMinPacketSize);
}

// The bytes of the address as its family lays it out.
std::size_t AddressSize(const sockaddr* address) {
  switch (address->sa_family) {
    case AF_INET:
      return sizeof(sockaddr_in);
    case AF_INET6:
      return sizeof(sockaddr_in6);
    default:
      return sizeof(sockaddr);
  }
}

}  // namespace

bool IsSamePassword(const TOrvString<char>& given, const TOrvString<char>& secret) {
  const std::uint32_t length = given.GetLength();
  const bool sameLength = secret.GetLength() == length;
  // With another length the given text is compared with itself, so as to take the same time.
  const char* other = sameLength ? secret.c_str() : given.c_str();
  const bool sameBytes = CRYPTO_memcmp(given.c_str(), other, length) == 0;
  return sameLength && sameBytes;
}

RConConsole::RConConsole(Network::TBufferEventSocket* socket, RConServer* server, const TOrvString<char>& password,
                         const sockaddr* address)
    : socket_(socket), server_(server), password_(password) {
  if (address != nullptr) std::memcpy(&address_, address, AddressSize(address));
  GetTimeStamp(acceptTime_);
}

RConConsole::~RConConsole() {
  if (socket_ == nullptr) return;
  if (!socket_->IsClosed()) socket_->Close();
  delete socket_;
}

void RConConsole::Print(const TOrvString<char>& text) { SendPacket(lastId_, kRConTypeResponse, text); }

void RConConsole::SendPacket(std::int32_t id, std::int32_t type, const TOrvString<char>& text) {
  if (socket_ == nullptr || socket_->IsClosed()) return;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.c_str());
  const std::uint32_t length = text.GetLength();
  std::uint32_t offset = 0;
  do {
    const std::uint32_t piece = length - offset < kRConMaxBodyPiece ? length - offset : kRConMaxBodyPiece;
    std::uint8_t packet[kRConSendBufferSize];
    WriteLittleEndian(packet, static_cast<std::int32_t>(piece) + kRConMinPacketSize);
    WriteLittleEndian(packet + kSizeFieldBytes, id);
    WriteLittleEndian(packet + kSizeFieldBytes + 4, type);
    std::uint8_t* body = packet + kSizeFieldBytes + kHeaderBytes;
    if (piece != 0) std::memcpy(body, bytes + offset, piece);
    body[piece] = 0;
    body[piece + 1] = 0;
    if (!socket_->Write(packet, kSizeFieldBytes + kHeaderBytes + piece + 2)) return;
    offset += piece;
  } while (offset < length);
}

void RConConsole::OnRead() {
  if (socket_ == nullptr || socket_->IsClosed() || closing_ || readingPaused_) return;
  for (;;) {
    if (socket_->GetQueuedSize() > kRConSendQueueLimit) {
      PauseReading();
      return;
    }
    if (socket_->CheckIfProblemDuringReceiving(1) != Network::kReceiveReady) return;
    if (pendingSize_ == 0) {
      if (socket_->CheckIfProblemDuringReceiving(kSizeFieldBytes) != Network::kReceiveReady) return;
      std::uint8_t sizeField[kSizeFieldBytes];
      socket_->Read(sizeField, kSizeFieldBytes);
      pendingSize_ = ReadLittleEndian(sizeField);
      if (!IsAcceptedSize(pendingSize_)) {
        CloseWhenSent();
        return;
      }
    }
    const auto size = static_cast<std::uint32_t>(pendingSize_);
    if (socket_->CheckIfProblemDuringReceiving(size) != Network::kReceiveReady) return;
    socket_->Read(packet_, size);
    pendingSize_ = 0;
    lastId_ = ReadLittleEndian(packet_);
    const std::int32_t type = ReadLittleEndian(packet_ + 4);
    const std::uint8_t* bodyStart = packet_ + kHeaderBytes;
    const std::uint32_t bodyRoom = size - kHeaderBytes;
    const void* nul = std::memchr(bodyStart, 0, bodyRoom);
    const auto bodyLength =
        nul != nullptr ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(nul) - bodyStart) : bodyRoom;
    const TOrvString<char> body(reinterpret_cast<const char*>(bodyStart), bodyLength);

    if (type == kRConTypeCommand) {
      if (!authenticated_) {
        CloseWhenSent();
        return;
      }
      server_->GetRegistry()->Dispatch(this, body);
    } else if (type == kRConTypeAuthenticate) {
      // A second authentication is taken without answer, and what follows it waits for the next
      // read event.
      if (authenticated_) return;
      SendPacket(lastId_, kRConTypeResponse, TOrvString<char>());
      if (!IsSamePassword(body, password_)) {
        SendPacket(-1, kRConTypeAuthAnswer, TOrvString<char>());
        server_->OnWrongPassword(this);
        CloseWhenSent();
        return;
      }
      SendPacket(lastId_, kRConTypeAuthAnswer, TOrvString<char>());
      authenticated_ = true;
    }
  }
}

void RConConsole::CloseWhenSent() {
  // Freeing the bufferevent now would drop the answers still queued for the client, those to the
  // packets before the one that ends the connection included.
  closing_ = true;
  bufferevent* bufferEvent = socket_->GetBufferEvent();
  bufferevent_disable(bufferEvent, EV_READ);
  if (evbuffer_get_length(bufferevent_get_output(bufferEvent)) == 0) {
    Close();
    return;
  }
  Network::TSocketInterfaceManagerForLibEvent* manager = socket_->GetManager();
  manager->SetCallbackForBufferEvent(socket_, false, true, &SentEntry);
  manager->SetTimeOutForBufferEvent(socket_, kRConClosingDrainSeconds);
}

void RConConsole::PauseReading() {
  readingPaused_ = true;
  Network::NetworkLog(Network::kNetworkLogWarning,
                      FormatValues("Rcon connection from %1 has %2 bytes of answers queued, more than the %3 allowed "
                                   "-> not read until they are sent",
                                   Network::SockAddrToString(GetAddress()), socket_->GetQueuedSize(),
                                   kRConSendQueueLimit));
  bufferevent_disable(socket_->GetBufferEvent(), EV_READ);
  // The write callback comes once the output has been sent whole (the low watermark is 0).
  socket_->GetManager()->SetCallbackForBufferEvent(socket_, false, true, &ResumeEntry);
}

void RConConsole::ResumeEntry(bufferevent*, void* argument) {
  auto* console = static_cast<RConConsole*>(argument);
  if (console->closing_ || !console->readingPaused_ || console->socket_ == nullptr) return;
  console->readingPaused_ = false;
  console->socket_->GetManager()->SetCallbackForBufferEvent(console->socket_, false, true, nullptr);
  bufferevent_enable(console->socket_->GetBufferEvent(), EV_READ);
  // The packets already buffered bring no read event of their own.
  console->OnRead();
}

void RConConsole::Close() {
  if (socket_ != nullptr) {
    if (!socket_->IsClosed()) socket_->Close();
    delete socket_;
    socket_ = nullptr;
  }
  server_->RemoveConsole(this);
}

void RConConsole::ReadEntry(bufferevent*, void* console) { static_cast<RConConsole*>(console)->OnRead(); }

void RConConsole::EventEntry(bufferevent*, short, void* console) { static_cast<RConConsole*>(console)->Close(); }

void RConConsole::SentEntry(bufferevent*, void* console) { static_cast<RConConsole*>(console)->Close(); }

}  // namespace Orvan::ServerTools
