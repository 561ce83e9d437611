// Greatest common divisor and least common multiple of two unsigned 32-bit numbers.
#pragma once

#include <cstdint>

namespace Orvan {

// Euclid's remainder loop; 1 (not the other number) when either is 0.
std::uint32_t Gcd(std::uint32_t a, std::uint32_t b);
// a / Gcd(a, b) * b in 32-bit arithmetic (a result past 2^32 - 1 wraps); 0 when either is 0.
std::uint32_t Lcm(std::uint32_t a, std::uint32_t b);

}  // namespace Orvan
