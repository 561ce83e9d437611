// A 16-byte payload that a core dump carries, held by a singleton whose storage is one static
// block inside the program: building it never allocates, and deleting it frees nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/singletons/singleton.h"

namespace Orvan {

class TCoreDumpPayload : public Meta::TSingleton<TCoreDumpPayload, false> {
 public:
  static constexpr std::size_t kPayloadBytes = 16;

  TCoreDumpPayload() = default;

  // Every instance takes the same static block, whatever the size asked.
  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;

  const std::uint8_t* GetPayload() const { return payload_; }

 private:
  std::uint8_t payload_[kPayloadBytes] = {};
};

}  // namespace Orvan
