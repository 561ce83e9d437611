#include "capacity/relay_ledger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace OrvCapacity {
namespace {

constexpr std::uint64_t kFirst = 1000;

void PutBig(std::string& out, std::uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift & 0xFF));
}

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

// One relayed frame as the server sends it: an actions frame of `sender` at `tick` carrying its
// orders with the sequence numbers given (orderOf names another player for a forged order), or
// a tick report when report >= 0.
struct TRelayed {
  std::uint64_t sender;
  std::uint32_t tick;
  std::vector<std::uint32_t> sequences;
  std::int64_t report = -1;
  std::uint32_t checksum = 0x5EED5EEDu;
  std::uint64_t orderOf = 0;
};

std::string Frame(const TRelayed& relayed) {
  std::string body(1, static_cast<char>(194));
  PutBig(body, relayed.sender, 8);
  if (relayed.report >= 0) {
    body.push_back('g');
    PutLittle(body, static_cast<std::uint64_t>(relayed.report), 4);
    PutLittle(body, 0, 4);
    PutLittle(body, relayed.checksum, 4);
    PutLittle(body, 0, 4);
    return body;
  }
  body.push_back('d');
  PutLittle(body, relayed.tick, 4);
  PutLittle(body, relayed.sender - kFirst, 4);
  PutLittle(body, relayed.sequences.size(), 4);
  PutLittle(body, relayed.sequences.size() * 12, 2);
  for (std::uint32_t sequence : relayed.sequences) {
    PutLittle(body, relayed.orderOf != 0 ? relayed.orderOf : relayed.sender, 8);
    PutLittle(body, sequence, 4);
  }
  return body;
}

struct TLedgerCase {
  const char* name;
  std::vector<TRelayed> frames;   // two players, 1000 and 1001
  std::vector<std::uint32_t> due;
  std::uint64_t lost;
  const char* problem;            // part of the first problem expected; null: none
};

TEST(RelayLedger, FindsWhatTheRelayLostOrBroke) {
  const std::vector<TLedgerCase> cases = {
      {"every order once, in sequence",
       {{1000, 0, {1}}, {1001, 0, {1}}, {1000, 1, {2}}, {1001, 1, {2}}, {1000, 2, {3}}, {1001, 2, {}}},
       {3, 2}, 0, nullptr},
      {"a tick without orders of a player still counts its frame",
       {{1000, 0, {}}, {1001, 0, {}}, {1000, 1, {1}}, {1001, 1, {1}}}, {1, 1}, 0, nullptr},
      {"the last due order never came", {{1000, 0, {1}}, {1001, 0, {1}}, {1000, 1, {}}, {1001, 1, {2}}},
       {2, 2}, 1, nullptr},
      {"an order skipped in the middle", {{1000, 0, {1}}, {1001, 0, {1}}, {1000, 1, {3}}, {1001, 1, {2}}},
       {3, 2}, 1, "order 3 of 1000 where 2 was due"},
      {"an order relayed twice", {{1000, 0, {1}}, {1001, 0, {1}}, {1000, 1, {1, 2}}, {1001, 1, {2}}},
       {2, 2}, 0, "order 1 of 1000 where 2 was due"},
      {"orders beyond those due may be missing", {{1000, 0, {1}}, {1001, 0, {1}}}, {1, 1}, 0, nullptr},
      {"a tick skipped", {{1000, 0, {}}, {1001, 0, {}}, {1000, 2, {}}, {1001, 2, {}}}, {0, 0}, 0,
       "tick 2 after tick 0"},
      {"a tick repeated", {{1000, 0, {}}, {1001, 0, {}}, {1000, 1, {}}, {1001, 1, {}}, {1000, 0, {}}},
       {0, 0}, 0, "tick 0 after tick 1"},
      {"a player's actions missing from a tick", {{1000, 0, {}}, {1000, 1, {}}, {1001, 1, {}}}, {0, 0}, 0,
       "tick 0 brought 1 actions of 2 players"},
      {"a player's actions twice in a tick", {{1000, 0, {}}, {1000, 0, {}}}, {0, 0}, 0,
       "tick 0: actions of 1000 twice"},
      {"the last tick short of a player", {{1000, 0, {}}, {1001, 0, {}}, {1000, 1, {}}}, {0, 0}, 0,
       "tick 1 brought 1 actions of 2 players"},
      {"an order relayed under another sender", {{1000, 0, {1}, -1, 0x5EED5EEDu, 1001}, {1001, 0, {}}},
       {0, 0}, 0, "order of 1001 relayed as 1000's"},
      {"tick reports in order", {{1000, 0, {}, 0}, {1000, 0, {}, 1}, {1001, 0, {}, 0}}, {}, 0, nullptr},
      {"a tick report skipped", {{1000, 0, {}, 0}, {1000, 0, {}, 2}}, {}, 0, "tick report 2 of 1000 after 0"},
      {"a tick report with another checksum", {{1000, 0, {}, 0, 0x1234u}}, {}, 0, "checksum wrong"},
      {"a sender that is no player", {{1002, 0, {}}}, {}, 0, "unknown sender 1002"},
  };
  for (const TLedgerCase& test : cases) {
    SCOPED_TRACE(test.name);
    TRelayLedger ledger(kFirst, 2);
    double now = 0.0;
    for (const TRelayed& relayed : test.frames) {
      const std::string frame = Frame(relayed);
      const auto* bytes = reinterpret_cast<const unsigned char*>(frame.data());
      if (relayed.report >= 0) {
        ledger.OnTickReport(bytes, frame.size());
      } else {
        ledger.OnActions(bytes, frame.size(), now += 0.2);
      }
    }
    ledger.Finish();
    EXPECT_EQ(ledger.CountLost(test.due), test.lost);
    if (test.problem == nullptr) {
      EXPECT_TRUE(ledger.GetProblems().empty()) << ledger.GetProblems().front();
    } else {
      ASSERT_FALSE(ledger.GetProblems().empty());
      EXPECT_NE(ledger.GetProblems().front().find(test.problem), std::string::npos) << ledger.GetProblems().front();
    }
  }
}

