// The Wichmann-Hill generator.
#include "core/numbers/wichmann_hill_random.h"

#include <ctime>
#include <limits>

namespace Orvan {

namespace {

constexpr std::uint32_t kModulus1 = 30269;
constexpr std::uint32_t kModulus2 = 30307;
constexpr std::uint32_t kModulus3 = 30323;

}  // namespace

TWichmannHillRandom::TWichmannHillRandom() { SeedFromTime(); }

void TWichmannHillRandom::Seed(std::uint64_t value) {
  // One less than each modulus, so that no word is 0.
  s1_ = static_cast<std::uint32_t>(value % (kModulus1 - 1) + 1);
  value /= kModulus1 - 1;
  s2_ = static_cast<std::uint32_t>(value % (kModulus2 - 1) + 1);
  s3_ = static_cast<std::uint32_t>((value / (kModulus2 - 1)) % (kModulus3 - 1) + 1);
}

void TWichmannHillRandom::SeedFromTime() {
  const auto seconds = static_cast<std::int64_t>(std::time(nullptr));
  Seed(static_cast<std::uint64_t>(seconds) << 8);
}

float TWichmannHillRandom::Next() {
  s1_ = (s1_ * 171) % kModulus1;
  s2_ = (s2_ * 172) % kModulus2;
  s3_ = (s3_ * 170) % kModulus3;
  float r = static_cast<float>(s1_) / static_cast<float>(kModulus1);
  r += static_cast<float>(s2_) / static_cast<float>(kModulus2);
  r += static_cast<float>(s3_) / static_cast<float>(kModulus3);
  return r - static_cast<float>(static_cast<std::int32_t>(r));
}

float TWichmannHillRandom::Uniform(float a, float b) { return Next() * (b - a) + a; }

std::int32_t TWichmannHillRandom::RandomInt(std::int32_t a, std::int32_t b) {
  if (a >= b) return a;
  const std::int64_t range = std::int64_t{b} - a;
  return static_cast<std::int32_t>(a + static_cast<std::int64_t>(Next() * static_cast<float>(range)));
}

std::int32_t TWichmannHillRandom::RandomInt() {
  return RandomInt(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
}

std::uint32_t TWichmannHillRandom::RandomUInt(std::uint32_t a, std::uint32_t b) {
  if (a >= b) return a;
  return a + static_cast<std::uint32_t>(static_cast<float>(b - a) * Next());
}

std::uint32_t TWichmannHillRandom::RandomUInt() { return RandomUInt(0, std::numeric_limits<std::uint32_t>::max()); }

}  // namespace Orvan
