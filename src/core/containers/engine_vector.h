// Engine dynamic arrays and their shared growth rule: TVector keeps its elements in one heap block,
// TInlineVector keeps the first N inside the object and moves to a heap block when they outgrow it.
//
// Use:
//   TVector<TThing*> list;                  // default allocator (domain 0)
//   list.PushBack(thing);                   // grows by ComputeGrownCapacity when full
//   for (TThing* t : list) ...;             // begin()/end() are plain pointers
//   list.EraseAt(2); list.PopBack();        // removal keeps the order of the rest
//   list.Clear();                           // destroys the elements and frees the block
//
// Elements live in raw storage and are constructed and destroyed explicitly. There are no bound
// checks: callers index within GetSize(). An instance is used by one thread at a time. A vector is
// bound to one storage source for its whole life (the Storage parameter, see below). Allocation
// failure throws std::bad_alloc and leaves the vector as it was.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "core/memory/global_allocation.h"
#include "core/memory/heap.h"
#include "core/memory/thread_local_heap.h"

namespace Orvan {

// The growth rule: first 4 slots (1 above 256-byte elements), doubling while twice the bytes stay
// within 240, then the most elements whose bytes plus the 16-byte block header fit the smallest
// power of two holding one and a half times the current bytes. The result is always above the
// input; when it does not fit 32 bits this form answers 0xFFFFFFFF (the largest capacity there
// is), so callers that must know use the 64-bit form.
std::uint32_t ComputeGrownCapacity(std::uint32_t capacity, std::uint32_t elementSize);
// The same in 64 bits. When the result does not fit 64 bits (the bytes overflow) the answer is
// UINT64_MAX, which no caller can allocate.
std::uint64_t ComputeGrownCapacity64(std::uint64_t capacity, std::uint64_t elementSize);

// ---- Storage sources. A Storage is a class with two static members:
//   static void* Allocate(std::size_t bytes);  // never null: throws std::bad_alloc instead
//   static void Free(void* block) noexcept;    // null is ignored
// Blocks are only ever freed through the Storage that allocated them. A per-thread source
// (the calling thread's heap, TThreadHeapStorage) fits the same shape.

// The default allocator: engine allocation in memory domain 0.
struct TDefaultStorage {
  static void* Allocate(std::size_t bytes) { return AllocateMemoryOrThrow(kDomainEngine, bytes); }
  static void Free(void* block) noexcept { FreeMemory(kDomainEngine, block); }
};

// The process-wide general heap (file-name and path-node arrays, pool chunk lists).
struct TGeneralHeapStorage {
  static void* Allocate(std::size_t bytes) { return AllocateFromGeneralHeap(bytes); }
  static void Free(void* block) noexcept { FreeToGeneralHeap(block); }
};

// The calling thread's heap, for containers that live on one thread (the thread must be attached
// to the engine). A block goes back to the heap of the thread that frees it: the thread that
// allocated it.
struct TThreadHeapStorage {
  static void* Allocate(std::size_t bytes) { return GetThreadLocalHeap()->Allocate(bytes); }
  static void Free(void* block) noexcept {
    if (block != nullptr) GetThreadLocalHeap()->Free(block);
  }
};

// Element types whose bytes may move to a new address with no constructor or destructor run
// (handles such as engine strings). Specialise to std::true_type for such types; growth and
// erasure then move them with memcpy/memmove and never destroy the old copies.
template <typename T>
struct TMovesBitwise : std::is_trivially_copyable<T> {};

namespace VectorDetail {

// The grown room as a u32 slot count whose bytes fit a std::size_t; std::bad_alloc otherwise.
template <typename T>
std::uint32_t GrownRoom(std::uint32_t room) {
  const std::uint64_t grown = ComputeGrownCapacity64(room, sizeof(T));
  if (grown > std::numeric_limits<std::uint32_t>::max() ||
      grown > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
    ThrowBadAlloc();
  }
  return static_cast<std::uint32_t>(grown);
}

template <typename T, typename Storage>
T* AllocateSlots(std::uint32_t count) {
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) ThrowBadAlloc();
  return static_cast<T*>(Storage::Allocate(std::size_t{count} * sizeof(T)));
}

}  // namespace VectorDetail

