// The two sides of a console command: the console that shows a command's answers (a remote-console
// connection) and the handler that runs a command line (the main server task).
#pragma once

#include "core/text/engine_string.h"

namespace Orvan::ServerTools {

class IVirtualConsole {
 public:
  virtual void Print(const TOrvString<char>& text) = 0;
  virtual ~IVirtualConsole() = default;
};

class IConsoleCommand {
 public:
  // Gets the whole line, its command word included; answers through the console. True when the
  // command was carried out.
  virtual bool ExecuteCommand(const TOrvString<char>& commandLine, IVirtualConsole* console) = 0;

 protected:
  // Handlers are never owned through this interface.
  ~IConsoleCommand() = default;
};

}  // namespace Orvan::ServerTools
