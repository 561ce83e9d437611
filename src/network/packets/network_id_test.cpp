#include "network/packets/network_id.h"

#include <gtest/gtest.h>

#include <string>

namespace Orvan::Network {
namespace {

TEST(OrvNetId, FromStringTakesExactlyTheGivenLength) {
  struct Case {
    const char* text;
    int length;
    bool valid;
    std::uint64_t value;
  };
  constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
  const Case cases[] = {
      {"123", 3, true, 123},
      {"123x", 4, false, kAllOnes},
      {"12", 3, false, kAllOnes},
      {"", 0, true, 0},
      {"1234", 3, false, kAllOnes},  // the whole number is read, then its length checked
      {"18374686479671623679", 20, true, 0xFEFFFFFFFFFFFFFFull},
      {"18446744073709551614", 20, false, 0xFFFFFFFFFFFFFFFEull},  // kind 255
      {"18446744073709551615", 20, false, kAllOnes},  // all ones is the invalid id
      {"99999999999999999999", 20, false, kAllOnes},  // saturates to all ones
      {"72057594037927935", 17, true, 0x00FFFFFFFFFFFFFFull},
  };
  for (const Case& c : cases) {
    OrvNetId id(1, 2);
    id.FromString(c.text, c.length);
    EXPECT_EQ(id.IsValid(), c.valid) << c.text;
    EXPECT_EQ(id.GetValue(), c.value) << c.text;
  }
}

TEST(OrvNetId, KindsValidityAndWords) {
  OrvNetId address;
  address.FromAddress(0x7F000001, 80);
  EXPECT_EQ(address.GetKind(), OrvNetId::kKindAddress);
  EXPECT_TRUE(address.IsAddressId());
  EXPECT_EQ(address.GetIpAddress(), 0x7F000001u);
  EXPECT_EQ(address.GetHighWord(), 0x04000050u);
  EXPECT_EQ(address.GetHash(), 0x7F000001u);

  OrvNetId id(5, 0x00123456);
  EXPECT_TRUE(id.IsClientId());
  id.SetTeamKind();
  EXPECT_TRUE(id.IsTeamId());
  EXPECT_EQ(id.GetHighWord(), 0x01123456u);
  id.SetKindTwo();
  EXPECT_TRUE(id.IsKindTwo());
  id.SetAddressKind();
  EXPECT_TRUE(id.IsAddressId());
  id.SetClientKind();
  EXPECT_EQ(id.GetValue(), 0x0012345600000005ull);

  EXPECT_FALSE(OrvNetId().IsValid());
  OrvNetId kind255(0, 0xFF000000);
  EXPECT_FALSE(kind255.IsValid());
  OrvNetId invalidated(1, 1);
  invalidated.Invalidate();
  EXPECT_FALSE(invalidated.IsValid());
  EXPECT_EQ(invalidated, OrvNetId());
}

TEST(OrvNetId, PrintsItsWholeValueInDecimal) {
  EXPECT_STREQ(OrvNetId().ToString().c_str(), "18446744073709551615");
  EXPECT_STREQ(OrvNetId(0, 0).ToString().c_str(), "0");
  EXPECT_STREQ(OrvNetId(7, 0x04000000).ToString().c_str(), "288230376151711751");
}

TEST(OrvNetId, ComparesAllSixtyFourBitsHighWordFirst) {
  const OrvNetId client(10, 0);
  const OrvNetId team(10, 0x01000000);
  EXPECT_NE(client, team);
  EXPECT_EQ(client.GetHash(), team.GetHash());
  EXPECT_LT(client, team);
  EXPECT_LT(OrvNetId(0xFFFFFFFF, 0), OrvNetId(0, 1));
  EXPECT_FALSE(OrvNetId(3, 3) < OrvNetId(3, 3));
  EXPECT_EQ(OrvNetId::FromValue(0x0102030405060708ull), OrvNetId(0x05060708, 0x01020304));
}

}  // namespace
}  // namespace Orvan::Network
