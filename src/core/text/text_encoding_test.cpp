#include "core/text/text_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/streams/shared_memory_stream.h"

namespace Orvan {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// ---------------------------------------------------------------- UTF-8 to wide

TEST(Utf8ToWideTest, WellFormedSequencesOfEveryLength) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const std::vector<Case> cases = {
      {"", L""},
      {"a", L"a"},
      {Bytes({0xC3, 0xA9}), std::wstring(1, 0xE9)},
      {Bytes({0xE0, 0xA0, 0x80}), std::wstring(1, 0x800)},
      {Bytes({0xED, 0x9F, 0xBF}), std::wstring(1, 0xD7FF)},
      {Bytes({0xEF, 0xBF, 0xBF}), std::wstring(1, 0xFFFF)},
      {Bytes({0xF0, 0x9F, 0x98, 0x80}), std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}},
      {Bytes({0xF0, 0x90, 0x80, 0x80}), std::wstring{wchar_t(0xD800), wchar_t(0xDC00)}},
      {Bytes({'x', 0xE2, 0x82, 0xAC, 'y'}), std::wstring{L'x', wchar_t(0x20AC), L'y'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.utf8));
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
    EXPECT_EQ(Utf8ToWide(c.utf8.c_str()), c.wide);
    EXPECT_EQ(Utf8ToWide(c.utf8.data(), static_cast<std::uint32_t>(c.utf8.size())), c.wide);
    EXPECT_EQ(Utf8ToWide(TOrvString<char>(c.utf8)), TOrvString<wchar_t>(c.wide));
    // And back.
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
    EXPECT_EQ(WideToUtf8(TOrvString<wchar_t>(c.wide)), TOrvString<char>(c.utf8));
  }
  // U+10FFFF decodes, but its pair encodes as U+FFFD.
  EXPECT_EQ(Utf8ToWide(Bytes({0xF4, 0x8F, 0xBF, 0xBF})), (std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}));
  // The counted form decodes a NUL inside the range.
  EXPECT_EQ(Utf8ToWide("a\0b", 3), std::wstring(L"a\0b", 3));
}

TEST(Utf8ToWideTest, MalformedInputGivesNothingAndTheStreamKeepsWhatCameBefore) {
  const std::vector<std::string> malformed = {
      Bytes({0xC0, 0x80}),              // overlong NUL
      Bytes({0xC1, 0xBF}),              // overlong
      Bytes({0xE0, 0x9F, 0xBF}),        // overlong three-byte form
      Bytes({0xF0, 0x8F, 0xBF, 0xBF}),  // overlong four-byte form
      Bytes({0xED, 0xA0, 0x80}),        // encoded high surrogate
      Bytes({0xED, 0xBF, 0xBF}),        // encoded low surrogate
      Bytes({0xF4, 0x90, 0x80, 0x80}),  // above U+10FFFF
      Bytes({0xF5, 0x80, 0x80, 0x80}),
      Bytes({0xFF}),
      Bytes({0x80}),                    // lone continuation byte
      Bytes({0xBF, 0x41}),
      Bytes({0xC3}),                    // cut at the end
      Bytes({0xE2, 0x82}),
      Bytes({0xF0, 0x9F, 0x98}),
      Bytes({0xC3, 0x41}),              // wrong continuation
      Bytes({0xE2, 0x41, 0x82}),
  };
  for (const std::string& bad : malformed) {
    SCOPED_TRACE(testing::PrintToString(bad));
    const std::string text = "ok" + bad + "z";
    EXPECT_EQ(Utf8ToWide(text), L"");
    EXPECT_EQ(Utf8ToWide(text.c_str()), L"");
    EXPECT_TRUE(Utf8ToWide(TOrvString<char>(text)).IsEmpty());
    std::wostringstream stream;
    WriteUtf8AsWide(stream, text.c_str());
    EXPECT_EQ(stream.str(), L"ok");
  }
  // A cut sequence at the very end of the counted input is not completed from beyond it.
  const char cut[] = {'a', static_cast<char>(0xC3), static_cast<char>(0xA9)};
  EXPECT_EQ(Utf8ToWide(cut, 2), L"");
  EXPECT_EQ(Utf8ToWide(nullptr), L"");
}

