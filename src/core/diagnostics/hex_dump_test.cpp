#include "core/diagnostics/hex_dump.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

namespace Orvan {
namespace {

std::wstring Spaces(std::size_t count) { return std::wstring(count, L' '); }

TEST(HexDumpTest, BytesStraddlingALineBoundaryGiveTwoAlignedLines) {
  const unsigned char bytes[] = {0x41, 0x07, 0xC3};
  std::wostringstream out;
  WriteHexDump(out, bytes, 3, 14);
  const std::wstring first = L"> 00000000 " + Spaces(8 * 3) + L" " + Spaces(6 * 3) + L"41 07 " + L" " + Spaces(8) +
                             L" " + Spaces(6) + L"A." + L" <\n";
  const std::wstring second = L"> 00000010 c3 " + Spaces(7 * 3) + L" " + Spaces(8 * 3) + L" ." + Spaces(7) + L" " +
                              Spaces(8) + L" <\n";
  EXPECT_EQ(out.str(), first + second);
}

TEST(HexDumpTest, FullLineAtZeroAndStreamLeftInHexMode) {
  unsigned char bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(0x30 + i);
  std::wostringstream out;
  WriteHexDump(out, bytes, 16, 0);
  EXPECT_EQ(out.str(), L"> 00000000 30 31 32 33 34 35 36 37  38 39 3a 3b 3c 3d 3e 3f  01234567 89:;<=>? <\n");
  out.str(L"");
  out << 255 << std::setw(4) << 1;
  EXPECT_EQ(out.str(), L"ff0001");
}

TEST(HexDumpTest, EmptyRangeWritesNothing) {
  std::wostringstream out;
  WriteHexDump(out, nullptr, 0, 0);
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
}  // namespace Orvan
