// The replay's header and the payloads of its per-tick chunks.
#include "dedicated/game/replay_recording.h"

#include <cstdio>
#include <algorithm>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user.h"

namespace Orvan::Dedicated {

namespace {

// The state records carry no text longer than this: the length is 16 bits.
constexpr std::uint32_t kMaxRecordText = 0xFFFF;

void AppendU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendU16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

yajl_gen_status WriteString(yajl_gen generator, const TOrvString<char>& text) {
  return yajl_gen_string(generator, reinterpret_cast<const unsigned char*>(text.c_str()), text.GetLength());
}

yajl_gen_status WriteString(yajl_gen generator, const std::string& text) {
  return yajl_gen_string(generator, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace

yajl_gen_status WriteReplayHeader(yajl_gen generator, const TDedicatedPropertyTable* properties,
                                  const TVector<TDedicatedUser*>& users) {
  yajl_gen_status status = yajl_gen_map_open(generator);
  if (status != yajl_gen_status_ok) return status;
  if ((status = WriteString(generator, std::string("game"))) != yajl_gen_status_ok) return status;
  if ((status = yajl_gen_map_open(generator)) != yajl_gen_status_ok) return status;
  if (properties != nullptr) {
    for (const auto& entry : properties->GetProperties()) {
      if (entry.value == nullptr || entry.value->IsHidden()) continue;
      if ((status = WriteString(generator, entry.key)) != yajl_gen_status_ok) return status;
      if ((status = WriteString(generator, entry.value->GetValue())) != yajl_gen_status_ok) return status;
    }
  }
  if ((status = yajl_gen_map_close(generator)) != yajl_gen_status_ok) return status;
  for (const TDedicatedUser* user : users) {
    if (user->IsSpectator() || !user->IsConnected()) continue;
    if ((status = WriteString(generator, "player_" + std::to_string(user->GetPlayerNumber()))) !=
        yajl_gen_status_ok) {
      return status;
    }
    if ((status = yajl_gen_map_open(generator)) != yajl_gen_status_ok) return status;
    for (const auto& entry : user->GetUserVariables()) {
      if (entry.value == nullptr) continue;
      if ((status = WriteString(generator, entry.key)) != yajl_gen_status_ok) return status;
      if ((status = WriteString(generator, entry.value->GetValue())) != yajl_gen_status_ok) return status;
    }
    if ((status = yajl_gen_map_close(generator)) != yajl_gen_status_ok) return status;
  }
  return yajl_gen_map_close(generator);
}

std::vector<std::uint8_t> MakeStateRecordsPayload(std::uint32_t tick, const TVector<TStateRecord>& records) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(8 + records.Size() * 26u);
  AppendU32(bytes, tick);
  AppendU32(bytes, records.Size());
  for (const TStateRecord& record : records) {
    AppendU32(bytes, record.kind);
    const std::uint32_t length = std::min(record.text.GetLength(), kMaxRecordText);
    AppendU16(bytes, static_cast<std::uint16_t>(length));
    bytes.insert(bytes.end(), record.text.c_str(), record.text.c_str() + length);
    for (const std::uint32_t value : record.values) AppendU32(bytes, value);
  }
  return bytes;
}

std::vector<std::uint8_t> MakeDepartedPlayersPayload(std::uint32_t tick, const TVector<std::uint32_t>& departed) {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  for (const std::uint32_t player : departed) {
    const std::uint32_t bit = 1u << (player & 31);
    if ((player & 32) != 0) {
      high |= bit;
    } else {
      low |= bit;
    }
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(12);
  AppendU32(bytes, tick);
  AppendU32(bytes, low);
  AppendU32(bytes, high);
  return bytes;
}

std::string ReplayFileName(const char* prefix, std::uint32_t counter) {
  char number[16];
  std::snprintf(number, sizeof(number), "%03u", counter);
  return std::string(kReplayFolder) + prefix + number + ".orvgamerpl2";
}

}  // namespace Orvan::Dedicated
