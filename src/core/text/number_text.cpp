// Number texts: decimal and radix integers, floats as streams write them, byte sizes with units,
// file status names.
#include "core/text/number_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/text/string_streamable.h"

namespace Orvan {

namespace {

// Room for "%d" of any i32 and "%zd" of any ssize_t, with the NUL.
constexpr std::size_t kIntTextBuffer = 12;
constexpr std::size_t kSizeTextBuffer = 24;
// The unit text is cut here (13 characters and the NUL).
constexpr std::size_t kByteSizeTextBuffer = 14;

TOrvString<char> PadWithZeros(const TOrvString<char>& text, std::uint32_t width) {
  const std::uint32_t length = text.GetLength();
  if (length >= width) return text;
  TOrvString<char> padded;
  padded.Resize(width);
  char* out = &padded[0];
  std::fill(out, out + (width - length), '0');
  std::copy(text.GetData(), text.GetData() + length, out + (width - length));
  return padded;
}

template <typename CharT>
CharT* WriteIntText(std::int32_t value, CharT* buffer, std::int32_t radix) {
  // The unsigned magnitude holds the most negative value too.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  const auto base = static_cast<std::uint32_t>(radix);
  CharT* out = buffer;
  do {
    *out++ = static_cast<CharT>('0' + magnitude % base);
    magnitude /= base;
  } while (magnitude != 0);
  if (value < 0) *out++ = static_cast<CharT>('-');
  std::reverse(buffer, out);
  *out = static_cast<CharT>('\0');
  return buffer;
}

}  // namespace

TOrvString<char> IntToString(std::int32_t value) {
  char buffer[kIntTextBuffer];
  std::snprintf(buffer, sizeof buffer, "%d", value);
  return TOrvString<char>(buffer);
}

TOrvString<char> SizeToString(ssize_t value) {
  char buffer[kSizeTextBuffer];
  std::snprintf(buffer, sizeof buffer, "%zd", value);
  return TOrvString<char>(buffer);
}

TOrvString<char> IntToStringPadded(std::int32_t value, std::uint32_t width) {
  return PadWithZeros(IntToString(value), width);
}

TOrvString<char> SizeToStringPadded(ssize_t value, std::uint32_t width) {
  return PadWithZeros(SizeToString(value), width);
}

char* IntToText(std::int32_t value, char* buffer, std::int32_t radix) { return WriteIntText(value, buffer, radix); }

wchar_t* IntToText(std::int32_t value, wchar_t* buffer, std::int32_t radix) {
  return WriteIntText(value, buffer, radix);
}

TOrvString<char> ByteSizeToString(std::uint64_t size, std::int32_t precision) {
  static constexpr const char* kFormats[] = {"%.0f %s", "%.1f %s", "%.2f %s", "%.3f %s", "%.4f %s",
                                             "%.5f %s", "%.6f %s", "%.7f %s", "%.8f %s"};
  const char* unit = "byte";
  double factor = 1.0;
  if (size > (std::uint64_t{1} << 40)) {
    unit = "TiB";
    factor = 1.0 / static_cast<double>(std::uint64_t{1} << 40);
  } else if (size > (std::uint64_t{1} << 30)) {
    unit = "GiB";
    factor = 1.0 / static_cast<double>(std::uint64_t{1} << 30);
  } else if (size > (std::uint64_t{1} << 20)) {
    unit = "MiB";
    factor = 1.0 / static_cast<double>(std::uint64_t{1} << 20);
  } else if (size > 1024) {
    unit = "KiB";
    factor = 1.0 / 1024.0;
  }
  const std::int32_t index = std::clamp(precision, 0, 8);
  char buffer[kByteSizeTextBuffer];
  std::snprintf(buffer, sizeof buffer, kFormats[index], static_cast<double>(size) * factor, unit);
  return TOrvString<char>(buffer);
}

TOrvString<char> ToString(float value) {
  basic_ostringstream<char> stream;
  stream << value;
  return TOrvString<char>(stream.str());
}

TOrvString<char> ToString(float value, std::uint32_t precision) {
  basic_ostringstream<char> stream;
  stream.precision(precision);
  stream << value;
  return TOrvString<char>(stream.str());
}

const char* GetFileStatusText(std::int32_t status) {
  switch (status) {
    case 0:
      return "Success";
    case 1:
      return "File not found";
    case 2:
      return "File too small";
    case 3:
      return "Not enough space";
    case 7:
      return "Has latency";
    case 8:
      return "file corrupted";
    case 260:
      return "File not available";
    case 261:
      return "File not writable";
    case 262:
      return "Not supported";
    case 65535:
      return "Not defined";
    default:
      return "";
  }
}

}  // namespace Orvan
