// Intrusive reference counts for shared engine objects (streams, memory views, providers): one
// count word per object that holds the count inline until somebody watches the object, then the
// address of a small pooled block carrying the count and the watchers. Also the plain counted base
// for objects nobody watches, and the owning handle TCountedPtr.
//
// Use:
//   class TThing : public RTTI::TWeakAndRefCountableWithVirtualDestructor { ... };
//   TCountedPtr<TThing> thing(new TThing);   // count 1
//   TCountedPtr<TThing> other = thing;       // count 2
//   thing.Reset(); other.Reset();            // weak watchers are told, then the object is deleted
//
// Counts are plain integers: one counted object is used by one thread at a time, or under its
// owner's lock.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "core/objects/class_with_virtual_destructor.h"

namespace Orvan {

// The count word: bit 0 set means the word holds count x 2 + 1; bit 0 clear means it holds the
// address of the object's TAdditionalRefAndWeakCount block. Pointer-sized so that it can hold an
// address on this host.
using TCountWord = std::uintptr_t;

inline constexpr TCountWord kCountWordInlineTag = 1;
// The word of an object that nobody holds or watches yet.
inline constexpr TCountWord kFreshCountWord = 1;
// Every reference adds this to the count word or to the block's count.
inline constexpr std::uint32_t kCountStep = 2;

// The count block of a watched object, taken from its typed pool.
struct TAdditionalRefAndWeakCount {
  // Bit 0: at least one weak container has the object in the observer registry.
  static constexpr std::uint32_t kRegisteredFlag = 1;
  // Kept across the object's death together with bit 0; nothing in the engine sets it yet.
  static constexpr std::uint32_t kSurvivesDeathFlag = 2;
  // Set when the object has died while watchers still held the block: from then on the block is
  // the watchers' alone and the object's count word must not be written.
  static constexpr std::uint32_t kObjectDeadFlag = 4;

  std::uint32_t refCount;       // count x 2, bit 0 clear
  std::uint32_t observerCount;  // watchers holding the block
  std::uint32_t flags;

  // From and back to the TAdditionalRefAndWeakCount pool; delete ignores null.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;
};

class TWeakAndRefCountable {
 public:
  TWeakAndRefCountable() noexcept = default;
  // A copy is a new object: no references, no watchers.
  TWeakAndRefCountable(const TWeakAndRefCountable&) noexcept {}
  TWeakAndRefCountable& operator=(const TWeakAndRefCountable&) noexcept { return *this; }
  // Tells the watchers first, then lets go of the count block (kept while watchers remain).
  ~TWeakAndRefCountable() {
    NotifyDeath(&countWord_);
    ReleaseCountBlock(&countWord_);
  }

  TCountWord* GetCountWord() const noexcept { return &countWord_; }

  static bool IsInline(TCountWord word) noexcept { return (word & kCountWordInlineTag) != 0; }
  static TAdditionalRefAndWeakCount* BlockOf(TCountWord word) noexcept {
    return reinterpret_cast<TAdditionalRefAndWeakCount*>(word);
  }
  // The reference count, wherever it is held.
  static std::uint32_t GetReferenceCount(const TCountWord* countWord) noexcept {
    const TCountWord word = *countWord;
    return IsInline(word) ? static_cast<std::uint32_t>(word >> 1) : BlockOf(word)->refCount / kCountStep;
  }

  static void AddReference(TCountWord* countWord) noexcept {
    if (IsInline(*countWord)) {
      *countWord += kCountStep;
    } else {
      BlockOf(*countWord)->refCount += kCountStep;
    }
  }
  // Drops one reference; true when none is left (the caller then deletes the object).
  static bool ReleaseReference(TCountWord* countWord) noexcept {
    assert(GetReferenceCount(countWord) > 0);
    if (IsInline(*countWord)) {
      *countWord -= kCountStep;
      return *countWord < kCountStep;
    }
    TAdditionalRefAndWeakCount* block = BlockOf(*countWord);
    block->refCount -= kCountStep;
    return block->refCount < kCountStep;
  }

  // Last reference gone: tell the watchers, then delete the object through its virtual destructor.
  template <typename T>
  static void DeleteOnLastRelease(T* object, TCountWord* countWord) {
    static_assert(std::has_virtual_destructor_v<T>, "counted objects are deleted through a base pointer");
    if (!IsInline(*countWord)) NotifyWeakObservers(countWord);
    if (object != nullptr) delete object;
  }
  // The same for objects that end through their own disposal operation instead of delete.
  template <typename T>
  static void DisposeOnLastRelease(T* object, TCountWord* countWord) {
    if (!IsInline(*countWord)) NotifyWeakObservers(countWord);
    if (object != nullptr) object->Dispose();
  }

  // Calls OnWeakObjectDestroyed of every weak container registered for the object, once per
  // registration; each call unregisters. Nothing happens while the count is inline or no container
  // is registered.
  static void NotifyWeakObservers(TCountWord* countWord);
  static void NotifyDeath(TCountWord* countWord) { NotifyWeakObservers(countWord); }
  // After the watchers were told: the block, if the word still names one, is freed when nobody
  // watches any more and otherwise marked as belonging to a dead object.
  static void ReleaseCountBlock(TCountWord* countWord) noexcept;

