// Weak references: containers that watch counted objects without holding them, and the
// process-wide registry that tells those containers when a watched object dies.
//
// A container registers each object it watches under the object's slot index in the container;
// when the object's last reference goes, the registry calls the container's OnWeakObjectDestroyed
// with that index, and the container unregisters and empties the slot. Entries removed while the
// container is being iterated leave holes that are compacted when the outermost iteration ends, so
// the indices an iteration sees stay put.
//
// The registry has no lock: it and the containers are used from one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include <boost/pool/pool_alloc.hpp>

#include "core/containers/engine_vector.h"
#include "core/objects/ref_counting.h"

namespace Orvan {

class TAbstractWeakContainer;

// (watched object's count word, watching container), ordered by the word's address first.
struct TWeakObserverKey {
  TCountWord* countWord;
  TAbstractWeakContainer* container;
};

struct TWeakObserverKeyLess {
  bool operator()(const TWeakObserverKey& left, const TWeakObserverKey& right) const noexcept {
    const auto leftWord = reinterpret_cast<std::uintptr_t>(left.countWord);
    const auto rightWord = reinterpret_cast<std::uintptr_t>(right.countWord);
    if (leftWord != rightWord) return leftWord < rightWord;
    return reinterpret_cast<std::uintptr_t>(left.container) < reinterpret_cast<std::uintptr_t>(right.container);
  }
};

class TWeakObserverRegistry {
 public:
  // Tree nodes come from a Boost singleton pool of node-sized blocks, grown 32 nodes at a time
  // with no limit; erased nodes go back to its free list, never to the heap.
  using TNodeAllocator = boost::fast_pool_allocator<std::pair<const TWeakObserverKey, std::uint32_t>,
                                                    boost::default_user_allocator_new_delete,
                                                    boost::details::pool::default_mutex, 32, 0>;
  // Value: the watched object's slot index in the container. One entry per registration: a
  // container that watches an object from two slots has two entries of the same key.
  using TMap = std::multimap<TWeakObserverKey, std::uint32_t, TWeakObserverKeyLess, TNodeAllocator>;

  // Engine start-up: makes the empty registry. There must not be one already.
  static void Create();
  // Engine shutdown: gives every node back to the pool, notifying nobody and touching no object,
  // and deletes the registry. Harmless when there is none (called twice, or before Create).
  static void Destroy();
  // Null before Create and after Destroy.
  static TWeakObserverRegistry* Get() noexcept { return instance_; }
  // Builds the Boost pool the tree nodes come from (Boost builds a pool on its first use, without a
  // lock); the engine's static initialisers call it so that it exists before main.
  static void PrepareNodePool();

  // Adds an entry for one registration.
  void Insert(TCountWord* countWord, TAbstractWeakContainer* container, std::uint32_t index);
  // Takes the registration of `container` under slot `index` off the object: one observer
  // reference less on the object, that one entry erased (also while it waits for its death
  // notice), one registration less on the container. The counts go down even when no entry
  // matches.
  void Unregister(TAbstractWeakContainer* container, TCountWord* countWord, std::uint32_t index) noexcept;
  // Points the key's entry for slot `from` at slot `to`; nothing when there is none.
  void SetIndex(TCountWord* countWord, TAbstractWeakContainer* container, std::uint32_t from,
                std::uint32_t to) noexcept;
  // The index of the key's first entry, or false when the key is absent.
  bool FindIndex(TCountWord* countWord, TAbstractWeakContainer* container, std::uint32_t* index) const noexcept;
  // The object is dying: every registration of it is handed to its container's
  // OnWeakObjectDestroyed, one call per registration; a container's registrations of it come
  // highest slot first, so that a slot freed by one call never takes in a slot still to be told.
  void NotifyObjectDestroyed(TCountWord* countWord);
  // Entries of live registrations and of those still to be told of their object's death.
  std::size_t GetEntryCount() const noexcept { return map_.size() + dying_.size(); }

 private:
  TWeakObserverRegistry() = default;
  ~TWeakObserverRegistry() = default;

