// The network hook table and its defaults.
#include "network/logging/network_hooks.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/memory/global_allocation.h"
#include "core/text/positional_format.h"

namespace Orvan::Network {

namespace {

TNetworkHooks g_hooks{&DefaultNetworkFree, &DefaultNetworkReallocate, &DefaultNetworkAllocate, &DefaultNetworkAssert,
                      &DefaultNetworkLog};

}  // namespace

TNetworkHooks& GetNetworkHooks() { return g_hooks; }

TNetworkHooks& SetNetworkAllocator(TNetworkAllocateHook allocate, TNetworkReallocateHook reallocate,
                                   TNetworkFreeHook free) {
  g_hooks.allocate = allocate;
  g_hooks.reallocate = reallocate;
  g_hooks.free = free;
  return g_hooks;
}

void SetNetworkAssertHandler(TNetworkAssertHook handler) { g_hooks.assertFailed = handler; }
void SetNetworkLogHandler(TNetworkLogHook handler) { g_hooks.log = handler; }

void* DefaultNetworkAllocate(std::size_t size) { return AllocateMemoryNoThrow(kDomainEngine, size); }

void* DefaultNetworkReallocate(void* block, std::size_t size) {
  try {
    return ReallocateMemory(block, size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void DefaultNetworkFree(void* block) { FreeMemory(kDomainEngine, block); }

void DefaultNetworkAssert(const char* file, int line) {
  std::fprintf(stderr, "network assertion failed at %s:%d\n", file != nullptr ? file : "?", line);
  std::abort();
}

void DefaultNetworkLog(int, const char* text) { std::fputs(text, stderr); }

void NetworkLog(int level, const char* text) { g_hooks.log(level, text); }
void NetworkLog(int level, const TOrvString<char>& text) { g_hooks.log(level, text.c_str()); }

void EndProcessOnNetworkFault(const TOrvString<char>& text) {
  g_hooks.log(kNetworkLogCritical, text.c_str());
  std::abort();
}

void* AllocateNetworkBlock(std::size_t size) {
  void* block = g_hooks.allocate(size);
  if (block == nullptr) {
    EndProcessOnNetworkFault(FormatValues("Network allocation of %1 bytes failed: the process ends", size));
  }
  return block;
}

void* ReallocateNetworkBlock(void* block, std::size_t size) {
  void* moved = g_hooks.reallocate(block, size);
  if (moved == nullptr && size != 0) {
    EndProcessOnNetworkFault(FormatValues("Network reallocation to %1 bytes failed: the process ends", size));
  }
  return moved;
}

void FreeNetworkBlock(void* block) { g_hooks.free(block); }

}  // namespace Orvan::Network
