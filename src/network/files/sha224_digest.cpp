// SHA-224 over OpenSSL's EVP digests.
#include "network/files/sha224_digest.h"

#include <openssl/evp.h>

namespace Orvan::Network {

TSha224::~TSha224() { EVP_MD_CTX_free(context_); }

bool TSha224::Start() {
  if (context_ == nullptr) context_ = EVP_MD_CTX_new();
  started_ = context_ != nullptr && EVP_DigestInit_ex(context_, EVP_sha224(), nullptr) == 1;
  return started_;
}

bool TSha224::Update(const void* data, std::size_t size) {
  if (!started_) return false;
  if (size == 0) return true;
  started_ = EVP_DigestUpdate(context_, data, size) == 1;
  return started_;
}

bool TSha224::Finish(std::uint8_t (&digest)[kSha224Size]) {
  if (!started_) return false;
  started_ = false;
  unsigned int length = 0;
  return EVP_DigestFinal_ex(context_, digest, &length) == 1 && length == kSha224Size;
}

}  // namespace Orvan::Network
