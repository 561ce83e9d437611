// The throwers of the file-name errors: a path component with a byte no file name may hold, and a
// file name whose mounting point is not mounted.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan {

class TFileName;

// Bytes 0x01 to 0x7F but the double quote, '*', '/', ':', '<', '>', '?', '\' and '|'. Control
// characters pass.
constexpr bool IsAllowedFileNameByte(unsigned char byte) noexcept {
  if (byte == 0 || byte >= 0x80) return false;
  switch (byte) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
      return false;
    default:
      return true;
  }
}

// Returns when every byte of the component is allowed; otherwise throws EInvalidFileName carrying
// the component.
void CheckFileNameComponent(TCharRange<char> component);

// EMountingPointNotFound with the name of the file name's mounting point.
[[noreturn]] void ThrowMountingPointNotFound(const TFileName& fileName);
[[noreturn]] void ThrowMountingPointNotFound(std::uint16_t mountingPoint);

}  // namespace Orvan
