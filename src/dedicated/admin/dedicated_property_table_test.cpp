#include "dedicated/admin/dedicated_property_table.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "dedicated/session/strivex_dedicated_session.h"
#include "network/logging/control_character_escape.h"
#include "support/dedicated_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::TDedicatedTest;

class PropertyTableTest : public TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    session_.Initialize();
    table_ = session_.GetPropertyTable();
    ASSERT_NE(table_, nullptr);
  }
  std::string Value(const char* name) const { return table_->GetValue(name).c_str(); }

  TStrivexDedicatedSession session_{24};
  TDedicatedPropertyTable* table_ = nullptr;
};

TEST_F(PropertyTableTest, ThirtyPropertiesWithTheirDefaults) {
  EXPECT_EQ(table_->GetCount(), 30u);
  std::vector<std::string> names;
  for (const auto& entry : table_->GetProperties()) names.emplace_back(entry.key.c_str());
  EXPECT_EQ(names.front(), "NbMaxPlayer");
  EXPECT_EQ(names.back(), "DateConstraint");
  EXPECT_EQ(Value("ServerName"), "Default Server Name");
  EXPECT_EQ(Value("Map"), "Northmoor_Plains_10v10");
  EXPECT_EQ(Value("ServerProtocol"), "1.0");  // set by the start-up
  EXPECT_EQ(Value("NbMaxPlayer"), "20");
  EXPECT_EQ(session_.GetPlayerLimit(), 20u);
  for (const auto& entry : table_->GetProperties()) {
    EXPECT_FALSE(entry.value->IsAnyClientAllowed()) << entry.key.c_str();
    EXPECT_EQ(entry.value->IsHidden(), entry.key == "Password") << entry.key.c_str();
  }
  EXPECT_TRUE(OrvTest::TDedicatedTest::Logged("Variable Password set to "));
}

