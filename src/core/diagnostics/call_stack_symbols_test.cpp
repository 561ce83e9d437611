#include "core/diagnostics/call_stack_symbols.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

// Exported, so dladdr names it.
extern "C" __attribute__((noinline)) int OrvTestSymbolProbe(int x) { return x * 3 + 1; }

namespace Orvan {
namespace {

// Not in the dynamic symbol table: dladdr places it in the executable without a name.
int g_unexportedWord = 5;

std::string FormatFrame(std::uintptr_t address) {
  TCallStackSymbol record;
  record.Initialise(address, 1);
  char line[2048];
  const int length = FormatCallStackFrame(record, line, sizeof(line));
  EXPECT_EQ(length, static_cast<int>(std::string(line).size()));
  return line;
}

TEST(CallStackSymbols, FramesPrintModuleLineAndName) {
  Dl_info probe{};
  ASSERT_NE(::dladdr(reinterpret_cast<void*>(&OrvTestSymbolProbe), &probe), 0);
  const std::string module = probe.dli_fname;

  EXPECT_EQ(FormatFrame(reinterpret_cast<std::uintptr_t>(&OrvTestSymbolProbe)),
            "\"" + module + "\" line 0 OrvTestSymbolProbe");
  // Unplaceable and null addresses print empty names.
  EXPECT_EQ(FormatFrame(0x10), "\"\" line 0 ");
  EXPECT_EQ(FormatFrame(0), "\"\" line 0 ");

  Dl_info unnamed{};
  ASSERT_NE(::dladdr(&g_unexportedWord, &unnamed), 0);
  if (unnamed.dli_sname != nullptr) GTEST_SKIP() << "the platform named an unexported object";
  EXPECT_EQ(FormatFrame(reinterpret_cast<std::uintptr_t>(&g_unexportedWord)), "\"" + module + "\" line 0 ");
}

TEST(CallStackSymbols, RecordsResolveOnceAndRetryFailures) {
  TCallStackSymbol record;
  record.Initialise(reinterpret_cast<std::uintptr_t>(&OrvTestSymbolProbe), 9);
  EXPECT_STREQ(record.GetFunctionName(), "");
  EXPECT_STREQ(record.GetModuleName(), "");
  const std::uint64_t before = GetCallStackSymbolLookupCount();
  record.ResolveFunction();
  record.ResolveModule();
  EXPECT_EQ(record.GetLine(), 0u);
  EXPECT_EQ(GetCallStackSymbolLookupCount(), before + 1);
  EXPECT_STREQ(record.GetFunctionName(), "OrvTestSymbolProbe");

  TCallStackSymbol unplaced;
  unplaced.Initialise(0x10, 9);
  unplaced.ResolveModule();
  unplaced.ResolveModule();
  EXPECT_EQ(GetCallStackSymbolLookupCount(), before + 3);
  EXPECT_EQ(unplaced.moduleResolved, 0u);

  TCallStackSymbol null;
  null.Initialise(0, 9);
  null.ResolveFunction();
  EXPECT_EQ(GetCallStackSymbolLookupCount(), before + 3);
}

TEST(CallStackSymbols, WritingAStackAgainLooksNothingUp) {
  // A context of its own gives this stack fresh records.
  const TSimpleCallStack stack(0, 10, GetCurrentThreadId(), 0x5A5A5A);
  ASSERT_GT(stack.GetFrameCount(), 0u);
  const std::uint64_t before = GetCallStackSymbolLookupCount();
  std::ostringstream first;
  first << stack;
  const std::uint64_t afterFirst = GetCallStackSymbolLookupCount();
  EXPECT_GE(afterFirst - before, stack.GetFrameCount());
  std::ostringstream second;
  second << stack;
  EXPECT_EQ(GetCallStackSymbolLookupCount(), afterFirst);
  EXPECT_EQ(first.str(), second.str());

  // One line per frame; the wide form carries the same text.
  std::size_t lines = 0;
  for (char c : first.str()) lines += c == '\n' ? 1 : 0;
  EXPECT_EQ(lines, stack.GetFrameCount());
  std::wostringstream wide;
  wide << stack;
  const std::string text = first.str();
  EXPECT_EQ(wide.str(), std::wstring(text.begin(), text.end()));
}

TEST(CallStackSymbols, FindOrAddKeysByAddressAndContext) {
  TMutex& lock = GetCallStackSymbolLock();
  TMutexLocker locker(lock);
  TCallStackSymbol* a = FindOrAddCallStackSymbol(lock, 0xABC0000000001234u, 1);
  EXPECT_EQ(a->address, 0xABC0000000001234u);
  EXPECT_EQ(a->context, 1u);
  EXPECT_EQ(a->functionResolved, 0u);
  a->functionResolved = 7;  // marks this record
  EXPECT_EQ(FindOrAddCallStackSymbol(lock, 0xABC0000000001234u, 1)->functionResolved, 7u);
  // Same low half, other high half; same address, other context: other records.
  EXPECT_EQ(FindOrAddCallStackSymbol(lock, 0x0000000000001234u, 1)->functionResolved, 0u);
  EXPECT_EQ(FindOrAddCallStackSymbol(lock, 0xABC0000000001234u, 2)->functionResolved, 0u);
  EXPECT_EQ(FindOrAddCallStackSymbol(lock, 0xABC0000000001234u, 1)->functionResolved, 7u);
}

// Three fake addresses of one bucket, found by search.
std::vector<std::uintptr_t> AddressesOfOneBucket(std::uint32_t wanted) {
  std::vector<std::uintptr_t> found;
  const std::uint32_t bucket = TCallStackSymbolCache::GetBucketIndex(0x1000);
  for (std::uintptr_t address = 0x1000; found.size() < wanted; address += 8) {
    if (TCallStackSymbolCache::GetBucketIndex(address) == bucket) found.push_back(address);
  }
  return found;
}

TEST(CallStackSymbolCache, BucketsKeepTheTwoMostRecentlyUsedFirst) {
  auto cache = std::make_unique<TCallStackSymbolCache>();
  const std::vector<std::uintptr_t> addresses = AddressesOfOneBucket(3);
  TCallStackSymbol records[3];
  for (int i = 0; i < 3; ++i) records[i].Initialise(addresses[i], 1);
  for (TCallStackSymbol& record : records) cache->Lookup(record);
  const TCallStackSymbolCache::TBucket& bucket =
      cache->GetBucket(TCallStackSymbolCache::GetBucketIndex(addresses[0]));
  ASSERT_EQ(bucket.count, 2u);
  EXPECT_EQ(bucket.entries[0].address, addresses[2]);
  EXPECT_EQ(bucket.entries[1].address, addresses[1]);
  EXPECT_EQ(cache->GetMissCount(), 3u);
  EXPECT_EQ(cache->GetHitCount(), 0u);

  cache->Lookup(records[1]);
  cache->Lookup(records[0]);
  EXPECT_EQ(cache->GetHitCount(), 1u);
  EXPECT_EQ(cache->GetMissCount(), 4u);
  EXPECT_EQ(bucket.entries[0].address, addresses[0]);
  EXPECT_EQ(bucket.entries[1].address, addresses[1]);
}

TEST(CallStackSymbolCache, EntriesCopyTheNames) {
  auto cache = std::make_unique<TCallStackSymbolCache>();
  TCallStackSymbol record;
  record.Initialise(reinterpret_cast<std::uintptr_t>(&OrvTestSymbolProbe), 1);
  const TCallStackSymbolCache::TEntry* entry = cache->Lookup(record);
  EXPECT_STREQ(entry->functionName, "OrvTestSymbolProbe");
  EXPECT_STREQ(entry->moduleName, record.GetModuleName());
  EXPECT_EQ(entry->line, 0u);
  EXPECT_EQ(cache->Lookup(record), entry);
  EXPECT_EQ(cache->GetHitCount(), 1u);
  EXPECT_EQ(OrvTestSymbolProbe(1), 4);
}

}  // namespace
}  // namespace Orvan
