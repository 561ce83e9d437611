// A small, fast, repeatable random generator: the Wichmann-Hill combination of three
// multiplicative congruential generators, in single precision. The same seed gives the same
// sequence on every machine, for engine code that must reproduce its draws.
#pragma once

#include <cstdint>

namespace Orvan {

class TWichmannHillRandom {
 public:
  // Seeded from the clock.
  TWichmannHillRandom();

  // Each word lands in 1 .. modulus - 1, never 0.
  void Seed(std::uint64_t value);
  // Seed of the wall-clock seconds shifted left by 8.
  void SeedFromTime();

  // In [0, 1).
  float Next();
  float Uniform(float a, float b);
  // From a up to b: the scaling is in single precision, so a range wider than 2^24 cannot give
  // every value and a draw close to 1 can give b itself. a when a >= b, without drawing.
  std::int32_t RandomInt(std::int32_t a, std::int32_t b);
  std::int32_t RandomInt();
  std::uint32_t RandomUInt(std::uint32_t a, std::uint32_t b);
  std::uint32_t RandomUInt();

  std::uint32_t GetS1() const { return s1_; }
  std::uint32_t GetS2() const { return s2_; }
  std::uint32_t GetS3() const { return s3_; }

 private:
  std::uint32_t s1_ = 1;
  std::uint32_t s2_ = 1;
  std::uint32_t s3_ = 1;
};

}  // namespace Orvan
