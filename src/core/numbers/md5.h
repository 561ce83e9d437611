// MD5 digests: the 16-byte digest value with its hex text, the incremental context and the
// one-call digest of bytes and engine strings. File-name and text digests hash through them.
// The algorithm is OpenSSL's; the context here only keeps the engine's contracts.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"

struct evp_md_ctx_st;

namespace Orvan {

// The standard MD5 digest bytes, held as four words in little-endian order.
struct TMD5Digest {
  static constexpr std::uint32_t kHexLength = 32;

  std::uint32_t words[4] = {0, 0, 0, 0};

  bool IsZero() const { return (words[0] | words[1] | words[2] | words[3]) == 0; }

  // Writes 32 lower-case hex digits, two a byte in memory order, no terminator; returns 16.
  std::uint32_t ToHexText(char* out) const;
  // An all-zero digest writes nothing and returns 0; any other writes as ToHexText and returns 1.
  std::uint32_t ToHexTextIfSet(char* out) const;
  TOrvString<char> ToString() const;
  // The empty string for an all-zero digest.
  TOrvString<char> ToStringIfSet() const;

  // Reads 32 hex digits of either case. Digits are not checked: a byte whose high digit is bad
  // gets the high nibble 0xF, one whose low digit is bad is 0xFF. A null text, or one shorter than
  // 32 characters (a size under 32, a NUL within the first 32 without one), gives the zero digest.
  static TMD5Digest FromHexText(const char* text, std::uint32_t size);
  static TMD5Digest FromHexText(const char* text);
  static TMD5Digest FromHexString(const TOrvString<char>& text);
  static TMD5Digest FromHexString(const TOrvSubString<char>& text);

  friend bool operator==(const TMD5Digest& a, const TMD5Digest& b) = default;
  // Word by word as unsigned numbers, the first word first.
  friend bool operator<(const TMD5Digest& a, const TMD5Digest& b);
};

// An MD5 context: Init, any number of Update, then Final. After Final, Update is ignored and Final
// gives the same digest again until the next Init. Not copyable; one thread at a time.
class TMD5 {
 public:
  // Ready for Update. Throws std::bad_alloc when OpenSSL has no memory for a context.
  TMD5();
  ~TMD5();
  TMD5(const TMD5&) = delete;
  TMD5& operator=(const TMD5&) = delete;

  void Init();
  // Adds `size` bytes; a size of 0 or less adds nothing, so one call adds at most 2 GiB - 1.
  void Update(const void* data, std::int32_t size);
  void Final(TMD5Digest& digest);

 private:
  evp_md_ctx_st* context_;
  bool finished_ = false;
  TMD5Digest result_;
};

// The digest of `size` bytes, of a narrow text's bytes, or of a wide text's characters as they lie
// in memory (four bytes each, little-endian). Each thread reuses a context of its own.
void ComputeMD5(TMD5Digest& digest, const void* data, std::uint32_t size);
void ComputeMD5(TMD5Digest& digest, const TOrvString<char>& text);
void ComputeMD5(TMD5Digest& digest, const TOrvString<wchar_t>& text);

}  // namespace Orvan
