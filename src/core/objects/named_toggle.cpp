// Named toggles: the flip and the lazy registration.
#include "core/objects/named_toggle.h"

namespace Orvan {

TVirtualNamedToggle::~TVirtualNamedToggle() { delete item_.load(std::memory_order_acquire); }

std::uint32_t TVirtualNamedToggle::Toggle() {
  value_ = !value_;
  const std::uint32_t value = value_ ? 1 : 0;
  return onChanged_ != nullptr ? onChanged_(value) : value;
}

bool TVirtualNamedToggle::GetValue() {
  if (registerOnQuery_ && item_.load(std::memory_order_acquire) == nullptr) RegisterItem();
  return value_;
}

void TVirtualNamedToggle::RegisterItem() {
  TMutexLocker locker(mutex_);
  if (item_.load(std::memory_order_relaxed) != nullptr) return;
  auto* item = new TItem(TOrvString<char>(name_), this);
  item_.store(item, std::memory_order_release);
}

}  // namespace Orvan
