// The root of the engine's polymorphic classes, and the one text every such object can give of
// itself: its dynamic type's name and its address, for diagnostics.
#pragma once

#include "core/text_and_containers/engine_string.h"

namespace Orvan::RTTI {

class TClassWithVirtualDestructor {
 public:
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

}  // namespace Orvan::RTTI
