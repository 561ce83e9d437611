// Hash functors, the entry wrappers and the map instances.
#include "core/text/hash_functors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/open_hash_map_checks.h"

namespace {

using namespace Orvan;

struct THashCase {
  std::uint64_t input;
  std::uint32_t hash;
};

TEST(HashFunctors, IntegerHashValues) {
  const std::vector<THashCase> cases = {
      {0, 0x2ba41874}, {1, 0x2ba410c5}, {2, 0x2ba5e865}, {0xffffffff, 0xce629d16}};
  for (const auto& c : cases) {
    EXPECT_EQ(TIntegerHash()(static_cast<std::uint32_t>(c.input)), c.hash) << std::hex << c.input;
  }
}

TEST(HashFunctors, PointerHashValues) {
  const std::vector<THashCase> cases = {
      {0, 0x2ba588a6},
      {0x10, 0x2ba58337},
      {0x1f, 0x2ba58337},  // the low four bits do not count
      {0xb7001000, 0x5265d5a6},  // the arithmetic shift matters once the top bit is set
      {0xfffffff0, 0xce62aeb6},
      // 64-bit addresses fold their halves together first.
      {0x00000001b7001000, 0x5265d5a6},
      {0xffffffff00000000, 0xce62aeb6},
  };
  for (const auto& c : cases) {
    const auto* pointer = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(c.input));
    EXPECT_EQ(TPointerHash()(pointer), c.hash) << std::hex << c.input;
  }
}

TEST(HashFunctors, NullHashIsZero) {
  EXPECT_EQ(TNullHash()(12345u), 0u);
  EXPECT_EQ(TNullHash()(TLocationKey{"a", "b", 1}), 0u);
}

TEST(HashFunctors, LocationHashCoversTheFieldsAndNotThePadding) {
  struct TLocationCase {
    std::uint64_t file, expression;
    std::uint32_t line;
    std::uint32_t hash;
  };
  const std::vector<TLocationCase> cases = {
      {0, 0, 0, 0xa5cd7985},  // djb2 of 20 zero bytes
      {0x0807060504030201, 0x100f0e0d0c0b0a09, 0x14131211, 0xfd6a2497},  // of the bytes 1 to 20
  };
  for (const auto& c : cases) {
    for (const unsigned char padding : {0x00, 0xff}) {
      TLocationKey key;
      std::memset(static_cast<void*>(&key), padding, sizeof(key));
      key.file = reinterpret_cast<const char*>(c.file);
      key.expression = reinterpret_cast<const char*>(c.expression);
      key.line = c.line;
      EXPECT_EQ(TLocationHash()(key), c.hash) << std::hex << c.file << " padding " << int(padding);
    }
  }
}

TEST(HashInstances, LocationSetMatchesAllThreeFields) {
  static const char kFile[] = "engine.cpp";
  static const char kExpression[] = "p != nullptr";
  TLocationSet reported;
  reported.InsertNew(TLocationKey{kFile, kExpression, 10});
  EXPECT_NE(reported.Find(TLocationKey{kFile, kExpression, 10}), nullptr);
  EXPECT_EQ(reported.Find(TLocationKey{kFile, kExpression, 11}), nullptr);
  EXPECT_EQ(reported.Find(TLocationKey{kExpression, kFile, 10}), nullptr);
}

TEST(HashInstances, FindOrAddDefaultGivesNewKeysZero) {
  TU32ToU32Map map;
  auto [added, value] = FindOrAddDefault(map, 7u);
  EXPECT_TRUE(added);
  EXPECT_EQ(*value, 0u);
  *value = 41;
  auto [addedAgain, sameValue] = FindOrAddDefault(map, 7u);
  EXPECT_FALSE(addedAgain);
  EXPECT_EQ(sameValue, value);
  EXPECT_EQ(*sameValue, 41u);
  EXPECT_EQ(map.Count(), 1u);
}

// Stands in for the 64-bit network id: two words, low first, hashed by the low word.
struct TStandInId {
  std::uint32_t low;
  std::uint32_t high;
  bool operator==(const TStandInId&) const = default;
};
struct TStandInIdHash {
  std::uint32_t operator()(const TStandInId& id) const noexcept { return id.low; }
};
using TIdToTextMap = TOpenHashMap<TKeyValueEntry<TStandInId, TShortByteString>, TStandInIdHash, TWordEqual,
                                  default_allocator<unsigned char>>;

TShortByteString Text(const char* text) {
  TShortByteString value{};
  value.length = static_cast<std::uint32_t>(std::strlen(text));
  std::memcpy(value.bytes, text, value.length);
  return value;
}

