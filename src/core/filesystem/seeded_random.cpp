// The lazily seeded random generator.
#include "core/filesystem/seeded_random.h"

#include <cstddef>
#include <new>

#include "core/memory/global_allocation.h"
#include "core/text/text_hash.h"

namespace Orvan {

TSeededRandomOwner::~TSeededRandomOwner() {
  if (generator == nullptr) return;
  generator->~TWichmannHillRandom();
  FreeMemory(kDomainOperatorNew, generator);
}

TWichmannHillRandom* GetSeededRandom(TSeededRandomOwner& owner) {
  if (owner.generator != nullptr) return owner.generator;
  std::uint64_t seed = owner.baseSeed;
  if (const TSeededRandomSource* source = owner.source) {
    const auto* bytes = reinterpret_cast<const char*>(source->elements);
    seed += HashDjb2(bytes, bytes + std::size_t{source->count} * 4);
  }
  void* storage = AllocateMemory(kDomainOperatorNew, sizeof(TWichmannHillRandom), true);
  auto* generator = ::new (storage) TWichmannHillRandom();
  generator->Seed(seed);
  owner.generator = generator;
  return generator;
}

}  // namespace Orvan
