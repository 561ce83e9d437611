// Hex dump of a byte range into a wide stream: the text-conversion error reports show the bytes
// they failed to convert with it.
#pragma once

#include <cstdint>
#include <ostream>

namespace Orvan {

// Writes lines of 16 bytes starting at 16-aligned addresses: "> ", the line address (8 lowercase
// hex digits at least), the bytes in hex, the printable ASCII bytes, " <". `address` is the
// address shown for the first byte. Leaves the stream in hex mode with fill character '0'.
std::wostream& WriteHexDump(std::wostream& stream, const void* bytes, std::uint32_t size, std::uint64_t address);

}  // namespace Orvan
