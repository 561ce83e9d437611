#include "network/database/byte_decoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Orvan::Network::Base64DecodeToBuffer;
using Orvan::Network::HexToBytes;
using TBytes = std::vector<std::uint8_t>;

TEST(ByteDecodingTest, HexToBytesWritesWhatItCanAndTellsWhetherTheLengthWasExact) {
  const struct {
    std::string text;
    std::uint32_t n;
    bool result;
    TBytes bytes;  // what the output holds after the call (0xEE: untouched)
  } cases[] = {
      {"00ff7Fa5", 4, true, {0x00, 0xFF, 0x7F, 0xA5}},
      {"0g1z", 2, true, {0x00, 0x10}},          // other characters count as 0
      {"0102", 3, false, {0x01, 0x02, 0xEE}},   // short: stops where the text ends
      {"01020", 3, false, {0x01, 0x02, 0xEE}},  // half a byte is no byte
      {"010203", 2, false, {0x01, 0x02}},       // longer: bytes written, result false
      {"", 0, true, {}},
      {"ab", 0, false, {}},
  };
  for (const auto& test : cases) {
    TBytes out(test.bytes.size(), 0xEE);
    EXPECT_EQ(HexToBytes(test.text.c_str(), out.data(), test.n), test.result) << test.text;
    EXPECT_EQ(out, test.bytes) << test.text;
  }
  // The two lengths of a 16-byte salt that are not 32 characters.
  TBytes salt(16, 0xEE);
  EXPECT_FALSE(HexToBytes(std::string(31, '1').c_str(), salt.data(), 16));
  EXPECT_EQ(salt[14], 0x11);
  EXPECT_EQ(salt[15], 0xEE);
  EXPECT_FALSE(HexToBytes(std::string(34, '1').c_str(), salt.data(), 16));
  EXPECT_EQ(salt[15], 0x11);
}

TEST(ByteDecodingTest, Base64FillsTheBufferOrZeroesIt) {
  const struct {
    std::string text;
    std::uint32_t n;
    bool result;
    TBytes bytes;
  } cases[] = {
      {"AAEC/w==\n", 4, true, {0x00, 0x01, 0x02, 0xFF}},
      {"AAEC/w====\n", 4, false, {0, 0, 0, 0}},  // padding after padding: the filter gives nothing
      {"AAECAwQ=\n", 3, true, {0x00, 0x01, 0x02}},          // more than asked: the first n
      {"AAEC\n", 4, false, {0, 0, 0, 0}},
      {"!!!!\n", 2, false, {0, 0}},
      {"\n", 1, false, {0}},
  };
  for (const auto& test : cases) {
    TBytes out(test.bytes.size(), 0xEE);
    EXPECT_EQ(Base64DecodeToBuffer(test.text.c_str(), out.data(), test.n), test.result) << test.text;
    EXPECT_EQ(out, test.bytes) << test.text;
  }
}

}  // namespace
