// Killable lists and their running iterators.
#include "core/objects/killable_list.h"

#include <cassert>

namespace Orvan {

template <typename TAction>
void TAbstractKillableList::ForEachRunningIterator(TAction action) noexcept {
  if (mainIterator_ == nullptr) return;
  action(*mainIterator_);
  for (TIterator* iterator : furtherIterators_) action(*iterator);
}

TAbstractKillableList::TAbstractKillableList(const TAbstractKillableList& other) : IKillableContainer(other) {
  AppendAll(other);
}

TAbstractKillableList::~TAbstractKillableList() {
  Clear();
  ForEachRunningIterator([](TIterator& iterator) { iterator.list_ = nullptr; });
}

void TAbstractKillableList::Add(TKillable* item) {
  assert(item != nullptr);
  items_.PushBack(item);
  try {
    item->AddWatcher(this);
  } catch (...) {
    items_.PopBack();
    throw;
  }
}

void TAbstractKillableList::AppendAll(const TAbstractKillableList& other) {
  try {
    for (TKillable* item : other.items_) Add(item);
  } catch (...) {
    Clear();
    throw;
  }
}

void TAbstractKillableList::Assign(const TAbstractKillableList& other) {
  if (&other == this) return;
  Clear();
  const std::uint32_t size = other.GetSize();
  // Storage of exactly the other's size when the own is too small or more than twice too big.
  if (size > items_.GetCapacity() || 2 * std::uint64_t{other.GetCapacity()} < items_.GetCapacity()) {
    items_.Clear();
    items_.ReserveEmpty(size);
  }
  AppendAll(other);
}

void TAbstractKillableList::Clear() noexcept {
  ForEachRunningIterator([](TIterator& iterator) {
    iterator.nextIndex_ = 0;
    iterator.current_ = nullptr;
  });
  while (!items_.IsEmpty()) {
    items_.Back()->RemoveWatcher(this);
    items_.PopBack();
  }
}

void TAbstractKillableList::Remove(TKillable* killable) noexcept {
  std::uint32_t p = 0;
  while (p < items_.GetSize() && items_[p] != killable) ++p;
  if (p == items_.GetSize()) return;
  ForEachRunningIterator([p](TIterator& iterator) {
    if (p < iterator.nextIndex_) {
      --iterator.nextIndex_;
      // The item it stands on goes: the next Next reads the one that followed.
      if (p == iterator.nextIndex_) iterator.current_ = nullptr;
    }
  });
  items_.EraseAt(p);
}

void TAbstractKillableList::Unregister(TIterator* iterator) noexcept {
  if (mainIterator_ == iterator) {
    if (furtherIterators_.IsEmpty()) {
      mainIterator_ = nullptr;
    } else {
      mainIterator_ = furtherIterators_.Back();
      furtherIterators_.PopBack();
    }
    return;
  }
  for (std::uint32_t i = furtherIterators_.GetSize(); i > 0; --i) {
    if (furtherIterators_[i - 1] == iterator) {
      furtherIterators_.EraseAt(i - 1);
      return;
    }
  }
}

TAbstractKillableList::TIterator::TIterator(TAbstractKillableList& list) : list_(&list) {
  if (list.mainIterator_ == nullptr) {
    list.mainIterator_ = this;
  } else {
    list.furtherIterators_.PushBack(this);
  }
}

TAbstractKillableList::TIterator::~TIterator() {
  if (list_ != nullptr) list_->Unregister(this);
}

bool TAbstractKillableList::TIterator::Next() noexcept {
  if (list_ == nullptr || nextIndex_ >= list_->GetSize()) {
    current_ = nullptr;
    return false;
  }
  current_ = list_->items_[nextIndex_++];
  return true;
}

}  // namespace Orvan
