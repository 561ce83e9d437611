// The log lines about connections that never became clients (accepted, failed receive, refused
// before identification or by a limit), held to a few a second per source and in all: a flood of
// short connections from one or many addresses would otherwise write a line of its own for each,
// every one different (port, socket number), which the logger's repeat collapse cannot fold.
// Connections beyond the share write nothing; how they ended is summed up once a second.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "core/text/engine_string.h"
#include "core/time/time_stamp.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Dedicated {

// Connections from one source whose lines are written: this many a second, after a burst of this
// many (players behind one address, or tests, connecting at once).
inline constexpr double kLoggedConnectionsPerSecondPerSource = 3.0;
inline constexpr double kLoggedConnectionBurstPerSource = 20.0;
// The same for all sources together.
inline constexpr double kLoggedConnectionsPerSecond = 20.0;
inline constexpr double kLoggedConnectionBurst = 100.0;
// Sources whose share of lines is remembered; one back to a full share is forgotten first, and a
// new source finding the table full of busy ones is not written about.
inline constexpr std::uint32_t kMaxLoggedSources = 1024;
// Summary lines a second naming their source; the connections of further sources are summed up
// in one more line.
inline constexpr std::uint32_t kSummarySourcesPerSecond = 16;
// Reasons counted apart in one summary line; further ones are counted as "other".
inline constexpr std::uint32_t kSummaryReasonsPerLine = 8;

class TConnectionLogLimiter {
 public:
  TConnectionLogLimiter();

  // Whether the lines about a new connection (or a connection refused at accept) from the address
  // are written; when false, the caller writes none and counts the connection's end instead.
  bool TakeLine(const sockaddr_storage& address, TTimeStamp now);
  // A connection that was not written about ended: refused or closed for `reason` (a text that
  // lives as long as the program, such as a disconnect reason's name).
  void CountEnd(const sockaddr_storage& address, const char* reason, TTimeStamp now);
  // Once the second that started with the first count is over, one line per source counted, "N
  // connections from A refused or closed in the last second (reason count, ...)", and the counts
  // start again.
  void Flush(TTimeStamp now);
  // Whether anything is counted for the next summary.
  bool HasCounts() const { return !summaries_.empty() || others_.total != 0; }

 private:
  struct TReasonCount {
    const char* reason;
    std::uint32_t count;
  };
  struct TSummary {
    std::uint32_t source = 0;
    TOrvString<char> host;
    std::uint32_t total = 0;
    std::vector<TReasonCount> reasons;
    std::uint32_t otherReasons = 0;
  };
  static void Count(TSummary& summary, const char* reason);
  static TOrvString<char> ReasonsText(const TSummary& summary);

  Network::TPerSourceTable<Network::TTokenBucket> shares_{kMaxLoggedSources};
  Network::TTokenBucket overall_;
  std::vector<TSummary> summaries_;
  // The connections of the sources beyond kSummarySourcesPerSecond.
  TSummary others_;
  TTimeStamp countingSince_ = 0;
};

}  // namespace Orvan::Dedicated
