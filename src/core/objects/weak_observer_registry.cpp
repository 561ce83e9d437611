// The observer registry and the weak containers' slot bookkeeping.
#include "core/objects/weak_observer_registry.h"

#include <cassert>

namespace Orvan {

TWeakObserverRegistry* TWeakObserverRegistry::instance_ = nullptr;

void TWeakObserverRegistry::Create() {
  assert(instance_ == nullptr);
  instance_ = new TWeakObserverRegistry;
}

void TWeakObserverRegistry::PrepareNodePool() {
  // A map's node allocator, rebound to the node type, builds its pool when it is constructed.
  const TMap probe;
  static_cast<void>(probe);
}

void TWeakObserverRegistry::Destroy() {
  // The map's destructor hands its nodes back to the node pool one by one.
  delete instance_;
  instance_ = nullptr;
}

void TWeakObserverRegistry::Insert(TCountWord* countWord, TAbstractWeakContainer* container, std::uint32_t index) {
  map_.emplace(TWeakObserverKey{countWord, container}, index);
}

void TWeakObserverRegistry::Unregister(TAbstractWeakContainer* container, TCountWord* countWord,
                                       std::uint32_t index) noexcept {
  TWeakAndRefCountable::RemoveObserverReference(countWord);
  TMap* map = nullptr;
  TMap::iterator entry;
  if (FindRegistration(countWord, container, index, &map, &entry)) map->erase(entry);
  --container->registrationCount_;
}

void TWeakObserverRegistry::SetIndex(TCountWord* countWord, TAbstractWeakContainer* container, std::uint32_t from,
                                     std::uint32_t to) noexcept {
  TMap* map = nullptr;
  TMap::iterator entry;
  if (FindRegistration(countWord, container, from, &map, &entry)) entry->second = to;
}

bool TWeakObserverRegistry::FindRegistration(TCountWord* countWord, TAbstractWeakContainer* container,
                                             std::uint32_t index, TMap** map, TMap::iterator* entry) noexcept {
  // A registration of a dying object may still wait in dying_ for its notice. The one being told
  // is back in map_, which is searched first.
  for (TMap* candidate : {&map_, &dying_}) {
    const auto [first, last] = candidate->equal_range(TWeakObserverKey{countWord, container});
    for (auto found = first; found != last; ++found) {
      if (found->second == index) {
        *map = candidate;
        *entry = found;
        return true;
      }
    }
  }
  return false;
}

bool TWeakObserverRegistry::FindIndex(TCountWord* countWord, TAbstractWeakContainer* container,
                                      std::uint32_t* index) const noexcept {
  const auto found = map_.find(TWeakObserverKey{countWord, container});
  if (found == map_.end()) return false;
  *index = found->second;
  return true;
}

void TWeakObserverRegistry::NotifyObjectDestroyed(TCountWord* countWord) {
  // Node handles move between the two maps without allocating. A null container is the smallest
  // second half of a key.
  for (auto entry = map_.lower_bound(TWeakObserverKey{countWord, nullptr});
       entry != map_.end() && entry->first.countWord == countWord;) {
    dying_.insert(map_.extract(entry++));
  }
  TAbstractWeakContainer* container = nullptr;
  std::uint32_t index = 0;
  while (TakeNextDeathNotice(countWord, &container, &index)) {
    container->OnWeakObjectDestroyed(countWord, index);
    // A container that kept the entry would keep a slot on a dead object.
    assert(map_.count(TWeakObserverKey{countWord, container}) == 0);
  }
}

bool TWeakObserverRegistry::TakeNextDeathNotice(TCountWord* countWord, TAbstractWeakContainer** container,
                                                std::uint32_t* index) noexcept {
  const auto first = dying_.lower_bound(TWeakObserverKey{countWord, nullptr});
  if (first == dying_.end() || first->first.countWord != countWord) return false;
  const auto last = dying_.upper_bound(first->first);
  auto highest = first;
  for (auto entry = first; entry != last; ++entry) {
    if (entry->second > highest->second) highest = entry;
  }
  *container = highest->first.container;
  *index = highest->second;
  map_.insert(dying_.extract(highest));
  return true;
}

void RegisterWeakObserver(TAbstractWeakContainer* container, TCountWord* countWord, std::uint32_t index) {
  TWeakObserverRegistry* registry = TWeakObserverRegistry::Get();
  assert(registry != nullptr);
  TAdditionalRefAndWeakCount* block = TWeakAndRefCountable::AddObserverReference(countWord);
  try {
    registry->Insert(countWord, container, index);
  } catch (...) {
    TWeakAndRefCountable::RemoveObserverReference(countWord);
    throw;
  }
  block->flags |= TAdditionalRefAndWeakCount::kRegisteredFlag;
  ++container->registrationCount_;
}

void UnregisterWeakObserver(TAbstractWeakContainer* container, TCountWord* countWord, std::uint32_t index) noexcept {
  TWeakObserverRegistry* registry = TWeakObserverRegistry::Get();
  assert(registry != nullptr);
  registry->Unregister(container, countWord, index);
}

TAbstractWeakContainer::~TAbstractWeakContainer() { assert(registrationCount_ == 0); }

std::uint32_t TAbstractWeakContainer::AppendAndRegister(TCountWord* countWord) {
  const std::uint32_t index = entries_.GetSize();
  entries_.PushBack(countWord);
  try {
    RegisterWeakObserver(this, countWord, index);
  } catch (...) {
    entries_.PopBack();
    throw;
  }
  return index;
}

void TAbstractWeakContainer::RemoveAt(std::uint32_t index) {
  entries_[index] = nullptr;
  if (iterationDepth_ == 0) {
    MoveEntry(entries_.GetSize() - 1, index);
    entries_.PopBack();
  } else {
    compactionPending_ = true;
  }
}

void TAbstractWeakContainer::MoveEntry(std::uint32_t from, std::uint32_t to) {
  if (from == to) return;
  TCountWord* countWord = entries_[from];
  entries_[to] = countWord;
  if (countWord != nullptr) {
    TWeakObserverRegistry* registry = TWeakObserverRegistry::Get();
    assert(registry != nullptr);
    registry->SetIndex(countWord, this, from, to);
  }
  entries_[from] = nullptr;
}

void TAbstractWeakContainer::EndIteration() {
  assert(iterationDepth_ > 0);
  if (--iterationDepth_ != 0 || !compactionPending_) return;
  Compact();
  compactionPending_ = false;
}

void TAbstractWeakContainer::Compact() {
  // Live entries from the back fill holes at the front until the two searches meet.
  std::uint32_t front = 0;
  std::uint32_t back = entries_.GetSize();  // one past the candidate at the back
  for (;;) {
    while (front < back && entries_[front] != nullptr) ++front;
    while (back > front && entries_[back - 1] == nullptr) --back;
    if (front >= back) break;
    MoveEntry(back - 1, front);
    ++front;
    --back;
  }
  while (entries_.GetSize() > front) entries_.PopBack();
}

}  // namespace Orvan
