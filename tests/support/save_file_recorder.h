// A save-file visitor that records the walk (every call in order, the chunks with copies of their
// data) and a helper that walks a whole stream with it, bounding the steps so that a walk that
// would never end fails the test instead of hanging it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/streams/stream.h"
#include "network/files/save_file_reader.h"

namespace OrvTest {

struct TRecordedChunk {
  std::uint32_t tag;
  std::uint32_t value;
  std::string data;
  friend bool operator==(const TRecordedChunk&, const TRecordedChunk&) = default;
};

class TSaveFileRecorder final : public Orvan::ISaveFileReaderVisitor {
 public:
  void OnError(std::uint32_t code) override { calls.push_back("error " + std::to_string(code)); }
  void OnHeader() override { calls.push_back("header"); }
  void OnChunk(std::uint32_t tag, std::uint32_t value, const std::uint8_t* data, std::uint32_t size) override {
    calls.push_back("chunk");
    chunks.push_back({tag, value, std::string(reinterpret_cast<const char*>(data), size)});
  }
  void OnEnd(bool digestMatches) override { calls.push_back(digestMatches ? "end intact" : "end broken"); }

  // The last call: how the walk ended.
  std::string Ending() const { return calls.empty() ? "" : calls.back(); }

  std::vector<std::string> calls;
  std::vector<TRecordedChunk> chunks;
};

// Steps the reader until it says the walk has ended, at most one step per 16 bytes of the stream
// and three more (the header, the end, and one to spare). `steps` tells how many it took.
inline TSaveFileRecorder WalkSaveFile(Orvan::TStream& stream, std::uint32_t* steps = nullptr) {
  TSaveFileRecorder recorder;
  Orvan::TSaveFileReader reader(stream, recorder);
  const std::uint32_t limit = stream.GetSize() / 16 + 3;
  std::uint32_t taken = 0;
  while (taken < limit && reader.Step()) ++taken;
  if (steps != nullptr) *steps = taken;
  if (!reader.HasEnded()) recorder.calls.push_back("never ended");
  return recorder;
}

// A four-character tag as the writer takes it: the first character in the high byte.
constexpr std::uint32_t Tag(const char (&text)[5]) {
  return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16) |
         (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

}  // namespace OrvTest
