// Source keys: which addresses count as one source, and that the keys depend on the secret.
#include "network/sockets/source_key.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace Orvan::Network {
namespace {

constexpr std::uint8_t kSecretA[kSourceKeySecretSize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr std::uint8_t kSecretB[kSourceKeySecretSize] = {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

// An address of either family from its text, with a port.
sockaddr_storage Address(const std::string& text, std::uint16_t port = 4000) {
  sockaddr_storage storage{};
  if (text.find(':') == std::string::npos) {
    auto* address = reinterpret_cast<sockaddr_in*>(&storage);
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &address->sin_addr), 1) << text;
  } else {
    auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
    address->sin6_family = AF_INET6;
    address->sin6_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), &address->sin6_addr), 1) << text;
  }
  return storage;
}

std::uint32_t KeyOf(const std::string& text, std::uint16_t port = 4000) {
  const sockaddr_storage address = Address(text, port);
  return GetSourceKey(reinterpret_cast<const sockaddr*>(&address));
}

TEST(SourceKey, AddressesOfOneSourceShareAKeyAndOthersDoNot) {
  SetSourceKeySecret(kSecretA);
  struct TCase {
    const char* a;
    const char* b;
    bool same;
  };
  const std::vector<TCase> cases = {
      // Folded by XOR, these two had one key: any holder of a /64 could take an operator's.
      {"2001:db8:1:2:7856:3412:9356:b750", "::ffff:203.0.113.7", false},
      {"203.0.113.7", "::ffff:203.0.113.7", true},
      {"203.0.113.7", "203.0.113.8", false},
      {"2001:db8:1:2::1", "2001:db8:1:2:ffff:ffff:ffff:ffff", true},
      {"2001:db8:1:2::1", "2001:db8:1:3::1", false},
      {"2001:db8:1:2::1", "2001:db9:1:2::1", false},
      // An IPv4 address and a /64 whose first bytes are the same bytes are still two sources.
      {"1.2.3.4", "102:304::", false},
      {"0.0.0.0", "::", false},
      {"127.0.0.1", "::1", false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(KeyOf(c.a) == KeyOf(c.b), c.same) << c.a << " / " << c.b;
    // The port never matters.
    EXPECT_EQ(KeyOf(c.a, 1), KeyOf(c.a, 65535)) << c.a;
  }
  sockaddr unknown{};
  unknown.sa_family = AF_UNIX;
  EXPECT_EQ(GetSourceKey(&unknown), 0u);
  EXPECT_EQ(GetSourceKey(nullptr), 0u);
}

TEST(SourceKey, ManySourcesGetManyKeys) {
  SetSourceKeySecret(kSecretA);
  std::set<std::uint32_t> ipv4;
  std::set<std::uint32_t> ipv6;
  for (std::uint32_t i = 0; i < 1024; ++i) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x0A000000u + i);
    ipv4.insert(GetSourceKey(reinterpret_cast<const sockaddr*>(&address)));
    // Prefixes that differ in their last bit or their first.
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr.s6_addr[0] = 0x20;
    address6.sin6_addr.s6_addr[6] = static_cast<std::uint8_t>(i >> 8);
    address6.sin6_addr.s6_addr[7] = static_cast<std::uint8_t>(i);
    ipv6.insert(GetSourceKey(reinterpret_cast<const sockaddr*>(&address6)));
  }
  EXPECT_EQ(ipv4.size(), 1024u);
  EXPECT_EQ(ipv6.size(), 1024u);
}

TEST(SourceKey, TheSecretDecidesTheKeys) {
  const std::vector<std::string> addresses = {"203.0.113.7", "10.0.0.1", "2001:db8:1:2::1", "::ffff:198.51.100.1"};
  SetSourceKeySecret(kSecretA);
  std::vector<std::uint32_t> underA;
  for (const std::string& address : addresses) underA.push_back(KeyOf(address));
  SetSourceKeySecret(kSecretB);
  for (std::size_t i = 0; i < addresses.size(); ++i) EXPECT_NE(KeyOf(addresses[i]), underA[i]) << addresses[i];
  // The same secret gives the same keys again.
  SetSourceKeySecret(kSecretA);
  for (std::size_t i = 0; i < addresses.size(); ++i) EXPECT_EQ(KeyOf(addresses[i]), underA[i]) << addresses[i];
}

}  // namespace
}  // namespace Orvan::Network
