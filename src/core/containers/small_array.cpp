// The segmented u32 array and its overflow growth.
#include "core/containers/small_array.h"

#include <cassert>
#include <cstring>
#include <functional>

#include "core/containers/engine_vector.h"
#include "core/memory/global_allocation.h"

namespace Orvan {

namespace {

std::uint32_t* AllocateOverflow(std::uint32_t slots) {
  return static_cast<std::uint32_t*>(TThreadHeapStorage::Allocate(std::size_t{slots} * sizeof(std::uint32_t)));
}

}  // namespace

TSmallArray::~TSmallArray() {
  size_ = 0;
  TThreadHeapStorage::Free(overflow_);
}

void TSmallArray::GrowOverflow() {
  const std::uint32_t total = kInlineCount + overflowCapacity_;
  const std::uint32_t grownTotal = total * 2;
  // A total that no longer doubles in 32 bits cannot be addressed by a u32 index.
  if (grownTotal <= total) ThrowBadAlloc();
  std::uint32_t* block = AllocateOverflow(grownTotal - kInlineCount);
  if (size_ > kInlineCount) {
    std::memcpy(block, overflow_, std::size_t{size_ - kInlineCount} * sizeof(std::uint32_t));
  }
  TThreadHeapStorage::Free(overflow_);
  overflow_ = block;
  overflowCapacity_ = grownTotal - kInlineCount;
}

void TSmallArray::PushBack(std::uint32_t value) {
  if (size_ >= kInlineCount && kInlineCount + overflowCapacity_ <= size_) GrowOverflow();
  (*this)[size_] = value;
  ++size_;
}

bool TSmallArray::Holds(const std::uint32_t* address) const {
  const std::less<const std::uint32_t*> below;
  if (!below(address, inline_) && below(address, inline_ + kInlineCount)) return true;
  return overflow_ != nullptr && !below(address, overflow_) && below(address, overflow_ + overflowCapacity_);
}

void TSmallArray::InsertRange(std::uint32_t position, const std::uint32_t* first, const std::uint32_t* last) {
  assert(position <= size_);
  // Appending values that live elsewhere goes value by value; a range inside this array could lose
  // its block to a growth, so it takes the copying path.
  if (position == size_ && (first == last || !Holds(first))) {
    for (const std::uint32_t* value = first; value != last; ++value) PushBack(*value);
    return;
  }
  TSmallArray merged;
  for (std::uint32_t i = 0; i < position; ++i) merged.PushBack((*this)[i]);
  for (const std::uint32_t* value = first; value != last; ++value) merged.PushBack(*value);
  for (std::uint32_t i = position; i < size_; ++i) merged.PushBack((*this)[i]);

  const std::uint32_t size = merged.size_;
  if (size > kInlineCount) {
    const std::uint32_t overflowSize = size - kInlineCount;
    if (overflowCapacity_ != overflowSize) {
      std::uint32_t* block = AllocateOverflow(overflowSize);
      TThreadHeapStorage::Free(overflow_);
      overflow_ = block;
      overflowCapacity_ = overflowSize;
    }
    std::memcpy(overflow_, merged.overflow_, std::size_t{overflowSize} * sizeof(std::uint32_t));
  } else {
    TThreadHeapStorage::Free(overflow_);
    overflow_ = nullptr;
    overflowCapacity_ = 0;
  }
  std::memcpy(inline_, merged.inline_, std::size_t{size < kInlineCount ? size : kInlineCount} * sizeof(std::uint32_t));
  size_ = size;
}

}  // namespace Orvan
