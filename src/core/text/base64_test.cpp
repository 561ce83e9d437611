#include "core/text/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Orvan {
namespace {

using TNarrow = TOrvString<char>;
using TDecoder = bool (*)(const char*, const char*, TNarrow&);

std::string Text(const TNarrow& text) { return std::string(text.GetData(), text.GetLength()); }

TNarrow Encode(const std::string& bytes, bool url) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.data());
  return url ? Base64UrlEncode(first, first + bytes.size()) : Base64Encode(first, first + bytes.size());
}

bool Decode(TDecoder decoder, const std::string& text, TNarrow& out) {
  return decoder(text.data(), text.data() + text.size(), out);
}

TEST(Base64Test, EncodesBothAlphabets) {
  struct Case {
    std::string bytes;
    const char* standard;
    const char* url;
  };
  const Case cases[] = {
      {"", "", ""},
      {"a", "YQ==", "YQ=="},
      {"ab", "YWI=", "YWI="},
      {"abc", "YWJj", "YWJj"},
      {"f", "Zg==", "Zg=="},
      {"fo", "Zm8=", "Zm8="},
      {"foo", "Zm9v", "Zm9v"},
      {"foob", "Zm9vYg==", "Zm9vYg=="},
      {"fooba", "Zm9vYmE=", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
      {"\xFB\xFF", "+/8=", "-_8="},
      {std::string("\x00\x10\x83\xFF", 4), "ABCD/w==", "ABCD_w=="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.standard);
    EXPECT_EQ(Text(Encode(c.bytes, false)), c.standard);
    EXPECT_EQ(Text(Encode(c.bytes, true)), c.url);
  }
  EXPECT_TRUE(Base64Encode(nullptr, nullptr).IsEmpty());
}

TEST(Base64Test, DecodesWithWhiteSpaceAndRefusesBadTexts) {
  struct Case {
    const char* text;
    bool url;
    bool ok;
    std::string bytes;  // when ok
  };
  const Case cases[] = {
      {"YWJj", false, true, "abc"},
      {"Y W J j", false, true, "abc"},
      {"YWI=", false, true, "ab"},
      {"YQ==", false, true, "a"},
      {"YQ== \n", false, true, "a"},
      {"Zm9v\r\nYmFy", false, true, "foobar"},
      {"YQ=", false, true, ""},  // under four characters: nothing is read
      {"*!", false, true, ""},
      {"", false, true, ""},
      {"+/8=", false, true, "\xFB\xFF"},
      {"-_8=", true, true, "\xFB\xFF"},
      {"YW=j", false, false, ""},
      {"Y===", false, false, ""},
      {"=YWJ", false, false, ""},
      {"YWJ*", false, false, ""},
      {"YQ===", false, false, ""},
      {"YQ==YQ==", false, false, ""},  // data after padding
      {"YWJjY", false, false, ""},     // an incomplete group
      {"YQ= ", false, false, ""},
      {"-_8=", false, false, ""},
      {"+/8=", true, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TNarrow out("former");
    const TDecoder decoder = c.url ? Base64UrlDecode : Base64Decode;
    EXPECT_EQ(Decode(decoder, c.text, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(Text(out), c.bytes);
      EXPECT_EQ(out.IsEmpty(), c.bytes.empty());
    } else {
      EXPECT_EQ(out.GetLength(), std::strlen(c.text) / 4 * 3);
    }
  }
}

TEST(Base64Test, AFailedDecodeKeepsTheFirstSizeAndTheBytesDecodedSoFar) {
  TNarrow out("0123456789");
  const TNarrow other = out;
  EXPECT_FALSE(Decode(Base64Decode, "YWJjYW=j", out));
  EXPECT_EQ(Text(out), "abc345");  // decoded bytes, then what the sizing to 6 kept
  EXPECT_EQ(Text(other), "0123456789");

  TNarrow empty;
  EXPECT_FALSE(Decode(Base64Decode, "YWJj*", empty));
  EXPECT_EQ(Text(empty), "abc");
  EXPECT_FALSE(Decode(Base64Decode, "Y===", empty));
  EXPECT_EQ(Text(empty), std::string("abc", 3));
  TNarrow fresh;
  EXPECT_FALSE(Decode(Base64Decode, "YW=j", fresh));
  EXPECT_EQ(Text(fresh), std::string(3, '\0'));
}

TEST(Base64Test, RoundTripsEveryByteAndDecodesItsOwnText) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
  for (std::size_t length = 0; length <= bytes.size(); length += (length < 10 ? 1 : 17)) {
    SCOPED_TRACE(length);
    const std::string input = bytes.substr(0, length);
    for (const bool url : {false, true}) {
      const TNarrow encoded = Encode(input, url);
      EXPECT_EQ(encoded.GetLength(), (length + 2) / 3 * 4);
      TNarrow decoded;
      ASSERT_TRUE(Decode(url ? Base64UrlDecode : Base64Decode, Text(encoded), decoded));
      EXPECT_EQ(Text(decoded), input);
    }
  }
  // The input may be the output string's own text.
  TNarrow inPlace("Zm9vYmFy");
  ASSERT_TRUE(Base64Decode(inPlace.GetData(), inPlace.GetData() + inPlace.GetLength(), inPlace));
  EXPECT_EQ(Text(inPlace), "foobar");
}

}  // namespace
}  // namespace Orvan
