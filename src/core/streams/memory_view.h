// TMemoryView, a shared stream over part of a provider's bytes. It counts as a live view of its
// parent for as long as it exists, but holds no reference on it: the parent must outlive it and
// must not move its buffer meanwhile.
#pragma once

#include <cstdint>

#include "core/memory/typed_pool.h"
#include "core/streams/shared_memory_stream.h"

namespace Orvan {

class TMemoryView : public TSharedMemoryStream {
 public:
  // A view of no bytes, still a live view of its parent (null: of nobody).
  explicit TMemoryView(TMemoryViewProvider* parent) noexcept;
  TMemoryView(TMemoryViewProvider* parent, std::uint8_t* block, std::uint32_t size, std::uint8_t flag) noexcept;
  ~TMemoryView() override;

  TMemoryViewProvider* GetParent() const noexcept { return parent_; }

  ORV_POOLED_ALLOCATION(TMemoryView)

 private:
  TMemoryViewProvider* parent_;
};

}  // namespace Orvan
