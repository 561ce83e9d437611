#include "core/numbers/md5.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "support/threads_together.h"

namespace Orvan {
namespace {

using TNarrow = TOrvString<char>;

std::string Hex(const TMD5Digest& digest) { return std::string(digest.ToString().GetData()); }

std::string DigestHex(const std::string& text) {
  TMD5Digest digest;
  ComputeMD5(digest, text.data(), static_cast<std::uint32_t>(text.size()));
  return Hex(digest);
}

// Bytes (i * 7 + 3) mod 256.
std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

TEST(MD5Test, Rfc1321Suite) {
  const struct {
    const char* text;
    const char* hex;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DigestHex(c.text), c.hex);
    TMD5Digest fromString;
    ComputeMD5(fromString, TNarrow(c.text));
    EXPECT_EQ(Hex(fromString), c.hex);
  }
}

TEST(MD5Test, LengthsAroundThePaddingBlockAndUnevenPieces) {
  const struct {
    std::size_t size;
    const char* hex;
  } cases[] = {
      {55, "52c0e574e1198de5fe3f8f11440dcb1b"},
      {56, "46c9907fc908ee68b1e7b8e71286a518"},
      {63, "a62f6d59e837867693f042f5b8f5a236"},
      {64, "7160b8fb5e9e4023d549c3971fbaeead"},
      {65, "70bd662e7aefbda85a0f7244167b7897"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    // One byte of slack in front, so the same bytes can also be read off a 4-byte boundary.
    std::vector<std::uint8_t> buffer(c.size + 1);
    const std::vector<std::uint8_t> bytes = Pattern(c.size);
    std::memcpy(buffer.data() + 1, bytes.data(), c.size);
    TMD5Digest whole, unaligned;
    ComputeMD5(whole, bytes.data(), static_cast<std::uint32_t>(c.size));
    ComputeMD5(unaligned, buffer.data() + 1, static_cast<std::uint32_t>(c.size));
    EXPECT_EQ(Hex(whole), c.hex);
    EXPECT_EQ(unaligned, whole);

    TMD5 context;
    std::size_t done = 0;
    for (const std::size_t piece : {1, 3, 64, 65}) {
      const std::size_t take = std::min(piece, c.size - done);
      context.Update(bytes.data() + done, static_cast<std::int32_t>(take));
      done += take;
    }
    context.Update(bytes.data() + done, static_cast<std::int32_t>(c.size - done));
    TMD5Digest pieces;
    context.Final(pieces);
    EXPECT_EQ(pieces, whole);
  }
}

TEST(MD5Test, ContextContracts) {
  const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
  TMD5 context;
  context.Update(abc.data(), 0);
  context.Update(abc.data(), -5);  // nothing added
  context.Update(abc.data(), 3);
  TMD5Digest first, second;
  context.Final(first);
  context.Update(abc.data(), 3);  // finished: ignored until Init
  context.Final(second);
  EXPECT_EQ(Hex(first), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(second, first);

  context.Init();
  TMD5Digest empty;
  context.Final(empty);
  EXPECT_EQ(Hex(empty), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5Test, WideTextDigestsItsCharactersAsStored) {
  const std::uint8_t bytes[] = {'a', 0, 0, 0, 0xE9, 0, 0, 0};
  TMD5Digest expected, wide;
  ComputeMD5(expected, bytes, sizeof bytes);
  ComputeMD5(wide, TOrvString<wchar_t>(L"a\u00E9"));
  EXPECT_EQ(wide, expected);
}

// A size of 2^31 does not fit Update's signed size: it must still be digested whole. The zero
// pages cost no memory; mapping them all at once spares a fault a page.
TEST(MD5Test, InputOfTwoGibibytes) {
  const std::size_t size = std::size_t{1} << 31;
  void* zeros = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_POPULATE, -1, 0);
  ASSERT_NE(zeros, MAP_FAILED);
  TMD5Digest digest;
  ComputeMD5(digest, zeros, static_cast<std::uint32_t>(size));
  munmap(zeros, size);
  EXPECT_EQ(Hex(digest), "a981130cf2b7e09f4686dc273cf7187e");
}

TEST(MD5Test, HexTexts) {
  const char* lower = "900150983cd24fb0d6963f7d28e17f72";
  const char* upper = "900150983CD24FB0D6963F7D28E17F72";
  const TMD5Digest digest = TMD5Digest::FromHexText(lower);
  EXPECT_EQ(Hex(digest), lower);
  EXPECT_EQ(TMD5Digest::FromHexText(upper, 32), digest);
  EXPECT_EQ(TMD5Digest::FromHexString(TNarrow(upper)), digest);
  const TNarrow framed = TNarrow("<") + lower + ">";
  EXPECT_EQ(TMD5Digest::FromHexString(TOrvSubString<char>(&framed, 1, 33)), digest);
  // The standard digest bytes, in memory order.
  std::uint8_t bytes[16];
  std::memcpy(bytes, digest.words, 16);
  EXPECT_EQ(bytes[0], 0x90);
  EXPECT_EQ(bytes[15], 0x72);

  // Exactly 32 characters written, and 16 returned.
  char out[34];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(digest.ToHexText(out), 16u);
  EXPECT_EQ(std::string(out, 32), lower);
  EXPECT_EQ(out[32], '#');

  const TMD5Digest zero;
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(zero.ToHexTextIfSet(out), 0u);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(digest.ToHexTextIfSet(out), 1u);
  EXPECT_EQ(std::string(out, 32), lower);
  EXPECT_TRUE(zero.ToStringIfSet().IsEmpty());
  EXPECT_EQ(Hex(zero), std::string(32, '0'));
  EXPECT_EQ(digest.ToStringIfSet(), digest.ToString());
}

TEST(MD5Test, HexDigitsAreNotCheckedAndShortTextsGiveZero) {
  struct Case {
    const char* text;
    std::uint8_t firstByte;
  };
  const Case bad[] = {
      {"z0000000000000000000000000000000", 0xF0},
      {"0z000000000000000000000000000000", 0xFF},
      {"zz000000000000000000000000000000", 0xFF},
      {"\xFF" "1000000000000000000000000000000", 0xF1},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.text);
    std::uint8_t bytes[16];
    const TMD5Digest digest = TMD5Digest::FromHexString(TNarrow(c.text));
    std::memcpy(bytes, digest.words, 16);
    EXPECT_EQ(bytes[0], c.firstByte);
    EXPECT_EQ(bytes[1], 0);
  }

  const TMD5Digest zero;
  const char* full = "900150983cd24fb0d6963f7d28e17f72";
  for (std::uint32_t size = 0; size < 32; ++size) {
    SCOPED_TRACE(size);
    // Each text in a buffer of its exact size, so a read past it is seen.
    std::vector<char> exact(full, full + size);
    EXPECT_EQ(TMD5Digest::FromHexText(exact.data(), size), zero);
    const TNarrow text(full, size);
    EXPECT_EQ(TMD5Digest::FromHexText(text.GetData()), zero);
    EXPECT_EQ(TMD5Digest::FromHexString(text), zero);
  }
  EXPECT_EQ(TMD5Digest::FromHexText(nullptr), zero);
  EXPECT_EQ(TMD5Digest::FromHexText(nullptr, 32), zero);
  EXPECT_EQ(TMD5Digest::FromHexString(TOrvSubString<char>()), zero);
}

TEST(MD5Test, DigestsOrderWordByWord) {
  const TMD5Digest a{{1, 0xFFFFFFFF, 0, 0}};
  const TMD5Digest b{{2, 0, 0, 0}};
  const TMD5Digest c{{2, 0, 0, 1}};
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(b < c);
  EXPECT_FALSE(c < c);
}

TEST(MD5ThreadedTest, EachThreadDigestsWithItsOwnContext) {
  std::atomic<int> wrong{0};
  OrvTest::RunOnThreadsTogether(8, [&](int index) {
    const std::vector<std::uint8_t> bytes = Pattern(55 + static_cast<std::size_t>(index % 5) * 2);
    TMD5Digest expected;
    {
      TMD5 context;
      context.Update(bytes.data(), static_cast<std::int32_t>(bytes.size()));
      context.Final(expected);
    }
    for (int round = 0; round < 200; ++round) {
      TMD5Digest digest;
      ComputeMD5(digest, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      if (digest != expected) wrong.fetch_add(1);
    }
  });
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Orvan
