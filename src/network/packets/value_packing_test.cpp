#include "network/packets/value_packing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace Orvan::Network {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Packs into a 64-byte buffer and answers the result and the bytes written.
template <typename... Args>
std::pair<std::uint32_t, Bytes> Pack(const char* format, const Args&... args) {
  std::uint8_t buffer[64];
  TFixedBufferWriter writer(buffer, sizeof(buffer));
  const std::uint32_t result = PackValues(writer, TRuntimeFormat(format), args...);
  return {result, Bytes(buffer, buffer + writer.GetPosition())};
}

TEST(PackValues, EachLetterByteForByte) {
  const TOrvString<char> abc("abc");
  const TOrvString<char> empty;
  struct Case {
    const char* name;
    std::pair<std::uint32_t, Bytes> packed;
    std::uint32_t result;
    Bytes expected;
  };
  constexpr std::uint32_t ok = kBufferOk;
  constexpr std::uint32_t bad = kPackBadFormat;
  const Case cases[] = {
      {"B", Pack("B", 0x1FF), ok, {0xFF}},
      {"b", Pack("b", -1), ok, {0xFF}},
      {"a of 5", Pack("a", 5), ok, {0x01}},
      {"a of 0", Pack("a", 0), ok, {0x00}},
      {"a of true", Pack("a", true), ok, {0x01}},
      {"H", Pack("H", 0x1234), ok, {0x12, 0x34}},
      {"h keeps the low 16 bits", Pack("h", 0x51234), ok, {0x12, 0x34}},
      {"I", Pack("I", 1u), ok, {0, 0, 0, 1}},
      {"L", Pack("L", 0xA1B2C3D4u), ok, {0xA1, 0xB2, 0xC3, 0xD4}},
      {"i negative", Pack("i", -2), ok, {0xFF, 0xFF, 0xFF, 0xFE}},
      {"Q", Pack("Q", std::uint64_t{1}), ok, {0, 0, 0, 0, 0, 0, 0, 1}},
      {"q", Pack("q", std::int64_t{-1}), ok, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"s", Pack("s", &abc), ok, {0, 0, 0, 3, 'a', 'b', 'c'}},
      {"s empty", Pack("s", &empty), ok, {0, 0, 0, 0}},
      {"#c size 4", Pack("#c", 4u, "abc"), ok, {0, 3, 'a', 'b', 'c'}},
      {"#c size 3 is too small", Pack("#c", 3u, "abc"), bad, {}},
      {"#c empty text", Pack("#c", 1u, ""), ok, {0, 0}},
      {"#v", Pack("#v", 3u, "\x01\x02\x03"), ok, {1, 2, 3}},
      {"#v count 0", Pack("#v", 0u, static_cast<const void*>(nullptr)), ok, {}},
      {"f 1.0", Pack("f", 1.0), ok, {0x3F, 0x80, 0, 0}},
      {"f -2.5", Pack("f", -2.5), ok, {0xC0, 0x20, 0, 0}},
      {"f 0.0", Pack("f", 0.0), ok, {0, 0, 0, 0}},
      {"f -0.0", Pack("f", -0.0), ok, {0, 0, 0, 0}},
      {"f of a float argument", Pack("f", 0.5f), ok, {0x3F, 0, 0, 0}},
      {"f largest float", Pack("f", static_cast<double>(std::numeric_limits<float>::max())), ok, {0x7F, 0x7F, 0xFF, 0xFF}},
      {"f smallest normal float", Pack("f", static_cast<double>(std::numeric_limits<float>::min())), ok, {0, 0x80, 0, 0}},
      {"d 1.0", Pack("d", 1.0), ok, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"d 0.1", Pack("d", 0.1), ok, {0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}},
      {"d -0.0", Pack("d", -0.0), ok, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"X", Pack("X"), bad, {}},
      {"#x", Pack("#x", 1u), bad, {}},
      {"# at the end", Pack("#", 1u), bad, {}},
      {"empty format", Pack(""), ok, {}},
      {"fields before a bad letter stay written", Pack("BX", 7), bad, {7}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.packed.first, c.result) << c.name;
    EXPECT_EQ(c.packed.second, c.expected) << c.name;
  }
}

TEST(PackValues, RefusesFloatingValuesTheWordCannotCarry) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* format;
    double value;
  };
  const Case cases[] = {
      {"f", inf},
      {"f", -inf},
      {"f", nan},
      {"f", 1e39},                                                  // above the float range
      {"f", static_cast<double>(std::numeric_limits<float>::denorm_min())},  // subnormal float
      {"f", 1e-40},
      {"d", inf},
      {"d", nan},
      {"d", std::numeric_limits<double>::denorm_min()},
  };
  for (const Case& c : cases) {
    const auto [result, bytes] = Pack(c.format, c.value);
    EXPECT_EQ(result, kPackBadFormat) << c.format << " " << c.value;
    EXPECT_TRUE(bytes.empty()) << c.format << " " << c.value;
  }
  // A double so small that it rounds to a float zero packs as zero.
  EXPECT_EQ(Pack("f", 1e-300), (std::pair<std::uint32_t, Bytes>{kBufferOk, {0, 0, 0, 0}}));
}