// The element operations both vector forms share.
template <typename T>
class TVectorElements {
 public:
  // Copy-constructs `count` elements into raw storage. When a copy throws, the copies made so far
  // are destroyed and the exception passes on.
  static void CopyElements(T* destination, const T* source, std::uint32_t count) {
    if constexpr (std::is_nothrow_copy_constructible_v<T>) {
      std::uint32_t i = 0;
      for (; i + 4 <= count; i += 4) {
        ::new (static_cast<void*>(destination + i)) T(source[i]);
        ::new (static_cast<void*>(destination + i + 1)) T(source[i + 1]);
        ::new (static_cast<void*>(destination + i + 2)) T(source[i + 2]);
        ::new (static_cast<void*>(destination + i + 3)) T(source[i + 3]);
      }
      for (; i < count; ++i) ::new (static_cast<void*>(destination + i)) T(source[i]);
    } else {
      std::uint32_t built = 0;
      try {
        for (; built < count; ++built) ::new (static_cast<void*>(destination + built)) T(source[built]);
      } catch (...) {
        DestroyRange(destination, built);
        throw;
      }
    }
  }

  // Destroys `count` elements from the last one down to the first.
  static void DestroyRange(T* first, std::uint32_t count) noexcept {
    if constexpr (!std::is_trivially_destructible_v<T>) {
      while (count > 0) first[--count].~T();
    }
  }

 protected:
  // Moves `count` live elements from `source` into the raw block `destination`; afterwards the
  // elements live only in `destination`. When this throws, `source` is untouched and
  // `destination` holds nothing.
  static void Relocate(T* destination, T* source, std::uint32_t count) {
    if (count == 0) return;
    if constexpr (std::is_trivially_copyable_v<T>) {
      // Short lists of 4-byte values are copied by the unrolled loop, longer ones by memcpy.
      if (sizeof(T) == 4 && count > 8) {
        std::memcpy(static_cast<void*>(destination), static_cast<const void*>(source), std::size_t{count} * sizeof(T));
      } else {
        CopyElements(destination, source, count);
      }
    } else if constexpr (TMovesBitwise<T>::value) {
      std::memcpy(static_cast<void*>(destination), static_cast<const void*>(source), std::size_t{count} * sizeof(T));
    } else if constexpr (std::is_nothrow_move_constructible_v<T>) {
      for (std::uint32_t i = 0; i < count; ++i) {
        ::new (static_cast<void*>(destination + i)) T(std::move(source[i]));
        source[i].~T();
      }
    } else {
      // A throwing copy must not leave half the elements behind: copy all, then drop the old.
      CopyElements(destination, source, count);
      DestroyRange(source, count);
    }
  }

  // Removes the element at `index` of `size` live elements, shifting the later ones down.
  static void EraseShifting(T* data, std::uint32_t size, std::uint32_t index) {
    T* hole = data + index;
    const std::uint32_t after = size - index - 1;
    if constexpr (TMovesBitwise<T>::value) {
      hole->~T();
      std::memmove(static_cast<void*>(hole), static_cast<const void*>(hole + 1), std::size_t{after} * sizeof(T));
    } else {
      for (std::uint32_t i = 0; i < after; ++i) hole[i] = std::move(hole[i + 1]);
      data[size - 1].~T();
    }
  }

  // Moves `size` 4-byte values up by one slot (room for one more is there).
  static void ShiftUpByOne(T* data, std::uint32_t size) noexcept {
    if (size > 8) {
      std::memmove(static_cast<void*>(data + 1), static_cast<const void*>(data), std::size_t{size} * sizeof(T));
    } else {
      for (std::uint32_t i = size; i > 0; --i) data[i] = data[i - 1];
    }
  }
};

// ---- What both forms share, written once against the fields each form declares in its own order:
// `data_`, `size_` and `capacity_` (0 = no heap block), with the form's GetCapacity() (the
// effective room) and EmptyData() (where `data_` points while there is no heap block).
template <typename T, typename Storage, typename TForm>
class TVectorCommon : public TVectorElements<T> {
  using Base = TVectorElements<T>;

 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  T* Data() noexcept { return Form().data_; }
  const T* Data() const noexcept { return Form().data_; }
  std::uint32_t GetSize() const noexcept { return Form().size_; }
  std::uint32_t Size() const noexcept { return Form().size_; }
  bool IsEmpty() const noexcept { return Form().size_ == 0; }