  // A new watcher: moves the count into a block on the first one (std::bad_alloc when the pool is
  // exhausted, the word unchanged). Returns the block, which stays valid for the watcher until its
  // RemoveObserverReference, even past the object's death.
  static TAdditionalRefAndWeakCount* AddObserverReference(TCountWord* countWord);
  // A watcher leaves. The last one to leave a living object puts the count back into the word and
  // frees the block. The word is read, so the object must still be alive (or dying).
  static void RemoveObserverReference(TCountWord* countWord) noexcept;
  // The same for a watcher that kept the block it was given: once the object is dead, only the
  // block is touched (the last watcher frees it) and countWord is never read or written.
  static void RemoveObserverReference(TCountWord* countWord, TAdditionalRefAndWeakCount* block) noexcept;

 private:
  // Counts change through const handles too (TCountedPtr<const T>).
  mutable TCountWord countWord_ = kFreshCountWord;
};

namespace RTTI {

// The usual base of counted engine objects: deleted through its virtual destructor on the last
// release. Classes that end through a disposal operation give it the name Dispose.
class TWeakAndRefCountableWithVirtualDestructor : public TClassWithVirtualDestructor, public TWeakAndRefCountable {
 public:
  ~TWeakAndRefCountableWithVirtualDestructor() override = default;
};

}  // namespace RTTI

// An owning handle to a counted object: copies add a reference, destruction and reassignment
// release one, and the last release deletes the object.
template <typename T>
class TCountedPtr {
 public:
  using element_type = T;

  TCountedPtr() noexcept = default;
  TCountedPtr(std::nullptr_t) noexcept {}
  TCountedPtr(T* object) noexcept : object_(object) { AddReferenceTo(object_); }
  TCountedPtr(const TCountedPtr& other) noexcept : object_(other.object_) { AddReferenceTo(object_); }
  TCountedPtr(TCountedPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  template <typename U>
    requires std::is_convertible_v<U*, T*>
  TCountedPtr(const TCountedPtr<U>& other) noexcept : object_(other.Get()) {
    AddReferenceTo(object_);
  }
  template <typename U>
    requires std::is_convertible_v<U*, T*>
  TCountedPtr(TCountedPtr<U>&& other) noexcept : object_(other.Detach()) {}

  ~TCountedPtr() { ReleaseReferenceTo(object_); }

  // The new object gains its reference before the old one loses its own, so assigning a handle
  // to itself, or to an object the old one owns, is safe.
  TCountedPtr& operator=(const TCountedPtr& other) {
    TCountedPtr(other).Swap(*this);
    return *this;
  }
  TCountedPtr& operator=(TCountedPtr&& other) {
    TCountedPtr(std::move(other)).Swap(*this);
    return *this;
  }
  TCountedPtr& operator=(T* object) {
    TCountedPtr(object).Swap(*this);
    return *this;
  }
  TCountedPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  void Reset() { TCountedPtr().Swap(*this); }
  void Swap(TCountedPtr& other) noexcept { std::swap(object_, other.object_); }
  // Gives up the pointer without releasing its reference.
  T* Detach() noexcept { return std::exchange(object_, nullptr); }

  T* Get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  template <typename U>
  bool operator==(const TCountedPtr<U>& other) const noexcept {
    return object_ == other.Get();
  }
  bool operator==(std::nullptr_t) const noexcept { return object_ == nullptr; }

 private:
  static TCountWord* CountWordOf(T* object) noexcept {
    if constexpr (std::is_base_of_v<TWeakAndRefCountable, std::remove_const_t<T>>) {
      return static_cast<const TWeakAndRefCountable*>(object)->GetCountWord();
    } else {
      // An interface whose implementations carry the count beside it (a TStream): the count word
      // is found through the object's dynamic type.
      static_assert(std::is_polymorphic_v<T>, "a counted interface is found through its dynamic type");
      const auto* counted = dynamic_cast<const TWeakAndRefCountable*>(object);
      assert(counted != nullptr && "the object behind a counted interface must be counted");
      return counted->GetCountWord();
    }
  }
  static void AddReferenceTo(T* object) noexcept {
    if (object != nullptr) TWeakAndRefCountable::AddReference(CountWordOf(object));
  }
  static void ReleaseReferenceTo(T* object) {
    if (object == nullptr) return;
    TCountWord* countWord = CountWordOf(object);
    if (TWeakAndRefCountable::ReleaseReference(countWord)) {
      TWeakAndRefCountable::DeleteOnLastRelease(const_cast<std::remove_const_t<T>*>(object), countWord);
    }
  }

  T* object_ = nullptr;
};

// A plain count for objects that nobody watches; not atomic.
class TObjectWithRefcount {
 public:
  TObjectWithRefcount() noexcept = default;
  // A copy is a new object with no references of its own.
  TObjectWithRefcount(const TObjectWithRefcount&) noexcept {}
  TObjectWithRefcount& operator=(const TObjectWithRefcount&) noexcept { return *this; }
  virtual ~TObjectWithRefcount() = default;

  void AddRef() noexcept { ++refCount_; }
  // Deletes the object when this drops the last reference.
  void Release() {
    assert(refCount_ > 0);
    if (refCount_-- == 1) delete this;
  }
  std::uint32_t GetRefCount() const noexcept { return refCount_; }

 private:
  std::uint32_t refCount_ = 0;
};

}  // namespace Orvan
