// Count blocks and the death of watched objects.
#include "core/objects/ref_counting.h"

#include "core/memory/typed_pool.h"
#include "core/objects/weak_observer_registry.h"

namespace Orvan {

using TCountBlockPool = TPoolAllocation<TAdditionalRefAndWeakCount>;
static_assert(TCountBlockPool::kElementSize >= sizeof(TAdditionalRefAndWeakCount));

void* TAdditionalRefAndWeakCount::operator new(std::size_t size) {
  return PoolDetail::AllocatePooledObject<TCountBlockPool>(size);
}

void TAdditionalRefAndWeakCount::operator delete(void* block, std::size_t size) noexcept {
  PoolDetail::FreePooledObject<TCountBlockPool>(block, size);
}

void TWeakAndRefCountable::NotifyWeakObservers(TCountWord* countWord) {
  if (IsInline(*countWord)) return;
  TAdditionalRefAndWeakCount* block = BlockOf(*countWord);
  if ((block->flags & TAdditionalRefAndWeakCount::kRegisteredFlag) == 0) return;
  block->flags &= ~TAdditionalRefAndWeakCount::kRegisteredFlag;
  // From here on the block may be freed by the containers' unregistering: only the registry is read.
  // After the engine's teardown there is nobody left to tell.
  TWeakObserverRegistry* registry = TWeakObserverRegistry::Get();
  if (registry == nullptr) return;
  registry->NotifyObjectDestroyed(countWord);
}

void TWeakAndRefCountable::ReleaseCountBlock(TCountWord* countWord) noexcept {
  // Read the word again: the notified containers may have taken the last observer reference,
  // which put the count back inline and freed the block.
  const TCountWord word = *countWord;
  if (IsInline(word)) return;
  TAdditionalRefAndWeakCount* block = BlockOf(word);
  block->flags &= TAdditionalRefAndWeakCount::kRegisteredFlag | TAdditionalRefAndWeakCount::kSurvivesDeathFlag;
  if (block->observerCount == 0) {
    delete block;
    return;
  }
  block->flags |= TAdditionalRefAndWeakCount::kObjectDeadFlag;
}

TAdditionalRefAndWeakCount* TWeakAndRefCountable::AddObserverReference(TCountWord* countWord) {
  const TCountWord word = *countWord;
  if (!IsInline(word)) {
    TAdditionalRefAndWeakCount* block = BlockOf(word);
    ++block->observerCount;
    return block;
  }
  auto* block = new TAdditionalRefAndWeakCount;
  block->refCount = static_cast<std::uint32_t>(word & ~kCountWordInlineTag);
  block->observerCount = 1;
  block->flags = 0;
  *countWord = reinterpret_cast<TCountWord>(block);
  return block;
}

void TWeakAndRefCountable::RemoveObserverReference(TCountWord* countWord) noexcept {
  assert(!IsInline(*countWord));
  RemoveObserverReference(countWord, BlockOf(*countWord));
}

void TWeakAndRefCountable::RemoveObserverReference(TCountWord* countWord, TAdditionalRefAndWeakCount* block) noexcept {
  assert(block->observerCount > 0);
  if (--block->observerCount != 0) return;
  // The dead object's memory may belong to something else by now: leave it alone.
  if ((block->flags & TAdditionalRefAndWeakCount::kObjectDeadFlag) == 0) {
    *countWord = TCountWord{block->refCount} | kCountWordInlineTag;
  }
  delete block;
}

}  // namespace Orvan
