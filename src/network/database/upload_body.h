// The upload side of the PUT requests: their body text handed to the transfer part by part.
#pragma once

#include <cstdint>
#include <string>

namespace Orvan::Network {

// Copies the next part of `body` after the `uploaded` bytes already sent, at most `maxBytes`, and
// counts it as sent. Returns the bytes copied: 0 at the end.
std::uint32_t CopyUploadPart(const std::string& body, std::uint32_t& uploaded, void* buffer, std::uint32_t maxBytes);

}  // namespace Orvan::Network