TEST_F(PropertyTableTest, SetVariableResultsAndLines) {
  struct TCase {
    const char* name;
    const char* property;
    const char* value;
    bool anyClient, host, admin, force;
    std::int32_t result;
    std::vector<std::string> lines;
    const char* after;  // the value afterwards
  };
  const TCase cases[] = {
      {"same text changes nothing",
       "ServerName",
       "Default Server Name",
       false,
       false,
       true,
       false,
       kPropertyNotChanged,
       {},
       "Default Server Name"},
      {"admin changes ServerName",
       "ServerName",
       "Mine",
       false,
       false,
       true,
       false,
       kPropertyChanged,
       {"Variable ServerName set to \"Mine\""},
       "Mine"},
      {"host changes Map",
       "Map",
       "Other",
       false,
       true,
       false,
       false,
       kPropertyChanged,
       {"Variable Map set to \"Other\""},
       "Other"},
      {"host may not change NbMinPlayer", "NbMinPlayer", "2", false, true, false, false, kPropertyNotChanged, {}, "10"},
      {"any client changes nothing",
       "ServerName",
       "Theirs",
       true,
       false,
       false,
       false,
       kPropertyNotChanged,
       {},
       "Mine"},
      {"no permission on a status value", "NbPlayer", "5", true, true, true, false, kPropertyNotChanged, {}, "0"},
      {"forced status value",
       "GameState",
       "51",
       false,
       false,
       false,
       true,
       kPropertyChanged,
       {"Variable GameState set to \"51\""},
       "51"},
      {"undeclared name", "NoSuchThing", "1", false, false, false, true, kPropertyUndeclared, {}, ""},
      {"names are case-sensitive", "servername", "x", false, false, true, true, kPropertyUndeclared, {}, ""},
      {"LoadingTimeMax 59 refused even forced",
       "LoadingTimeMax",
       "59",
       false,
       false,
       false,
       true,
       kPropertyRefused,
       {"Variable LoadingTimeMax not set to \"59\" (reason : invalid value)"},
       "120"},
      {"LoadingTimeMax 60 taken",
       "LoadingTimeMax",
       "60",
       false,
       false,
       true,
       false,
       kPropertyChanged,
       {"Variable LoadingTimeMax set to \"60\""},
       "60"},
      {"WarmupCountdown 9 refused",
       "WarmupCountdown",
       "9",
       false,
       false,
       true,
       false,
       kPropertyRefused,
       {"Variable WarmupCountdown not set to \"9\" (reason : invalid value)"},
       "120"},
      {"WarmupCountdown 10 taken",
       "WarmupCountdown",
       "10",
       false,
       false,
       true,
       false,
       kPropertyChanged,
       {"Variable WarmupCountdown set to \"10\""},
       "10"},
      {"DeploiementTimeMax text counts as 0",
       "DeploiementTimeMax",
       "soon",
       false,
       false,
       true,
       false,
       kPropertyRefused,
       {"Variable DeploiementTimeMax not set to \"soon\" (reason : invalid value)"},
       "120"},
      {"IncomeRate 6 refused",
       "IncomeRate",
       "6",
       false,
       false,
       true,
       false,
       kPropertyRefused,
       {"Variable IncomeRate not set to \"6\" (reason : invalid value)"},
       "3"},
      {"IncomeRate 5 taken",
       "IncomeRate",
       "5",
       false,
       false,
       true,
       false,
       kPropertyChanged,
       {"Variable IncomeRate set to \"5\""},
       "5"},
      {"validation before permission",
       "IncomeRate",
       "9",
       true,
       false,
       false,
       false,
       kPropertyRefused,
       {"Variable IncomeRate not set to \"9\" (reason : invalid value)"},
       "5"},
      {"Password keeps NeedPassword in step",
       "Password",
       "secret",
       false,
       false,
       true,
       false,
       kPropertyChanged,
       {"Variable NeedPassword set to \"1\"", "Variable Password set to \"secret\""},
       "secret"},
      {"an empty Password clears it",
       "Password",
       "",
       false,
       false,
       true,
       false,
       kPropertyChanged,
       {"Variable NeedPassword set to \"0\"", "Variable Password set to \"\""},
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t mark = Lines().size();
    EXPECT_EQ(table_->SetVariable(c.property, c.value, c.anyClient, c.host, c.admin, c.force), c.result);
    EXPECT_EQ(LinesFrom(mark), c.lines);
    EXPECT_EQ(Value(c.property), c.after);
  }
}

// A published value that the query answer cannot carry is refused with a line, so that the answer
// never keeps an older value than the clients see; the server's own counters always fit in the room
// kept for them.
TEST_F(PropertyTableTest, PublishedValuesMustFitTheQueryAnswer) {
  TServerPropertyReporting& reporting = table_->GetReporting();
  const std::string accented = "Caf\xc3\xa9 M\xc3\xbcller";
  // The longest ServerName the answer takes with the room for the counters left free.
  const std::uint32_t others = reporting.BuildReply().GetLength() - 19;  // "Default Server Name"
  const std::size_t longest = kPropertyReplyMaximum - kPropertyQueryChallengeSize - kPropertyReplyReserve - others;
  struct TCase {
    const char* name;
    const char* property;
    std::string value;
    bool anyClient, admin, force;
    std::int32_t result;
    const char* reason;  // of the refusal line, null for none
  };
  const TCase cases[] = {
      {"accented letters", "ServerName", accented, false, true, false, kPropertyRefused,
       "the property query carries printable ASCII only"},
      {"a control byte, even forced", "Map", "a\x01b", false, false, true, kPropertyRefused,
       "the property query carries printable ASCII only"},
      {"hidden values are not published", "Password", accented, false, true, false, kPropertyChanged, nullptr},
      {"no permission stays silent", "ServerName", accented, true, false, false, kPropertyNotChanged, nullptr},
      {"1,600 characters", "ServerName", std::string(1600, 'n'), false, true, false, kPropertyRefused,
       "too long for the property query answer"},
      {"one past the longest", "ServerName", std::string(longest + 1, 'n'), false, true, false, kPropertyRefused,
       "too long for the property query answer"},
      {"the longest", "ServerName", std::string(longest, 'n'), false, true, false, kPropertyChanged, nullptr},
      {"another value may not grow then", "Map", "Northmoor_Plains_10v10x", false, true, false, kPropertyRefused,
       "too long for the property query answer"},
      {"but may shrink", "Map", "M", false, true, false, kPropertyChanged, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = Value(c.property);
    const std::size_t mark = Lines().size();
    EXPECT_EQ(table_->SetVariable(c.property, c.value.c_str(), c.anyClient, false, c.admin, c.force), c.result);
    const std::vector<std::string> lines = LinesFrom(mark);
    if (c.reason != nullptr) {
      // The value as the log writes an outside text: control characters escaped.
      EXPECT_EQ(lines, std::vector<std::string>{std::string("Variable ") + c.property + " not set to \"" +
                                                Network::EscapeControlCharacters(std::string_view(c.value)) +
                                                "\" (reason : " + c.reason + ")"});
      EXPECT_EQ(Value(c.property), before);
    } else if (c.result == kPropertyChanged) {
      EXPECT_EQ(Value(c.property), c.value);
    }
  }
  // The counters at their longest still fit, and the answer still goes out.
  for (const char* counter : {"NbPlayer", "Seed", "TimeLeft", "GameState"}) {
    EXPECT_EQ(table_->SetVariable(counter, "4294967294", false, false, false, true), kPropertyChanged) << counter;
  }
  std::uint8_t buffer[kPropertyQueryBufferSize] = "getinfos abcd";
  EXPECT_GT(reporting.AnswerQuery(buffer, 13), 0u);
  EXPECT_NE(reporting.BuildReply().Find(std::string(longest, 'n').c_str()), -1);
}

TEST_F(PropertyTableTest, TimeLeftChangesAreNotLogged) {
  const std::size_t mark = Lines().size();
  EXPECT_EQ(table_->SetVariable("TimeLeft", "42", false, false, false, true), kPropertyChanged);
  EXPECT_EQ(Value("TimeLeft"), "42");
  EXPECT_TRUE(LinesFrom(mark).empty());
}

TEST_F(PropertyTableTest, NbMaxPlayerIsClampedToOneToSixtyFour) {
  const struct {
    std::uint32_t value;
    bool admin, force;
    const char* after;
  } cases[] = {
      {0, true, false, "64"},  {2, true, false, "2"}, {64, false, true, "64"},
      {65, false, true, "64"}, {1, false, true, "1"}, {30, false, false, "1"},  // no permission: nothing happens
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    session_.SetNbMaxPlayer(c.value, false, false, c.admin, c.force);
    EXPECT_EQ(Value("NbMaxPlayer"), c.after);
    EXPECT_EQ(std::to_string(session_.GetPlayerLimit()), c.after);
  }
}

TEST_F(PropertyTableTest, DeclaringANameAgainReplacesItsValue) {
  table_->DeclareVariable("Extra", new TDedicatedPropertyValue("a", false, false, true, false));
  table_->DeclareVariable("Extra", new TDedicatedPropertyValue("b", false, false, false, false));
  EXPECT_EQ(table_->GetCount(), 31u);
  EXPECT_EQ(Value("Extra"), "b");
  EXPECT_TRUE(Logged("Variable Extra set to b"));
}

TEST(PropertyValueTest, PermissionsAndChanges) {
  TDedicatedPropertyValue value("v", true, false, false, false);
  EXPECT_TRUE(value.IsLogged());
  EXPECT_FALSE(value.SetValue("w", false, true, true, false));  // holds no permission the value carries
  EXPECT_TRUE(value.SetValue("w", true, false, false, false));
  EXPECT_FALSE(value.SetValue("w", true, false, false, false));  // the same text
  EXPECT_TRUE(value.SetValue("x", false, false, false, true));
  EXPECT_EQ(std::string(value.GetValue().c_str()), "x");
}

}  // namespace
}  // namespace Orvan::Dedicated