std::string TextOf(const TShortByteString& value) {
  return std::string(reinterpret_cast<const char*>(value.bytes), value.length);
}

TEST(HashInstances, InsertOrAssignCopiesTheValue) {
  TIdToTextMap admins;
  const TStandInId alice{5, 1};
  const TStandInId bob{5, 2};  // same hash, different id
  auto [entry, added] = InsertOrAssign(admins, alice, Text("alice"));
  EXPECT_TRUE(added);
  EXPECT_EQ(TextOf(entry->value), "alice");
  EXPECT_TRUE(InsertOrAssign(admins, bob, Text("bob")).second);
  EXPECT_EQ(admins.Count(), 2u);

  auto [same, addedAgain] = InsertOrAssign(admins, alice, Text("a much longer admin name"));
  EXPECT_FALSE(addedAgain);
  EXPECT_EQ(same, admins.Find(alice));
  EXPECT_EQ(TextOf(same->value), "a much longer admin name");
  EXPECT_EQ(TextOf(admins.Find(bob)->value), "bob");

  InsertOrAssign(admins, alice, Text(""));
  EXPECT_EQ(admins.Find(alice)->value.length, 0u);

  // Assigning an entry its own value changes nothing.
  auto* bobEntry = admins.Find(bob);
  EXPECT_FALSE(InsertOrAssign(admins, bob, bobEntry->value).second);
  EXPECT_EQ(TextOf(bobEntry->value), "bob");

  // A length beyond the 28 bytes is never copied past them.
  TShortByteString overlong = Text("0123456789012345678901234567");
  overlong.length = 1000;
  InsertOrAssign(admins, alice, overlong);
  EXPECT_EQ(TextOf(admins.Find(alice)->value), "0123456789012345678901234567");
}

template <typename TSet>
std::vector<int*> Members(const TSet& set) {
  return std::vector<int*>(set.begin(), set.end());
}

TEST(HashInstances, PointerSetEraseHandsTheErasedPointerBack) {
  int objects[5];
  TPointerSet<int> set;
  for (int& object : objects) set.InsertNew(&object);
  auto eraseWithHandBack = [&](int* pointer) {
    int** entry;
    const std::uint32_t slot = set.FindSlot(pointer, TPointerHash()(pointer), &entry);
    int* handedBack = nullptr;
    EXPECT_TRUE(set.EraseAt(slot, &handedBack));
    return handedBack;
  };

  // The last entry: nothing moves.
  int* const* second = &set.Entries()[1];
  EXPECT_EQ(eraseWithHandBack(&objects[4]), &objects[4]);
  EXPECT_EQ(*second, &objects[1]);
  EXPECT_EQ(Members(set), (std::vector<int*>{&objects[0], &objects[1], &objects[2], &objects[3]}));

  // Any other entry: the last one takes its place.
  EXPECT_EQ(eraseWithHandBack(&objects[1]), &objects[1]);
  EXPECT_EQ(Members(set), (std::vector<int*>{&objects[0], &objects[3], &objects[2]}));

  EXPECT_TRUE(set.Erase(&objects[0]));
  EXPECT_FALSE(set.Erase(&objects[0]));
  EXPECT_EQ(Members(set), (std::vector<int*>{&objects[2], &objects[3]}));
  EXPECT_EQ(OrvTest::CheckOpenHashMapInvariants(set), "");
}

TEST(HashInstances, PointerSetHeldByPointerLivesOnTheGeneralHeap) {
  THeap* heap = GetGeneralHeap();
  const std::uint32_t blocks = heap->GetLiveCount();
  int object = 0;
  auto* set = TGeneralHeapPointerSet<int>::Create();
  EXPECT_EQ(heap->GetLiveCount(), blocks + 1);
  EXPECT_TRUE(set->IsEmpty());
  set->InsertNew(&object);
  EXPECT_EQ(heap->GetLiveCount(), blocks + 2);
  EXPECT_NE(set->Find(&object), nullptr);
  TGeneralHeapPointerSet<int>::Destroy(set);
  EXPECT_EQ(heap->GetLiveCount(), blocks);
}

TEST(HashInstances, ComponentChildMapFindsChildrenById) {
  struct TNode {
    int id;
  };
  TNode nodes[6] = {{0}, {1}, {2}, {3}, {4}, {5}};
  TComponentChildMap<TNode> children;
  for (TNode& node : nodes) children.InsertNew(static_cast<std::uint32_t>(node.id) * 1000, &node);
  for (const TNode& node : nodes) {
    const auto* entry = children.Find(static_cast<std::uint32_t>(node.id) * 1000);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->value, &node);
  }
  EXPECT_EQ(children.Find(7u), nullptr);
}

