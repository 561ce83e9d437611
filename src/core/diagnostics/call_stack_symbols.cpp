// Symbol records of call-stack frames, the stream writers of whole stacks and the 32-bucket name
// cache.
#include "core/diagnostics/call_stack_symbols.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/containers/open_hash_map.h"
#include "core/memory/global_allocation.h"
#include "core/singletons/created_on_first_use.h"
#include "core/text/hash_functors.h"
#include "core/text/text_encoding.h"

namespace Orvan {

namespace {

// Frame lines are formatted into this many bytes (longer lines are cut).
constexpr std::uint32_t kFrameLineBytes = 2048;

std::atomic<std::uint64_t> g_lookupCount{0};

// A 64-bit address hashes as its low half XOR its high half.
std::uint32_t FoldAddress(std::uintptr_t address) { return TPointerHash::FoldAddress(address); }

struct TSymbolKey {
  std::uintptr_t address;
  std::uint32_t context;
};

std::uint32_t HashSymbolKey(std::uintptr_t address, std::uint32_t context) {
  std::uint32_t h = FoldAddress(address) ^ 0x28b8du;
  h = (h + (h >> 7)) ^ context;
  return h;
}

struct TSymbolHash {
  std::uint32_t operator()(const TCallStackSymbol& record) const noexcept {
    return HashSymbolKey(record.address, record.context);
  }
  std::uint32_t operator()(const TSymbolKey& key) const noexcept { return HashSymbolKey(key.address, key.context); }
};

struct TSymbolEqual {
  bool operator()(const TCallStackSymbol& stored, const TCallStackSymbol& probe) const noexcept {
    return stored.address == probe.address && stored.context == probe.context;
  }
  bool operator()(const TCallStackSymbol& stored, const TSymbolKey& probe) const noexcept {
    return stored.address == probe.address && stored.context == probe.context;
  }
};

using TSymbolMap = TOpenHashMap<TCallStackSymbol, TSymbolHash, TSymbolEqual, default_allocator<TCallStackSymbol>>;

// Records are never removed before exit; the map gives its storage back then.
TCreatedOnFirstUse<TSymbolMap> g_symbols;
TCreatedOnFirstUse<TMutex> g_symbolLock;

bool LookUp(TCallStackSymbol& record) {
  g_lookupCount.fetch_add(1, std::memory_order_relaxed);
  if (::dladdr(reinterpret_cast<const void*>(record.address), &record.info) == 0) {
    std::memset(&record.info, 0, sizeof(record.info));
    return false;
  }
  record.functionResolved = 1;
  record.moduleResolved = 1;
  return true;
}

template <typename Stream, typename WriteLine>
Stream& WriteFrames(Stream& stream, const TAbstractCallStack& stack, WriteLine writeLine) {
  if (stack.GetFrameCount() == 0) return stream;
  TMutex& lock = GetCallStackSymbolLock();
  TMutexLocker locker(lock);
  char line[kFrameLineBytes];
  for (std::uint32_t i = 0; i < stack.GetFrameCount(); ++i) {
    TCallStackSymbol* record = FindOrAddCallStackSymbol(
        lock, reinterpret_cast<std::uintptr_t>(stack.GetFrames()[i]), stack.GetProcessId());
    FormatCallStackFrame(*record, line, sizeof(line));
    writeLine(line);
    stream << std::endl;
  }
  return stream;
}

void CopyName(char* destination, const char* name) {
  std::strncpy(destination, name, TCallStackSymbolCache::kNameBytes - 1);
  destination[TCallStackSymbolCache::kNameBytes - 1] = '\0';
}

}  // namespace

// ---- Records

void TCallStackSymbol::Initialise(std::uintptr_t frameAddress, std::uint32_t contextWord) {
  address = frameAddress;
  context = contextWord;
  functionResolved = 0;
  moduleResolved = 0;
  std::memset(&info, 0, sizeof(info));
}

void TCallStackSymbol::ResolveFunction() {
  if (functionResolved == 0 && address != 0) LookUp(*this);
}

void TCallStackSymbol::ResolveModule() {
  if (moduleResolved == 0 && address != 0) LookUp(*this);
}

const char* TCallStackSymbol::GetFunctionName() const {
  return functionResolved != 0 && info.dli_sname != nullptr ? info.dli_sname : "";
}

const char* TCallStackSymbol::GetModuleName() const {
  return moduleResolved != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

std::uint32_t TCallStackSymbol::GetLine() {
  ResolveModule();
  return 0;
}

int FormatCallStackFrame(TCallStackSymbol& record, char* buffer, std::uint32_t capacity) {
  const std::uint32_t line = record.GetLine();
  record.ResolveFunction();
  return std::snprintf(buffer, capacity, "\"%s\" line %d %s", record.GetModuleName(), static_cast<int>(line),
                       record.GetFunctionName());
}

TMutex& GetCallStackSymbolLock() { return g_symbolLock.Get(); }

TCallStackSymbol* FindOrAddCallStackSymbol(TMutex& /*lock*/, std::uintptr_t address, std::uint32_t context) {
  TCallStackSymbol* record = nullptr;
  if (g_symbols.Get().FindOrInsert(TSymbolKey{address, context}, &record)) record->Initialise(address, context);
  return record;
}

std::uint64_t GetCallStackSymbolLookupCount() { return g_lookupCount.load(std::memory_order_relaxed); }

std::ostream& WriteCallStack(std::ostream& stream, const TAbstractCallStack& stack) {
  return WriteFrames(stream, stack, [&stream](const char* line) { stream << line; });
}

std::wostream& WriteCallStack(std::wostream& stream, const TAbstractCallStack& stack) {
  return WriteFrames(stream, stack, [&stream](const char* line) { WriteUtf8AsWide(stream, line); });
}

// ---- Name cache

TCallStackSymbolCache::TCallStackSymbolCache() : hits_(0), misses_(0) { std::memset(buckets_, 0, sizeof(buckets_)); }

TCallStackSymbolCache::~TCallStackSymbolCache() {
  for (TBucket& bucket : buckets_) bucket.count = 0;
}

std::uint32_t TCallStackSymbolCache::GetBucketIndex(std::uintptr_t address) {
  const std::uint32_t k = FoldAddress(address);
  std::uint32_t x = (k << 4) + (k ^ 0xdeadbeefu);
  x ^= x >> 10;
  x += x >> 24;
  x *= 129u;
  x ^= x >> 13;
  return x & (kBucketCount - 1);
}

const TCallStackSymbolCache::TEntry* TCallStackSymbolCache::Lookup(TCallStackSymbol& record) {
  TBucket& bucket = buckets_[GetBucketIndex(record.address)];
  std::uint32_t index = 0;
  while (index < bucket.count && bucket.entries[index].address != record.address) ++index;
  if (index < bucket.count) {
    ++hits_;
  } else {
    ++misses_;
    if (bucket.count < kEntriesPerBucket) {
      index = bucket.count++;
    } else {
      index = kEntriesPerBucket - 1;
    }
    TEntry& entry = bucket.entries[index];
    std::memset(&entry, 0, sizeof(entry));
    entry.address = record.address;
    entry.line = record.GetLine();
    record.ResolveFunction();
    CopyName(entry.functionName, record.GetFunctionName());
    CopyName(entry.moduleName, record.GetModuleName());
  }
  // Most recently used first: the others move back by one.
  if (index != 0) {
    TEntry moved;
    std::memcpy(&moved, &bucket.entries[index], sizeof(TEntry));
    std::memmove(&bucket.entries[1], &bucket.entries[0], index * sizeof(TEntry));
    std::memcpy(&bucket.entries[0], &moved, sizeof(TEntry));
  }
  return &bucket.entries[0];
}

}  // namespace Orvan
