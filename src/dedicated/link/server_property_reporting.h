// The UDP property query on the client port number: "getinfos " and a 4-byte challenge are answered
// with the challenge and every published server property as key/value text, so that server lists
// can show the game without joining it. It listens only while the match-making link is up.
#pragma once

#include <event2/util.h>
#include <sys/socket.h>

#include <cstdint>
#include <map>

#include "core/text/engine_string.h"
#include "core/time/time_stamp.h"
#include "network/logging/repeat_window.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Network {
class TUdpSocket;
}  // namespace Orvan::Network

namespace Orvan::Dedicated {

// A query is exactly the prefix (with its blank) followed by the challenge.
inline constexpr char kPropertyQueryPrefix[] = "getinfos ";
inline constexpr std::uint32_t kPropertyQueryPrefixSize = sizeof(kPropertyQueryPrefix) - 1;
inline constexpr std::uint32_t kPropertyQueryChallengeSize = 4;
// Datagrams are received into, and replies built in, a buffer of this size; a reply never takes
// its last byte, so the largest reply is 2047 bytes: the challenge and 2043 bytes of text.
inline constexpr std::uint32_t kPropertyQueryBufferSize = 2048;
inline constexpr std::uint32_t kPropertyReplyMaximum = kPropertyQueryBufferSize - 1;
// Datagrams handled per readable event: a steady flood must not keep the main loop in one callback.
// The persistent read event fires again on the next pass of the event loop for the rest.
inline constexpr std::uint32_t kPropertyQueriesPerEvent = 64;
// A reply is up to 2047 bytes for a query of 13, from a source address nobody checks: answered at
// will, the query would turn the server on anyone as a reflector. So each source address is answered
// at most 10 times a second (bursts of 20), all of them together at most 1,000 times a second, and
// the rest are dropped, with one log line a second at most saying how many.
inline constexpr double kPropertyQueriesPerSourcePerSecond = 10.0;
inline constexpr double kPropertyQueryBurstPerSource = 20.0;
inline constexpr double kPropertyQueriesPerSecond = 1000.0;
// Sources followed at once (an IPv6 /64 is one source), which bounds the table under a flood from
// many addresses. A new one past them takes the room of the known ones whose burst is whole again
// (two seconds after their last query at most), else of the one that queried least recently: a
// table filled with spoofed addresses never shuts out a real querier.
inline constexpr std::uint32_t kPropertyQuerySources = 1024;
// The byte between keys and values of a reply.
inline constexpr char kPropertyReplySeparator = '\x01';
// Room a value set by an operator must leave free in the reply text: the server's own counters
// (players, seed, time left, game state, 10 digits at most each) grow into it while it runs.
inline constexpr std::uint32_t kPropertyReplyReserve = 4 * 10;

// Whether a pair can be published, and if not, why.
enum class EPropertyPublication { kPublishable, kNotPrintableAscii, kTooLong };

class TServerPropertyReporting {
 public:
  TServerPropertyReporting() = default;
  // Closes and deletes the socket when it is still there.
  ~TServerPropertyReporting();
  TServerPropertyReporting(const TServerPropertyReporting&) = delete;
  TServerPropertyReporting& operator=(const TServerPropertyReporting&) = delete;

  // Binds a UDP socket on every address at the main task's client port, on its event loop. Any
  // socket of an earlier start is closed first. False, logged, when the socket cannot be made or
  // bound (a socket that failed to bind stays, closed, until StopListening).
  bool StartListening();
  // False when there is no socket; else closes and deletes it.
  bool StopListening();
  bool IsListening() const;

  // Publishes the pair. Keys and values with a byte below 32 (as a signed char: so also every byte
  // from 0x80 on, UTF-8 text beyond ASCII) are refused: false, and the old entry stays.
  bool SetProperty(const TOrvString<char>& key, const TOrvString<char>& value);
  // Whether SetProperty would take the pair, and whether the reply text with this value in place of
  // the key's current one would still leave `reserve` bytes below its largest size.
  EPropertyPublication CheckProperty(const TOrvString<char>& key, const TOrvString<char>& value,
                                     std::uint32_t reserve) const;
  void RemoveProperty(const TOrvString<char>& key);
  std::uint32_t GetPropertyCount() const { return static_cast<std::uint32_t>(properties_.size()); }

  // Exactly the prefix and a challenge.
  static bool IsPropertyQuery(const std::uint8_t* datagram, std::uint32_t length);
  // The reply to `received` bytes at the start of `buffer` (kPropertyQueryBufferSize bytes), built
  // in place: its length, or 0 when the datagram is not a query or the reply would not fit.
  std::uint32_t AnswerQuery(std::uint8_t* buffer, std::uint32_t received);
  // The reply text (after the challenge), rebuilt when a property changed since the last reply.
  const TOrvString<char>& BuildReply();

  // Whether a query from `source` at `now` is within the limits; one that is not is counted as
  // dropped. Its drop line is written once its second has ended, here or by ReportDrops.
  bool AdmitQuery(const sockaddr* source, TTimeStamp now);
  // Logs "Dropped N property queries over the rate limits" for a second of drops that has ended by
  // `now`; the session calls it on every step, so that a flood's last count is written too.
  void ReportDrops(TTimeStamp now);

  // The event loop's callback: `reporting` is the object; reads when the read bit is set.
  static void OnReadable(evutil_socket_t descriptor, short events, void* reporting);
  // Handles the queries waiting on the socket, at most kPropertyQueriesPerEvent of them.
  void ReceiveQueries();

 private:
  struct TLess {
    bool operator()(const TOrvString<char>& a, const TOrvString<char>& b) const { return a < b; }
  };

  void DeleteSocket();

  void LogDrops(std::uint32_t count);

  Network::TUdpSocket* socket_ = nullptr;
  std::map<TOrvString<char>, TOrvString<char>, TLess> properties_;
  TOrvString<char> cachedReply_;
  Network::TPerSourceTable<Network::TTokenBucket> sources_{kPropertyQuerySources};
  Network::TTokenBucket allSources_{kPropertyQueriesPerSecond, kPropertyQueriesPerSecond};
  // Nothing passes: every drop is counted, and the count is written when its second ends.
  Network::TRepeatWindow drops_{0};
};

}  // namespace Orvan::Dedicated
