// Descriptions of polymorphic engine objects from their run-time type records.
#include "core/objects/class_with_virtual_destructor.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace Orvan::RTTI {

TOrvString<char> FormatObjectDescription(const char* storedTypeName, const void* address) {
  if (*storedTypeName == '*') ++storedTypeName;
  int status = 0;
  char* demangled = abi::__cxa_demangle(storedTypeName, nullptr, nullptr, &status);
  char buffer[kDescriptionBufferSize];
  std::snprintf(buffer, sizeof(buffer), "%s@%p", demangled != nullptr ? demangled : storedTypeName, address);
  std::free(demangled);  // the demangler allocates with malloc
  return TOrvString<char>(buffer);
}

TOrvString<char> TClassWithVirtualDestructor::GetDescription() const {
  return FormatObjectDescription(typeid(*this).name(), static_cast<const void*>(this));
}

}  // namespace Orvan::RTTI
