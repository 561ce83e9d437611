// The key a peer address is counted under in per-source tables. Keys come from a keyed hash with a
// secret drawn at start-up, so that nobody outside can choose an address whose key is another's;
// an IPv6 peer is keyed by its /64, the least a provider hands out, so one holder of a /64 is one
// source however many of its addresses it uses.
#pragma once

#include <sys/socket.h>

#include <cstdint>

namespace Orvan::Network {

// The hash's key: 128 bits, as SipHash takes.
inline constexpr std::uint32_t kSourceKeySecretSize = 16;

// The key of a peer address: IPv4 by the address, IPv4-mapped IPv6 as the IPv4 address it holds,
// other IPv6 by its first 64 bits, all through SipHash-2-4 under the secret, cut to 32 bits; the
// port plays no part. 0 for a null address and for other families.
std::uint32_t GetSourceKey(const sockaddr* address) noexcept;

// Replaces the secret drawn at start-up; for tests, while no other thread takes keys.
void SetSourceKeySecret(const std::uint8_t (&secret)[kSourceKeySecretSize]) noexcept;

}  // namespace Orvan::Network
