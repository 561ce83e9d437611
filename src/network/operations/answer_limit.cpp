// The cap on collected answer bodies.
#include "network/operations/answer_limit.h"

#include <string>

#include "network/logging/network_hooks.h"

namespace Orvan::Network {

bool AppendWithinAnswerLimit(std::ostringstream& answer, const char* data, std::size_t length, const char* caller,
                             const TOrvString<char>& url, std::size_t limit) {
  const std::streamoff held = answer.tellp();
  const std::size_t size = held > 0 ? static_cast<std::size_t>(held) : 0;
  if (size > limit || length > limit - size) {
    NetworkLog(kNetworkLogWarning, TOrvString<char>(caller) + " -> answer from " + url + " exceeds " +
                                       TOrvString<char>(std::to_string(limit)) +
                                       " bytes: transfer failed");
    return false;
  }
  answer.write(data, static_cast<std::streamsize>(length));
  return true;
}

}  // namespace Orvan::Network
