// The remote console's command table: command names to their handlers, the console password, and
// the consoles that broadcasts reach.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "network/console/console_interfaces.h"

namespace Orvan::ServerTools {

class TConsoleCommandRegistry {
 public:
  // The password until a configured one replaces it. The console only listens with a configured
  // password, so this one is never usable from the network.
  static constexpr const char* kPlaceholderPassword = "plain_gatehouse";

  TConsoleCommandRegistry();
  ~TConsoleCommandRegistry();
  TConsoleCommandRegistry(const TConsoleCommandRegistry&) = delete;
  TConsoleCommandRegistry& operator=(const TConsoleCommandRegistry&) = delete;

  void SetPassword(const TOrvString<char>& password) { password_ = password; }
  const TOrvString<char>& GetPassword() const { return password_; }

  // A name registered again gets the new handler. Handlers are not owned.
  void RegisterCommand(const TOrvString<char>& name, IConsoleCommand* handler);
  std::uint32_t GetCommandCount() const { return commands_.Count(); }

  // Runs the handler of the line's first word (the text before the first blank; names are
  // case-sensitive) with the whole line. An unknown word prints "Unknown command" and gives false.
  bool Dispatch(IVirtualConsole* console, const TOrvString<char>& commandLine);

  // Consoles are not owned; detaching one that is not attached changes nothing.
  void AttachConsole(IVirtualConsole* console);
  void DetachConsole(IVirtualConsole* console);
  std::uint32_t GetConsoleCount() const { return consoles_.GetSize(); }
  // Prints the text on every attached console, in attachment order.
  void Broadcast(const TOrvString<char>& text);

 private:
  TOrvString<char> password_;
  TGeneralHeapStringToPointerMap<IConsoleCommand> commands_;
  TVector<IVirtualConsole*, TDefaultStorage> consoles_;
};

}  // namespace Orvan::ServerTools
