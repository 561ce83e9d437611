// A random generator made on first use and seeded from its owner's data, so that the same owner
// data draws the same sequence in every run.
#pragma once

#include <cstdint>

#include "core/numbers/wichmann_hill_random.h"

namespace Orvan {

// The data a generator's seed is taken from: `count` elements of 4 bytes.
struct TSeededRandomSource {
  const std::uint32_t* elements = nullptr;
  std::uint32_t count = 0;
};

class TSeededRandomOwner {
 public:
  TSeededRandomOwner() = default;
  TSeededRandomOwner(const TSeededRandomSource* source, std::uint32_t baseSeed) : source(source), baseSeed(baseSeed) {}
  // Frees the generator when one was made.
  ~TSeededRandomOwner();
  TSeededRandomOwner(const TSeededRandomOwner&) = delete;
  TSeededRandomOwner& operator=(const TSeededRandomOwner&) = delete;

  const TSeededRandomSource* source = nullptr;  // may be null
  std::uint32_t baseSeed = 0;
  TWichmannHillRandom* generator = nullptr;  // null until the first GetSeededRandom
};

// The owner's generator, made on the first call and seeded with the base seed plus the djb2 of the
// source's bytes (the base seed alone without a source). std::bad_alloc when it cannot be made.
TWichmannHillRandom* GetSeededRandom(TSeededRandomOwner& owner);

}  // namespace Orvan