TEST(RelayLedger, TimesEachTickByItsFirstFrame) {
  TRelayLedger ledger(kFirst, 2);
  const double arrivals[] = {1.0, 1.05, 1.2, 1.3};
  const std::vector<TRelayed> frames = {{1000, 0, {}}, {1001, 0, {}}, {1001, 1, {}}, {1000, 1, {}}};
  std::vector<TRelayLedger::EActions> kinds;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::string frame = Frame(frames[i]);
    kinds.push_back(ledger.OnActions(reinterpret_cast<const unsigned char*>(frame.data()), frame.size(), arrivals[i]));
  }
  using E = TRelayLedger::EActions;
  EXPECT_EQ(kinds, (std::vector<E>{E::kNewTick, E::kSameTick, E::kNewTick, E::kSameTick}));
  EXPECT_EQ(ledger.GetTickTimes(), (std::vector<double>{1.0, 1.2}));
  EXPECT_EQ(ledger.GetLastTick(), 1);
}

TEST(RelayLedger, RejectsFramesWhoseSizesDisagree) {
  TRelayLedger ledger(kFirst, 1);
  std::string frame = Frame({1000, 0, {1}});
  frame.pop_back();  // the count says one order of 12 bytes; 11 are there
  EXPECT_EQ(ledger.OnActions(reinterpret_cast<const unsigned char*>(frame.data()), frame.size(), 0.0),
            TRelayLedger::EActions::kNewTick);
  ASSERT_FALSE(ledger.GetProblems().empty());
  EXPECT_NE(ledger.GetProblems().front().find("count 1, size 12, 11 bytes"), std::string::npos);
  const std::string tiny(5, '\0');
  EXPECT_EQ(ledger.OnActions(reinterpret_cast<const unsigned char*>(tiny.data()), tiny.size(), 0.0),
            TRelayLedger::EActions::kNotActions);
}

}  // namespace
}  // namespace OrvCapacity
