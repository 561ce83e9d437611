// Greatest common divisor and least common multiple.
#include "core/numbers/divisors.h"

namespace Orvan {

std::uint32_t Gcd(std::uint32_t a, std::uint32_t b) {
  if (a == 0 || b == 0) return 1;
  while (b != 0) {
    const std::uint32_t rest = a % b;
    a = b;
    b = rest;
  }
  return a;
}

std::uint32_t Lcm(std::uint32_t a, std::uint32_t b) {
  if (a == 0 || b == 0) return 0;
  return a / Gcd(a, b) * b;
}

}  // namespace Orvan