TEST(Utf8ToWideTest, BufferFormNeedsRoomForEveryByteAndAlwaysTerminates) {
  wchar_t buffer[8];
  std::wmemset(buffer, L'#', 8);
  EXPECT_FALSE(Utf8ToWide(buffer, 3, "abc"));
  EXPECT_EQ(buffer[0], L'\0');
  EXPECT_TRUE(Utf8ToWide(buffer, 3, "ab"));
  EXPECT_EQ(std::wstring(buffer), L"ab");
  EXPECT_TRUE(Utf8ToWide(buffer, 3, "\xC3\xA9"));
  EXPECT_EQ(std::wstring(buffer), std::wstring(1, 0xE9));

  std::wmemset(buffer, L'#', 8);
  EXPECT_FALSE(Utf8ToWide(buffer, 8, "ab\xC0\x80"));
  EXPECT_EQ(buffer[0], L'\0');

  std::wmemset(buffer, L'#', 8);
  EXPECT_FALSE(Utf8ToWide(buffer, 0, ""));
  EXPECT_EQ(buffer[0], L'#');
}

// ---------------------------------------------------------------- wide to UTF-8

TEST(WideToUtf8Test, SurrogateRules) {
  const std::wstring pairMax{wchar_t(0xDBFF), wchar_t(0xDFFF)};
  EXPECT_EQ(WideToUtf8(pairMax), "\xEF\xBF\xBD");
  // Only the low 16 bits of a unit are read, except for the unit after a high surrogate.
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0x1F600))), "\xEF\x98\x80");
  EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xD83D), wchar_t(0x1DE00)}), "");
  EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xDFFEDBFF), wchar_t(0xDFFF)}), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0x1D83D), wchar_t(0xDE00)}), "\xF0\x9F\x98\x80");

  const std::vector<std::wstring> malformed = {
      {wchar_t(0xDC00), L'a'},
      {wchar_t(0xD800)},
      {wchar_t(0xD800), L'a'},
      {wchar_t(0xD800), wchar_t(0xD800), wchar_t(0xDC00)},
  };
  for (const std::wstring& bad : malformed) {
    SCOPED_TRACE(testing::PrintToString(bad));
    const std::wstring text = L"ok" + bad;
    // The stream keeps what came before the bad unit.
    EXPECT_EQ(WideToUtf8(text), "");
    EXPECT_EQ(WideToUtf8(text.c_str()), "");
    EXPECT_EQ(WideToUtf8(text.data(), static_cast<std::uint32_t>(text.size())), "");
    EXPECT_TRUE(WideToUtf8(TOrvString<wchar_t>(text)).IsEmpty());
    std::ostringstream stream;
    WriteWideAsUtf8(stream, text.c_str());
    EXPECT_EQ(stream.str(), "ok");
  }
}

TEST(WideToUtf8Test, BufferFormStaysWithinItsCapacityAndTerminates) {
  struct Case {
    std::wstring text;
    std::uint32_t capacity;
    bool result;
    std::string content;  // the bytes up to the terminator
  };
  const std::wstring e(1, 0xE9);
  const std::vector<Case> cases = {
      {e, 3, true, "\xC3\xA9"},
      {e + e, 3, false, "\xC3\xA9"},  // cut: the last slot holds the terminator
      {e + e, 5, true, "\xC3\xA9\xC3\xA9"},
      {e + e, 4, false, "\xC3\xA9\xC3"},
      {L"", 1, true, ""},
      {L"abc", 1, false, ""},
      {std::wstring(L"a") + wchar_t(0xDC00), 8, false, ""},  // malformed: terminator first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " into " + std::to_string(c.capacity));
    char buffer[16];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(WideToUtf8(buffer, c.capacity, c.text.c_str()), c.result);
    EXPECT_EQ(std::string(buffer), c.content);
    EXPECT_EQ(buffer[c.capacity], '#');
  }
  char untouched = '#';
  EXPECT_FALSE(WideToUtf8(&untouched, 0, L""));
  EXPECT_EQ(untouched, '#');
}

// ---------------------------------------------------------------- encodings and helpers

