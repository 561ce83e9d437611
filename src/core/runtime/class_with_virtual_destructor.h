// The root of the engine's polymorphic classes, and the two small helpers owners use to let go of
// such objects.
#pragma once

#include <type_traits>

namespace Orvan {
namespace RTTI {

// Every engine class that is deleted through a base pointer derives from this one, so a plain
// pointer to it is enough to destroy the object whatever its dynamic type.
class TClassWithVirtualDestructor {
 public:
  TClassWithVirtualDestructor() noexcept = default;
  TClassWithVirtualDestructor(const TClassWithVirtualDestructor&) noexcept = default;
  TClassWithVirtualDestructor& operator=(const TClassWithVirtualDestructor&) noexcept = default;
  virtual ~TClassWithVirtualDestructor() = default;
};

}  // namespace RTTI

// Owner helper: forgets an owned pointer without deleting what it points to.
template <typename T>
inline void ClearOwnedPointer(T*& pointer) noexcept {
  pointer = nullptr;
}

// Owner helper: deletes an owned object through its virtual destructor; null is ignored.
inline void DeleteOwnedObject(RTTI::TClassWithVirtualDestructor* object) {
  if (object != nullptr) delete object;
}

}  // namespace Orvan
