// The file-name tree: one process-wide registry of path nodes shared by every file name with the
// same leading components, and of component names interned once without regard to case. A file
// name is a node of this tree, so copying one is an atomic increment and comparing two compares
// two words; texts are rebuilt from the interned names only when asked for.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/containers/open_hash_map.h"
#include "core/memory/heap.h"
#include "core/memory/untyped_pool.h"
#include "core/sync/mutex.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "core/text/text_hash.h"

namespace Orvan {

// Returned where a component id is asked of a name that has none. Never an issued id.
inline constexpr std::uint32_t kNoComponentId = 0xFFFFFFFFu;

// Component ids of a path, root side first: ten inline, then a block of the general heap.
using TComponentList = TInlineVector<std::uint32_t, 10, TGeneralHeapStorage>;

// A node of the tree: one path component below its parent. Nodes and children maps lie at
// multiples of 8, so the two low bits of the children word carry its tag.
struct TPathNode {
  // File-name handles on this node plus one per child; the root holds one more, the registry's.
  std::atomic<std::uint32_t> count;
  std::uint32_t componentId;  // 0 at the root, where it is never read
  TPathNode* parent;          // null only at the root
  // kNoChildren, a child pointer | kOneChild, or a TSons pointer | kChildMap.
  std::uintptr_t children;

  static constexpr std::uintptr_t kNoChildren = 0;
  static constexpr std::uintptr_t kOneChild = 1;
  static constexpr std::uintptr_t kChildMap = 2;
  static constexpr std::uintptr_t kTagMask = 3;

  // The children of a node with two or more: four inline, then a heap block.
  using TSons = TComponentChildMap<TPathNode>;
};

static_assert(sizeof(TPathNode) == 24, "a node is four words");
static_assert(sizeof(TPathNode::TSons) == 112, "a children map: header, data pointer, 4 entries, 8 slots");

// Where an interned name lies in the registry's name text.
struct TComponentNameRange {
  std::uint32_t begin;
  std::uint32_t end;
};

// An entry of the name map: the name's range and its id.
struct TComponentNameRecord {
  std::uint32_t begin;
  std::uint32_t end;
  std::uint32_t id;
};

// A name looked up in the name map, with the name text the stored ranges point into.
struct TComponentNameProbe {
  const char* begin;
  const char* end;
  const char* names;
};

struct TComponentNameHash {
  std::uint32_t operator()(const TComponentNameProbe& probe) const noexcept {
    return HashRangeNoCase(probe.begin, probe.end);
  }
};

// Same length and the same bytes once ASCII letters are folded.
struct TComponentNameEqual {
  bool operator()(const TComponentNameRecord& record, const TComponentNameProbe& probe) const noexcept;
};

using TComponentNameMap =
    TOpenHashMap<TComponentNameRecord, TComponentNameHash, TComponentNameEqual, general_heap_allocator<unsigned char>>;

class TFileNameRegistry {
 public:
  // Nodes and children maps come in chunks of this many (the maps' first chunk stays below 16 KiB).
  static constexpr std::uint32_t kElementsPerChunk = 512;

  // Builds the registry, its root and the name "..", and publishes it. Once, at start-up, after
  // the token tables. std::bad_alloc leaves no registry.
  static void Create();
  // Tears the registry down when there is one. File names that outlive it stay as they are; their
  // destruction does nothing.
  static void Destroy() noexcept;
  // Null before Create and after Destroy.
  static TFileNameRegistry* Get() noexcept { return g_registry.load(std::memory_order_acquire); }

  // The id of a name, interned when new (no validation: any bytes make a name).
  std::uint32_t InternComponentName(TCharRange<char> name);
  std::uint32_t InternComponentName(const TOrvSubString<char>& name);
  std::uint32_t InternComponentName(const TOrvString<char>& name);

