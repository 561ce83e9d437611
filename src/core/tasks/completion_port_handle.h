// The counted reference to a completion port's handle. Every call pushed under a port holds one;
// the last release completes the port, so the port learns when all work under it has finished.
#pragma once

#include <utility>

namespace Orvan {

class TCompletionPortHandle;
class TSoftwareCommandBufferCompletionPort;

class TCompletionPortHandleRef {
 public:
  TCompletionPortHandleRef() noexcept = default;
  // Adds a reference to `handle` (null: none).
  explicit TCompletionPortHandleRef(TCompletionPortHandle* handle);
  // Takes over a reference the caller already holds.
  static TCompletionPortHandleRef Adopt(TCompletionPortHandle* handle) noexcept {
    TCompletionPortHandleRef ref;
    ref.handle_ = handle;
    return ref;
  }
  TCompletionPortHandleRef(const TCompletionPortHandleRef& other) : TCompletionPortHandleRef(other.handle_) {}
  TCompletionPortHandleRef(TCompletionPortHandleRef&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  TCompletionPortHandleRef& operator=(const TCompletionPortHandleRef& other) {
    TCompletionPortHandleRef copy(other);
    Swap(copy);
    return *this;
  }
  TCompletionPortHandleRef& operator=(TCompletionPortHandleRef&& other) noexcept {
    TCompletionPortHandleRef moved(std::move(other));
    Swap(moved);
    return *this;
  }
  ~TCompletionPortHandleRef() { Reset(); }

  // Releases the reference held (completing the port when it was the last) and holds none.
  void Reset();
  void Swap(TCompletionPortHandleRef& other) noexcept { std::swap(handle_, other.handle_); }
  TCompletionPortHandle* Get() const noexcept { return handle_; }
  // The handle's port; null for no handle or a handle whose port has completed.
  TSoftwareCommandBufferCompletionPort* GetPort() const;
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  TCompletionPortHandle* handle_ = nullptr;
};

}  // namespace Orvan
