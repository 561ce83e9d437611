// Fuzz target of the packet readers. Input: an operation count byte, that many operation bytes,
// then the payload of one packet. Each operation reads from the packet (a plain read of up to 63
// or of up to 64,512 bytes, a length-prefixed string, or a CanRead) and is checked against a model
// of the payload: nothing is read past its end, a failed read consumes nothing, a failed string
// read consumes at most its length and leaves the string as it was. The same operations run on a
// reader of a memory stream holding the payload, once from its start and once from a position
// past its end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"
#include "network/packets/network_packet_reader.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan;
using namespace Orvan::Network;

using OrvTest::FuzzCheck;

// Runs the operations on `reader`, which reads `payload` from its start; `consumed` tells how far
// the reader has come.
template <typename TConsumed>
void RunOperations(INetworkPacketReader& reader, const std::uint8_t* payload, std::uint32_t size,
                   const std::uint8_t* operations, std::uint32_t count, TNetworkPacketReader* packetReader,
                   TConsumed consumed) {
  std::uint32_t offset = 0;
  std::vector<std::uint8_t> bytes;
  TOrvString<char> text("before");
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t operation = operations[i];
    const std::uint32_t remaining = size - offset;
    switch (operation & 3) {
      case 0:
      case 2: {
        const std::uint32_t wanted = (operation & 3) == 0 ? operation >> 2 : (operation >> 2) * 1024u;
        bytes.assign(wanted + 1, 0xA5);
        const bool ok = reader.Read(bytes.data(), wanted);
        FuzzCheck(ok == (wanted <= remaining), "read result differs from what remains");
        FuzzCheck(bytes[wanted] == 0xA5, "read past the bytes asked for");
        if (ok) {
          FuzzCheck(wanted == 0 || std::memcmp(bytes.data(), payload + offset, wanted) == 0, "read wrong bytes");
          offset += wanted;
        } else {
          for (std::uint32_t k = 0; k < wanted; ++k) FuzzCheck(bytes[k] == 0xA5, "a failed read wrote bytes");
        }
        break;
      }
      case 1: {
        const TOrvString<char> previous = text;
        const bool ok = ReadLengthPrefixedString(reader, text);
        if (remaining < 2) {
          FuzzCheck(!ok && text == previous, "string read without its length");
          break;
        }
        const std::uint32_t length = payload[offset] | (std::uint32_t{payload[offset + 1]} << 8);
        if (length > remaining - 2) {
          FuzzCheck(!ok && text == previous, "string read past the payload");
          offset += 2;
          break;
        }
        FuzzCheck(ok, "string not read");
        FuzzCheck(text.GetLength() == length, "string of the wrong length");
        FuzzCheck(length == 0 || std::memcmp(text.c_str(), payload + offset + 2, length) == 0, "string of wrong bytes");
        offset += 2 + length;
        break;
      }
      default:
        if (packetReader != nullptr) {
          FuzzCheck(packetReader->CanRead(operation >> 2) == ((operation >> 2) <= remaining), "CanRead is wrong");
        }
        break;
    }
    FuzzCheck(consumed() == offset, "position drifted");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  if (size < 1) return 0;
  const std::uint32_t count = data[0] % 64;
  if (size < 1 + count) return 0;
  const std::uint8_t* operations = data + 1;
  const std::uint8_t* payload = operations + count;
  std::size_t payloadSize = size - 1 - count;
  if (payloadSize > TPacketBuffer::kMaximumPayload) payloadSize = TPacketBuffer::kMaximumPayload;
  const auto length = static_cast<std::uint32_t>(payloadSize);

  TPacketBufferPtr packet;
  CreatePacketBuffer(packet, payload, static_cast<std::uint16_t>(length));
  TNetworkPacketReader reader(packet);
  RunOperations(reader, payload, length, operations, count, &reader,
                [&] { return length - reader.GetRemainingSize(); });

  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  if (length != 0) stream->Write(payload, length);
  stream->SetPosition(0);
  TNetworkPacketReaderFromStream streamReader(stream.Get());
  RunOperations(streamReader, payload, length, operations, count, nullptr, [&] { return stream->GetPosition(); });

  // Past the end every read fails and nothing moves.
  stream->SetPosition(length + 1 + data[0]);
  const std::uint32_t beyond = stream->GetPosition();
  std::uint8_t byte = 0;
  FuzzCheck(!streamReader.Read(&byte, 1) && !streamReader.Read(&byte, 0), "read from past the end");
  TOrvString<char> text;
  FuzzCheck(!ReadLengthPrefixedString(streamReader, text), "string read from past the end");
  FuzzCheck(stream->GetPosition() == beyond, "a read past the end moved");
  return 0;
}
