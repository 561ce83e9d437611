// A memory stream over the fixed block the program carries in its image, kept there scrambled so
// that the text does not stand in the executable as it is.
#pragma once

#include <cstdint>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"

namespace Orvan {

// The block's size in bytes; the stream holds it and a NUL after it.
inline constexpr std::uint32_t kEmbeddedBlockSize = 4096;

// A new stream at position 0 holding the unscrambled block and a NUL. std::bad_alloc when the
// stream cannot be had.
TCountedPtr<TMemoryStream> MakeEmbeddedBlockStream();

}  // namespace Orvan
