// A view counts as one of its parent's live views from construction to destruction.
#include "core/streams/memory_view.h"

namespace Orvan {

TMemoryView::TMemoryView(TMemoryViewProvider* parent) noexcept : parent_(parent) {
  if (parent_ != nullptr) ++parent_->liveViewCount_;
}

TMemoryView::TMemoryView(TMemoryViewProvider* parent, std::uint8_t* block, std::uint32_t size,
                         std::uint8_t flag) noexcept
    : TSharedMemoryStream(block, size, flag), parent_(parent) {
  if (parent_ != nullptr) ++parent_->liveViewCount_;
}

TMemoryView::~TMemoryView() {
  if (parent_ != nullptr) --parent_->liveViewCount_;
}

}  // namespace Orvan
