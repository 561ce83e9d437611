// MD5 through OpenSSL's EVP interface (the MD5_* calls are deprecated), and the digest's hex text.
#include "core/numbers/md5.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "core/diagnostics/engine_exception.h"
#include "core/text/hex_text.h"

namespace Orvan {

namespace {

// Update takes at most 2 GiB - 1 bytes a call; longer inputs go in pieces of this size.
constexpr std::size_t kUpdatePiece = std::size_t{1} << 30;

[[noreturn]] void ThrowDigestFailure() { throw EException(L"MD5 digest failed: OpenSSL refused the call"); }

// Fetched once: looking the method up for every digest costs as much as digesting a short text.
const EVP_MD* Md5Method() {
  static const EVP_MD* const method = [] {
    EVP_MD* fetched = EVP_MD_fetch(nullptr, "MD5", nullptr);
    if (fetched == nullptr) ThrowDigestFailure();
    return fetched;
  }();
  return method;
}

TMD5Digest FromHexDigits(const char* text) {
  TMD5Digest digest;
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) {
    const auto high = static_cast<std::uint32_t>(HexDigitValue(text[2 * i]));
    const auto low = static_cast<std::uint32_t>(HexDigitValue(text[2 * i + 1]));
    bytes[i] = static_cast<std::uint8_t>((high << 4) | low);
  }
  std::memcpy(digest.words, bytes, sizeof bytes);
  return digest;
}

void DigestBytes(TMD5Digest& digest, const void* data, std::size_t size) {
  thread_local TMD5 context;
  context.Init();
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const std::size_t piece = std::min(size, kUpdatePiece);
    context.Update(bytes, static_cast<std::int32_t>(piece));
    bytes += piece;
    size -= piece;
  }
  context.Final(digest);
}

}  // namespace

// ---------------------------------------------------------------- digest value

std::uint32_t TMD5Digest::ToHexText(char* out) const {
  WriteHexBytes(out, words, sizeof words);
  return 16;
}

std::uint32_t TMD5Digest::ToHexTextIfSet(char* out) const {
  if (IsZero()) return 0;
  ToHexText(out);
  return 1;
}

TOrvString<char> TMD5Digest::ToString() const {
  char text[kHexLength];
  ToHexText(text);
  return TOrvString<char>(text, kHexLength);
}

TOrvString<char> TMD5Digest::ToStringIfSet() const { return IsZero() ? TOrvString<char>() : ToString(); }

TMD5Digest TMD5Digest::FromHexText(const char* text, std::uint32_t size) {
  if (text == nullptr || size < kHexLength) return TMD5Digest();
  return FromHexDigits(text);
}

TMD5Digest TMD5Digest::FromHexText(const char* text) {
  if (text == nullptr || strnlen(text, kHexLength) < kHexLength) return TMD5Digest();
  return FromHexDigits(text);
}

TMD5Digest TMD5Digest::FromHexString(const TOrvString<char>& text) {
  return FromHexText(text.GetData(), text.GetLength());
}

TMD5Digest TMD5Digest::FromHexString(const TOrvSubString<char>& text) {
  if (text.GetString() == nullptr) return TMD5Digest();
  return FromHexText(text.GetData(), text.GetLength());
}

bool operator<(const TMD5Digest& a, const TMD5Digest& b) {
  return std::lexicographical_compare(a.words, a.words + 4, b.words, b.words + 4);
}

// ---------------------------------------------------------------- context

TMD5::TMD5() : context_(EVP_MD_CTX_new()) {
  if (context_ == nullptr) throw std::bad_alloc();
  try {
    Init();
  } catch (...) {
    EVP_MD_CTX_free(context_);
    throw;
  }
}

TMD5::~TMD5() { EVP_MD_CTX_free(context_); }

void TMD5::Init() {
  if (EVP_DigestInit_ex2(context_, Md5Method(), nullptr) != 1) ThrowDigestFailure();
  finished_ = false;
}

void TMD5::Update(const void* data, std::int32_t size) {
  if (size <= 0 || finished_) return;
  if (EVP_DigestUpdate(context_, data, static_cast<std::size_t>(size)) != 1) ThrowDigestFailure();
}

void TMD5::Final(TMD5Digest& digest) {
  if (!finished_) {
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, bytes, &length) != 1 || length != sizeof result_.words) ThrowDigestFailure();
    std::memcpy(result_.words, bytes, sizeof result_.words);
    finished_ = true;
  }
  digest = result_;
}

// ---------------------------------------------------------------- one-call digests

void ComputeMD5(TMD5Digest& digest, const void* data, std::uint32_t size) { DigestBytes(digest, data, size); }

void ComputeMD5(TMD5Digest& digest, const TOrvString<char>& text) {
  DigestBytes(digest, text.GetData(), text.GetLength());
}

void ComputeMD5(TMD5Digest& digest, const TOrvString<wchar_t>& text) {
  DigestBytes(digest, text.GetData(), std::size_t{text.GetLength()} * sizeof(wchar_t));
}

}  // namespace Orvan
