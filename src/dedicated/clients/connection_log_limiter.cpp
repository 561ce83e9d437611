// The shares of log lines about connections that never became clients, and the summary of the
// rest.
#include "dedicated/clients/connection_log_limiter.h"

#include <string>

#include "network/logging/network_hooks.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

const sockaddr* AsAddress(const sockaddr_storage& address) { return reinterpret_cast<const sockaddr*>(&address); }

TOrvString<char> Decimal(std::uint32_t value) { return TOrvString<char>(std::to_string(value)); }

}  // namespace

TConnectionLogLimiter::TConnectionLogLimiter() : overall_(kLoggedConnectionsPerSecond, kLoggedConnectionBurst) {}

bool TConnectionLogLimiter::TakeLine(const sockaddr_storage& address, TTimeStamp now) {
  Network::TTokenBucket* share = shares_.FindOrAdd(
      Network::GetSourceKey(AsAddress(address)),
      Network::TTokenBucket(kLoggedConnectionsPerSecondPerSource, kLoggedConnectionBurstPerSource),
      [now](const Network::TTokenBucket& bucket) { return bucket.IsFull(now); });
  if (share == nullptr || share->GetTokens(now) < 1.0) return false;
  if (!overall_.TryTake(now)) return false;
  share->TryTake(now);
  return true;
}

void TConnectionLogLimiter::Count(TSummary& summary, const char* reason) {
  ++summary.total;
  for (TReasonCount& counted : summary.reasons) {
    if (counted.reason == reason) {
      ++counted.count;
      return;
    }
  }
  if (summary.reasons.size() < kSummaryReasonsPerLine) {
    summary.reasons.push_back({reason, 1});
  } else {
    ++summary.otherReasons;
  }
}

void TConnectionLogLimiter::CountEnd(const sockaddr_storage& address, const char* reason, TTimeStamp now) {
  if (!HasCounts()) countingSince_ = now;
  const std::uint32_t source = Network::GetSourceKey(AsAddress(address));
  for (TSummary& summary : summaries_) {
    if (summary.source == source) {
      Count(summary, reason);
      return;
    }
  }
  if (summaries_.size() >= kSummarySourcesPerSecond) {
    Count(others_, reason);
    return;
  }
  TSummary& summary = summaries_.emplace_back();
  summary.source = source;
  summary.host = Network::SockAddrToHostString(AsAddress(address));
  Count(summary, reason);
}

TOrvString<char> TConnectionLogLimiter::ReasonsText(const TSummary& summary) {
  TOrvString<char> text;
  for (const TReasonCount& counted : summary.reasons) {
    if (!text.IsEmpty()) text += ", ";
    text += TOrvString<char>(counted.reason) + " " + Decimal(counted.count);
  }
  if (summary.otherReasons != 0) text += ", other " + Decimal(summary.otherReasons);
  return text;
}

void TConnectionLogLimiter::Flush(TTimeStamp now) {
  if (!HasCounts() || GetElapsedSeconds(countingSince_, now) < 1.0) return;
  for (const TSummary& summary : summaries_) {
    Network::NetworkLog(Network::kNetworkLogInformation, Decimal(summary.total) + " connections from " +
                                                             summary.host + " refused or closed in the last second (" +
                                                             ReasonsText(summary) + ")");
  }
  if (others_.total != 0) {
    Network::NetworkLog(Network::kNetworkLogInformation,
                        Decimal(others_.total) +
                            " connections from other addresses refused or closed in the last second (" +
                            ReasonsText(others_) + ")");
  }
  summaries_.clear();
  others_ = TSummary{};
}

}  // namespace Orvan::Dedicated
