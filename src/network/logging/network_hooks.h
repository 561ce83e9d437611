// The network library's process-wide hook table: where its memory comes from, what an assertion
// does and where its log lines go. `main` points the log hook at the process logger; everything
// else keeps the defaults (engine allocation, standard error).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan::Network {

using TNetworkFreeHook = void (*)(void* block);
using TNetworkReallocateHook = void* (*)(void* block, std::size_t size);
using TNetworkAllocateHook = void* (*)(std::size_t size);
using TNetworkAssertHook = void (*)(const char* file, int line);
using TNetworkLogHook = void (*)(int level, const char* text);

// Log levels of the library's lines.
inline constexpr int kNetworkLogInformation = 0;
inline constexpr int kNetworkLogWarning = 1;
inline constexpr int kNetworkLogError = 2;
inline constexpr int kNetworkLogCritical = 3;

struct TNetworkHooks {
  TNetworkFreeHook free;
  TNetworkReallocateHook reallocate;
  TNetworkAllocateHook allocate;
  TNetworkAssertHook assertFailed;  // not `assert`: that name is a macro
  TNetworkLogHook log;
};

// The table itself; written by `main` before any network object exists.
TNetworkHooks& GetNetworkHooks();
// Stores the three memory hooks and returns the table.
TNetworkHooks& SetNetworkAllocator(TNetworkAllocateHook allocate, TNetworkReallocateHook reallocate,
                                   TNetworkFreeHook free);
void SetNetworkAssertHandler(TNetworkAssertHook handler);
void SetNetworkLogHandler(TNetworkLogHook handler);

// The defaults: engine allocation of domain 0 (null on exhaustion), the engine's reallocation
// (null instead of std::bad_alloc, the old block kept), an assert that ends the process, and a
// log that writes the text to standard error as it is.
void* DefaultNetworkAllocate(std::size_t size);
void* DefaultNetworkReallocate(void* block, std::size_t size);
void DefaultNetworkFree(void* block);
void DefaultNetworkAssert(const char* file, int line);
void DefaultNetworkLog(int level, const char* text);

// A line through the log hook.
void NetworkLog(int level, const char* text);
void NetworkLog(int level, const TOrvString<char>& text);

// Logs the fault through the log hook and ends the process: what the library does when the hooks
// answer null or a packet's count would wrap, since nothing above it could recover.
[[noreturn]] void EndProcessOnNetworkFault(const TOrvString<char>& text);

// Memory through the hooks; a null answer ends the process (EndProcessOnNetworkFault).
void* AllocateNetworkBlock(std::size_t size);
void* ReallocateNetworkBlock(void* block, std::size_t size);
void FreeNetworkBlock(void* block);

}  // namespace Orvan::Network
