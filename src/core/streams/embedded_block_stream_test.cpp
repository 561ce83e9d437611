#include "core/streams/embedded_block_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/stream_test_fixture.h"

namespace Orvan {
namespace {

using EmbeddedBlockStreamTest = OrvTest::StreamTest;

TEST_F(EmbeddedBlockStreamTest, HoldsTheUnscrambledTextAndANul) {
  const TCountedPtr<TMemoryStream> stream = MakeEmbeddedBlockStream();
  ASSERT_EQ(stream->GetSize(), kEmbeddedBlockSize + 1);
  EXPECT_EQ(stream->GetPosition(), 0u);
  const char* text = reinterpret_cast<const char*>(stream->GetData());
  EXPECT_EQ(std::strlen(text), kEmbeddedBlockSize);
  const std::string line = "Orvan engine embedded block, stored scrambled in the program image.\n";
  std::string expected;
  while (expected.size() < kEmbeddedBlockSize) expected += line;
  expected.resize(kEmbeddedBlockSize);
  EXPECT_EQ(std::string(text, kEmbeddedBlockSize), expected);
  // Each call gives a stream of its own.
  const TCountedPtr<TMemoryStream> other = MakeEmbeddedBlockStream();
  EXPECT_NE(other->GetData(), stream->GetData());
  EXPECT_EQ(std::memcmp(other->GetData(), stream->GetData(), kEmbeddedBlockSize + 1), 0);
}

}  // namespace
}  // namespace Orvan
