// Upload of PUT bodies.
#include "network/database/upload_body.h"

#include <cstring>

namespace Orvan::Network {

std::uint32_t CopyUploadPart(const std::string& body, std::uint32_t& uploaded, void* buffer, std::uint32_t maxBytes) {
  const std::size_t left = uploaded < body.size() ? body.size() - uploaded : 0;
  const std::uint32_t n = left < maxBytes ? static_cast<std::uint32_t>(left) : maxBytes;
  if (n != 0) std::memcpy(buffer, body.data() + uploaded, n);
  uploaded += n;
  return n;
}

}  // namespace Orvan::Network
