// TSmallArray: a segmented array of plain values (u32 by default, record pointers for the sorted
// file lists), the first 128 inside the object and the rest in an overflow block from the calling
// thread's heap, whose total room doubles as it grows (overflow 128, 384, 896, ... slots). Short
// lists need no heap block at all.
//
// Element i < 128 is inline slot i; element i >= 128 is overflow slot i - 128. There are no bound
// checks. An instance lives on one thread: its blocks are allocated and freed by that thread,
// which must be attached to the engine once the array outgrows its inline room.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <type_traits>

#include "core/containers/engine_vector.h"
#include "core/memory/global_allocation.h"

namespace Orvan {

template <typename TSlot = std::uint32_t>
class TSmallArray {
  static_assert(std::is_trivially_copyable_v<TSlot>, "slots are moved with memcpy");

 public:
  static constexpr std::uint32_t kInlineCount = 128;

  TSmallArray() = default;
  ~TSmallArray() {
    size_ = 0;
    TThreadHeapStorage::Free(overflow_);
  }
  TSmallArray(const TSmallArray&) = delete;
  TSmallArray& operator=(const TSmallArray&) = delete;

  std::uint32_t GetSize() const { return size_; }
  std::uint32_t GetOverflowCapacity() const { return overflowCapacity_; }
  const TSlot* GetOverflow() const { return overflow_; }
  TSlot operator[](std::uint32_t index) const {
    return index < kInlineCount ? inline_[index] : overflow_[index - kInlineCount];
  }
  TSlot& operator[](std::uint32_t index) {
    return index < kInlineCount ? inline_[index] : overflow_[index - kInlineCount];
  }

  // Appends one value, growing the overflow block when full. std::bad_alloc leaves the array as
  // it was.
  void PushBack(TSlot value) {
    if (size_ >= kInlineCount && kInlineCount + overflowCapacity_ <= size_) GrowOverflow();
    (*this)[size_] = value;
    ++size_;
  }

  // Inserts [first, last) before element `position` (<= size). In the middle, the overflow block
  // afterwards has exactly size - 128 slots (none when everything fits inline). The range may lie
  // in this array. std::bad_alloc leaves the array as it was.
  void InsertRange(std::uint32_t position, const TSlot* first, const TSlot* last);

 private:
  static TSlot* AllocateOverflow(std::uint32_t slots) {
    return static_cast<TSlot*>(TThreadHeapStorage::Allocate(std::size_t{slots} * sizeof(TSlot)));
  }
  static void CopySlots(TSlot* destination, const TSlot* source, std::uint32_t count) {
    if (count != 0) std::memcpy(destination, source, std::size_t{count} * sizeof(TSlot));
  }
  void GrowOverflow();
  bool Holds(const TSlot* address) const {
    const std::less<const TSlot*> below;
    if (!below(address, inline_) && below(address, inline_ + kInlineCount)) return true;
    return overflow_ != nullptr && !below(address, overflow_) && below(address, overflow_ + overflowCapacity_);
  }

  TSlot inline_[kInlineCount];
  TSlot* overflow_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t overflowCapacity_ = 0;
};

template <typename TSlot>
void TSmallArray<TSlot>::GrowOverflow() {
  const std::uint32_t total = kInlineCount + overflowCapacity_;
  const std::uint32_t grownTotal = total * 2;
  // A total that no longer doubles in 32 bits cannot be addressed by a u32 index.
  if (grownTotal <= total) ThrowBadAlloc();
  TSlot* block = AllocateOverflow(grownTotal - kInlineCount);
  if (size_ > kInlineCount) CopySlots(block, overflow_, size_ - kInlineCount);
  TThreadHeapStorage::Free(overflow_);
  overflow_ = block;
  overflowCapacity_ = grownTotal - kInlineCount;
}

template <typename TSlot>
void TSmallArray<TSlot>::InsertRange(std::uint32_t position, const TSlot* first, const TSlot* last) {
  assert(position <= size_);
  // Appending values that live elsewhere goes value by value; a range inside this array could lose
  // its block to a growth, so it takes the copying path.
  if (position == size_ && (first == last || !Holds(first))) {
    const std::uint32_t size = size_;
    try {
      for (const TSlot* value = first; value != last; ++value) PushBack(*value);
    } catch (...) {
      size_ = size;
      throw;
    }
    return;
  }
  TSmallArray merged;
  for (std::uint32_t i = 0; i < position; ++i) merged.PushBack((*this)[i]);
  for (const TSlot* value = first; value != last; ++value) merged.PushBack(*value);
  for (std::uint32_t i = position; i < size_; ++i) merged.PushBack((*this)[i]);

  const std::uint32_t size = merged.size_;
  if (size > kInlineCount) {
    const std::uint32_t overflowSize = size - kInlineCount;
    if (overflowCapacity_ != overflowSize) {
      TSlot* block = AllocateOverflow(overflowSize);
      TThreadHeapStorage::Free(overflow_);
      overflow_ = block;
      overflowCapacity_ = overflowSize;
    }
    CopySlots(overflow_, merged.overflow_, overflowSize);
  } else {
    TThreadHeapStorage::Free(overflow_);
    overflow_ = nullptr;
    overflowCapacity_ = 0;
  }
  CopySlots(inline_, merged.inline_, size < kInlineCount ? size : kInlineCount);
  size_ = size;
}

}  // namespace Orvan
