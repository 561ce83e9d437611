// The {pointer, tag} pair that the engine's lock-free lists (pool free lists, deferred-call stacks)
// swap as one 16-byte unit, and the few atomic operations on it. Every change bumps the tag, so a
// swap whose pair was read before the same pointer came back (taken and given back meanwhile)
// fails instead of installing a stale link.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

namespace Orvan {

struct TTaggedPointer {
  void* pointer = nullptr;
  std::uint64_t tag = 0;

  constexpr TTaggedPointer() = default;
  constexpr TTaggedPointer(void* pointerPart, std::uint64_t tagPart) : pointer(pointerPart), tag(tagPart) {}
};
static_assert(sizeof(TTaggedPointer) == 16 && std::is_trivially_copyable_v<TTaggedPointer>);

// One 16-byte unit: g++ inlines lock cmpxchg16b for the __sync builtins on unsigned __int128 (with
// -mcx16), where std::atomic of a 16-byte struct would call into libatomic.
union alignas(16) TAtomicTaggedPointer {
  constexpr TAtomicTaggedPointer() noexcept : word(0) {}

  unsigned __int128 word;
  TTaggedPointer parts;
};

// Two 8-byte loads; a torn pair only makes the following swap fail. The tag is read first and both
// loads are acquires, so a link read that follows (the pointed-to element's next word) comes after
// both: if the swap then succeeds, the pair was unchanged from the tag's load on, and so was that
// link.
inline TTaggedPointer LoadTaggedPointer(const TAtomicTaggedPointer& atomic) {
  TTaggedPointer result;
  result.tag = __atomic_load_n(&atomic.parts.tag, __ATOMIC_ACQUIRE);
  result.pointer = __atomic_load_n(&atomic.parts.pointer, __ATOMIC_ACQUIRE);
  return result;
}

inline bool CompareAndSwapTaggedPointer(TAtomicTaggedPointer& atomic, TTaggedPointer expected,
                                        TTaggedPointer desired) {
  return __sync_bool_compare_and_swap(&atomic.word, std::bit_cast<unsigned __int128>(expected),
                                      std::bit_cast<unsigned __int128>(desired));
}

// The same, answering the pair found (equal to `expected` when the swap took place).
inline TTaggedPointer CompareAndSwapTaggedPointerValue(TAtomicTaggedPointer& atomic, TTaggedPointer expected,
                                                       TTaggedPointer desired) {
  return std::bit_cast<TTaggedPointer>(__sync_val_compare_and_swap(
      &atomic.word, std::bit_cast<unsigned __int128>(expected), std::bit_cast<unsigned __int128>(desired)));
}

// A pop reads the link of the element it saw at the head while another thread may already have
// taken that element and be writing its own data over the word. The value is then stale and the
// tagged swap that follows fails and drops it: the race is part of the algorithm, so this one read
// is kept out of ThreadSanitizer's view.
__attribute__((no_sanitize("thread"))) inline void* ReadRacyLink(void* const* link) {
  return __atomic_load_n(link, __ATOMIC_RELAXED);
}

}  // namespace Orvan
