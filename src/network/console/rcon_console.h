// One remote-console connection: reads the console's packets, checks the password, hands command
// lines to the registry and sends what the handlers print back as packets.
//
// Packet, all integers 32-bit signed little-endian: size (the bytes after this field), id (the
// client's, echoed in answers), type, the body text and its NUL, then an empty second string.
#pragma once

#include <event2/bufferevent.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "core/text/engine_string.h"
#include "core/time/time_stamp.h"
#include "network/console/console_interfaces.h"

namespace Orvan::Network {
class TBufferEventSocket;
}

namespace Orvan::ServerTools {

class RConServer;

// Packet types: from the client, authentication (body = password) and command (body = line); from
// the server, response text and the authentication answer. Other client types are ignored.
inline constexpr std::int32_t kRConTypeResponse = 0;
inline constexpr std::int32_t kRConTypeCommand = 2;
inline constexpr std::int32_t kRConTypeAuthAnswer = 2;
inline constexpr std::int32_t kRConTypeAuthenticate = 3;

// Accepted size fields: id, type and two NULs at the least, the largest packet at the most.
inline constexpr std::int32_t kRConMinPacketSize = 10;
inline constexpr std::int32_t kRConMaxPacketSize = 4096;
// A packet is assembled in this many bytes: the size field, a largest packet and 8 bytes more.
inline constexpr std::uint32_t kRConSendBufferSize = 4108;
// Longer texts go out in pieces of this size, each piece a packet with the text's id and type,
// so that no size field exceeds the largest packet.
inline constexpr std::uint32_t kRConMaxBodyPiece = kRConMaxPacketSize - kRConMinPacketSize;
// Seconds without traffic after which a connection is closed.
inline constexpr std::int32_t kRConIdleTimeOutSeconds = 10000;
// A connection that has not authenticated this long after its accept is closed.
inline constexpr double kRConAuthenticationSeconds = 10.0;
// Seconds a connection that is ending gets to send its last answers before it closes regardless.
inline constexpr std::int32_t kRConClosingDrainSeconds = 1;
// Bytes of answers queued for a console that has not read them, past which its commands are not
// read until the queue has been sent: a console that sends commands without reading the answers
// holds at most this much (and one answer more) of the server's memory. The game clients' cap.
inline constexpr std::size_t kRConSendQueueLimit = 4 * 1024 * 1024;

// Whether `given` is `secret`, byte for byte, in a time that depends on the given text's length
// alone: how long the answer takes tells nothing of the secret.
bool IsSamePassword(const TOrvString<char>& given, const TOrvString<char>& secret);

class RConConsole final : public IVirtualConsole {
 public:
  // Takes the socket; `password` is the registry's, copied, `address` the peer's. Accepted now.
  RConConsole(Network::TBufferEventSocket* socket, RConServer* server, const TOrvString<char>& password,
              const sockaddr* address);
  // Closes and deletes the socket when it is still there.
  ~RConConsole() override;
  RConConsole(const RConConsole&) = delete;
  RConConsole& operator=(const RConConsole&) = delete;

  // One reply: a response packet with the id of the last packet read.
  void Print(const TOrvString<char>& text) override;
  // Queues the packet (several, for a text longer than one packet holds); nothing once closed.
  void SendPacket(std::int32_t id, std::int32_t type, const TOrvString<char>& text);

  // Handles every complete packet buffered; a bad size, a command before authentication or a
  // wrong password ends the connection once the answers queued before are sent.
  void OnRead();
  // Frees the socket and has the server forget and delete this console: nothing may touch it after.
  void Close();

  bool IsAuthenticated() const { return authenticated_; }
  // Whether reading waits for the answers queued past kRConSendQueueLimit to be sent.
  bool IsReadingPaused() const { return readingPaused_; }
  Network::TBufferEventSocket* GetSocket() const { return socket_; }
  const sockaddr* GetAddress() const { return reinterpret_cast<const sockaddr*>(&address_); }
  TTimeStamp GetAcceptTime() const { return acceptTime_; }

  // libevent entry points; the argument is the console.
  static void ReadEntry(bufferevent* bufferEvent, void* console);
  static void EventEntry(bufferevent* bufferEvent, short events, void* console);

 private:
  // Stops reading and closes once the answers queued so far are sent (or after the drain time).
  void CloseWhenSent();
  static void SentEntry(bufferevent* bufferEvent, void* console);
  // Stops reading until the answers queued are sent; then ResumeEntry reads on.
  void PauseReading();
  static void ResumeEntry(bufferevent* bufferEvent, void* console);

  Network::TBufferEventSocket* socket_;
  RConServer* server_;
  std::int32_t pendingSize_ = 0;  // the size field of the packet being received; 0 for none
  std::int32_t lastId_ = 0;
  bool authenticated_ = false;
  bool closing_ = false;
  bool readingPaused_ = false;
  TOrvString<char> password_;
  sockaddr_storage address_{};
  TTimeStamp acceptTime_ = 0;
  std::uint8_t packet_[kRConMaxPacketSize];  // the packet after its size field
};

}  // namespace Orvan::ServerTools