  // The next registration of the dying object to tell, taken out of dying_ and back into map_,
  // where its container's Unregister erases it.
  bool TakeNextDeathNotice(TCountWord* countWord, TAbstractWeakContainer** container, std::uint32_t* index) noexcept;
  // The entry of one registration, in whichever map holds it; false when there is none.
  bool FindRegistration(TCountWord* countWord, TAbstractWeakContainer* container, std::uint32_t index, TMap** map,
                        TMap::iterator* entry) noexcept;

  TMap map_;
  // The registrations of dying objects not yet told: the notices go to the registrations an object
  // had when it died. A container deleted before its notice takes its entry off here.
  TMap dying_;
  static TWeakObserverRegistry* instance_;
};

// Registers `container` as a watcher of the object under `index`: one observer reference on the
// object (its count moves to a block on the first), a registry entry, one registration more on
// the container. On std::bad_alloc nothing
// has changed. The registry must exist.
void RegisterWeakObserver(TAbstractWeakContainer* container, TCountWord* countWord, std::uint32_t index);
// TWeakObserverRegistry::Unregister on the process registry, which must exist.
void UnregisterWeakObserver(TAbstractWeakContainer* container, TCountWord* countWord, std::uint32_t index) noexcept;

// The base of weak containers: a list of watched objects' count words, where null is a hole.
class TAbstractWeakContainer {
 public:
  TAbstractWeakContainer() noexcept = default;
  TAbstractWeakContainer(const TAbstractWeakContainer&) = delete;
  TAbstractWeakContainer& operator=(const TAbstractWeakContainer&) = delete;
  // Derived containers unregister from every object before they go.
  virtual ~TAbstractWeakContainer();

  // The object behind `countWord`, registered under `index`, is dying: called once for each
  // registration. The container must unregister that registration (UnregisterWeakObserver with
  // the same index) before it returns; usually it also calls RemoveAt.
  virtual void OnWeakObjectDestroyed(TCountWord* countWord, std::uint32_t index) = 0;

  // Makes the entry a hole. Outside iterations the last entry moves into it and the list shrinks
  // by one; during one the hole stays until the outermost iteration ends.
  void RemoveAt(std::uint32_t index);
  // Moves an entry to another slot (a hole) and updates its registry index; `from` becomes a hole.
  void MoveEntry(std::uint32_t from, std::uint32_t to);

  // Iterations nest; removals inside them keep every other entry's index until the outermost ends.
  void BeginIteration() noexcept { ++iterationDepth_; }
  void EndIteration();

  // Brackets an iteration for the scope's lifetime.
  class TIterationScope {
   public:
    explicit TIterationScope(TAbstractWeakContainer& container) noexcept : container_(container) {
      container_.BeginIteration();
    }
    ~TIterationScope() { container_.EndIteration(); }
    TIterationScope(const TIterationScope&) = delete;
    TIterationScope& operator=(const TIterationScope&) = delete;

   private:
    TAbstractWeakContainer& container_;
  };

  std::uint32_t GetRegistrationCount() const noexcept { return registrationCount_; }
  std::uint32_t GetEntryCount() const noexcept { return entries_.GetSize(); }
  // Null for a hole.
  TCountWord* GetEntry(std::uint32_t index) const noexcept { return entries_[index]; }
  std::uint32_t GetIterationDepth() const noexcept { return iterationDepth_; }
  bool IsCompactionPending() const noexcept { return compactionPending_; }

 protected:
  // Appends the object's count word and registers under its slot; std::bad_alloc leaves the list
  // and the registry as they were. Returns the slot.
  std::uint32_t AppendAndRegister(TCountWord* countWord);

 private:
  friend class TWeakObserverRegistry;
  friend void RegisterWeakObserver(TAbstractWeakContainer*, TCountWord*, std::uint32_t);

  void Compact();

  std::uint32_t registrationCount_ = 0;
  TVector<TCountWord*> entries_;  // engine allocation, domain 0
  std::uint32_t iterationDepth_ = 0;
  bool compactionPending_ = false;
};

}  // namespace Orvan
