// The small flag-holding singletons of the full engine start-up: the engine flags, the data-pack
// check switch and the store flags. Nothing on the server's path reads them; they keep their
// values after construction for engine users.
#pragma once

#include <cstdint>

#include "core/singletons/singleton.h"
#include "core/singletons/static_singleton_storage.h"

namespace Orvan {

// Engine flags, in a static block. The fields keep the engine's layout; what most of them mean is
// not recorded anywhere, so they are kept under neutral names with their start values.
class TCFFlags : public Meta::TSingleton<TCFFlags, false>, public TStaticSingletonStorage<TCFFlags> {
 public:
  struct TFields {
    std::uint32_t word0 = 0;
    std::uint32_t word1 = 0;
    std::uint32_t word2 = 0;
    std::uint8_t bytes[6] = {0, 0, 0, 1, 0, 0};
    std::uint8_t byte6 = 0;
    std::uint8_t moreBytes[4] = {0, 0, 0, 0};
    float frameSeconds = 1.0f / 30.0f;
    std::uint32_t word3 = 0;
    std::uint32_t word4 = 0;
    std::uint32_t word5 = 0;
    std::uint32_t word6 = 0;
    std::uint32_t word7 = 0;
  };

  TCFFlags() = default;

  // True when the first or the second byte of the byte group is set.
  bool IsFirstFlagPairSet() const { return fields_.bytes[0] != 0 || fields_.bytes[1] != 0; }
  bool IsSecondWordClear() const { return fields_.word1 == 0; }

  const TFields& GetFields() const { return fields_; }

 private:
  TFields fields_;
};

// Whether data packs are checked for integrity, in a static block; off after construction.
class TCheckDatapackIntegrity : public Meta::TSingleton<TCheckDatapackIntegrity, false>,
                                public TStaticSingletonStorage<TCheckDatapackIntegrity> {
 public:
  TCheckDatapackIntegrity() = default;

  std::uint8_t IsEnabled() const { return enabled_; }
  void SetEnabled(std::uint8_t enabled) { enabled_ = enabled; }

 private:
  std::uint8_t enabled_ = 0;
};

// Two store flags, made with operator new; both clear after construction. No platform service is
// called: setting a flag only records it.
class TStoreIntegration : public Meta::TSingleton<TStoreIntegration, false> {
 public:
  TStoreIntegration() = default;

  void SetFirstFlag() { firstFlag_ = 1; }
  void SetSecondFlag() { secondFlag_ = 1; }
  std::uint8_t GetFirstFlag() const { return firstFlag_; }
  std::uint8_t GetSecondFlag() const { return secondFlag_; }

 private:
  std::uint8_t firstFlag_ = 0;
  std::uint8_t secondFlag_ = 0;
};

}  // namespace Orvan
