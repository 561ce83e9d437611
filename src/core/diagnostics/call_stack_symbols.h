// Symbolisation of captured call stacks: every return address becomes one text line through
// dladdr, remembered per (address, process) so that repeated reports cost no further look-ups, and
// whole stacks are written into narrow and wide streams. TCallStackSymbolCache is a fixed-size
// most-recently-used cache of name copies for callers that keep names.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <ostream>

#include "core/diagnostics/call_stack.h"
#include "core/sync/mutex.h"

namespace Orvan {

struct TCallStackSymbol {
  std::uintptr_t address;  // the full return address
  std::uint32_t context;   // the process id of the stack
  std::uint8_t functionResolved;
  std::uint8_t moduleResolved;
  Dl_info info;  // all zero until resolved

  void Initialise(std::uintptr_t frameAddress, std::uint32_t contextWord);
  // Each calls dladdr once while its own flag is 0 and the address is not null; a success sets
  // both flags, a failure is tried again on the next call.
  void ResolveFunction();
  void ResolveModule();
  // The empty text until resolved, and when dladdr placed the address without a name.
  const char* GetFunctionName() const;
  const char* GetModuleName() const;
  // Resolves the module; there is no line information, so always 0.
  std::uint32_t GetLine();
};

// snprintf of "\"%s\" line %d %s": module, line, function. Resolves the record first.
int FormatCallStackFrame(TCallStackSymbol& record, char* buffer, std::uint32_t capacity);

// The process-wide symbol lock (recursive), built on first request.
TMutex& GetCallStackSymbolLock();
// The record of (address, context), inserted unresolved when absent. The caller holds `lock`
// (the symbol lock); the record stays valid until the next insertion.
TCallStackSymbol* FindOrAddCallStackSymbol(TMutex& lock, std::uintptr_t address, std::uint32_t context);
// dladdr calls made by the records so far (a statistic).
std::uint64_t GetCallStackSymbolLookupCount();

// One line per frame in capture order, each ended by a newline and a flush, under one holding of
// the symbol lock, so the lines of two stacks never interleave. A stack without frames writes
// nothing. The wide form decodes the UTF-8 lines.
std::ostream& WriteCallStack(std::ostream& stream, const TAbstractCallStack& stack);
std::wostream& WriteCallStack(std::wostream& stream, const TAbstractCallStack& stack);
inline std::ostream& operator<<(std::ostream& stream, const TAbstractCallStack& stack) {
  return WriteCallStack(stream, stack);
}
inline std::wostream& operator<<(std::wostream& stream, const TAbstractCallStack& stack) {
  return WriteCallStack(stream, stack);
}

// 32 buckets of 2 entries, most recently used first; allocates nothing. No lock: its user
// serialises access. About 390 KB: keep it off small stacks.
class TCallStackSymbolCache {
 public:
  static constexpr std::uint32_t kBucketCount = 32;
  static constexpr std::uint32_t kEntriesPerBucket = 2;
  static constexpr std::uint32_t kNameBytes = 2000;  // names are cut to 1999 bytes and terminated

  struct TEntry {
    std::uintptr_t address;
    char functionName[kNameBytes];
    char moduleName[kNameBytes];
    char unused[2096];  // read and written by nothing
    std::uint32_t line;
  };
  struct TBucket {
    TEntry entries[kEntriesPerBucket];
    std::uint32_t count;
  };

  TCallStackSymbolCache();
  ~TCallStackSymbolCache();
  TCallStackSymbolCache(const TCallStackSymbolCache&) = delete;
  TCallStackSymbolCache& operator=(const TCallStackSymbolCache&) = delete;

  // The entry of the record's address, moved to the front of its bucket. A new entry (a miss)
  // takes a free place or the least recently used one and receives the record's names and line 0.
  const TEntry* Lookup(TCallStackSymbol& record);

  std::uint64_t GetHitCount() const { return hits_; }
  std::uint64_t GetMissCount() const { return misses_; }
  const TBucket& GetBucket(std::uint32_t index) const { return buckets_[index]; }
  // The bucket of an address (a 64-bit address is folded to 32 bits first).
  static std::uint32_t GetBucketIndex(std::uintptr_t address);

 private:
  TBucket buckets_[kBucketCount];
  std::uint64_t hits_;
  std::uint64_t misses_;
};

}  // namespace Orvan
