// TSmallArray: a segmented array of u32 values, the first 128 inside the object and the rest in an
// overflow block from the calling thread's heap, whose total room doubles as it grows (overflow
// 128, 384, 896, ... slots). Short lists need no heap block at all.
//
// Element i < 128 is inline slot i; element i >= 128 is overflow slot i - 128. There are no bound
// checks. An instance lives on one thread: its blocks are allocated and freed by that thread,
// which must be attached to the engine once the array outgrows its inline room.
#pragma once

#include <cstdint>

namespace Orvan {

class TSmallArray {
 public:
  static constexpr std::uint32_t kInlineCount = 128;

  TSmallArray() = default;
  ~TSmallArray();
  TSmallArray(const TSmallArray&) = delete;
  TSmallArray& operator=(const TSmallArray&) = delete;

  std::uint32_t GetSize() const { return size_; }
  std::uint32_t GetOverflowCapacity() const { return overflowCapacity_; }
  const std::uint32_t* GetOverflow() const { return overflow_; }
  std::uint32_t operator[](std::uint32_t index) const {
    return index < kInlineCount ? inline_[index] : overflow_[index - kInlineCount];
  }
  std::uint32_t& operator[](std::uint32_t index) {
    return index < kInlineCount ? inline_[index] : overflow_[index - kInlineCount];
  }

  // Appends one value, growing the overflow block when full. std::bad_alloc leaves the array as
  // it was.
  void PushBack(std::uint32_t value);
  // Inserts [first, last) before element `position` (<= size). In the middle, the overflow block
  // afterwards has exactly size - 128 slots (none when everything fits inline). The range may lie
  // in this array. std::bad_alloc leaves the array as it was.
  void InsertRange(std::uint32_t position, const std::uint32_t* first, const std::uint32_t* last);

 private:
  void GrowOverflow();
  bool Holds(const std::uint32_t* address) const;

  std::uint32_t inline_[kInlineCount];
  std::uint32_t* overflow_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t overflowCapacity_ = 0;
};

}  // namespace Orvan