  T& operator[](std::uint32_t index) noexcept { return Data()[index]; }
  const T& operator[](std::uint32_t index) const noexcept { return Data()[index]; }
  T& Back() noexcept { return Data()[GetSize() - 1]; }
  const T& Back() const noexcept { return Data()[GetSize() - 1]; }
  T* begin() noexcept { return Data(); }
  T* end() noexcept { return Data() + GetSize(); }
  const T* begin() const noexcept { return Data(); }
  const T* end() const noexcept { return Data() + GetSize(); }

  // Makes room for at least one more element: grows from the effective room by the growth rule;
  // the size is unchanged.
  void Grow() {
    TForm& v = Form();
    const std::uint32_t grown = VectorDetail::GrownRoom<T>(v.GetCapacity());
    T* block = VectorDetail::AllocateSlots<T, Storage>(grown);
    try {
      Base::Relocate(block, v.data_, v.size_);
    } catch (...) {
      Storage::Free(block);
      throw;
    }
    ReplaceStorage(block, grown);
  }

  // Appends a copy of `value`, which may be an element of this very vector.
  void PushBack(const T& value) {
    TForm& v = Form();
    if (v.size_ == v.GetCapacity()) {
      T copy(value);  // the grow would free the storage `value` may live in
      Grow();
      ::new (static_cast<void*>(v.data_ + v.size_)) T(std::move(copy));
    } else {
      ::new (static_cast<void*>(v.data_ + v.size_)) T(value);
    }
    ++v.size_;
  }
  void PushBack(T&& value) {
    TForm& v = Form();
    if (v.size_ == v.GetCapacity()) {
      T moved(std::move(value));
      Grow();
      ::new (static_cast<void*>(v.data_ + v.size_)) T(std::move(moved));
    } else {
      ::new (static_cast<void*>(v.data_ + v.size_)) T(std::move(value));
    }
    ++v.size_;
  }

  // Inserts `value` at index 0; for 4-byte plain values only.
  void PushFront(const T& value)
    requires(sizeof(T) == 4 && std::is_trivially_copyable_v<T>)
  {
    TForm& v = Form();
    const T copy = value;
    if (v.size_ == v.GetCapacity()) Grow();
    Base::ShiftUpByOne(v.data_, v.size_);
    v.data_[0] = copy;
    ++v.size_;
  }

  // Destroys every element; a heap block is freed and `data_` goes back to the form's empty data.
  void Clear() noexcept {
    TForm& v = Form();
    Base::DestroyRange(v.data_, v.size_);
    v.size_ = 0;
    if (v.capacity_ != 0) {
      Storage::Free(v.data_);
      v.capacity_ = 0;
      v.data_ = v.EmptyData();
    }
  }

  // For empty vectors: when the room is below `count`, a heap block of exactly `count` slots
  // replaces the storage (nothing is copied); otherwise nothing happens.
  void ReserveEmpty(std::uint32_t count) {
    assert(GetSize() == 0);
    if (Form().GetCapacity() >= count) return;
    ReplaceStorage(VectorDetail::AllocateSlots<T, Storage>(count), count);
  }

  // Sets the size to `count`, plain values only: new elements are value-initialised (0 for
  // numbers); when the room is below `count`, a block of exactly `count` slots takes the elements
  // kept. std::bad_alloc leaves the vector as it was.
  void Resize(std::uint32_t count)
    requires std::is_trivially_copyable_v<T>
  {
    TForm& v = Form();
    if (count > v.GetCapacity()) {
      T* block = VectorDetail::AllocateSlots<T, Storage>(count);
      if (v.size_ != 0) {
        std::memcpy(static_cast<void*>(block), static_cast<const void*>(v.data_), std::size_t{v.size_} * sizeof(T));
      }
      ReplaceStorage(block, count);
    }
    for (std::uint32_t i = v.size_; i < count; ++i) ::new (static_cast<void*>(v.data_ + i)) T();
    v.size_ = count;
  }

  // Removes the element at `index` (< size), keeping the order of the others.
  void EraseAt(std::uint32_t index) {
    TForm& v = Form();
    Base::EraseShifting(v.data_, v.size_, index);
    --v.size_;
  }

  // Removes the last element; the vector must not be empty.
  void PopBack() noexcept {
    TForm& v = Form();
    --v.size_;
    v.data_[v.size_].~T();
  }

