#include "core/numbers/crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <boost/crc.hpp>
#include <cstring>
#include <random>
#include <vector>

#include "support/threads_together.h"

namespace Orvan {
namespace {

const std::uint8_t* Digits() { return reinterpret_cast<const std::uint8_t*>("123456789"); }

using TBoostCrc64 = boost::crc_optimal<64, 0x42F0E1EBA9EA3693, ~0ull, ~0ull, false, false>;
using TBoostCrc32 = boost::crc_optimal<32, 0x04C11DB7, 0xFFFFFFFF, 0xFFFFFFFF, true, true>;
using TBoostCrc16 = boost::crc_optimal<16, 0x8005, 0, 0, true, true>;

std::uint32_t Reverse32(std::uint32_t value) {
  std::uint32_t reversed = 0;
  for (int bit = 0; bit < 32; ++bit, value >>= 1) reversed = (reversed << 1) | (value & 1);
  return reversed;
}

TEST(CrcTest, CheckValuesEmptyAndNullInputs) {
  EXPECT_EQ(Crc64(Digits(), 9), 0x62EC59E3F1A4F00Au);
  EXPECT_EQ(Crc32(Digits(), 9), 0xCBF43926u);
  EXPECT_EQ(Crc16(Digits(), 9), 0xBB3Du);
  EXPECT_EQ(~Crc64Update(Digits(), 9, ~std::uint64_t{0}), 0x62EC59E3F1A4F00Au);
  EXPECT_EQ(Crc32WithInitial(0xFFFFFFFF, Digits(), 9), Crc32(Digits(), 9));
  EXPECT_EQ(Crc16WithInitial(0, Digits(), 9), Crc16(Digits(), 9));

  EXPECT_EQ(Crc64(Digits(), 0), 0u);
  EXPECT_EQ(Crc32(Digits(), 0), 0u);
  EXPECT_EQ(Crc16(Digits(), 0), 0u);
  EXPECT_EQ(Crc64Update(Digits(), 0, 0x1234), 0x1234u);
  EXPECT_EQ(Crc64(nullptr, 9), 0u);
  EXPECT_EQ(Crc32(nullptr, 9), 0u);
  EXPECT_EQ(Crc16(nullptr, 9), 0u);
  EXPECT_EQ(Crc32WithInitial(0x12345678, nullptr, 9), 0x12345678u);
  EXPECT_EQ(Crc16WithInitial(0xABCD, nullptr, 9), 0xABCDu);
}

TEST(CrcTest, AgreeWithBoostAndZlibOnRandomInputs) {
  std::mt19937 random(20260101);
  std::uniform_int_distribution<int> lengths(0, 4096);
  std::uniform_int_distribution<int> bytes(0, 255);
  std::uniform_int_distribution<std::uint32_t> words;
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(lengths(random)));
    for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(bytes(random));
    const auto size = static_cast<std::uint32_t>(data.size());
    SCOPED_TRACE(size);

    TBoostCrc64 crc64;
    crc64.process_bytes(data.data(), data.size());
    EXPECT_EQ(Crc64(data.data(), size), crc64.checksum());
    TBoostCrc32 crc32;
    crc32.process_bytes(data.data(), data.size());
    EXPECT_EQ(Crc32(data.data(), size), crc32.checksum());
    EXPECT_EQ(Crc32(data.data(), size), ::crc32(0, data.data(), size));
    TBoostCrc16 crc16;
    crc16.process_bytes(data.data(), data.size());
    EXPECT_EQ(Crc16(data.data(), size), crc16.checksum());

    // Initial values are given unreflected, as boost takes them; zlib takes the reflected register
    // after its own inversion.
    const std::uint32_t initial = words(random);
    TBoostCrc32 seeded32(initial);
    seeded32.process_bytes(data.data(), data.size());
    EXPECT_EQ(Crc32WithInitial(initial, data.data(), size), seeded32.checksum());
    EXPECT_EQ(Crc32WithInitial(initial, data.data(), size),
              ::crc32(Reverse32(initial) ^ 0xFFFFFFFF, data.data(), size));
    const auto initial16 = static_cast<std::uint16_t>(initial);
    TBoostCrc16 seeded16(initial16);
    seeded16.process_bytes(data.data(), data.size());
    EXPECT_EQ(Crc16WithInitial(initial16, data.data(), size), seeded16.checksum());
  }
}

TEST(CrcTest, UpdateInPiecesEqualsOneRun) {
  std::vector<std::uint8_t> data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + 7);
  std::uint64_t crc = ~std::uint64_t{0};
  crc = Crc64Update(data.data(), 1, crc);
  crc = Crc64Update(data.data() + 1, 500, crc);
  crc = Crc64Update(data.data() + 501, 499, crc);
  EXPECT_EQ(~crc, Crc64(data.data(), 1000));
}

// Each test runs in a process of its own, so these are the tables' first uses.
TEST(CrcThreadedTest, TablesBuiltOnceWhenFirstUsedOnManyThreads) {
  std::atomic<int> wrong{0};
  OrvTest::RunOnThreadsTogether(8, [&](int index) {
    const bool ok = (index % 2 == 0) ? Crc32(Digits(), 9) == 0xCBF43926u && Crc16(Digits(), 9) == 0xBB3Du
                                     : Crc16(Digits(), 9) == 0xBB3Du && Crc32(Digits(), 9) == 0xCBF43926u;
    if (!ok) wrong.fetch_add(1);
  });
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Orvan
