// The console command registry.
#include "network/console/console_command_registry.h"

#include <new>

namespace Orvan::ServerTools {

TConsoleCommandRegistry::TConsoleCommandRegistry() : password_(kPlaceholderPassword) {}

TConsoleCommandRegistry::~TConsoleCommandRegistry() = default;

void TConsoleCommandRegistry::RegisterCommand(const TOrvString<char>& name, IConsoleCommand* handler) {
  using TEntry = TGeneralHeapStringToPointerMap<IConsoleCommand>::TEntryType;
  TEntry* entry;
  if (commands_.FindOrInsert(name, &entry)) {
    ::new (static_cast<void*>(entry)) TEntry{name, handler};
  } else {
    entry->value = handler;
  }
}

bool TConsoleCommandRegistry::Dispatch(IVirtualConsole* console, const TOrvString<char>& commandLine) {
  // Only the blank separates the command word: a tab belongs to it.
  const std::int32_t blank = commandLine.Find(' ');
  const TOrvString<char> name = blank < 0 ? commandLine : commandLine.Left(blank);
  if (const auto* entry = commands_.Find(name)) return entry->value->ExecuteCommand(commandLine, console);
  console->Print("Unknown command");
  return false;
}

void TConsoleCommandRegistry::AttachConsole(IVirtualConsole* console) { consoles_.PushBack(console); }

void TConsoleCommandRegistry::DetachConsole(IVirtualConsole* console) {
  for (std::uint32_t i = 0; i < consoles_.GetSize(); ++i) {
    if (consoles_[i] != console) continue;
    consoles_[i] = consoles_.Back();
    consoles_.PopBack();
    return;
  }
}

void TConsoleCommandRegistry::Broadcast(const TOrvString<char>& text) {
  for (IVirtualConsole* console : consoles_) console->Print(text);
}

}  // namespace Orvan::ServerTools
