// Building and reading the user-actions packet.
#include "network/packets/user_actions_packet.h"

#include "network/packets/network_packet_reader.h"
#include "network/packets/network_packet_writer.h"

namespace Orvan::Network {

namespace {

void StoreLittleEndian(std::uint8_t* bytes, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t LoadLittleEndian(const std::uint8_t* bytes, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace

TPacketBufferPtr MakeUserActionsPacket(TMemoryStream& actions, std::uint32_t& actionCount, std::uint32_t first,
                                       std::uint32_t second) {
  const std::uint32_t size = actions.GetSize();
  std::uint8_t head[kUserActionsHeadSize];
  StoreLittleEndian(head, first, 4);
  StoreLittleEndian(head + 4, second, 4);
  StoreLittleEndian(head + 8, actionCount, 4);
  StoreLittleEndian(head + 12, size, 2);
  TNetworkPacketWriter writer(kUserActionsInitialPayload);
  writer.Write(head, sizeof head);
  writer.Write(actions.GetData(), size);
  actionCount = 0;
  actions.SetSize(0);
  actions.SetPosition(0);
  return writer.Finish(kUserActionsChannel);
}

bool ReadUserActionsPacket(TMemoryStream& actions, std::uint32_t& actionCount, const TPacketBufferPtr& packet,
                           std::uint32_t* first, std::uint32_t* second) {
  TNetworkPacketReader reader(packet);
  std::uint8_t head[kUserActionsHeadSize];
  if (!reader.Read(head, sizeof head)) return false;
  const std::uint32_t size = LoadLittleEndian(head + 12, 2);
  const std::uint32_t end = actions.GetSize();
  // A stream cannot hold 4 GiB or more.
  if (!reader.CanRead(size) || std::uint64_t{end} + size > 0xFFFFFFFFu) return false;
  if (size != 0) {
    actions.SetSize(end + size);
    reader.Read(actions.GetData() + end, size);
  }
  actions.SetPosition(end + size);
  actionCount += LoadLittleEndian(head + 8, 4);
  if (first != nullptr) *first = LoadLittleEndian(head, 4);
  if (second != nullptr) *second = LoadLittleEndian(head + 4, 4);
  return true;
}

}  // namespace Orvan::Network
