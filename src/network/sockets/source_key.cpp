// Source keys through OpenSSL's SipHash, under a secret from its random generator.
#include "network/sockets/source_key.h"

#include <netinet/in.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>
#include <random>

namespace Orvan::Network {

namespace {

// The hash's output: 64 bits, of which the key keeps the low 32.
constexpr std::size_t kSourceHashSize = 8;
// What is hashed: a family tag, then 4 bytes of IPv4 or the 8 bytes of an IPv6 /64, so that no IPv4
// address and /64 ever hash the same input.
constexpr std::uint8_t kIpv4Tag = 4;
constexpr std::uint8_t kIpv6Tag = 6;
constexpr std::size_t kIpv6PrefixBytes = 8;

struct TSecret {
  std::uint8_t bytes[kSourceKeySecretSize];
};

TSecret DrawSecret() noexcept {
  TSecret secret{};
  if (RAND_bytes(secret.bytes, static_cast<int>(sizeof(secret.bytes))) == 1) return secret;
  // OpenSSL's generator failing to seed is all but unheard of; the system's random device is a
  // cryptographic one on Linux too.
  std::random_device device;
  for (std::uint8_t& byte : secret.bytes) byte = static_cast<std::uint8_t>(device());
  return secret;
}

TSecret& Secret() noexcept {
  static TSecret secret = DrawSecret();
  return secret;
}

struct TMacFree {
  void operator()(EVP_MAC* mac) const noexcept { EVP_MAC_free(mac); }
  void operator()(EVP_MAC_CTX* context) const noexcept { EVP_MAC_CTX_free(context); }
};

// One hashing context per thread, made at its first key and set up afresh for each key, so taking
// a key allocates nothing and needs no lock.
EVP_MAC_CTX* ThreadContext() noexcept {
  static const std::unique_ptr<EVP_MAC, TMacFree> mac(EVP_MAC_fetch(nullptr, "SIPHASH", nullptr));
  if (mac == nullptr) return nullptr;
  thread_local const std::unique_ptr<EVP_MAC_CTX, TMacFree> context(EVP_MAC_CTX_new(mac.get()));
  return context.get();
}

std::uint32_t Hash(const std::uint8_t* input, std::size_t length) noexcept {
  EVP_MAC_CTX* context = ThreadContext();
  std::size_t size = kSourceHashSize;
  const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &size), OSSL_PARAM_END};
  std::uint8_t output[kSourceHashSize] = {};
  std::size_t written = 0;
  if (context == nullptr || EVP_MAC_init(context, Secret().bytes, sizeof(Secret().bytes), parameters) != 1 ||
      EVP_MAC_update(context, input, length) != 1 || EVP_MAC_final(context, output, &written, sizeof(output)) != 1) {
    // Without the hash every address of a family would share one key and be refused together:
    // fall back on the input's own bytes, which at least tells sources apart.
    std::uint32_t folded = 0;
    for (std::size_t i = 0; i < length; ++i) folded = folded * 16777619u ^ input[i];
    return folded;
  }
  std::uint32_t key;
  std::memcpy(&key, output, sizeof(key));
  return key;
}

}  // namespace

std::uint32_t GetSourceKey(const sockaddr* address) noexcept {
  if (address == nullptr) return 0;
  std::uint8_t input[1 + kIpv6PrefixBytes];
  if (address->sa_family == AF_INET) {
    input[0] = kIpv4Tag;
    std::memcpy(input + 1, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    return Hash(input, 1 + 4);
  }
  if (address->sa_family == AF_INET6) {
    const in6_addr& ip = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&ip)) {
      input[0] = kIpv4Tag;
      std::memcpy(input + 1, ip.s6_addr + 12, 4);
      return Hash(input, 1 + 4);
    }
    input[0] = kIpv6Tag;
    std::memcpy(input + 1, ip.s6_addr, kIpv6PrefixBytes);
    return Hash(input, 1 + kIpv6PrefixBytes);
  }
  return 0;
}

void SetSourceKeySecret(const std::uint8_t (&secret)[kSourceKeySecretSize]) noexcept {
  std::memcpy(Secret().bytes, secret, sizeof(Secret().bytes));
}

}  // namespace Orvan::Network
