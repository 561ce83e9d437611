// Named toggles: booleans that debug commands flip by name. A toggle registers a callback item
// under its name lazily, on its first query, when it is built to; the item calls the toggle's
// Toggle. Also the item template that turns an object's method into a named callback.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/objects/named_callback.h"
#include "core/sync/mutex.h"

namespace Orvan {

// A named callback that calls `Method` on an object it does not own.
template <typename TObject, auto Method>
class TNamedCallbackItem final : public TVirtualNamedCallback {
 public:
  TNamedCallbackItem(const TOrvString<char>& name, TObject* object) : TVirtualNamedCallback(name), object_(object) {}
  void Call() override { (object_->*Method)(); }
  TObject* GetObject() const noexcept { return object_; }

 private:
  TObject* object_;
};

class TVirtualNamedToggle {
 public:
  // Told the new value (0 or 1); its answer is Toggle's.
  using TOnChanged = std::uint32_t (*)(std::uint32_t value);

  // `name` is not copied: it must outlive the toggle (a literal, typically).
  TVirtualNamedToggle(const char* name, bool value, bool registerOnQuery, TOnChanged onChanged = nullptr) noexcept
      : name_(name), value_(value), registerOnQuery_(registerOnQuery), onChanged_(onChanged) {}
  TVirtualNamedToggle(const TVirtualNamedToggle&) = delete;
  TVirtualNamedToggle& operator=(const TVirtualNamedToggle&) = delete;
  // Destroys its item, which gives up the name: nothing is left to call a dead toggle.
  ~TVirtualNamedToggle();

  // Flips the value; answers OnChanged's result when there is one, else the new value.
  std::uint32_t Toggle();
  // The value, after registering the toggle on its first query when it is built to. Any thread
  // may query; the first queries of racing threads register one item.
  bool GetValue();

  using TItem = TNamedCallbackItem<TVirtualNamedToggle, &TVirtualNamedToggle::Toggle>;
  const char* GetName() const noexcept { return name_; }
  // Null until registered.
  TItem* GetItem() const noexcept { return item_.load(std::memory_order_acquire); }

 private:
  void RegisterItem();

  TMutex mutex_;
  const char* name_;
  // Read without the lock by every query: published with release once the item is built.
  std::atomic<TItem*> item_{nullptr};
  bool value_;
  bool registerOnQuery_;
  TOnChanged onChanged_;
};

}  // namespace Orvan
