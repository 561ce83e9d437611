#include "network/packets/buffer_io.h"

#include <gtest/gtest.h>

namespace Orvan::Network {
namespace {

TEST(FixedBufferWriter, WritesWhatFitsAndAnswersOneWithNothingWrittenOtherwise) {
  std::uint8_t buffer[3] = {0xEE, 0xEE, 0xEE};
  TFixedBufferWriter writer(buffer, 2);
  EXPECT_EQ(writer.Write("\x01\x02", 2), kBufferOk);
  EXPECT_EQ(writer.Write("\x03", 1), kBufferWriterFull);
  EXPECT_EQ(writer.Write("", 0), kBufferOk);
  EXPECT_EQ(writer.GetPosition(), 2u);
  EXPECT_EQ(buffer[2], 0xEE);

  TFixedBufferWriter partial(buffer, 3);
  EXPECT_EQ(partial.Write("\x09", 1), kBufferOk);
  EXPECT_EQ(partial.Write("\x07\x07\x07", 3), kBufferWriterFull);
  EXPECT_EQ(partial.GetPosition(), 1u);
  EXPECT_EQ(buffer[1], 0x02);
}

TEST(FixedBufferReader, ReadsWhatRemainsAndAnswersTwoWithNothingReadOtherwise) {
  const std::uint8_t buffer[3] = {1, 2, 3};
  TFixedBufferReader reader(buffer, 3);
  std::uint8_t out[4] = {};
  EXPECT_EQ(reader.Read(out, 2), kBufferOk);
  EXPECT_EQ(reader.Read(out + 2, 2), kBufferReaderShort);
  EXPECT_EQ(reader.GetPosition(), 2u);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(reader.Read(out + 2, 1), kBufferOk);
  EXPECT_EQ(out[2], 3);
  // A size near the top of the range must not wrap past the check.
  EXPECT_EQ(reader.Read(out, 0xFFFFFFFFu), kBufferReaderShort);
}

}  // namespace
}  // namespace Orvan::Network
