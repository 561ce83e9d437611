// Hexadecimal and base64 decoding of user-record values.
#include "network/database/byte_decoding.h"

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>

namespace Orvan::Network {

namespace {

std::uint8_t HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return 0;
}

}  // namespace

bool HexToBytes(const char* text, std::uint8_t* out, std::uint32_t n) {
  const char* p = text;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (p[0] == '\0' || p[1] == '\0') return false;
    out[i] = static_cast<std::uint8_t>(HexValue(p[0]) * 16 + HexValue(p[1]));
    p += 2;
  }
  return *p == '\0';
}

bool Base64DecodeToBuffer(const char* text, std::uint8_t* out, std::uint32_t n) {
  const std::size_t length = std::strlen(text);
  BIO* source = BIO_new_mem_buf(text, length > INT_MAX ? INT_MAX : static_cast<int>(length));
  BIO* filter = BIO_new(BIO_f_base64());
  std::uint32_t got = 0;
  if (source != nullptr && filter != nullptr) {
    BIO* chain = BIO_push(filter, source);
    while (got < n) {
      const int read = BIO_read(chain, out + got, static_cast<int>(n - got));
      if (read <= 0) break;
      got += static_cast<std::uint32_t>(read);
    }
    BIO_free_all(chain);
  } else {
    BIO_free(source);
    BIO_free(filter);
  }
  if (got < n) {
    std::memset(out, 0, n);
    return false;
  }
  return true;
}

}  // namespace Orvan::Network
