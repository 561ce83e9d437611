// OrvNetId: the 64-bit id of every party the server deals with (a player, a team, an IPv4
// endpoint), its kind in the top byte. Ids are keys of the server's maps (hashed by their low
// word), travel as big-endian u64 and print in decimal.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/text/engine_string.h"

namespace Orvan::Network {

class OrvNetId {
 public:
  static constexpr std::uint8_t kKindClient = 0;
  static constexpr std::uint8_t kKindTeam = 1;
  static constexpr std::uint8_t kKindTwo = 2;
  static constexpr std::uint8_t kKindAddress = 4;
  // A top byte of all ones never names a valid id.
  static constexpr std::uint8_t kKindInvalid = 255;

  // The invalid id.
  constexpr OrvNetId() noexcept = default;
  constexpr OrvNetId(std::uint32_t low, std::uint32_t high) noexcept : low_(low), high_(high) {}
  static constexpr OrvNetId FromValue(std::uint64_t value) noexcept {
    return OrvNetId(static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32));
  }

  void Invalidate() noexcept { low_ = high_ = 0xFFFFFFFFu; }
  // An address id: low word the IPv4 address, high word the port, then kind 4.
  void FromAddress(std::uint32_t address, std::uint16_t port) noexcept;
  // Decimal text read by strtoull over the NUL-terminated `text`; the id is invalid unless exactly
  // `length` characters were taken.
  void FromString(const char* text, int length) noexcept;

  constexpr std::uint64_t GetValue() const noexcept { return (std::uint64_t{high_} << 32) | low_; }
  constexpr std::uint32_t GetHash() const noexcept { return low_; }
  constexpr std::uint32_t GetIpAddress() const noexcept { return low_; }
  constexpr std::uint32_t GetHighWord() const noexcept { return high_; }
  constexpr bool IsValid() const noexcept {
    return !(low_ == 0xFFFFFFFFu && high_ == 0xFFFFFFFFu) && GetKind() != kKindInvalid;
  }

  constexpr std::uint8_t GetKind() const noexcept { return static_cast<std::uint8_t>(high_ >> 24); }
  void SetKind(std::uint8_t kind) noexcept { high_ = (high_ & 0x00FFFFFFu) | (std::uint32_t{kind} << 24); }
  bool IsClientId() const noexcept { return GetKind() == kKindClient; }
  void SetClientKind() noexcept { SetKind(kKindClient); }
  bool IsTeamId() const noexcept { return GetKind() == kKindTeam; }
  void SetTeamKind() noexcept { SetKind(kKindTeam); }
  bool IsKindTwo() const noexcept { return GetKind() == kKindTwo; }
  void SetKindTwo() noexcept { SetKind(kKindTwo); }
  bool IsAddressId() const noexcept { return GetKind() == kKindAddress; }
  void SetAddressKind() noexcept { SetKind(kKindAddress); }

  // The whole value in unsigned decimal.
  TOrvString<char> ToString() const;

  friend constexpr bool operator==(const OrvNetId& a, const OrvNetId& b) noexcept {
    return a.low_ == b.low_ && a.high_ == b.high_;
  }
  friend constexpr bool operator!=(const OrvNetId& a, const OrvNetId& b) noexcept { return !(a == b); }
  friend constexpr bool operator<(const OrvNetId& a, const OrvNetId& b) noexcept { return a.GetValue() < b.GetValue(); }

 private:
  // Low word first, as the maps keyed by ids lay their entries out.
  std::uint32_t low_ = 0xFFFFFFFFu;
  std::uint32_t high_ = 0xFFFFFFFFu;
};

static_assert(sizeof(OrvNetId) == 8 && std::is_trivially_copyable_v<OrvNetId>, "an id is 8 plain bytes");

// The hash of id keys: the low word.
struct TNetIdHash {
  std::uint32_t operator()(const OrvNetId& id) const noexcept { return id.GetHash(); }
};

}  // namespace Orvan::Network
