// The cap on an HTTP answer body collected in memory: a peer that sends more (or streams without
// end) fails its transfer instead of growing the server's memory.
#pragma once

#include <cstddef>
#include <sstream>

#include "core/text/engine_string.h"

namespace Orvan::Network {

// The largest answer body kept: 16 MiB, far above any statistics document or result answer.
inline constexpr std::size_t kMaxAnswerBytes = 16u * 1024u * 1024u;
// The largest answer kept where the answer is one small document (a player's statistics, the
// game information: a few hundred bytes to a few kilobytes): 1 MiB, so that the 20 transfers the
// server runs at once cannot hold more than 20 MiB of such answers between them.
inline constexpr std::size_t kMaxDocumentAnswerBytes = 1024u * 1024u;

// Appends the bytes to `answer` unless the body would then exceed `limit` bytes. Past the cap
// nothing is appended, a warning naming `url` is logged as said by `caller` ("Class::Operation()"),
// and false is returned: a libcurl write callback then hands back 0, which ends the transfer as
// failed (so the line is logged once per transfer).
bool AppendWithinAnswerLimit(std::ostringstream& answer, const char* data, std::size_t length, const char* caller,
                             const TOrvString<char>& url, std::size_t limit = kMaxAnswerBytes);

}  // namespace Orvan::Network
