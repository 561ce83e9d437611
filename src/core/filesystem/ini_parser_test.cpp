// The engine INI parser: texts to maps or to errors with their lines, the reading of the stream,
// and the typed reads of the result.
#include "core/filesystem/ini_parser.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/memory/stack_based_allocator.h"
#include "core/streams/stream.h"
#include "core/text/text_encoding.h"
#include "support/test_file.h"

namespace Orvan {
namespace {

// A stream over fixed bytes. It can deliver fewer bytes than its size, fail its reads, and it
// records where its last read wrote.
class TScriptedStream : public TStream {
 public:
  explicit TScriptedStream(std::string bytes) : bytes_(std::move(bytes)), deliverable_(bytes_.size()) {}

  std::uint32_t GetSize() const override { return static_cast<std::uint32_t>(bytes_.size()); }
  std::uint32_t GetPosition() const override { return position_; }
  void SetPosition(std::uint32_t position) override { position_ = position; }
  std::int32_t Read(void* destination, std::uint32_t count) override {
    lastDestination_ = destination;
    if (fails_) return -1;
    const std::size_t end = std::min<std::size_t>(deliverable_, bytes_.size());
    const std::size_t available = position_ < end ? end - position_ : 0;
    const std::size_t copied = std::min<std::size_t>(count, available);
    std::memcpy(destination, bytes_.data() + position_, copied);
    position_ += static_cast<std::uint32_t>(copied);
    return static_cast<std::int32_t>(copied);
  }
  std::uint32_t ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) override {
    const std::int32_t read = Read(destination, count);
    status = read < 0                                   ? kStreamStatusError
             : static_cast<std::uint32_t>(read) < count ? kStreamStatusShort
                                                        : kStreamStatusDone;
    return read < 0 ? 0 : static_cast<std::uint32_t>(read);
  }
  std::int32_t Write(const void*, std::uint32_t) override { return -1; }
  void SetSize(std::uint32_t) override {}

  // Reads end at this offset, whatever the size says.
  void DeliverOnly(std::size_t bytes) { deliverable_ = bytes; }
  void FailReads() { fails_ = true; }
  const void* LastDestination() const { return lastDestination_; }

