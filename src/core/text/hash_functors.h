// The hash functors and key equalities of the engine's keyed tables, the value types stored in
// them, the wrappers that construct new entries, and the map instances in use. The hash values
// are fixed so that every build lays out its tables alike.
//
// A table keyed by another type plugs in with a functor pair: a hash (key -> u32, with overloads
// for the probe types it accepts) and an equality (stored key, probe) -> bool.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "core/containers/open_hash_map.h"
#include "core/memory/global_allocation.h"
#include "core/memory/heap.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/engine_string.h"
#include "core/text/text_hash.h"

namespace Orvan {

namespace HashDetail {
// x * 129 as one multiply instruction: for the constant the compiler would pick a shift, an add
// and a move, which costs more on the lookup path than the multiply.
inline std::uint32_t MultiplyBy129(std::uint32_t x) noexcept {
  std::uint32_t multiplier = 129;
  asm("" : "+r"(multiplier));
  return x * multiplier;
}
}  // namespace HashDetail

// Integer mix of a 32-bit key.
struct TIntegerHash {
  std::uint32_t operator()(std::uint32_t key) const noexcept {
    std::uint32_t x = (key ^ 0xdeadbeefu) + (key << 4);
    x ^= x >> 10;
    x += x >> 24;
    x = HashDetail::MultiplyBy129(x);
    x ^= x >> 13;
    return x;
  }
};

// Hash of an address. The mix is defined on 32-bit addresses, so a 64-bit address is folded first
// (low half XOR high half); every address below 2^32 hashes as it would in a 32-bit build.
struct TPointerHash {
  static std::uint32_t FoldAddress(std::uintptr_t address) noexcept {
    return static_cast<std::uint32_t>(address) ^ static_cast<std::uint32_t>(static_cast<std::uint64_t>(address) >> 32);
  }
  static std::uint32_t HashAddress(std::uint32_t address) noexcept {
    // Arithmetic shift: the sign bit fills, so q << 4 equals address & ~15.
    const std::uint32_t q = static_cast<std::uint32_t>(static_cast<std::int32_t>(address) >> 4);
    std::uint32_t x = (q ^ 0xdeadbeefu) + (q << 4);
    x ^= x >> 10;
    x = HashDetail::MultiplyBy129(x);
    x ^= x >> 13;
    return x;
  }
  std::uint32_t operator()(const volatile void* pointer) const noexcept {
    return HashAddress(FoldAddress(reinterpret_cast<std::uintptr_t>(pointer)));
  }
};

// Keys compared as one value: integers, pointers.
struct TWordEqual {
  template <typename TKey, typename TProbe>
  bool operator()(const TKey& key, const TProbe& probe) const noexcept {
    return key == probe;
  }
};

// Narrow engine-string keys by their cached case-sensitive hash; a NUL-terminated probe hashes
// as the string holding its text would.
struct TStringHash {
  std::uint32_t operator()(const TOrvString<char>& key) const noexcept { return key.GetHash(); }
  std::uint32_t operator()(const char* text) const noexcept { return HashStringDjb2(text); }
};

struct TStringEqual {
  // Both hashes are cached in the strings' blocks by the time keys are compared: a differing hash
  // settles most candidates that share only the slot's few tag bits without reading any text.
  bool operator()(const TOrvString<char>& key, const TOrvString<char>& probe) const noexcept {
    return key.GetHash() == probe.GetHash() && key == probe;
  }
  bool operator()(const TOrvString<char>& key, const char* probe) const noexcept { return key == probe; }
};

// Engine-string keys without regard to case (narrow: lower-case djb2, wide: lower-case FNV-1),
// probed by a string, a NUL-terminated text or, for narrow keys, a view.
struct TStringHashNoCase {
  template <typename CharT>
  std::uint32_t operator()(const TOrvString<CharT>& key) const noexcept {
    return key.GetHashNoCase();
  }
  std::uint32_t operator()(const TOrvSubString<char>& view) const noexcept { return view.GetHashNoCase(); }
  std::uint32_t operator()(const char* text) const noexcept { return HashStringNoCase(text); }
  std::uint32_t operator()(const wchar_t* text) const noexcept { return HashWideStringNoCase(text); }
};

struct TStringEqualNoCase {
  template <typename CharT>
  bool operator()(const TOrvString<CharT>& key, const TOrvString<CharT>& probe) const noexcept {
    return key.GetHashNoCase() == probe.GetHashNoCase() && key.EqualsNoCase(probe);
  }
  template <typename CharT>
  bool operator()(const TOrvString<CharT>& key, const CharT* probe) const noexcept {
    return key.EqualsNoCase(probe);
  }
  bool operator()(const TOrvString<char>& key, const TOrvSubString<char>& probe) const noexcept {
    return TOrvSubString<char>(key).EqualsNoCase(probe);
  }
};

// The assertion reporter's location: the addresses of the file-name and expression texts and the
// line. The texts are not compared; two failures share a location when all three fields agree.
struct TLocationKey {
  const char* file;
  const char* expression;
  std::uint32_t line;
};

// djb2 over the fields' bytes in memory order (pointers are 8 bytes on this host); the padding
// after `line` is not hashed.
struct TLocationHash {
  std::uint32_t operator()(const TLocationKey& key) const noexcept;
};

struct TLocationEqual {
  bool operator()(const TLocationKey& a, const TLocationKey& b) const noexcept {
    return a.file == b.file && a.expression == b.expression && a.line == b.line;
  }
};

// A text of at most 28 bytes held inside an entry.
struct TShortByteString {
  static constexpr std::uint32_t kCapacity = 28;
  std::uint8_t bytes[kCapacity];
  std::uint32_t length;  // 0 to kCapacity
};

// The value of a key, a new entry getting the value-initialised value (0 for numbers).
// Returns {added, value}.
template <typename TMap>
std::pair<bool, decltype(&std::declval<typename TMap::TEntryType&>().value)> FindOrAddDefault(
    TMap& map, const typename TMap::TKey& key) {
  using TEntry = typename TMap::TEntryType;
  TEntry* entry;
  const bool added = map.FindOrInsert(key, &entry);
  if (added) ::new (static_cast<void*>(entry)) TEntry{key, {}};
  return {added, &entry->value};
}

// Stores a copy of the value under the key, adding the entry when absent. Returns {entry, added}.
template <typename TMap>
std::pair<typename TMap::TEntryType*, bool> InsertOrAssign(TMap& map, const typename TMap::TKey& key,
                                                            const TShortByteString& value) {
  using TEntry = typename TMap::TEntryType;
  // The length field is trusted nowhere: never copy past the 28 bytes.
  const std::uint32_t length = value.length < TShortByteString::kCapacity ? value.length : TShortByteString::kCapacity;
  TEntry* entry;
  const bool added = map.FindOrInsert(key, &entry);
  if (added) {
    ::new (static_cast<void*>(entry)) TEntry{key, {}};
  } else if (&entry->value == &value) {
    return {entry, false};
  }
  entry->value.length = 0;
  std::memcpy(entry->value.bytes, value.bytes, length);
  entry->value.length = length;
  return {entry, added};
}

// ---- Instances

// u32 to u32, default allocator: thread-local storage slots, match-making indices, replays.
using TU32ToU32Map = TOpenHashMap<TKeyValueEntry<std::uint32_t, std::uint32_t>, TIntegerHash, TWordEqual,
                                  default_allocator<unsigned char>>;

// u32 to u32 on the calling thread's heap: the game session's table of values per key.
using TThreadHeapU32ToU32Map = TOpenHashMap<TKeyValueEntry<std::uint32_t, std::uint32_t>, TIntegerHash, TWordEqual,
                                            thread_local_allocator<unsigned char>>;

// Narrow names to objects on the calling thread's heap: the session's property table, per-user
// variables, game information from the match-making server.
template <typename T>
using TStringToPointerMap =
    TOpenHashMap<TKeyValueEntry<TOrvString<char>, T*>, TStringHash, TStringEqual, thread_local_allocator<unsigned char>>;

// The same on the general heap: the named-callback manager.
template <typename T>
using TGeneralHeapStringToPointerMap =
    TOpenHashMap<TKeyValueEntry<TOrvString<char>, T*>, TStringHash, TStringEqual, general_heap_allocator<unsigned char>>;

// Narrow names to ids without regard to case: thread-local slot names, file extensions.
using TStringNoCaseToU32Map = TOpenHashMap<TKeyValueEntry<TOrvString<char>, std::uint32_t>, TStringHashNoCase,
                                           TStringEqualNoCase, default_allocator<unsigned char>>;

// An INI text document: sections by name, each a map of keys to values, names without regard to
// case. Copying a section map copies every key map with it.
using TIniKeyMap = TOpenHashMap<TKeyValueEntry<TOrvString<wchar_t>, TOrvString<wchar_t>>, TStringHashNoCase,
                                TStringEqualNoCase, default_allocator<unsigned char>>;
using TIniSectionMapBase = TOpenHashMap<TKeyValueEntry<TOrvString<wchar_t>, TIniKeyMap>, TStringHashNoCase,
                                        TStringEqualNoCase, default_allocator<unsigned char>>;

// The section map with its typed reads. They are the INI document reads (IniDocumentFind and the
// others, with the filesystem), under the names of the map.
class TIniSectionMap : public TIniSectionMapBase {
 public:
  using TIniSectionMapBase::TIniSectionMapBase;
  using TIniSectionMapBase::operator=;