TEST(PackValues, LimitsOfLengthsAndCounts) {
  const TOrvString<char> longest(std::string(65535, 'x'));
  const TOrvString<char> tooLong(std::string(65536, 'x'));
  std::vector<std::uint8_t> buffer(70000);
  TFixedBufferWriter writer(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  EXPECT_EQ(PackValues(writer, "s", &longest), kBufferOk);
  EXPECT_EQ(writer.GetPosition(), 65539u);
  EXPECT_EQ(PackValues(writer, "s", &tooLong), kPackBadFormat);
  EXPECT_EQ(PackValues(writer, "#v", 65536u, buffer.data()), kPackBadFormat);
  EXPECT_EQ(PackValues(writer, "#c", 65536u, "abc"), kPackBadFormat);
  // A text without its terminator inside the buffer size is refused, not read past.
  const char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(PackValues(writer, "#c", 3u, unterminated), kPackBadFormat);
  EXPECT_EQ(writer.GetPosition(), 65539u);
}

TEST(PackValues, WriterFailuresPassThroughAndEarlierFieldsStay) {
  std::uint8_t buffer[2];
  TFixedBufferWriter writer(buffer, sizeof(buffer));
  EXPECT_EQ(PackValues(writer, "HB", 0x0102, 3), kBufferWriterFull);
  EXPECT_EQ(writer.GetPosition(), 2u);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1], 2);
}

TEST(PackValues, ARuntimeFormatThatDoesNotFitItsArgumentsAnswers22WithNothingWritten) {
  const TOrvString<char> text("t");
  struct Case {
    const char* name;
    std::pair<std::uint32_t, Bytes> packed;
  };
  const Case cases[] = {
      {"an int where Q reads 8 bytes", Pack("Q", 1)},
      {"a 64-bit value where I reads 4", Pack("BI", 1, std::uint64_t{1})},
      {"an integer where f reads a double", Pack("f", 1)},
      {"a missing argument", Pack("BB", 1)},
      {"an argument too many", Pack("B", 1, 2)},
      {"a number where s reads a string", Pack("s", 5)},
      {"a string where #c reads a text", Pack("#c", 4u, &text)},
      {"a 64-bit count", Pack("#v", std::uint64_t{1}, "x")},
      {"a null format", Pack(nullptr)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.packed.first, kPackBadFormat) << c.name;
    EXPECT_TRUE(c.packed.second.empty()) << c.name;
  }
}

// What a literal format accepts is settled at compile time by the same walk.
template <typename... Args>
constexpr PackingDetail::EFormatCheck CheckPack(const char* format) {
  const std::uint32_t slots[] = {PackingDetail::SlotsOf<Args>()..., 0};
  return PackingDetail::CheckFormat(format, slots, sizeof...(Args), false);
}
template <typename... Args>
constexpr PackingDetail::EFormatCheck CheckUnpack(const char* format) {
  const std::uint32_t slots[] = {PackingDetail::SlotsOf<Args>()..., 0};
  return PackingDetail::CheckFormat(format, slots, sizeof...(Args), true);
}
using PackingDetail::EFormatCheck;
static_assert(CheckPack<int>("Q") == EFormatCheck::kMismatch);
static_assert(CheckPack<long>("Q") == EFormatCheck::kMatch);
static_assert(CheckPack<unsigned long>("I") == EFormatCheck::kMismatch);
static_assert(CheckPack<unsigned, const char*>("#c") == EFormatCheck::kMatch);
static_assert(CheckPack<unsigned, const std::uint8_t*>("#v") == EFormatCheck::kMatch);
static_assert(CheckPack<unsigned, const std::uint32_t*>("#v") == EFormatCheck::kMismatch);
static_assert(CheckPack<const TOrvString<char>*>("s") == EFormatCheck::kMatch);
static_assert(CheckPack<int>("X") == EFormatCheck::kBadLetter);
static_assert(CheckUnpack<unsigned long*>("L") == EFormatCheck::kMismatch);  // 8 bytes on this host
static_assert(CheckUnpack<std::uint32_t*>("L") == EFormatCheck::kMatch);
static_assert(CheckUnpack<std::int16_t*>("h") == EFormatCheck::kMatch);
static_assert(CheckUnpack<std::uint8_t*>("a") == EFormatCheck::kMismatch);
static_assert(CheckUnpack<bool*>("a") == EFormatCheck::kMatch);
static_assert(CheckUnpack<double*>("f") == EFormatCheck::kMismatch);
static_assert(CheckUnpack<const TOrvString<char>*>("s") == EFormatCheck::kMismatch);
static_assert(CheckUnpack<unsigned, const char*>("#c") == EFormatCheck::kMismatch);
static_assert(CheckUnpack<unsigned, char*>("#c") == EFormatCheck::kMatch);

