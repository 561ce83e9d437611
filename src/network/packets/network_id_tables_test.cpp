#include "network/packets/network_id_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "network/packets/queued_client_record.h"

namespace Orvan::Network {
namespace {

TShortByteString ShortText(const char* text) {
  TShortByteString value{};
  value.length = static_cast<std::uint32_t>(std::strlen(text));
  std::memcpy(value.bytes, text, value.length);
  return value;
}

TEST(NetIdTables, IdsSharingTheirLowWordAreDistinctKeys) {
  TNetIdToTimeMap bans;
  const OrvNetId client(42, 0);
  const OrvNetId team(42, 0x01000000);
  const OrvNetId address(42, 0x04000050);
  *FindOrAddDefault(bans, client).second = 100;
  *FindOrAddDefault(bans, team).second = 200;
  *FindOrAddDefault(bans, address).second = 300;
  EXPECT_EQ(bans.Count(), 3u);
  EXPECT_EQ(bans.Find(client)->value, 100u);
  EXPECT_EQ(bans.Find(team)->value, 200u);
  EXPECT_EQ(bans.Find(address)->value, 300u);
  EXPECT_TRUE(bans.Erase(team));
  EXPECT_EQ(bans.Find(team), nullptr);
  EXPECT_EQ(bans.Find(client)->value, 100u);

  TNetIdToU32Map lines;
  for (std::uint32_t i = 0; i < 100; ++i) lines.InsertNew(OrvNetId(7, i), i);
  for (std::uint32_t i = 0; i < 100; ++i) EXPECT_EQ(lines.Find(OrvNetId(7, i))->value, i);
}

TEST(NetIdTables, InsertOrAssignOfAdminTexts) {
  TNetIdToShortStringMap admins;
  const OrvNetId admin(5, 0);
  const auto [entry, added] = InsertOrAssign(admins, admin, ShortText("kb"));
  EXPECT_TRUE(added);
  EXPECT_EQ(entry->value.length, 2u);

  // A value of length 0 leaves the entry at length 0.
  const auto [same, addedAgain] = InsertOrAssign(admins, admin, ShortText(""));
  EXPECT_FALSE(addedAgain);
  EXPECT_EQ(same, entry);
  EXPECT_EQ(same->value.length, 0u);

  InsertOrAssign(admins, admin, ShortText("klmn"));
  // The entry's own value assigned to it changes nothing.
  InsertOrAssign(admins, admin, admins.Find(admin)->value);
  EXPECT_EQ(admins.Find(admin)->value.length, 4u);
  EXPECT_EQ(std::memcmp(admins.Find(admin)->value.bytes, "klmn", 4), 0);
  EXPECT_EQ(admins.Count(), 1u);
}

TEST(NetIdTables, IdVectorKeepsItsIdsThroughGrowth) {
  TNetIdVector ids;
  for (std::uint32_t i = 0; i < 50; ++i) ids.PushBack(OrvNetId(i, 0x04000000 | i));
  ASSERT_EQ(ids.GetSize(), 50u);
  for (std::uint32_t i = 0; i < 50; ++i) EXPECT_EQ(ids[i], OrvNetId(i, 0x04000000 | i));
}

TEST(QueuedClientRecords, AGrowingVectorKeepsEachPacketsCount) {
  std::vector<TPacketBufferPtr> packets(20);
  for (std::uint32_t i = 0; i < packets.size(); ++i) {
    const std::uint8_t byte = static_cast<std::uint8_t>(i);
    CreatePacketBuffer(packets[i], &byte, 1);
  }
  {
    TQueuedClientRecordVector records;
    for (std::uint32_t i = 0; i < packets.size(); ++i) {
      TQueuedClientRecord record;
      record.kind = 5;
      record.packet = packets[i];
      record.text = "state";
      record.values[4] = i;
      records.PushBack(std::move(record));
      for (std::uint32_t j = 0; j <= i; ++j) EXPECT_EQ(packets[j]->refCount, 2) << i << " " << j;
    }
    for (std::uint32_t i = 0; i < packets.size(); ++i) {
      EXPECT_EQ(records[i].packet.Get(), packets[i].Get());
      EXPECT_EQ(records[i].values[4], i);
      EXPECT_EQ(records[i].text, "state");
    }
    records.EraseAt(0);
    EXPECT_EQ(packets[0]->refCount, 1);
    EXPECT_EQ(packets[1]->refCount, 2);
  }
  for (const TPacketBufferPtr& packet : packets) EXPECT_EQ(packet->refCount, 1);
}

}  // namespace
}  // namespace Orvan::Network