 protected:
  // Frees the heap block, if any, and takes `block` of `capacity` slots in its place (capacity 0:
  // `block` is the form's empty data). The elements are the caller's business.
  void ReplaceStorage(T* block, std::uint32_t capacity) noexcept {
    TForm& v = Form();
    if (v.capacity_ != 0) Storage::Free(v.data_);
    v.data_ = block;
    v.capacity_ = capacity;
  }

 private:
  TForm& Form() noexcept { return static_cast<TForm&>(*this); }
  const TForm& Form() const noexcept { return static_cast<const TForm&>(*this); }
};

// ---- TVector: {data, size, capacity}; capacity 0 means no block (data is then null).
template <typename T, typename Storage = TDefaultStorage>
class TVector : public TVectorCommon<T, Storage, TVector<T, Storage>> {
  friend class TVectorCommon<T, Storage, TVector>;

 public:
  TVector() noexcept = default;
  ~TVector() { this->Clear(); }

  TVector(const TVector&) = delete;
  TVector& operator=(const TVector&) = delete;
  // Moving hands the block over; the source is left empty with no block.
  TVector(TVector&& other) noexcept : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
  }
  TVector& operator=(TVector&& other) noexcept {
    if (this != &other) {
      this->Clear();
      data_ = other.data_;
      size_ = other.size_;
      capacity_ = other.capacity_;
      other.data_ = nullptr;
      other.size_ = 0;
      other.capacity_ = 0;
    }
    return *this;
  }

  std::uint32_t GetCapacity() const noexcept { return capacity_; }

  // A copy holding exactly the elements: its capacity is the size, and an empty vector gives one
  // without a block. When an element's copy throws, the copies made so far are destroyed, the
  // block is freed and the exception passes on.
  TVector Clone() const {
    TVector copy;
    if (size_ == 0) return copy;
    T* block = VectorDetail::AllocateSlots<T, Storage>(size_);
    try {
      this->CopyElements(block, data_, size_);
    } catch (...) {
      Storage::Free(block);
      throw;
    }
    copy.data_ = block;
    copy.size_ = size_;
    copy.capacity_ = size_;
    return copy;
  }

 private:
  static T* EmptyData() noexcept { return nullptr; }

  T* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

// ---- TInlineVector: {data, size, inline buffer of N, capacity}. Capacity 0 means the elements
// live in the inline buffer (room N); otherwise `data` points at a heap block of that many slots.
// GetCapacity() answers the effective room. The inline buffer is never passed to Storage::Free.
template <typename T, std::uint32_t N, typename Storage = TDefaultStorage>
class TInlineVector : public TVectorCommon<T, Storage, TInlineVector<T, N, Storage>> {
  static_assert(N > 0, "an inline vector needs inline room");
  friend class TVectorCommon<T, Storage, TInlineVector>;

 public:
  TInlineVector() noexcept : data_(EmptyData()) {}
  ~TInlineVector() { this->Clear(); }

  TInlineVector(const TInlineVector&) = delete;
  TInlineVector(TInlineVector&&) = delete;
  TInlineVector& operator=(TInlineVector&&) = delete;

  // Assignment of plain values. The target keeps its storage when that holds the source's
  // elements and is not more than twice the source's room; otherwise it takes storage of exactly
  // the source's size (the inline buffer when the source is empty).
  TInlineVector& operator=(const TInlineVector& other)
    requires std::is_trivially_copyable_v<T>
  {
    if (this == &other) return *this;
    const std::uint32_t count = other.size_;
    if (GetCapacity() < count || capacity_ / 2 > other.GetCapacity()) {
      this->ReplaceStorage(count != 0 ? VectorDetail::AllocateSlots<T, Storage>(count) : EmptyData(), count);
    }
    if (count != 0) {
      std::memcpy(static_cast<void*>(data_), static_cast<const void*>(other.data_), std::size_t{count} * sizeof(T));
    }
    size_ = count;
    return *this;
  }

  // The effective room: the heap block's slots, or N while the elements are inline.
  std::uint32_t GetCapacity() const noexcept { return capacity_ != 0 ? capacity_ : N; }
  bool IsInline() const noexcept { return capacity_ == 0; }

 private:
  T* EmptyData() noexcept { return reinterpret_cast<T*>(inline_); }

  T* data_;
  std::uint32_t size_ = 0;
  alignas(T) unsigned char inline_[N * sizeof(T)];
  std::uint32_t capacity_ = 0;
};

}  // namespace Orvan