// ---- Engine-string keys.

using TNarrow = TOrvString<char>;
using TWide = TOrvString<wchar_t>;

TEST(HashInstances, StringKeysAreFoundByStringOrText) {
  const std::uint32_t liveTexts = GetStringContentLiveCount<char>();
  {
    int objects[3];
    TStringToPointerMap<int> properties;
    const char* const names[] = {"GameSpeed", "MaxPlayers", "gamespeed"};
    for (int i = 0; i < 3; ++i) properties.InsertNew(TNarrow(names[i]), &objects[i]);
    for (int i = 0; i < 3; ++i) {
      const auto* byString = properties.Find(TNarrow(TNarrow(names[i]), kDeepCopy));
      ASSERT_NE(byString, nullptr) << names[i];
      EXPECT_EQ(byString->value, &objects[i]);
      EXPECT_EQ(properties.Find(names[i]), byString) << names[i];
      EXPECT_EQ(TStringHash()(names[i]), byString->key.GetHash());
    }
    EXPECT_EQ(properties.Find("GAMESPEED"), nullptr);
    EXPECT_TRUE(properties.Erase("MaxPlayers"));
    EXPECT_EQ(properties.Find("MaxPlayers"), nullptr);
  }
  EXPECT_EQ(GetStringContentLiveCount<char>(), liveTexts);  // every key released
}

TEST(HashInstances, NoCaseNamesAreFoundInAnyCaseAndByView) {
  TStringNoCaseToU32Map extensions;
  const char* const names[] = {"dds", "XML", "Ini", "tga"};
  for (std::uint32_t id = 0; id < 4; ++id) extensions.InsertNew(TNarrow(names[id]), id);

  struct TProbeCase {
    const char* text;
    std::uint32_t id;
  };
  for (const TProbeCase& c : std::vector<TProbeCase>{{"DDS", 0}, {"xml", 1}, {"iNI", 2}, {"TGA", 3}}) {
    const auto* byString = extensions.Find(TNarrow(c.text));
    ASSERT_NE(byString, nullptr) << c.text;
    EXPECT_EQ(byString->value, c.id);
    EXPECT_EQ(extensions.Find(c.text), byString) << c.text;
  }
  // A view into a longer text: the extension of a file name.
  const TNarrow fileName("Textures/Ground.DDS");
  const TOrvSubString<char> extension(&fileName, 16, 19);
  const auto* byView = extensions.Find(extension);
  ASSERT_NE(byView, nullptr);
  EXPECT_EQ(byView->value, 0u);
  EXPECT_EQ(extensions.Find(TOrvSubString<char>(&fileName, 15, 19)), nullptr);  // ".DDS"
  EXPECT_EQ(extensions.Find("png"), nullptr);
}

TEST(HashInstances, IniSectionsCopyTheirKeyMaps) {
  const std::uint32_t liveTexts = GetStringContentLiveCount<wchar_t>();
  {
    TIniSectionMap document;
    for (const wchar_t* section : {L"Server", L"Network", L"Log"}) {
      TIniSectionMap::TEntryType* entry;
      ASSERT_TRUE(document.FindOrInsert(TWide(section), &entry));
      ::new (static_cast<void*>(entry)) TIniSectionMap::TEntryType{TWide(section), TIniKeyMap()};
      for (const wchar_t* key : {L"Port", L"Name", L"Level", L"Path", L"Size"}) {
        entry->value.InsertNew(TWide(key), TWide(section) + L"." + key);
      }
    }
    TIniSectionMap copy;
    copy = document;
    document.Clear();
    const auto* network = copy.Find(L"NETWORK");
    ASSERT_NE(network, nullptr);
    const auto* port = network->value.Find(L"port");
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->value == L"Network.Port");
    EXPECT_EQ(copy.Find(TWide(L"log"))->value.Count(), 5u);
  }
  EXPECT_EQ(GetStringContentLiveCount<wchar_t>(), liveTexts);
}

TEST(HashInstances, ThreadHeapTableTakesItsBlockFromTheThreadHeap) {
  THeap* heap = GetThreadLocalHeap();
  const std::uint32_t blocks = heap->GetLiveCount();
  {
    TThreadHeapU32ToU32Map values;
    *FindOrAddDefault(values, 3u).second = 30;
    EXPECT_EQ(heap->GetLiveCount(), blocks + 1);
    EXPECT_EQ(*FindOrAddDefault(values, 3u).second, 30u);
  }
  EXPECT_EQ(heap->GetLiveCount(), blocks);
}

}  // namespace