template <typename... Args>
std::uint32_t Unpack(const Bytes& bytes, const char* format, Args... args) {
  TFixedBufferReader reader(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return UnpackValues(reader, TRuntimeFormat(format), args...);
}

TEST(UnpackValues, IntegersAndFlags) {
  std::uint8_t b = 0;
  bool flag = false;
  std::uint16_t h = 0;
  std::uint32_t i = 0;
  std::uint64_t q = 0;
  EXPECT_EQ(Unpack({0xFE, 0x02, 0x12, 0x34, 0, 0, 0, 1, 0x80, 0, 0, 0, 0, 0, 0, 2}, "BaHIQ", &b, &flag, &h, &i, &q),
            kBufferOk);
  EXPECT_EQ(b, 0xFE);
  EXPECT_TRUE(flag);  // any byte but 0
  EXPECT_EQ(h, 0x1234);
  EXPECT_EQ(i, 1u);
  EXPECT_EQ(q, 0x8000000000000002ull);
  std::int16_t signedShort = 0;
  EXPECT_EQ(Unpack({0xFF, 0xFE}, "h", &signedShort), kBufferOk);
  EXPECT_EQ(signedShort, -2);
}

TEST(UnpackValues, FloatingWordsAreComputedInTheTargetType) {
  struct Case {
    const char* name;
    Bytes word;
    float expected;
  };
  const Case cases[] = {
      {"1.0", {0x3F, 0x80, 0, 0}, 1.0f},
      {"-2.5", {0xC0, 0x20, 0, 0}, -2.5f},
      {"zero word", {0, 0, 0, 0}, 0.0f},
      {"exponent field 0 is no subnormal", {0, 0x40, 0, 0}, std::ldexp(1.5f, -127)},
      {"80 00 00 00 is a tiny negative number", {0x80, 0, 0, 0}, -std::ldexp(1.0f, -127)},
      {"exponent field 255 is infinity", {0x7F, 0x80, 0, 0}, std::numeric_limits<float>::infinity()},
  };
  for (const Case& c : cases) {
    float value = 12345.0f;
    EXPECT_EQ(Unpack(c.word, "f", &value), kBufferOk) << c.name;
    EXPECT_EQ(value, c.expected) << c.name;
  }
  float tiny = 0;
  Unpack({0x80, 0, 0, 0}, "f", &tiny);
  EXPECT_TRUE(std::signbit(tiny));
  EXPECT_NE(tiny, 0.0f);

  double d = 0;
  EXPECT_EQ(Unpack({0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, "d", &d), kBufferOk);
  EXPECT_EQ(d, 0.1);
  EXPECT_EQ(Unpack({0xFF, 0xF0, 0, 0, 0, 0, 0, 0}, "d", &d), kBufferOk);
  EXPECT_EQ(d, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(Unpack({0x80, 0, 0, 0, 0, 0, 0, 0}, "d", &d), kBufferOk);
  EXPECT_EQ(d, -std::ldexp(1.0, -1023));
}

TEST(UnpackValues, StringsAndCountedItems) {
  TOrvString<char> text;
  EXPECT_EQ(Unpack({0, 0, 0, 3, 'a', 'b', 'c', 'd'}, "s", &text), kBufferOk);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(text.GetLength(), 3u);

  TOrvString<char> kept("kept");
  EXPECT_EQ(Unpack({0, 1, 0, 0}, "s", &kept), kPackBadFormat);  // above 65535
  EXPECT_EQ(Unpack({0, 0, 0, 5, 'a', 'b'}, "s", &kept), kBufferReaderShort);
  EXPECT_EQ(kept, "kept");
  EXPECT_EQ(Unpack({0, 0, 0, 0}, "s", &kept), kBufferOk);
  EXPECT_TRUE(kept.IsEmpty());

  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(Unpack({0, 3, 'a', 'b', 'c'}, "#c", 4u, buffer), kBufferOk);
  EXPECT_STREQ(buffer, "abc");
  char small[3] = {'x', 'x', 'x'};
  EXPECT_EQ(Unpack({0, 3, 'a', 'b', 'c'}, "#c", 3u, small), kPackBadFormat);
  EXPECT_EQ(small[0], 'x');
  EXPECT_EQ(Unpack({0, 3, 'a', 'b', 'c'}, "#c", 65536u, buffer), kPackBadFormat);

  std::uint8_t raw[3] = {};
  EXPECT_EQ(Unpack({9, 8, 7}, "#v", 3u, raw), kBufferOk);
  EXPECT_EQ(raw[2], 7);
  EXPECT_EQ(Unpack({9, 8}, "#v", 3u, raw), kBufferReaderShort);
}

TEST(UnpackValues, BadFormatsAndShortReadersKeepWhatWasReadBefore) {
  std::uint8_t first = 0;
  std::uint16_t second = 0;
  EXPECT_EQ(Unpack({5, 0}, "BH", &first, &second), kBufferReaderShort);
  EXPECT_EQ(first, 5);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(Unpack({6}, "BX", &first), kPackBadFormat);
  EXPECT_EQ(first, 6);
  EXPECT_EQ(Unpack({6}, "#x", 1u), kPackBadFormat);
  EXPECT_EQ(Unpack({}, ""), kBufferOk);
  std::uint32_t wide = 0;
  EXPECT_EQ(Unpack({1, 2}, "H", &wide), kPackBadFormat);  // a 4-byte target for a 2-byte field
}

TEST(PackValues, RoundTripThroughLiteralFormats) {
  std::uint8_t buffer[128];
  TFixedBufferWriter writer(buffer, sizeof(buffer));
  const TOrvString<char> name("name");
  ASSERT_EQ(PackValues(writer, "BaHILQfds#c#v", std::uint8_t{200}, false, std::uint16_t{65535}, 7, 0xFFFFFFFFu,
                       std::uint64_t{1} << 63, 3.5f, -1e100, &name, 8u, "text", 2u, "\x10\x20"),
            kBufferOk);
  TFixedBufferReader reader(buffer, writer.GetPosition());
  std::uint8_t b = 0;
  bool a = true;
  std::uint16_t h = 0;
  std::int32_t i = 0;
  std::uint32_t l = 0;
  std::uint64_t q = 0;
  float f = 0;
  double d = 0;
  TOrvString<char> s;
  char text[8];
  std::uint8_t raw[2];
  ASSERT_EQ(UnpackValues(reader, "BaHILQfds#c#v", &b, &a, &h, &i, &l, &q, &f, &d, &s, 8u, text, 2u, raw), kBufferOk);
  EXPECT_EQ(reader.GetPosition(), writer.GetPosition());
  EXPECT_EQ(b, 200);
  EXPECT_FALSE(a);
  EXPECT_EQ(h, 65535);
  EXPECT_EQ(i, 7);
  EXPECT_EQ(l, 0xFFFFFFFFu);
  EXPECT_EQ(q, std::uint64_t{1} << 63);
  EXPECT_EQ(f, 3.5f);
  EXPECT_EQ(d, -1e100);
  EXPECT_EQ(s, "name");
  EXPECT_STREQ(text, "text");
  EXPECT_EQ(raw[1], 0x20);
}

TEST(SingleValues, WritersAndReadersOfEachWidth) {
  std::uint8_t buffer[14];
  TFixedBufferWriter writer(buffer, sizeof(buffer));
  EXPECT_EQ(WriteUInt8(writer, 0xAB), kBufferOk);
  EXPECT_EQ(WriteUInt16(writer, 0x0102), kBufferOk);
  EXPECT_EQ(WriteUInt32(writer, 0x03040506), kBufferOk);
  EXPECT_EQ(WriteUInt64(writer, 0x0708090A0B0C0D0Eull), kBufferWriterFull);
  EXPECT_EQ(writer.GetPosition(), 7u);
  const std::uint8_t expected[7] = {0xAB, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(std::memcmp(buffer, expected, 7), 0);

  const std::uint8_t input[15] = {0xAB, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  TFixedBufferReader reader(input, sizeof(input));
  std::uint8_t u8 = 0;
  std::uint16_t u16 = 0;
  std::uint32_t u32 = 0;
  std::uint64_t u64 = 0;
  EXPECT_TRUE(ReadUInt8(reader, u8));
  EXPECT_TRUE(ReadUInt16(reader, u16));
  EXPECT_TRUE(ReadUInt32(reader, u32));
  EXPECT_TRUE(ReadUInt64(reader, u64));
  EXPECT_EQ(u8, 0xAB);
  EXPECT_EQ(u16, 0x0102);
  EXPECT_EQ(u32, 0x03040506u);
  EXPECT_EQ(u64, 0x0708090A0B0C0D0Eull);
  EXPECT_FALSE(ReadUInt8(reader, u8));
}

}  // namespace
}  // namespace Orvan::Network
