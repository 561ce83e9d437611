#include "core/numbers/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace Orvan {
namespace {

std::string Bytes(const std::ostringstream& stream) { return stream.str(); }

TEST(ByteOrderTest, ArraySwapsCountWholeElementsAndLeaveTheRest) {
  const std::uint16_t source16[3] = {0x0102, 0x0304, 0x0506};
  std::uint16_t out16[3] = {0xEEEE, 0xEEEE, 0xEEEE};
  EXPECT_EQ(SwapCopy16(out16, source16, 5), 2u);
  EXPECT_EQ(out16[0], 0x0201);
  EXPECT_EQ(out16[1], 0x0403);
  EXPECT_EQ(out16[2], 0xEEEE);
  EXPECT_EQ(SwapCopy16(out16, source16, 1), 0u);

  const std::uint32_t source32[2] = {0x01020304, 0x05060708};
  std::uint32_t out32[2] = {0xEEEEEEEE, 0xEEEEEEEE};
  EXPECT_EQ(SwapCopy32(out32, source32, 3), 0u);
  EXPECT_EQ(out32[0], 0xEEEEEEEEu);
  EXPECT_EQ(SwapCopy32(out32, source32, 6), 1u);
  EXPECT_EQ(out32[0], 0x04030201u);
  EXPECT_EQ(out32[1], 0xEEEEEEEEu);

  const std::uint64_t source64[2] = {0x0102030405060708, 0x1112131415161718};
  std::uint64_t out64[2] = {0, 0};
  SwapCopy64(out64, source64, 16);
  EXPECT_EQ(out64[0], 0x0807060504030201u);
  EXPECT_EQ(out64[1], 0x1817161514131211u);

  std::uint16_t in16[2] = {0x0102, 0x0304};
  EXPECT_EQ(SwapInPlace16(in16, 3), 1u);
  EXPECT_EQ(in16[0], 0x0201);
  EXPECT_EQ(in16[1], 0x0304);
  std::uint32_t in32[2] = {0x01020304, 0x05060708};
  EXPECT_EQ(SwapInPlace32(in32, 8), 2u);
  EXPECT_EQ(in32[1], 0x08070605u);
  EXPECT_EQ(SwapWords32(in32, 1), 1u);  // a count of words
  EXPECT_EQ(in32[0], 0x01020304u);
  EXPECT_EQ(in32[1], 0x08070605u);
  std::uint64_t in64[1] = {0x0102030405060708};
  SwapInPlace64(in64, 15);
  EXPECT_EQ(in64[0], 0x0807060504030201u);

  char bytes[4] = {1, 2, 3, 4};
  char copy[4] = {};
  EXPECT_EQ(SwapCopy8(copy, bytes, 4), copy);
  EXPECT_EQ(std::memcmp(copy, bytes, 4), 0);
  EXPECT_EQ(SwapInPlace8(bytes, 4), 0u);
  EXPECT_EQ(bytes[0], 1);
}

TEST(ByteOrderTest, WritersPutTheMostSignificantByteFirst) {
  std::ostringstream stream;
  TBigEndianWriter writer(&stream);
  writer << std::int64_t{0x0102030405060708} << std::int32_t{-2};
  WriteBigEndianFloat(stream, 1.0f);
  WriteBigEndianDouble(stream, -2.0);
  EXPECT_EQ(Bytes(stream), std::string("\x01\x02\x03\x04\x05\x06\x07\x08"
                                       "\xFF\xFF\xFF\xFE"
                                       "\x3F\x80\x00\x00"
                                       "\xC0\x00\x00\x00\x00\x00\x00\x00",
                                       24));
}

TEST(ByteOrderTest, ReadersTakeBytesAsUnsignedAndDoublesAsBitPatterns) {
  std::istringstream stream(std::string("\xFF\xFF\xFF\xFE"
                                        "\x80\x00\x00\x01"
                                        "\x40\x09\x21\xFB\x54\x44\x2D\x18"
                                        "\xC0\x00\x00\x00\x00\x00\x00\x00",
                                        24));
  TBigEndianReader reader(&stream);
  std::uint32_t word = 0;
  reader >> word;
  EXPECT_EQ(word, 0xFFFFFFFEu);
  EXPECT_EQ(ReadBigEndianInt32(stream), static_cast<std::int32_t>(0x80000001));
  double value = 0;
  reader >> value;
  EXPECT_EQ(value, 3.141592653589793);
  EXPECT_EQ(ReadBigEndianDouble(stream), -2.0);
  EXPECT_TRUE(stream.good());

  // At the end: 0.0, and the stream says the read failed.
  value = 7.0;
  reader >> value;
  EXPECT_EQ(value, 0.0);
  EXPECT_TRUE(stream.fail());
  value = 7.0;
  reader >> value;
  EXPECT_EQ(value, 0.0);
  EXPECT_EQ(ReadBigEndianDouble(stream), 0.0);
}

TEST(ByteOrderTest, AValueCutByTheEndHoldsOnlyTheBytesRead) {
  std::istringstream stream(std::string("\x01\x02", 2));
  TBigEndianReader reader(&stream);
  std::uint32_t word = 0xEEEEEEEE;
  reader >> word;
  EXPECT_EQ(word, 0x0102u);
  EXPECT_TRUE(stream.fail());
}

}  // namespace
}  // namespace Orvan
