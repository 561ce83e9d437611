#include "network/console/console_command_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Orvan::ServerTools {
namespace {

struct TRecordingConsole final : IVirtualConsole {
  void Print(const TOrvString<char>& text) override { printed.push_back(text.c_str()); }
  std::vector<std::string> printed;
};

struct TRecordingCommand final : IConsoleCommand {
  bool ExecuteCommand(const TOrvString<char>& commandLine, IVirtualConsole* console) override {
    lines.push_back(commandLine.c_str());
    consoles.push_back(console);
    return true;
  }
  std::vector<std::string> lines;
  std::vector<IVirtualConsole*> consoles;
};

TEST(ConsoleCommandRegistry, TheFirstWordPicksTheHandlerWhichGetsTheWholeLine) {
  TConsoleCommandRegistry registry;
  TRecordingCommand kick;
  TRecordingCommand launch;
  registry.RegisterCommand("kick", &kick);
  registry.RegisterCommand("launch", &launch);
  struct TCase {
    const char* line;
    TRecordingCommand* handler;  // null: "Unknown command"
  };
  const TCase cases[] = {
      {"kick 12", &kick},  {"kick", &kick},       {"kick  two  blanks", &kick},
      {"launch", &launch}, {"Kick 12", nullptr},  {" kick 12", nullptr},
      {"", nullptr},       {"kick\t12", nullptr}, {"kickban 3", nullptr},
      {"launc", nullptr},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.line);
    TRecordingConsole console;
    kick.lines.clear();
    launch.lines.clear();
    EXPECT_EQ(registry.Dispatch(&console, test.line), test.handler != nullptr);
    if (test.handler == nullptr) {
      EXPECT_EQ(console.printed, std::vector<std::string>{"Unknown command"});
      EXPECT_TRUE(kick.lines.empty() && launch.lines.empty());
    } else {
      EXPECT_TRUE(console.printed.empty());
      EXPECT_EQ(test.handler->lines, std::vector<std::string>{test.line});
      EXPECT_EQ(test.handler->consoles.back(), &console);
    }
  }
}

TEST(ConsoleCommandRegistry, AnEmptyRegistryKnowsNoCommandAndARegisteredNameKeepsItsLastHandler) {
  TConsoleCommandRegistry registry;
  TRecordingConsole console;
  EXPECT_FALSE(registry.Dispatch(&console, "kick 1"));
  EXPECT_EQ(console.printed, std::vector<std::string>{"Unknown command"});

  TRecordingCommand first;
  TRecordingCommand second;
  registry.RegisterCommand("ban", &first);
  registry.RegisterCommand("ban", &second);
  EXPECT_EQ(registry.GetCommandCount(), 1u);
  EXPECT_TRUE(registry.Dispatch(&console, "ban 7"));
  EXPECT_TRUE(first.lines.empty());
  EXPECT_EQ(second.lines, std::vector<std::string>{"ban 7"});
}

TEST(ConsoleCommandRegistry, PasswordStartsAsThePlaceholder) {
  TConsoleCommandRegistry registry;
  EXPECT_STREQ(registry.GetPassword().c_str(), "plain_gatehouse");
  registry.SetPassword("secret");
  EXPECT_STREQ(registry.GetPassword().c_str(), "secret");
}

TEST(ConsoleCommandRegistry, BroadcastReachesAttachedConsolesInListOrder) {
  TConsoleCommandRegistry registry;
  std::vector<std::string> order;
  struct TNamedConsole final : IVirtualConsole {
    TNamedConsole(std::vector<std::string>& log, const char* name) : log(log), name(name) {}
    void Print(const TOrvString<char>& text) override { log.push_back(name + ":" + text.c_str()); }
    std::vector<std::string>& log;
    std::string name;
  };
  TNamedConsole a(order, "a");
  TNamedConsole b(order, "b");
  TNamedConsole c(order, "c");
  registry.AttachConsole(&a);
  registry.AttachConsole(&b);
  registry.AttachConsole(&c);
  registry.Broadcast("one");
  // Detaching moves the last console into the freed place.
  registry.DetachConsole(&a);
  TNamedConsole stranger(order, "x");
  registry.DetachConsole(&stranger);
  registry.Broadcast("two");
  EXPECT_EQ(order, (std::vector<std::string>{"a:one", "b:one", "c:one", "c:two", "b:two"}));
  EXPECT_EQ(registry.GetConsoleCount(), 2u);
}

}  // namespace
}  // namespace Orvan::ServerTools
