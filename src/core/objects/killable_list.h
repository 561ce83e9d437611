// A list of killables that forgets each item when it is killed. Iterations over it survive kills
// of the items they pass: every running iterator is registered with the list, and a removal moves
// each one's position so that it goes on with the item that followed the removed one.
//
// Use:
//   TAbstractKillableList units;
//   units.Add(unit);
//   for (TAbstractKillableList::TIterator it(units); it.Next();) {
//     if (it.GetCurrent()->IsDoomed()) it.GetCurrent()->Kill();   // GetCurrent() is null afterwards
//   }
//
// A list belongs to one thread: its storage lives on that thread's heap.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/objects/killable.h"

namespace Orvan {

class TAbstractKillableList : public IKillableContainer {
 public:
  class TIterator;

  TAbstractKillableList() noexcept = default;
  // Appends every item of the other list and watches each. On std::bad_alloc the exception
  // passes on and nothing stays registered.
  TAbstractKillableList(const TAbstractKillableList& other);
  TAbstractKillableList& operator=(const TAbstractKillableList& other) {
    Assign(other);
    return *this;
  }
  // Clears, then lets its running iterators go (they find no more items).
  ~TAbstractKillableList() override;

  // Appends the item (not null) and watches it; on std::bad_alloc the list is unchanged.
  void Add(TKillable* item);
  // Becomes a copy of the other list (its own items released first). On std::bad_alloc the list
  // is left empty.
  void Assign(const TAbstractKillableList& other);
  // Stops watching every item and empties the list, keeping its storage; running iterators start
  // again from the front.
  void Clear() noexcept;
  // Removes the first occurrence of the item, moving the running iterators' positions down.
  void Remove(TKillable* killable) noexcept;

  void NotifyKilled(TKillable* killable) override { OnKilled(killable); }
  void ForgetKillable(TKillable* killable) override { Remove(killable); }
  void OnKilled(TKillable*) override {}

  std::uint32_t GetSize() const noexcept { return items_.GetSize(); }
  std::uint32_t GetCapacity() const noexcept { return items_.GetCapacity(); }
  TKillable* GetItem(std::uint32_t index) const noexcept { return items_[index]; }

  // Walks the items from the front; registered with its list while it lives.
  class TIterator {
   public:
    // std::bad_alloc when the list cannot record one more running iterator.
    explicit TIterator(TAbstractKillableList& list);
    ~TIterator();
    TIterator(const TIterator&) = delete;
    TIterator& operator=(const TIterator&) = delete;

    // Moves to the next item; false (and no current item) at the end.
    bool Next() noexcept;
    // The item Next moved to; null once it is killed or removed, and after the end.
    TKillable* GetCurrent() const noexcept { return current_; }

   private:
    friend class TAbstractKillableList;
    TAbstractKillableList* list_;
    std::uint32_t nextIndex_ = 0;
    TKillable* current_ = nullptr;
  };

 private:
  void AppendAll(const TAbstractKillableList& other);
  void Unregister(TIterator* iterator) noexcept;
  template <typename TAction>
  void ForEachRunningIterator(TAction action) noexcept;

  // The first running iterator; the later ones wait in furtherIterators_, and one of them takes
  // the main place when it ends.
  TIterator* mainIterator_ = nullptr;
  TVector<TIterator*, TThreadHeapStorage> furtherIterators_;
  TVector<TKillable*, TThreadHeapStorage> items_;
};

}  // namespace Orvan
