// Fuzz target of the save-file reader. The input is read as a container twice: as it is, and with
// its header mended (magic, version 1, size, and the digest of bytes 40 on) so that the walk gets
// past the digest and into the records. Each walk is checked against a model of the layout: it
// ends, with exactly one OnError or OnEnd as its last call; OnHeader comes first when the header
// reads; every record that fits is reported with its bytes; OnEnd(true) exactly when the records
// fill the container and the digest is theirs. TestSaveFile must return on both.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"
#include "network/files/save_file_layout.h"
#include "network/files/save_file_reader.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"
#include "support/save_file_recorder.h"

namespace {

using namespace Orvan;
using OrvTest::FuzzCheck;

// What the layout says of the bytes: the header's error code (or none), the records that fit,
// and whether they fill the container exactly.
struct TModel {
  int error = -1;
  std::vector<std::size_t> records;  // offsets of the heads
  bool filled = true;
};

TModel ModelOf(const std::vector<std::uint8_t>& bytes) {
  TModel model;
  const std::size_t size = bytes.size();
  if (size < 4) {
    model.error = kSaveFileShortRead;
  } else if (LoadBigEndian32(bytes.data()) != kSaveFileMagic) {
    model.error = kSaveFileBadMagic;
  } else if (size < 8) {
    model.error = kSaveFileShortRead;
  } else if (LoadBigEndian32(bytes.data() + 4) > kSaveFileVersion) {
    model.error = kSaveFileVersionTooHigh;
  } else if (size < kSaveFileHeaderSize) {
    model.error = kSaveFileShortRead;
  }
  if (model.error != -1) return model;
  std::size_t position = kSaveFileHeaderSize;
  while (position < size) {
    const std::size_t remaining = size - position;
    if (remaining < kSaveFileRecordHeadSize ||
        LoadBigEndian32(bytes.data() + position + 8) > remaining - kSaveFileRecordHeadSize) {
      model.filled = false;
      break;
    }
    model.records.push_back(position);
    position += kSaveFileRecordHeadSize + LoadBigEndian32(bytes.data() + position + 8);
  }
  return model;
}

bool DigestIsStored(const std::vector<std::uint8_t>& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const int done = EVP_Digest(bytes.data() + kSaveFileHeaderSize, bytes.size() - kSaveFileHeaderSize, digest, &length,
                              EVP_sha224(), nullptr);
  FuzzCheck(done == 1 && length == kSaveFileDigestSize, "digest failed");
  return std::memcmp(digest, bytes.data() + kSaveFileDigestOffset, kSaveFileDigestSize) == 0;
}

void CheckWalk(const std::vector<std::uint8_t>& bytes) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  const TModel model = ModelOf(bytes);
  const OrvTest::TSaveFileRecorder read = OrvTest::WalkSaveFile(*stream);
  if (model.error != -1) {
    FuzzCheck(read.calls.size() == 1 && read.calls[0] == "error " + std::to_string(model.error),
              "header error differs from the model");
  } else {
    FuzzCheck(read.calls.size() == model.records.size() + 2, "call count differs from the model");
    FuzzCheck(read.calls.front() == "header", "the header is not reported first");
    FuzzCheck(read.chunks.size() == model.records.size(), "record count differs from the model");
    for (std::size_t i = 0; i < model.records.size(); ++i) {
      const std::uint8_t* head = bytes.data() + model.records[i];
      const OrvTest::TRecordedChunk& chunk = read.chunks[i];
      FuzzCheck(chunk.tag == LoadBigEndian32(head) && chunk.value == LoadBigEndian32(head + 4), "wrong head");
      FuzzCheck(chunk.data.size() == LoadBigEndian32(head + 8) &&
                    std::memcmp(chunk.data.data(), head + kSaveFileRecordHeadSize, chunk.data.size()) == 0,
                "wrong data");
    }
    const bool intact = model.filled && DigestIsStored(bytes);
    FuzzCheck(read.Ending() == (intact ? "end intact" : "end broken"), "the end differs from the model");
  }
  TestSaveFile(*stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  std::vector<std::uint8_t> bytes(data, data + size);
  CheckWalk(bytes);
  if (bytes.size() >= kSaveFileHeaderSize) {
    StoreBigEndian32(bytes.data(), kSaveFileMagic);
    StoreBigEndian32(bytes.data() + 4, kSaveFileVersion);
    StoreBigEndian32(bytes.data() + kSaveFileSizeOffset, static_cast<std::uint32_t>(bytes.size()));
    unsigned int length = 0;
    const int done = EVP_Digest(bytes.data() + kSaveFileHeaderSize, bytes.size() - kSaveFileHeaderSize,
                                bytes.data() + kSaveFileDigestOffset, &length, EVP_sha224(), nullptr);
    FuzzCheck(done == 1 && length == kSaveFileDigestSize, "digest failed");
    CheckWalk(bytes);
  }
  return 0;
}