 private:
  std::string bytes_;
  std::size_t deliverable_;
  std::uint32_t position_ = 0;
  bool fails_ = false;
  const void* lastDestination_ = nullptr;
};

std::string Narrow(const TOrvString<wchar_t>& text) { return WideToUtf8(text).c_str(); }

// "[section]key=value;..." per section, in the map's order.
std::string Dump(const TIniSectionMap& sections) {
  std::string dump;
  for (const auto& section : sections) {
    dump += "[" + Narrow(section.key) + "]";
    for (const auto& entry : section.value) dump += Narrow(entry.key) + "=" + Narrow(entry.value) + ";";
  }
  return dump;
}

// The dump of the parse, or "error <line>: <message>".
std::string Outcome(TStream& stream, TIniSectionMap& sections) {
  try {
    ParseIniStream(sections, stream);
    return Dump(sections);
  } catch (const EIniParsingException& e) {
    return "error " + std::to_string(e.GetLine()) + ": " + e.what();
  }
}

std::string Outcome(const std::string& bytes) {
  TScriptedStream stream(bytes);
  TIniSectionMap sections;
  return Outcome(stream, sections);
}

TEST(IniParser, TextsToMapsOrErrors) {
  using namespace std::string_literals;
  const struct {
    std::string text;
    std::string outcome;
  } cases[] = {
      {"", "error -1: Empty .INI file"},
      {"\xEF\xBB\xBF", ""},
      {"\xEF\xBB\xBF[s]\nk=v\n", "[s]k=v;"},
      {"[s]\nk=v", "[s]k=v;"},
      {"; only a comment\n\n   \t \n", ""},
      {"[s]\n", ""},
      {"[s]\na=1\n[S]\nb=2\n", "[s]a=1;b=2;"},
      {"[s]\n[S]\nk=1\n", "[S]k=1;"},
      {"  [ s ] trailing\n  ; note\n Key \t=  some value  \n", "[s]Key=some value;"},
      {"[s]\nk=\n", "error 1: .INI parsing error"},
      {"[s]\nk= \n", "[s]k=;"},
      {"[s]\nk=\"a\"\n", "error 1: .INI parsing error"},
      {"[s]\nk= \"a=[b];c\"\n", "[s]k=\"a=[b];c\";"},
      {"[s]\nk= \"a\" \n", "error 1: .INI parsing error"},
      {"[s]\nk= \"a\" ;c\n", "error 1: .INI parsing error"},
      {"[s]\nk= \"a\"x\n", "error 1: .INI parsing error"},
      {"[s]\nk= \"a\";c\n", "[s]k=\"a\";"},
      {"[s]\nk= \"a\"\r\n", "[s]k=\"a\";"},
      {"[s]\nk= \"a\"", "[s]k=\"a\";"},
      {"[s]\nk= x \"a;b\" y\n", "error 1: .INI parsing error"},
      {"[s]\nk= \"abc\n", "error 1: Mismatched quotes"},
      {"[s]\nk= a ; c = d\n", "[s]k=a;"},
      {"[s]\nk=a=b\n", "error 1: .INI parsing error"},
      {"[s]\nk=a[b\n", "error 1: .INI parsing error"},
      {"[s]\nk=a]b\n", "error 1: .INI parsing error"},
      {"[s t]\n", "error 0: Invalid section name"},
      {"[ ]\n", "error 0: Invalid section name"},
      {"[\n", "error 0: .INI parsing error"},
      {"[s\n", "error 0: .INI parsing error"},
      {"[]\n", "error 0: .INI parsing error"},
      {"[s]\nk k=v\n", "error 1: Invalid key name"},
      {"[s]\nk-k=v\n", "error 1: Invalid key name"},
      {"[s]\n#c\n", "error 1: .INI parsing error"},
      {"[s]\n#c=1\n", "error 1: Invalid key name"},
      {"[s]\n=v\n", "error 1: .INI parsing error"},
      {"[s]\n]x\n", "error 1: .INI parsing error"},
      {"[s]\n\"k=v\n", "error 1: .INI parsing error"},
      {"[s]\nk\n", "error 1: .INI parsing error"},
      {"[s]\nk v\n", "error 1: .INI parsing error"},
      {"k=v\n", "error 0: .INI parsing error"},
      {"\n\nk=v\n", "error 2: .INI parsing error"},
      {"[Main]\nKey=1\nkey=2\n", "error 2: .INI parsing error duplicate key key in sectionMain\n"},
      {"[Main]\nKey=1\n[main]\nKEY=2\n", "error 3: .INI parsing error duplicate key KEY in sectionmain\n"},
      {"[s]\r\nk=v\r\n\r\nx= y\r\n", "[s]k=v;x=y;"},
      {"[s]\rk=v\n", ""},
      {"[s]"s + '\0' + "k=v\n", "[s]k=v;"},
      {"[s]\nk=v"s + '\0' + "x", "error 2: .INI parsing error"},
      {"[s]\nk=\xC3\xA9t\xC3\xA9\n", "[s]k=\xC3\xA9t\xC3\xA9;"},
      {"\xFF\xFE[\0s\0]\0"s, "error -1: .INI parsing error"},
      {"\xFE\xFF\0[\0s\0]"s, "error -1: .INI parsing error"},
      {"\0\0\xFE\xFF"s, "error -1: .INI parsing error"},
      {"[s]\nk=\xFF\n", "error -1: .INI parsing error"},
      {"[s]\nk=\xC3\n", "error -1: .INI parsing error"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.text), c.outcome) << c.text;
}

TEST(IniParser, ReadsFromTheStartWhateverThePosition) {
  TScriptedStream stream("[s]\nk=v\n");
  stream.SetPosition(5);
  TIniSectionMap sections;
  EXPECT_EQ(Outcome(stream, sections), "[s]k=v;");

  TScriptedStream marked("\xEF\xBB\xBF[s]\nk=v\n");
  marked.SetPosition(8);
  TIniSectionMap again;
  EXPECT_EQ(Outcome(marked, again), "[s]k=v;");
}

TEST(IniParser, ResultReplacesTheDestinationAndAFailureLeavesIt) {
  TIniSectionMap sections;
  TScriptedStream first("[a]\nx=1\ny=2\n[b]\nz=3\n");
  ASSERT_EQ(Outcome(first, sections), "[a]x=1;y=2;[b]z=3;");

  const std::string failing[] = {"", "[a]\nx=1\nx=2\n", "\xFF\xFE", "[a]\nk= \"open\n", "[a]\n\xFF\n"};
  for (const std::string& text : failing) {
    TScriptedStream stream(text);
    EXPECT_EQ(Outcome(stream, sections).rfind("error", 0), 0u) << text;
    EXPECT_EQ(Dump(sections), "[a]x=1;y=2;[b]z=3;") << text;
  }

  TScriptedStream second("[c]\nw=4\n");
  EXPECT_EQ(Outcome(second, sections), "[c]w=4;");
  // A text without key lines empties the map.
  TScriptedStream comments("; nothing\n");
  EXPECT_EQ(Outcome(comments, sections), "");
  EXPECT_EQ(sections.Count(), 0u);
}

// A text of exactly `size` bytes: one key, then comment lines.
std::string PaddedText(std::size_t size) {
  std::string text = "[s]\nk=v\n";
  while (text.size() < size) {
    const std::size_t room = size - text.size();
    text += room == 1 ? std::string("\n") : ";" + std::string(std::min<std::size_t>(room, 100) - 2, 'c') + "\n";
  }
  return text;
}

bool IsOnThisThreadsStack(const void* address) {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
  void* low = nullptr;
  std::size_t size = 0;
  pthread_attr_getstack(&attributes, &low, &size);
  pthread_attr_destroy(&attributes);
  const auto* p = static_cast<const char*>(address);
  return p >= static_cast<const char*>(low) && p < static_cast<const char*>(low) + size;
}

bool IsInStackBasedChunk(const void* address) {
  const auto* p = static_cast<const char*>(address);
  for (const TStackBasedAllocator::TChunk* chunk = GetThreadStackAllocator()->GetCurrentChunk(); chunk != nullptr;
       chunk = chunk->next) {
    if (p >= chunk->memory && p < chunk->memory + chunk->capacity) return true;
  }
  return false;
}

TEST(IniParser, ShortTextsAreReadOnTheStackLongerOnesInTheStackBasedChunk) {
  TScriptedStream small(PaddedText(kIniStackTextBytes));
  TIniSectionMap sections;
  EXPECT_EQ(Outcome(small, sections), "[s]k=v;");
  EXPECT_TRUE(IsOnThisThreadsStack(small.LastDestination()));
  EXPECT_FALSE(IsInStackBasedChunk(small.LastDestination()));

  const std::uint32_t usedBefore = GetThreadStackAllocator()->GetCurrentChunk()->used;
  TScriptedStream large(PaddedText(kIniStackTextBytes + 1));
  EXPECT_EQ(Outcome(large, sections), "[s]k=v;");
  EXPECT_FALSE(IsOnThisThreadsStack(large.LastDestination()));
  EXPECT_TRUE(IsInStackBasedChunk(large.LastDestination()));
  // The block has been given back.
  EXPECT_EQ(GetThreadStackAllocator()->GetCurrentChunk()->used, usedBefore);
}

TEST(IniParser, ParsesWhatTheStreamDelivers) {
  // Past the bytes delivered, the size claims a line that would fail.
  const std::string text = "[s]\nk=v\n=bad\n";
  TScriptedStream shortStream(text);
  shortStream.DeliverOnly(8);
  TIniSectionMap sections;
  EXPECT_EQ(Outcome(shortStream, sections), "[s]k=v;");

  TScriptedStream longShort(PaddedText(20000) + "=bad\n");
  longShort.DeliverOnly(20000);
  EXPECT_EQ(Outcome(longShort, sections), "[s]k=v;");

  TScriptedStream failing("[t]\nk=v\n");
  failing.FailReads();
  EXPECT_EQ(Outcome(failing, sections), "error -1: .INI parsing error");
  EXPECT_EQ(Dump(sections), "[s]k=v;");
}

TEST(IniParser, ReadsAFileThroughTheNativeFileStream) {
  OrvTest::TTestFile file;
  std::string text = "\xEF\xBB\xBF[Game]\r\nName = \"Orvan; the game\"\r\n";
  for (int i = 0; text.size() < 20000; ++i) text += "Key" + std::to_string(i) + " = " + std::to_string(i) + "\r\n";
  TCountedPtr<TNativeFileStream> stream = file.Open(text);
  TIniSectionMap sections;
  ParseIniStream(sections, *stream);
  ASSERT_EQ(sections.Count(), 1u);
  EXPECT_EQ(Narrow(sections.GetString(L"game", L"name", L"")), "\"Orvan; the game\"");
  EXPECT_EQ(Narrow(sections.GetString(L"Game", L"Key0", L"")), "0");
  EXPECT_GT(sections.begin()->value.Count(), 1000u);
}

TEST(IniParser, TypedReadsOfTheResult) {
  TScriptedStream stream("[Game]\nspeed=1.5\nrate=2x\nbad=abc\nflag=TRUE\nno=false\nyes=yes\nname=orvan\n");
  TIniSectionMap sections;
  ParseIniStream(sections, stream);
  TOrvString<wchar_t> value;
  EXPECT_TRUE(sections.FindValue(L"GAME", L"Name", value));
  EXPECT_EQ(Narrow(value), "orvan");
  EXPECT_FALSE(sections.FindValue(L"Other", L"name", value));
  EXPECT_FALSE(sections.FindValue(L"Game", L"absent", value));
  EXPECT_EQ(Narrow(sections.GetString(L"Other", L"name", L"none")), "none");
  EXPECT_EQ(Narrow(sections.GetString(L"game", L"absent", L"none")), "none");
  EXPECT_EQ(sections.GetFloat(L"Game", L"speed", 0.0f), 1.5f);
  EXPECT_EQ(sections.GetFloat(L"Game", L"rate", 0.0f), 2.0f);
  EXPECT_EQ(sections.GetFloat(L"Game", L"absent", 7.0f), 7.0f);
  EXPECT_EQ(sections.GetFloat(L"Absent", L"speed", 7.0f), 7.0f);
  EXPECT_THROW(sections.GetFloat(L"Game", L"bad", 0.0f), EIniWrongTypeValue);
  EXPECT_TRUE(sections.GetBool(L"Game", L"flag", false));
  EXPECT_FALSE(sections.GetBool(L"Game", L"no", true));
  EXPECT_TRUE(sections.GetBool(L"Game", L"absent", true));
  EXPECT_FALSE(sections.GetBool(L"Absent", L"flag", false));
  EXPECT_THROW(sections.GetBool(L"Game", L"yes", false), EIniWrongTypeValue);
  EXPECT_THROW(sections.GetBool(L"Game", L"bad", false), EIniWrongTypeValue);
}

}  // namespace
}  // namespace Orvan
