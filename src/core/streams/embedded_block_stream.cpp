// The embedded block: scrambled at compile time, unscrambled into a new memory stream.
#include "core/streams/embedded_block_stream.h"

#include <array>

namespace Orvan {

namespace {

// Every byte of the block is stored XORed with this key.
constexpr std::uint8_t kScrambleKey = 0xA7;
// The block's text: this line over and over, the last one cut at the block's end.
constexpr char kBlockLine[] = "Orvan engine embedded block, stored scrambled in the program image.\n";

constexpr std::array<std::uint8_t, kEmbeddedBlockSize> ScrambleBlock() {
  std::array<std::uint8_t, kEmbeddedBlockSize> block{};
  for (std::uint32_t i = 0; i < kEmbeddedBlockSize; ++i) {
    block[i] = static_cast<std::uint8_t>(kBlockLine[i % (sizeof kBlockLine - 1)]) ^ kScrambleKey;
  }
  return block;
}

constexpr std::array<std::uint8_t, kEmbeddedBlockSize> kStoredBlock = ScrambleBlock();

}  // namespace

TCountedPtr<TMemoryStream> MakeEmbeddedBlockStream() {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream(kEmbeddedBlockSize + 1));
  std::uint8_t* data = stream->GetData();
  for (std::uint32_t i = 0; i < kEmbeddedBlockSize; ++i) data[i] = kStoredBlock[i] ^ kScrambleKey;
  data[kEmbeddedBlockSize] = 0;
  return stream;
}

}  // namespace Orvan
