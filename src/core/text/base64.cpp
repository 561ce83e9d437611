// Base64 in the standard and URL-safe alphabets: one encoder and one decoder, each taking the
// alphabet's two last characters.
#include "core/text/base64.h"

#include <array>
#include <cctype>
#include <cstddef>
#include <limits>
#include <new>

namespace Orvan {

namespace {

constexpr char kPad = '=';
constexpr std::uint8_t kNotInAlphabet = 255;

struct TAlphabet {
  char digits[65];
  std::array<std::uint8_t, 256> values;
};

constexpr TAlphabet BuildAlphabet(char digit62, char digit63) {
  TAlphabet alphabet{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789??", {}};
  alphabet.digits[62] = digit62;
  alphabet.digits[63] = digit63;
  for (std::uint8_t& value : alphabet.values) value = kNotInAlphabet;
  for (int i = 0; i < 64; ++i) {
    alphabet.values[static_cast<unsigned char>(alphabet.digits[i])] = static_cast<std::uint8_t>(i);
  }
  return alphabet;
}

constexpr TAlphabet kStandard = BuildAlphabet('+', '/');
constexpr TAlphabet kUrlSafe = BuildAlphabet('-', '_');

TOrvString<char> Encode(const std::uint8_t* first, const std::uint8_t* last, const TAlphabet& alphabet) {
  const std::size_t n = first != nullptr ? static_cast<std::size_t>(last - first) : 0;
  const std::size_t length = (n * 8 + 23) / 24 * 4;
  if (length > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  TOrvString<char> result;
  if (length == 0) return result;
  result.Resize(static_cast<std::uint32_t>(length));
  char* out = &result[0];
  const char* digits = alphabet.digits;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t group = (std::uint32_t{first[i]} << 16) | (std::uint32_t{first[i + 1]} << 8) | first[i + 2];
    *out++ = digits[group >> 18];
    *out++ = digits[(group >> 12) & 63];
    *out++ = digits[(group >> 6) & 63];
    *out++ = digits[group & 63];
  }
  if (n - i == 2) {
    const std::uint32_t group = (std::uint32_t{first[i]} << 8) | first[i + 1];
    *out++ = digits[group >> 10];
    *out++ = digits[(group >> 4) & 63];
    *out++ = digits[(group & 15) << 2];
    *out++ = kPad;
  } else if (n - i == 1) {
    *out++ = digits[first[i] >> 2];
    *out++ = digits[(first[i] & 3) << 4];
    *out++ = kPad;
    *out++ = kPad;
  }
  return result;
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool Decode(const char* first, const char* last, TOrvString<char>& out, const TAlphabet& alphabet) {
  const std::size_t n = first != nullptr ? static_cast<std::size_t>(last - first) : 0;
  const std::size_t provisional = n / 4 * 3;
  if (provisional > std::numeric_limits<std::uint32_t>::max()) return false;
  if (provisional == 0) {
    out.Clear();
    return true;
  }
  // Written through a second handle: the input may lie in out's block, which this keeps alive and
  // unchanged until the end.
  TOrvString<char> result(out);
  result.Resize(static_cast<std::uint32_t>(provisional));
  std::uint8_t* const begin = reinterpret_cast<std::uint8_t*>(&result[0]);
  std::uint8_t* write = begin;

  // k counts the characters of the current group, '=' included; r is how many bytes it holds.
  std::uint32_t k = 0;
  std::uint32_t accumulator = 0;
  std::int32_t r = 3;
  bool ok = true;
  for (const char* p = first; p != last && ok; ++p) {
    const char c = *p;
    if (IsSpace(c)) continue;
    const std::uint8_t value = alphabet.values[static_cast<unsigned char>(c)];
    if (value != kNotInAlphabet) {
      ++k;
      accumulator = (accumulator << 6) | value;
    } else if (c == kPad) {
      --r;
      ++k;
      if (k < 2) {
        ok = false;
        break;
      }
      // Padding ends the text: only more '=' (up to the group's end) and white space may follow.
      for (++p; p != last; ++p) {
        if (IsSpace(*p)) continue;
        if (*p != kPad || k > 3) {
          ok = false;
          break;
        }
        ++k;
        --r;
      }
      --p;
    } else {
      ok = false;
      break;
    }
    if (ok && k == 4) {
      switch (r) {
        case 3:
          *write++ = static_cast<std::uint8_t>(accumulator >> 16);
          *write++ = static_cast<std::uint8_t>(accumulator >> 8);
          *write++ = static_cast<std::uint8_t>(accumulator);
          break;
        case 2:
          *write++ = static_cast<std::uint8_t>(accumulator >> 10);
          *write++ = static_cast<std::uint8_t>(accumulator >> 2);
          break;
        case 1:
          *write++ = static_cast<std::uint8_t>(accumulator >> 4);
          break;
        default:
          ok = false;
          break;
      }
      k = 0;
      accumulator = 0;
    }
  }
  if (ok && k != 0) ok = false;  // an incomplete group
  if (ok) result.Resize(static_cast<std::uint32_t>(write - begin));
  out = std::move(result);
  return ok;
}

}  // namespace

TOrvString<char> Base64Encode(const std::uint8_t* first, const std::uint8_t* last) {
  return Encode(first, last, kStandard);
}

TOrvString<char> Base64UrlEncode(const std::uint8_t* first, const std::uint8_t* last) {
  return Encode(first, last, kUrlSafe);
}

bool Base64Decode(const char* first, const char* last, TOrvString<char>& out) {
  return Decode(first, last, out, kStandard);
}

bool Base64UrlDecode(const char* first, const char* last, TOrvString<char>& out) {
  return Decode(first, last, out, kUrlSafe);
}

}  // namespace Orvan
