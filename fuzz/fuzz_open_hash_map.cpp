// Fuzz target of the open hash map: operations decoded from the input bytes run on three instances
// (the u32 map, one whose hash piles keys into a few runs, the small-buffer form) and on a
// std::unordered_map. Any difference in contents or entry order, a broken slot array, or a failed
// insertion that changed a map aborts.
#include <cstddef>
#include <cstdint>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/containers/open_hash_map.h"
#include "core/text/hash_functors.h"
#include "support/engine_test_environment.h"
#include "support/failing_allocation.h"
#include "support/fuzz_check.h"
#include "support/open_hash_map_checks.h"

namespace {

using namespace Orvan;

// Few distinct hashes, many with all tag bits 0: long runs, wrapped runs, tag 1.
struct TPileHash {
  std::uint32_t operator()(std::uint32_t key) const noexcept { return (key >> 20) & 0x0F03; }
};

using TEntry = TKeyValueEntry<std::uint32_t, std::uint32_t>;
using TPlainMap = TU32ToU32Map;
using TPileMap = TOpenHashMap<TEntry, TPileHash, TWordEqual, default_allocator<unsigned char>>;
using TSmallMap = TSmallOpenHashMap<TEntry, TIntegerHash, TWordEqual, general_heap_allocator<unsigned char>>;
using TMirror = std::unordered_map<std::uint32_t, std::uint32_t>;

using OrvTest::FuzzCheck;

class TReader {
 public:
  TReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return position_ >= size_; }
  std::uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  // 512 keys spread over all 32 bits, so that hits are frequent and every tag bit is exercised.
  std::uint32_t Key() {
    const std::uint32_t index = Byte() | (std::uint32_t{Byte()} & 1) << 8;
    return index * 0x9E3779B1u;
  }
  std::uint32_t Value() { return Byte() * 0x01000193u + Byte(); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

template <typename TMap>
std::vector<std::pair<std::uint32_t, std::uint32_t>> Contents(const TMap& map) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> contents;
  for (const auto& entry : map) contents.emplace_back(entry.key, entry.value);
  return contents;
}

template <typename TMap>
void Put(TMap& map, std::uint32_t key, std::uint32_t value) {
  *FindOrAddDefault(map, key).second = value;
}

template <typename TMap>
void CheckAgainstMirror(const TMap& map, const TMirror& mirror) {
  FuzzCheck(map.Count() == mirror.size(), "count differs from the mirror");
  FuzzCheck(OrvTest::CheckOpenHashMapInvariants(map).empty(), "slot array broken");
}

template <typename TMap>
void EraseEntryAt(TMap& map, std::uint32_t index) {
  const std::uint32_t key = map.Entries()[index].key;
  TEntry* entry;
  const std::uint32_t slot = map.FindSlot(key, typename TMap::THashType()(key), &entry);
  FuzzCheck(entry == map.Entries() + index, "FindSlot missed a live entry");
  FuzzCheck(map.EraseAt(slot), "EraseAt of a live slot failed");
}

template <typename TMap>
void EraseAtRawSlot(TMap& map, std::uint8_t pick) {
  if (map.SlotBits() == 0) return;
  const std::uint32_t slot = pick & ((1u << map.SlotBits()) - 1);
  if (map.SlotWords()[slot] != 0) return;
  const std::uint32_t count = map.Count();
  FuzzCheck(!map.EraseAt(slot), "EraseAt of an empty slot erased");
  FuzzCheck(map.Count() == count, "EraseAt of an empty slot changed the count");
}

template <typename TMap>
void CopyRoundTrip(TMap& map) {
  TMap copy(map);
  FuzzCheck(copy.Header() == map.Header() && Contents(copy) == Contents(map), "copy differs from its source");
  for (std::uint32_t i = 0; i < 2 * map.Capacity(); ++i) {
    FuzzCheck(copy.SlotWords()[i] == map.SlotWords()[i], "copy has other slot words");
  }
  map = copy;
  FuzzCheck(Contents(copy) == Contents(map), "assignment back differs");
}

// Inserts with every allocation failing. Returns whether it threw; a map that threw must be
// exactly as before.
template <typename TMap>
bool InsertWithoutMemory(TMap& map, std::uint32_t key, std::uint32_t value) {
  const auto before = Contents(map);
  const std::uint32_t header = map.Header();
  bool threw = false;
  {
    OrvTest::TFailingAllocationScope failing(0);
    try {
      Put(map, key, value);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
  }
  if (threw) FuzzCheck(map.Header() == header && Contents(map) == before, "failed insertion changed the map");
  return threw;
}

struct TSubjects {
  TPlainMap plain;
  TPileMap pile;
  TSmallMap small;

  template <typename TFunction>
  void ForEach(TFunction&& function) {
    function(plain);
    function(pile);
    function(small);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();

  TReader input(data, size);
  TSubjects maps;
  TMirror mirror;
  while (!input.AtEnd()) {
    const std::uint8_t op = input.Byte() % 10;
    switch (op) {
      case 0:
      case 1:
      case 2: {
        const std::uint32_t key = input.Key();
        const std::uint32_t value = input.Value();
        maps.ForEach([&](auto& map) { Put(map, key, value); });
        mirror[key] = value;
        break;
      }
      case 3: {
        const std::uint32_t key = input.Key();
        const std::uint32_t value = input.Value();
        if (mirror.count(key) != 0) break;
        maps.ForEach([&](auto& map) { map.InsertNew(key, value); });
        mirror[key] = value;
        break;
      }
      case 4: {
        const std::uint32_t key = input.Key();
        const auto expected = mirror.find(key);
        maps.ForEach([&](auto& map) {
          const TEntry* found = map.Find(key);
          FuzzCheck((found == nullptr) == (expected == mirror.end()), "lookup differs");
          if (found != nullptr) FuzzCheck(found->value == expected->second, "value differs");
        });
        break;
      }
      case 5:
      case 6: {
        const std::uint32_t key = input.Key();
        const bool expected = mirror.erase(key) == 1;
        maps.ForEach([&](auto& map) { FuzzCheck(map.Erase(key) == expected, "erase differs"); });
        break;
      }
      case 7: {
        if (mirror.empty()) break;
        // Entry order does not depend on the hash, so the same index names the same key in all.
        const std::uint32_t index = input.Byte() % mirror.size();
        mirror.erase(maps.plain.Entries()[index].key);
        maps.ForEach([&](auto& map) { EraseEntryAt(map, index); });
        break;
      }
      case 8: {
        const std::uint8_t pick = input.Byte();
        switch (pick % 4) {
          case 0:
            maps.ForEach([](auto& map) { map.Clear(); });
            mirror.clear();
            break;
          case 1:
            maps.ForEach([](auto& map) { map.RemoveAll(); });
            mirror.clear();
            break;
          case 2:
            maps.ForEach([](auto& map) { CopyRoundTrip(map); });
            break;
          default:
            maps.ForEach([&](auto& map) { EraseAtRawSlot(map, static_cast<std::uint8_t>(pick >> 2)); });
            break;
        }
        break;
      }
      default: {
        const std::uint32_t key = input.Key();
        const std::uint32_t value = input.Value();
        const bool present = mirror.count(key) != 0;
        bool anyThrew = false;
        bool allThrew = true;
        maps.ForEach([&](auto& map) {
          const bool threw = InsertWithoutMemory(map, key, value);
          FuzzCheck(!threw || !present, "assigning an existing key needs no memory");
          anyThrew |= threw;
          allThrew &= threw;
        });
        if (!anyThrew) {
          mirror[key] = value;
        } else if (!allThrew) {
          // The small-buffer form may have had room inline: take the key out again.
          maps.ForEach([&](auto& map) { map.Erase(key); });
        }
        break;
      }
    }
    maps.ForEach([&](auto& map) { CheckAgainstMirror(map, mirror); });
    const auto order = Contents(maps.plain);
    FuzzCheck(Contents(maps.pile) == order && Contents(maps.small) == order, "entry order differs between instances");
  }
  for (const auto& [key, value] : mirror) {
    maps.ForEach([&](auto& map) {
      const TEntry* found = map.Find(key);
      FuzzCheck(found != nullptr && found->value == value, "final contents differ");
    });
  }
  return 0;
}