TEST(TextEncodingTest, NamesAndByteOrderMarks) {
  const char* names[] = {"utf-8", "utf-le-16", "utf-be-16", "utf-le-32", "utf-be-32", ""};
  const wchar_t* wideNames[] = {L"utf-8", L"utf-le-16", L"utf-be-16", L"utf-le-32", L"utf-be-32", L""};
  for (TTextEncoding id = 0; id < 6; ++id) {
    EXPECT_STREQ(GetTextEncodingName(id), names[id]);
    EXPECT_STREQ(GetTextEncodingWideName(id), wideNames[id]);
  }
  EXPECT_STREQ(GetTextEncodingName(1000), "");

  TByteOrderMark mark;
  GetByteOrderMark(mark, kTextEncodingUtf32BigEndian);
  EXPECT_EQ(mark.length, 4u);
  const std::uint8_t be32[] = {0x00, 0x00, 0xFE, 0xFF};
  EXPECT_TRUE(mark.Matches(be32, 4));
  EXPECT_FALSE(mark.Matches(be32, 3));

  GetByteOrderMark(mark, 7);  // ids outside 1-4 get the UTF-8 mark
  EXPECT_EQ(mark.length, 3u);
  const std::uint8_t utf8[] = {0xEF, 0xBB, 0xBF, 0x41};
  EXPECT_TRUE(mark.Matches(utf8, 4));
  EXPECT_EQ(mark.bytes[3], 0);

  GetByteOrderMark(mark, kTextEncodingUtf16LittleEndian);
  const std::uint8_t le32[] = {0xFF, 0xFE, 0x00, 0x00};
  EXPECT_TRUE(mark.Matches(le32, 4));  // the 4-byte mark starts with the 2-byte one
  EXPECT_EQ(mark.bytes[2], 0);
  EXPECT_FALSE(mark.Matches(le32, 1));
}

TEST(TextEncodingTest, DetectionReadsTheMarkAndLeavesTheStreamAfterIt) {
  const struct {
    std::vector<std::uint8_t> bytes;
    TTextEncoding encoding;
    std::uint32_t position;
  } cases[] = {
      {{0xFF, 0xFE, 0x00, 0x00, 0x41}, kTextEncodingUtf16LittleEndian, 2},  // never UTF-32 LE
      {{0xFF, 0xFE, 0x41, 0x00}, kTextEncodingUtf16LittleEndian, 2},
      {{0xFE, 0xFF, 0x00, 0x41}, kTextEncodingUtf16BigEndian, 2},
      {{0x00, 0x00, 0xFE, 0xFF}, kTextEncodingUtf32BigEndian, 4},
      {{0xEF, 0xBB, 0xBF}, kTextEncodingUtf8, 3},
      {{0xEF, 0xBB}, kTextEncodingUtf8, 0},
      {{0xFF}, kTextEncodingUtf8, 0},
      {{'a', 'b', 'c', 'd', 'e'}, kTextEncodingUtf8, 0},
      {{}, kTextEncodingUtf8, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> bytes = c.bytes;
    TSharedMemoryStream stream(bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0);
    stream.SetPosition(1);
    EXPECT_EQ(DetectTextEncoding(stream), c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_EQ(stream.GetPosition(), c.position) << testing::PrintToString(c.bytes);
  }
}

TEST(TextEncodingTest, CopyUtf16ToWideAtEveryAlignment) {
  std::uint16_t source[40];
  for (int i = 0; i < 40; ++i) source[i] = static_cast<std::uint16_t>(0xFFF0 + i * 977);
  alignas(16) wchar_t destination[48];
  for (std::uint32_t offset = 0; offset < 4; ++offset) {
    for (std::uint32_t count : {0u, 1u, 7u, 8u, 9u, 17u, 31u}) {
      std::wmemset(destination, L'#', 48);
      CopyUtf16ToWide(destination + offset, source + (offset & 1), count);
      for (std::uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(destination[offset + i], static_cast<wchar_t>(source[(offset & 1) + i])) << offset << " " << i;
      }
      EXPECT_EQ(destination[offset + count], L'#');
    }
  }
}

TEST(TextEncodingTest, ConversionErrorMessages) {
  const unsigned char bytes[] = {0x41, 0xFF};
  EXPECT_EQ(BuildTextConversionErrorMessage(L"utf-8", L"utf-le-16", bytes, 2, 1, 1),
            L"Invalid value at offset 1  while converting string from utf-8 to utf-le-16.\n"
            L"> 00000000 41 ff " + std::wstring(44, L' ') + L"A." + std::wstring(15, L' ') + L" <\n");
  EXPECT_EQ(BuildTextConversionErrorMessage(L"a", L"b", bytes, 0, 0, 2),
            L"Source buffer contains incomplete unicode code point  while converting string from a to b.\n");
  EXPECT_EQ(BuildTextConversionErrorMessage(L"a", L"b", bytes, 0, 0, 7),
            L"Internal error  while converting string from a to b.\n");
  EXPECT_EQ(BuildTextConversionErrorMessage(L"a", nullptr, bytes, 2, 0, 7),
            L"Internal error  while converting string from a to ");
}

}  // namespace
}  // namespace Orvan
