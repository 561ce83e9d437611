// TAbstractMemoryStream, the base of every stream whose bytes lie in memory: a TStream that is also
// a provider of views of its bytes. Its provider operations are answered from GetData and GetSize.
#pragma once

#include <cstdint>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_view_provider.h"
#include "core/streams/stream.h"

namespace Orvan {

// Every memory stream can be read and written.
inline constexpr std::uint32_t kMemoryStreamAccessFlags = 3;

class TAbstractMemoryStream : public TStream, public TMemoryViewProvider {
 public:
  TCountedPtr<TMemoryViewProvider> GetMemoryView(std::uint64_t offset, std::uint32_t length) override;
  // The first byte; null while a growable stream holds no buffer.
  virtual std::uint8_t* GetData() const = 0;
  virtual void Seek(std::uint32_t offset, std::uint32_t origin) = 0;
  TCountedPtr<TMemoryView> CreateMemoryView(std::uint64_t offset, std::uint32_t length, std::uint8_t flag) override;
  // Only the low 32 bits of an offset can name a byte: a larger offset copies nothing.
  void ReadAt(void* destination, std::uint64_t offset, std::uint32_t count) const override;
  std::uint64_t GetProvidedSize() const override { return GetSize(); }
  std::uint32_t GetAccessFlags() const override { return kMemoryStreamAccessFlags; }

 protected:
  TAbstractMemoryStream() = default;
};

}  // namespace Orvan
