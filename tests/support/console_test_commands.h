// Console commands of the console tests: "echo" answers its whole line, "long N" answers N letters
// (a-z over and over, at most kLongestReply), so a test can ask for a reply of any length.
#pragma once

#include <cstdlib>
#include <string>

#include "network/console/console_interfaces.h"

namespace OrvTest {

// The longest reply of the long command.
inline constexpr long kLongestReply = 12000;

// The reply of the line "long N" (the number read after the command word, within 0..kLongestReply).
inline std::string LongReplyText(const std::string& line) {
  long count = line.size() > 4 ? std::strtol(line.c_str() + 4, nullptr, 10) : 0;
  if (count < 0) count = 0;
  if (count > kLongestReply) count = kLongestReply;
  std::string text;
  for (long i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

struct TEchoCommand final : Orvan::ServerTools::IConsoleCommand {
  bool ExecuteCommand(const Orvan::TOrvString<char>& commandLine,
                      Orvan::ServerTools::IVirtualConsole* console) override {
    console->Print(commandLine);
    return true;
  }
};

struct TLongReplyCommand final : Orvan::ServerTools::IConsoleCommand {
  bool ExecuteCommand(const Orvan::TOrvString<char>& commandLine,
                      Orvan::ServerTools::IVirtualConsole* console) override {
    console->Print(LongReplyText(std::string(commandLine.c_str(), commandLine.GetLength())).c_str());
    return true;
  }
};

}  // namespace OrvTest
