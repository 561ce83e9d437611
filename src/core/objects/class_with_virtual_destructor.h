// The root of the engine's polymorphic classes, the one text every such object can give of itself
// (its dynamic type's name and its address, for diagnostics), and the two small helpers owners use
// to let go of such objects.
#pragma once

#include <type_traits>

#include "core/text/engine_string.h"

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
  // "Type@address": the demangled name of the dynamic type (the stored name when it does not
  // demangle) and the address of this base sub-object, cut to kDescriptionBufferSize - 1 bytes.
  virtual TOrvString<char> GetDescription() const;
};

// The description is formatted into a buffer of this many bytes.
inline constexpr unsigned kDescriptionBufferSize = 256;

// The text of GetDescription for a type name as the run-time stores it (a leading '*' is skipped)
// and an address.
TOrvString<char> FormatObjectDescription(const char* storedTypeName, const void* address);

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
