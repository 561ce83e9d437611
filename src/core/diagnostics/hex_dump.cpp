// Hex dump of a byte range into a wide stream.
#include "core/diagnostics/hex_dump.h"

#include <cctype>
#include <iomanip>

namespace Orvan {

std::wostream& WriteHexDump(std::wostream& stream, const void* bytes, std::uint32_t size, std::uint64_t address) {
  const auto* data = static_cast<const unsigned char*>(bytes);
  const std::uint64_t start = address & ~std::uint64_t{0xF};
  const std::uint64_t lead = address & 0xF;
  const std::uint64_t total = lead + size;
  stream << std::hex << std::setfill(L'0');
  for (std::uint64_t line = 0; line < total; line += 16) {
    stream << L'>' << L' ' << std::setw(8) << (start + line);
    for (std::uint64_t i = 0; i < 16; ++i) {
      if (i == 0 || i == 8) stream << L' ';
      const std::uint64_t at = line + i;
      if (lead <= at && at - lead < size) {
        stream << std::setw(2) << static_cast<unsigned>(data[at - lead]);
      } else {
        stream << L"  ";
      }
      stream << L' ';
    }
    for (std::uint64_t i = 0; i < 16; ++i) {
      if (i == 0 || i == 8) stream << L' ';
      const std::uint64_t at = line + i;
      if (lead <= at && at - lead < size) {
        const unsigned char byte = data[at - lead];
        stream << (byte < 0x80 && std::isprint(byte) ? static_cast<wchar_t>(byte) : L'.');
      } else {
        stream << L' ';
      }
    }
    stream << L' ' << L'<' << L'\n';
  }
  return stream;
}

}  // namespace Orvan
