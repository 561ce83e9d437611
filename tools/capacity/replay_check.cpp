// Walking a saved replay's container and its tick chunks.
#include "capacity/replay_check.h"

#include <openssl/evp.h>

#include <cstring>

#include "capacity/load_wire.h"

namespace OrvCapacity {

namespace {

constexpr std::size_t kRecordHeadSize = 16;
constexpr std::size_t kDigestSize = 28;

const unsigned char* Bytes(std::string_view data, std::size_t offset) {
  return reinterpret_cast<const unsigned char*>(data.data()) + offset;
}

}  // namespace

TReplayCheck CheckReplay(std::string_view data, std::size_t players) {
  TReplayCheck check;
  auto problem = [&check](std::string text) {
    if (check.problems.size() < 20) check.problems.push_back(std::move(text));
  };
  if (data.size() < kReplayHeaderSize || data.substr(0, 4) != "ESAV") {
    problem("no replay container (" + std::to_string(data.size()) + " bytes)");
    return check;
  }
  if (ReadBig32(Bytes(data, 8)) != data.size()) problem("size field differs from the file's size");
  EVP_MD_CTX* digest = EVP_MD_CTX_new();
  EVP_DigestInit_ex(digest, EVP_sha224(), nullptr);
  std::int64_t tick = -1;      // the tick whose chunks are being read
  bool inTick = false;
  std::size_t actions = 0;
  bool first = true;
  std::size_t position = kReplayHeaderSize;
  while (position < data.size()) {
    if (data.size() - position < kRecordHeadSize) {
      problem("a record cut short at offset " + std::to_string(position));
      break;
    }
    const std::string_view tag = data.substr(position, 4);
    const std::uint32_t size = ReadBig32(Bytes(data, position + 8));
    if (size > data.size() - position - kRecordHeadSize) {
      problem("record at offset " + std::to_string(position) + " runs past the end");
      break;
    }
    EVP_DigestUpdate(digest, data.data() + position, kRecordHeadSize + size);
    const unsigned char* payload = Bytes(data, position + kRecordHeadSize);
    position += kRecordHeadSize + size;
    if (first) {
      if (tag != "rply") problem("first chunk is not the header");
      first = false;
      continue;
    }
    const std::uint32_t payloadTick = size >= 4 ? ReadLittle32(payload) : 0xFFFFFFFFu;
    if (tag == "star") {
      if (inTick) problem("tick " + std::to_string(tick) + " has no end");
      if (payloadTick != static_cast<std::uint64_t>(tick + 1)) {
        problem("tick " + std::to_string(payloadTick) + " after tick " + std::to_string(tick));
      }
      tick = payloadTick;
      inTick = true;
      actions = 0;
    } else if (tag == "pact") {
      if (!inTick || payloadTick != tick) problem("actions of tick " + std::to_string(payloadTick) + " out of place");
      ++actions;
    } else if (tag == "endt") {
      if (!inTick || payloadTick != tick) problem("end of tick " + std::to_string(payloadTick) + " out of place");
      if (actions != players) {
        problem("tick " + std::to_string(tick) + " holds " + std::to_string(actions) + " actions chunks");
      }
      inTick = false;
      ++check.ticks;
    } else {
      problem("unknown chunk " + std::string(tag));
    }
  }
  if (inTick) problem("last tick " + std::to_string(tick) + " has no end");
  unsigned char computed[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(digest, computed, &length);
  EVP_MD_CTX_free(digest);
  check.digestOk = length == kDigestSize && std::memcmp(computed, data.data() + 12, kDigestSize) == 0;
  if (!check.digestOk) problem("digest does not match");
  return check;
}

bool IsStreamOfReplay(std::string_view stream, std::string_view replay) {
  return stream.size() > kReplayHeaderSize && stream.size() <= replay.size() &&
         stream.substr(0, 8) == replay.substr(0, 8) &&
         stream.substr(kReplayHeaderSize) == replay.substr(kReplayHeaderSize, stream.size() - kReplayHeaderSize);
}

}  // namespace OrvCapacity
