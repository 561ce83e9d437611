// Encoding the few frames the generator's clients send.
#include "capacity/load_wire.h"

namespace OrvCapacity {

namespace {

void PutBig(std::string& out, std::uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift & 0xFF));
}

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

// The 's' letter: a u32 length, then the bytes.
void PutText(std::string& out, std::string_view text) {
  PutBig(out, text.size(), 4);
  out.append(text);
}

std::string GameMessage(char letter, std::string_view data) {
  std::string body(1, static_cast<char>(kChannelGameData));
  PutBig(body, kAllRecipients, 4);
  body.push_back(letter);
  body.append(data);
  return body;
}

}  // namespace

void AppendFrame(std::string& out, std::string_view body) {
  PutBig(out, body.size(), 2);
  out.append(body);
}

std::string EncodeConnect(std::uint64_t playerId, std::string_view version, std::string_view password) {
  std::string body(1, static_cast<char>(kChannelConnect));
  PutBig(body, playerId, 8);
  for (std::size_t i = 0; i < kTicketSize; ++i) body.push_back(static_cast<char>(i));
  PutText(body, version);
  body.push_back(0);  // not asking to be told the verdict's reason
  PutText(body, password);
  std::string frame;
  AppendFrame(frame, body);
  return frame;
}

std::string EncodePingAnswer(std::uint32_t value) {
  std::string body(1, static_cast<char>(kChannelSystem));
  body.push_back(static_cast<char>(kPingAnswer));
  PutBig(body, value, 4);
  std::string frame;
  AppendFrame(frame, body);
  return frame;
}

std::string EncodeStateRequest(std::uint32_t state) {
  std::string body(1, static_cast<char>(kChannelState));
  PutBig(body, state, 4);
  std::string frame;
  AppendFrame(frame, body);
  return frame;
}

std::string EncodeOrderAndReport(std::uint64_t playerId, std::uint32_t sequence, std::uint32_t tick) {
  std::string order;
  PutLittle(order, playerId, 8);
  PutLittle(order, sequence, 4);
  std::string report;
  PutLittle(report, tick, 4);
  PutLittle(report, 0, 4);
  PutLittle(report, kSharedChecksum, 4);
  PutLittle(report, 0, 4);
  std::string frames;
  AppendFrame(frames, GameMessage('d', order));
  AppendFrame(frames, GameMessage('g', report));
  return frames;
}

}  // namespace OrvCapacity
