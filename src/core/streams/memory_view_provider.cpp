// Views handed out by providers: counting them, registering them as children, and the checks that
// keep a provider's buffer from moving under them.
#include "core/streams/memory_view_provider.h"

#include <limits>
#include <new>

#include "core/diagnostics/assertion.h"
#include "core/streams/memory_view.h"

namespace Orvan {

void TMemoryViewProvider::CheckNoLiveViewsBeforeMove(std::uint32_t liveViews) {
  if (liveViews == 0) return;
  ReportAssertionFailure(__FILE__, __LINE__, "liveViews == 0",
                         "a memory view still points into a buffer that is moving or going away");
}

void TMemoryViewProvider::ResizeProvidedMemory(std::uint64_t) {}

TMemoryViewProvider::~TMemoryViewProvider() {
  CheckNoLiveViewsBeforeMove(liveViewCount_);
  if (parentProvider_ != nullptr && !parentProvider_->children_.IsEmpty()) parentProvider_->children_.Erase(this);
}

void TMemoryViewProvider::EnsureProvidedSize(std::uint64_t offset, std::uint64_t length) {
  // A sum past 2^64 asks for more than any provider can give.
  const std::uint64_t end = length > std::numeric_limits<std::uint64_t>::max() - offset
                                ? std::numeric_limits<std::uint64_t>::max()
                                : offset + length;
  if (end > GetProvidedSize()) ResizeProvidedMemory(end);
}

void TMemoryViewProvider::ApplyReservedSize() {
  if (GetProvidedSize() > reservedSize_) ResizeProvidedMemory(reservedSize_);
}

TCountedPtr<TMemoryView> TMemoryViewProvider::CreateWholeMemoryView(std::uint8_t flag) {
  const std::uint64_t size = GetProvidedSize();
  return CreateMemoryView(0, size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size), flag);
}

TCountedPtr<TMemoryViewProvider> TMemoryViewProvider::CreateRegisteredMemoryView(std::uint64_t offset,
                                                                                 std::uint32_t length) {
  TCountedPtr<TMemoryViewProvider> view = GetMemoryView(offset, length);
  // When the set cannot grow, the view goes again with the handle.
  *children_.AppendEntry(view.Get()) = view.Get();
  view->parentProvider_ = this;
  return view;
}

}  // namespace Orvan