  // False when the section or the key is absent; otherwise the value goes to `value`.
  bool FindValue(const wchar_t* section, const wchar_t* key, TOrvString<wchar_t>& value) const;
  // The value, or the default.
  TOrvString<wchar_t> GetString(const wchar_t* section, const wchar_t* key, const TOrvString<wchar_t>& defaultValue) const;
  // The value scanned with "%f", or the default; EIniWrongTypeValue when no number is read.
  float GetFloat(const wchar_t* section, const wchar_t* key, float defaultValue) const;
  // "true" or "false" (letter case ignored), or the default; EIniWrongTypeValue for any other value.
  bool GetBool(const wchar_t* section, const wchar_t* key, bool defaultValue) const;
};

// An INI value document: sections by name (letter case ignored), each a list of typed values in
// the order they were added. A value's name is hashed for its slot but never looked up, so the
// same name may be added twice.
struct TIniTypedValue {
  static constexpr std::uint32_t kFlag = 0;
  static constexpr std::uint32_t kText = 1;
  static constexpr std::uint32_t kNumber = 2;

  TOrvString<wchar_t> name;
  std::uint32_t kind;  // kFlag, kText or kNumber
  std::uint8_t flag;
  TOrvString<wchar_t> value;
  float number;
};

struct TIniTypedValueHash {
  std::uint32_t operator()(const wchar_t* name) const noexcept { return HashWideStringNoCase(name); }
  std::uint32_t operator()(const TIniTypedValue& entry) const noexcept { return HashWideStringNoCase(entry.name.c_str()); }
};

// No equality: the values of a section are appended, copied and walked, never looked up.
struct TIniTypedValueNoLookup {};

using TIniTypedValueMap =
    TOpenHashMap<TIniTypedValue, TIniTypedValueHash, TIniTypedValueNoLookup, default_allocator<unsigned char>>;
using TIniTypedSectionMap = TOpenHashMap<TKeyValueEntry<TOrvString<wchar_t>, TIniTypedValueMap>, TStringHashNoCase,
                                         TStringEqualNoCase, default_allocator<unsigned char>>;

// A set of pointers; erasing with EraseAt(slot, &out) hands the erased pointer back.
template <typename T>
using TPointerSet = TOpenHashMap<T*, TPointerHash, TWordEqual, default_allocator<unsigned char>>;

// The same on the general heap, for sets whose map object is itself made on demand with Create
// and ended with Destroy.
template <typename T>
using TGeneralHeapPointerSet = TOpenHashMap<T*, TPointerHash, TWordEqual, general_heap_allocator<unsigned char>>;

// The assertion reporter's set of locations already reported.
using TLocationSet = TOpenHashMap<TLocationKey, TLocationHash, TLocationEqual, default_allocator<unsigned char>>;

// The children of a file-name tree node by component id, in the small-buffer form.
template <typename TNode>
using TComponentChildMap =
    TSmallOpenHashMap<TKeyValueEntry<std::uint32_t, TNode*>, TIntegerHash, TWordEqual, general_heap_allocator<unsigned char>>;

}  // namespace Orvan
