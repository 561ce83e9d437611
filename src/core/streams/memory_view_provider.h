// The provider side of memory streams: any memory stream hands out reference-counted views of its
// bytes (TMemoryView) and counts how many are alive, since a view points into its parent's buffer
// without holding the parent. Providers may also register views as children. Offsets and sizes on
// this side are 64-bit; a view's length is 32-bit.
#pragma once

#include <cstdint>

#include "core/objects/ref_counting.h"
#include "core/text/hash_functors.h"

namespace Orvan {

class TMemoryView;

class TMemoryViewProvider : public TWeakAndRefCountable {
 public:
  TMemoryViewProvider(const TMemoryViewProvider&) = delete;
  TMemoryViewProvider& operator=(const TMemoryViewProvider&) = delete;

  // Nothing by default; growable streams resize to `size`.
  virtual void ResizeProvidedMemory(std::uint64_t size);
  // CreateMemoryView with flag 0, handed out as its provider part.
  virtual TCountedPtr<TMemoryViewProvider> GetMemoryView(std::uint64_t offset, std::uint32_t length) = 0;
  // Leaves the parent's child set, then tells the weak observers. Reports an assertion when views
  // of this provider are still alive: they point at memory that is going.
  virtual ~TMemoryViewProvider();
  virtual std::uint64_t GetProvidedSize() const = 0;
  // A view of [offset, offset + length) of the provided bytes, with one reference. A view starting
  // past the end (or at 2^32 or more) is empty, a longer one is cut to the data.
  virtual TCountedPtr<TMemoryView> CreateMemoryView(std::uint64_t offset, std::uint32_t length, std::uint8_t flag) = 0;
  // Copies the bytes of [offset, offset + count) that exist; the position is not used.
  virtual void ReadAt(void* destination, std::uint64_t offset, std::uint32_t count) const = 0;
  virtual std::uint32_t GetAccessFlags() const = 0;

  // Grows the provided memory to offset + length when it is smaller.
  void EnsureProvidedSize(std::uint64_t offset, std::uint64_t length);
  // Brings the provided memory down to the reserved size when it is larger.
  void ApplyReservedSize();
  TCountedPtr<TMemoryView> CreateWholeMemoryView(std::uint8_t flag);
  // GetMemoryView, with the new view registered as a child of this provider until it dies.
  TCountedPtr<TMemoryViewProvider> CreateRegisteredMemoryView(std::uint64_t offset, std::uint32_t length);

  std::uint32_t GetLiveViewCount() const noexcept { return liveViewCount_; }
  std::uint32_t GetChildCount() const noexcept { return children_.Count(); }
  bool HasChild(const TMemoryViewProvider* child) const noexcept { return children_.Find(child) != nullptr; }
  // The provider this one is registered with as a child; null when none.
  TMemoryViewProvider* GetParentProvider() const noexcept { return parentProvider_; }
  std::uint64_t GetReservedSize() const noexcept { return reservedSize_; }

 protected:
  TMemoryViewProvider() noexcept = default;

  // Called before a buffer that views may show moves or goes away; `liveViews` counts the views of
  // every provider that shows it. A view left pointing into the old buffer would read freed memory.
  static void CheckNoLiveViewsBeforeMove(std::uint32_t liveViews);

 private:
  friend class TMemoryView;

  std::uint32_t liveViewCount_ = 0;
  TPointerSet<TMemoryViewProvider> children_;
  // Set at construction and read by nothing in the memory family; kept with the provider's state.
  [[maybe_unused]] std::uint32_t unreadWords_[4] = {1, 0, 0, 0};
  std::uint64_t reservedSize_ = 0;
  TMemoryViewProvider* parentProvider_ = nullptr;
};

// Makes providers on request; only its count word is its own.
class TAbstractMemoryViewProviderMaker : public TWeakAndRefCountable {
 public:
  TAbstractMemoryViewProviderMaker(const TAbstractMemoryViewProviderMaker&) = delete;
  TAbstractMemoryViewProviderMaker& operator=(const TAbstractMemoryViewProviderMaker&) = delete;
  virtual ~TAbstractMemoryViewProviderMaker() = default;

  virtual TCountedPtr<TMemoryViewProvider> MakeMemoryViewProvider() = 0;

 protected:
  TAbstractMemoryViewProviderMaker() noexcept = default;
};

}  // namespace Orvan
