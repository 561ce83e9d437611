// The id pages of the token tables and the refusal of a full table.
#include "core/tokens/interned_token_table.h"

#include <limits>
#include <string>

#include "core/containers/engine_vector.h"
#include "core/diagnostics/engine_exception.h"

namespace Orvan {

void ThrowTokenTableFull(std::uint64_t idLimit) {
  // The message names the limit only; the refused text may be anything, even binary.
  const std::wstring message = L"Interned token table full: it holds at most " + std::to_wstring(idLimit) + L" texts";
  throw EException(TOrvString<wchar_t>(message));
}

TInternedTokenPages::TPagePointer* TInternedTokenPages::AllocateArray(std::uint32_t capacity) {
  // Any 32-bit count of pointers and the header fit in the size: the byte count cannot overflow.
  static_assert(std::numeric_limits<std::uint32_t>::max() <=
                (std::numeric_limits<std::size_t>::max() - sizeof(TArrayHeader)) / sizeof(TPagePointer));
  void* block = AllocateMemoryOrThrow(kDomainEngine, sizeof(TArrayHeader) + capacity * sizeof(TPagePointer));
  auto* header = ::new (block) TArrayHeader{nullptr};
  auto* array = reinterpret_cast<TPagePointer*>(header + 1);
  for (std::uint32_t i = 0; i < capacity; ++i) ::new (static_cast<void*>(array + i)) TPagePointer(nullptr);
  return array;
}

void TInternedTokenPages::FreeArray(TPagePointer* array) noexcept {
  if (array != nullptr) FreeMemory(kDomainEngine, HeaderOf(array));
}

void TInternedTokenPages::ReserveEmpty(std::uint32_t capacity) {
  if (capacity_ >= capacity) return;
  TPagePointer* array = AllocateArray(capacity);
  FreeArray(pages_.load(std::memory_order_relaxed));
  pages_.store(array, std::memory_order_release);
  capacity_ = capacity;
}

TInternedTokenPages::TPageReservation::TPageReservation(TInternedTokenPages& pages, std::uint32_t id)
    : pages_(pages) {
  if ((id & kTokenSlotMask) != 0) return;
  page_ = new TInternedTokenPage();
  if (pages.size_ < pages.capacity_) return;
  try {
    const std::uint64_t grown = ComputeGrownCapacity64(pages.capacity_, sizeof(TPagePointer));
    if (grown > std::numeric_limits<std::uint32_t>::max()) ThrowBadAlloc();
    grownCapacity_ = static_cast<std::uint32_t>(grown);
    grownArray_ = AllocateArray(grownCapacity_);
  } catch (...) {
    delete page_;
    throw;
  }
  const TPagePointer* current = pages.pages_.load(std::memory_order_relaxed);
  for (std::uint32_t i = 0; i < pages.size_; ++i) {
    grownArray_[i].store(current[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
  }
}

TInternedTokenPages::TPageReservation::~TPageReservation() {
  delete page_;
  FreeArray(grownArray_);
}

void TInternedTokenPages::TPageReservation::Commit() noexcept {
  if (page_ == nullptr) return;
  if (grownArray_ != nullptr) {
    // The replaced array stays reachable from the new one until Clear: readers may still hold it.
    HeaderOf(grownArray_)->replaced = pages_.pages_.load(std::memory_order_relaxed);
    pages_.pages_.store(grownArray_, std::memory_order_release);
    pages_.capacity_ = grownCapacity_;
    grownArray_ = nullptr;
  }
  pages_.pages_.load(std::memory_order_relaxed)[pages_.size_].store(page_, std::memory_order_release);
  ++pages_.size_;
  page_ = nullptr;
}

void TInternedTokenPages::PublishText(std::uint32_t id, const TTokenText& text) noexcept {
  TPagePointer* pages = pages_.load(std::memory_order_relaxed);
  TInternedTokenPage* page = pages[id >> kTokenPageShift].load(std::memory_order_relaxed);
  TTokenText& slot = page->slots[id & kTokenSlotMask];
  slot = text;
  page->texts[id & kTokenSlotMask] = slot.c_str();
  // The slot is written before the count that makes it visible to a reader walking the ids.
  count_.store(id + 1, std::memory_order_release);
}

void TInternedTokenPages::Clear() noexcept {
  TPagePointer* array = pages_.load(std::memory_order_relaxed);
  // Deleting a page destroys its handles from the last slot to the first.
  for (std::uint32_t i = size_; i != 0; --i) delete array[i - 1].load(std::memory_order_relaxed);
  while (array != nullptr) {
    TPagePointer* replaced = HeaderOf(array)->replaced;
    FreeArray(array);
    array = replaced;
  }
  pages_.store(nullptr, std::memory_order_relaxed);
  size_ = 0;
  capacity_ = 0;
  count_.store(0, std::memory_order_relaxed);
}

}  // namespace Orvan
