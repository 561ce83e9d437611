// The lazily seeded random generator.
#include "core/filesystem/seeded_random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace Orvan {
namespace {

std::uint32_t Djb2(const void* data, std::size_t size) {
  std::uint32_t h = 5381;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) h = h * 33 + bytes[i];
  return h;
}

void ExpectSameDraws(TWichmannHillRandom& a, std::uint64_t seed) {
  TWichmannHillRandom b;
  b.Seed(seed);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(a.Next(), b.Next()) << i;
}

TEST(SeededRandom, SeededFromBaseAndSourceOnFirstUse) {
  const std::uint32_t elements[] = {1, 2, 3};
  const TSeededRandomSource source{elements, 3};
  TSeededRandomOwner owner(&source, 7);
  EXPECT_EQ(owner.generator, nullptr);
  TWichmannHillRandom* generator = GetSeededRandom(owner);
  ASSERT_NE(generator, nullptr);
  EXPECT_EQ(owner.generator, generator);
  EXPECT_EQ(GetSeededRandom(owner), generator);
  ExpectSameDraws(*generator, 7 + std::uint64_t{Djb2(elements, sizeof(elements))});
}

TEST(SeededRandom, BaseSeedAloneWithoutSource) {
  TSeededRandomOwner owner(nullptr, 0xFFFFFFFFu);
  ExpectSameDraws(*GetSeededRandom(owner), 0xFFFFFFFFu);
  // The sum is taken in 64 bits: the base and the hash do not wrap at 32.
  const std::uint32_t element = 0xFFFFFFFFu;
  const TSeededRandomSource source{&element, 1};
  TSeededRandomOwner wide(&source, 0xFFFFFFFFu);
  ExpectSameDraws(*GetSeededRandom(wide), std::uint64_t{0xFFFFFFFFu} + Djb2(&element, 4));
}

TEST(SeededRandom, OwnerWithoutGeneratorFreesNothing) { TSeededRandomOwner owner; }

}  // namespace
}  // namespace Orvan