  // The name of an id as a view of the name text; the caller holds the lock for as long as it
  // reads the view.
  TOrvSubString<char> GetComponentView(std::uint32_t id) const;
  TOrvString<char> GetComponentName(std::uint32_t id);
  // Whether a name is interned (letter case ignored).
  bool ContainsComponentName(const TOrvString<char>& name);
  bool ContainsComponentName(const TOrvSubString<char>& name);
  // The id of a name known to be interned; kNoComponentId when it is not.
  std::uint32_t FindComponentId(const TOrvString<char>& name);
  std::uint32_t FindComponentId(const TOrvSubString<char>& name);

  // Writes the names of [first, last) joined by the separator into the buffer, cut to size - 1
  // characters, NUL-terminated (nothing at all for size 0); returns the length written.
  std::uint32_t JoinComponentsIntoBuffer(const std::uint32_t* first, const std::uint32_t* last, char separator,
                                         char* buffer, std::uint32_t size);
  // The names of [first, last) joined by the separator; the empty string for no ids.
  TOrvString<char> JoinComponentRange(const std::uint32_t* first, const std::uint32_t* last, char separator);

  // ---- Nodes. Counts change atomically without the lock; linking and unlinking take it.
  // The child of `parent` named `id`, with one reference for the caller, created when missing.
  TPathNode* FindOrCreateChild(TPathNode* parent, std::uint32_t id);
  // One more reference on a node the caller already holds (null is ignored).
  static void AddReference(TPathNode* node) noexcept {
    if (node != nullptr) node->count.fetch_add(1, std::memory_order_relaxed);
  }
  // Gives a reference back; a node whose last reference goes is unlinked and freed, and so on up
  // the chain of parents it held.
  void ReleaseNode(TPathNode* node) noexcept;
  // Clears a node's children map and gives it back to the maps' pool (the teardown of nodes that
  // outlive the registry); nodes without a map are left alone.
  void ReleaseNodeChildren(TPathNode* node) noexcept;

  TPathNode* GetRoot() const noexcept { return root_; }
  std::uint32_t GetDotDotId() const noexcept { return dotDotId_; }
  // Guards the names, the node links and both pools (recursive).
  TMutex& GetMutex() noexcept { return mutex_; }
  // The pools, for statistics read under the lock.
  const TUntypedPoolAllocationNoLock& GetNodePool() const noexcept { return nodePool_; }
  const TUntypedPoolAllocationNoLock& GetSonsPool() const noexcept { return sonsPool_; }

  TFileNameRegistry(const TFileNameRegistry&) = delete;
  TFileNameRegistry& operator=(const TFileNameRegistry&) = delete;

 private:
  TFileNameRegistry();
  ~TFileNameRegistry();

  TComponentNameProbe ProbeOf(TCharRange<char> name) const noexcept {
    return {name.begin, name.end, nameText_.GetData()};
  }
  const TComponentNameRecord* FindName(TCharRange<char> name) const noexcept;
  // The child of `parent` named `id`, or null; the caller holds the lock.
  static TPathNode* FindChild(const TPathNode* parent, std::uint32_t id) noexcept;
  // Links a fresh node below its parent; the caller holds the lock. std::bad_alloc links nothing.
  void LinkChild(TPathNode* parent, TPathNode* child);
  // Unlinks a node from its parent; false when the parent does not list it.
  bool UnlinkChild(TPathNode* parent, TPathNode* child) noexcept;
  static void ReleaseNodeChildrenCallback(void* node, void* registry) noexcept;

  static inline std::atomic<TFileNameRegistry*> g_registry{nullptr};

  TOrvString<char> nameText_;  // every name followed by '/'
  TComponentNameMap nameMap_;
  TVector<TComponentNameRange, TGeneralHeapStorage> nameRanges_;  // indexed by id
  TMutex mutex_;
  TPathNode* root_ = nullptr;
  TUntypedPoolAllocationNoLock nodePool_;
  TUntypedPoolAllocationNoLock sonsPool_;
  std::uint32_t dotDotId_ = 0;
};

}  // namespace Orvan
