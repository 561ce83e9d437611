// Decoding of the salts and password digests stored in user records: hexadecimal text and base64
// text into fixed-size byte buffers.
#pragma once

#include <cstdint>

namespace Orvan::Network {

// Two characters per byte ('0'-'9', 'a'-'f', 'A'-'F'; any other character counts as 0). Stops with
// false when the text ends before `n` bytes (the bytes written stay); after `n` bytes, true only
// when the text ends exactly there.
bool HexToBytes(const char* text, std::uint8_t* out, std::uint32_t n);

// Reads up to `n` bytes from the base64 text (whose lines must end with a line break). When fewer
// come out, the `n` bytes are zeroed and false is returned.
bool Base64DecodeToBuffer(const char* text, std::uint8_t* out, std::uint32_t n);

}  // namespace Orvan::Network
