#include "core/streams/memory_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "core/streams/file_memory_stream.h"
#include "core/streams/memory_view.h"
#include "core/streams/shared_memory_stream.h"
#include "support/pool_checks.h"
#include "support/stream_test_fixture.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

using MemoryStreamTest = OrvTest::StreamTest;

constexpr std::int64_t kNoValue = -1;

// What one operation answered: its result and, for ReadWithStatus, the status.
struct TOutcome {
  std::int64_t result = kNoValue;
  std::int64_t status = kNoValue;
  bool operator==(const TOutcome&) const = default;
};

using TOperation = std::function<TOutcome(TMemoryStream&)>;

TOperation Write(std::uint32_t count) {
  return [count](TMemoryStream& stream) {
    const std::vector<std::uint8_t> bytes(count, 0x5A);
    return TOutcome{stream.Write(bytes.data(), count)};
  };
}
TOperation Read(std::uint32_t count) {
  return [count](TMemoryStream& stream) {
    std::vector<std::uint8_t> bytes(count);
    return TOutcome{stream.Read(bytes.data(), count)};
  };
}
TOperation ReadWithStatus(std::uint32_t count) {
  return [count](TMemoryStream& stream) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t status = 99;
    const std::uint32_t copied = stream.ReadWithStatus(bytes.data(), count, status);
    return TOutcome{copied, status};
  };
}
TOperation SetSize(std::uint32_t size) {
  return [size](TMemoryStream& stream) {
    stream.SetSize(size);
    return TOutcome{};
  };
}
TOperation SetPosition(std::uint32_t position) {
  return [position](TMemoryStream& stream) {
    stream.SetPosition(position);
    return TOutcome{};
  };
}
TOperation Seek(std::uint32_t offset, std::uint32_t origin) {
  return [offset, origin](TMemoryStream& stream) {
    stream.Seek(offset, origin);
    return TOutcome{};
  };
}

struct TStep {
  const char* what;
  TOperation operation;
  TOutcome outcome;
  std::uint32_t size;
  std::uint32_t capacity;
  std::uint32_t position;
};

struct TScript {
  const char* name;
  std::uint32_t initialSize;
  std::vector<TStep> steps;
};

TEST_F(MemoryStreamTest, OperationsLeaveSizeCapacityAndPositionAsTheRulesSay) {
  const std::vector<TScript> scripts = {
      {"appends grow by half the capacity",
       0,
       {{"write 10", Write(10), {10}, 10, 10, 10}, {"write 1", Write(1), {1}, 11, 15, 11}}},
      {"SetSize grows, keeps up to twice the size, then shrinks and frees",
       64,
       {{"to 100", SetSize(100), {}, 100, 100, 0},
        {"to 60", SetSize(60), {}, 60, 100, 0},
        {"to 50 (exactly half)", SetSize(50), {}, 50, 100, 0},
        {"to 40", SetSize(40), {}, 40, 40, 0},
        {"to 0", SetSize(0), {}, 0, 0, 0}}},
      {"SetSize leaves the position alone",
       10,
       {{"position 8", SetPosition(8), {}, 10, 10, 8},
        {"to 4", SetSize(4), {}, 4, 4, 8},
        {"to 1", SetSize(1), {}, 1, 1, 8},
        {"read past the size", Read(4), {0}, 1, 1, 8}}},
      {"ReadWithStatus stops at the size",
       10,
       {{"position 6", SetPosition(6), {}, 10, 10, 6},
        {"8 at 6", ReadWithStatus(8), {4, 2}, 10, 10, 10},
        {"8 at the end", ReadWithStatus(8), {0, 2}, 10, 10, 10},
        {"rewind", SetPosition(0), {}, 10, 10, 0},
        {"all 10", ReadWithStatus(10), {10, 0}, 10, 10, 10},
        {"position beyond", SetPosition(30), {}, 10, 10, 30},
        {"0 beyond", ReadWithStatus(0), {0, 2}, 10, 10, 30}}},
      {"Read is cut at the size",
       10,
       {{"position 7", SetPosition(7), {}, 10, 10, 7}, {"8 at 7", Read(8), {3}, 10, 10, 10}}},
      {"Seek origins",
       10,
       {{"3 back from the end", Seek(3, 2), {}, 10, 10, 7},
        {"2 on", Seek(2, 1), {}, 10, 10, 9},
        {"origin 7 adds", Seek(1, 7), {}, 10, 10, 10},
        {"from the start", Seek(4, 0), {}, 10, 10, 4},
        {"back past the start wraps", Seek(12, 2), {}, 10, 10, 0xFFFFFFFEu}}},
      {"writes beyond the size",
       10,
       {{"position 20", SetPosition(20), {}, 10, 10, 20},
        {"nothing", Write(0), {0}, 10, 10, 20},
        {"2 at 20", Write(2), {2}, 22, 22, 22}}},
      {"a write inside the size keeps it",
       10,
       {{"position 2", SetPosition(2), {}, 10, 10, 2}, {"3 at 2", Write(3), {3}, 10, 10, 5}}},
  };
  for (const TScript& script : scripts) {
    SCOPED_TRACE(script.name);
    TCountedPtr<TMemoryStream> stream(new TMemoryStream(script.initialSize));
    for (const TStep& step : script.steps) {
      SCOPED_TRACE(step.what);
      EXPECT_EQ(step.operation(*stream), step.outcome);
      EXPECT_EQ(stream->GetSize(), step.size);
      EXPECT_EQ(stream->GetCapacity(), step.capacity);
      EXPECT_EQ(stream->GetPosition(), step.position);
      EXPECT_EQ(stream->GetData() == nullptr, step.capacity == 0);
    }
  }
}

TEST_F(MemoryStreamTest, BytesSurviveGrowingAndShrinking) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  const std::uint8_t first[] = {1, 2, 3, 4, 5, 6, 7, 8};
  stream->Write(first, sizeof first);
  stream->Write(first, 4);  // grows to 12
  stream->SetSize(100);
  stream->SetSize(5);  // shrinks to 5 bytes
  ASSERT_EQ(stream->GetCapacity(), 5u);
  EXPECT_EQ(std::memcmp(stream->GetData(), first, 5), 0);
  // The gap between the old size and a position set beyond it is left as it was; what is written
  // lands at the position.
  stream->SetPosition(7);
  const std::uint8_t tail[] = {9, 9};
  stream->Write(tail, sizeof tail);
  EXPECT_EQ(stream->GetSize(), 9u);
  EXPECT_EQ(std::memcmp(stream->GetData(), first, 5), 0);
  EXPECT_EQ(std::memcmp(stream->GetData() + 7, tail, 2), 0);

  std::uint8_t back[9] = {};
  stream->SetPosition(0);
  EXPECT_EQ(stream->Read(back, 5), 5);
  EXPECT_EQ(std::memcmp(back, first, 5), 0);
  EXPECT_EQ(stream->Read(back, 0), 0);
  EXPECT_EQ(stream->GetPosition(), 5u);
}

// A write may take its bytes from the stream's own buffer: the bytes land as a copy of the source
// taken before the write, whether the buffer grows under it or the two ranges overlap.
TEST_F(MemoryStreamTest, WritesFromTheOwnBufferCopyTheSourceAsItWas) {
  struct Case {
    const char* what;
    std::uint32_t position;
    std::uint32_t from;  // offset of the source in the buffer
    std::uint32_t count;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"appended whole: the buffer grows", 8, 0, 8, "abcdefghabcdefgh"},
      {"its tail appended: the buffer grows", 8, 5, 3, "abcdefghfgh"},
      {"overlapping forwards past the end", 4, 0, 8, "abcdabcdefgh"},
      {"overlapping forwards within the buffer", 2, 0, 6, "ababcdef"},
      {"overlapping backwards within the buffer", 0, 2, 6, "cdefghgh"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TCountedPtr<TMemoryStream> stream(new TMemoryStream(8));
    std::memcpy(stream->GetData(), "abcdefgh", 8);
    stream->SetPosition(c.position);
    EXPECT_EQ(stream->Write(stream->GetData() + c.from, c.count), static_cast<std::int32_t>(c.count));
    const std::string expected(c.expected);
    ASSERT_EQ(stream->GetSize(), expected.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream->GetData()), stream->GetSize()), expected);
    EXPECT_EQ(stream->GetPosition(), c.position + c.count);
  }
}

// Counts near 2^32 must not wrap round into range: nothing is read past the size, and a write
// whose end would pass 4 GiB - 1 fails before it touches anything.
TEST_F(MemoryStreamTest, HostileCountsCopyNothingPastTheSize) {
  const std::uint32_t positions[] = {0, 6, 10, 0xFFFFFFF0u};
  const std::uint32_t counts[] = {0xFFFFFFFFu, 0xFFFFFFFAu, 0x80000000u, 0x7FFFFFFFu, 0xFFFFFFF7u};
  for (const std::uint32_t position : positions) {
    for (const std::uint32_t count : counts) {
      SCOPED_TRACE(testing::Message() << "position " << position << " count " << count);
      TCountedPtr<TMemoryStream> stream(new TMemoryStream(10));
      std::memset(stream->GetData(), 0x11, 10);
      const std::uint32_t available = position < 10 ? 10 - position : 0;

      std::array<std::uint8_t, 10> destination{};
      stream->SetPosition(position);
      EXPECT_EQ(stream->Read(destination.data(), count), static_cast<std::int32_t>(available));
      EXPECT_EQ(stream->GetPosition(), position + available);

      std::uint32_t status = 0;
      stream->SetPosition(position);
      EXPECT_EQ(stream->ReadWithStatus(destination.data(), count, status), available);
      EXPECT_EQ(status, kStreamStatusShort);

      if (std::uint64_t{position} + count > 0xFFFFFFFFu) {
        stream->SetPosition(position);
        EXPECT_THROW(stream->Write(destination.data(), count), std::bad_alloc);
        EXPECT_EQ(stream->GetSize(), 10u);
        EXPECT_EQ(stream->GetCapacity(), 10u);
        EXPECT_EQ(stream->GetPosition(), position);
      }
    }
  }
}

TEST_F(MemoryStreamTest, BuffersBeyondWhatCanBeHadFailWithNothingChanged) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream(10));
  std::memset(stream->GetData(), 0x22, 10);
  std::uint8_t* const data = stream->GetData();
  // 4 GiB - 1 is a size, but no buffer that large can be had.
  EXPECT_THROW(stream->SetSize(0xFFFFFFFFu), std::bad_alloc);
  EXPECT_THROW(stream->Write(data, 0xFFFFFFFFu), std::bad_alloc);
  EXPECT_THROW(stream->ResizeProvidedMemory(std::uint64_t{1} << 32), std::bad_alloc);
  EXPECT_THROW(stream->EnsureProvidedSize(0xFFFFFFFFu, 1), std::bad_alloc);
  EXPECT_THROW(stream->EnsureProvidedSize(~std::uint64_t{0}, 2), std::bad_alloc);
  EXPECT_EQ(stream->GetSize(), 10u);
  EXPECT_EQ(stream->GetCapacity(), 10u);
  EXPECT_EQ(stream->GetData(), data);
  EXPECT_EQ(data[9], 0x22);
  // A constructor that throws gives its pool element back (the fixture counts them).
  EXPECT_THROW(TCountedPtr<TMemoryStream>(new TMemoryStream(0xFFFFFFFFu)), std::bad_alloc);
}

TEST_F(MemoryStreamTest, ProviderUtilitiesResizeThroughTheStream) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream(10));
  EXPECT_EQ(stream->GetProvidedSize(), 10u);
  EXPECT_EQ(stream->GetAccessFlags(), 3u);
  stream->EnsureProvidedSize(2, 3);
  EXPECT_EQ(stream->GetSize(), 10u);
  stream->EnsureProvidedSize(8, 4);
  EXPECT_EQ(stream->GetSize(), 12u);
  stream->ResizeProvidedMemory(6);
  EXPECT_EQ(stream->GetSize(), 6u);
  // Nothing sets the reserved size, so applying it empties the stream.
  EXPECT_EQ(stream->GetReservedSize(), 0u);
  stream->ApplyReservedSize();
  EXPECT_EQ(stream->GetSize(), 0u);
  EXPECT_EQ(stream->GetData(), nullptr);

  // A shared block keeps its size: the default resize does nothing.
  std::uint8_t block[4] = {};
  TCountedPtr<TSharedMemoryStream> shared(new TSharedMemoryStream(block, sizeof block, 0));
  shared->EnsureProvidedSize(0, 100);
  shared->ApplyReservedSize();
  EXPECT_EQ(shared->GetSize(), 4u);
}

TEST_F(MemoryStreamTest, Descriptions) {
  std::uint8_t block[4] = {};
  TCountedPtr<TMemoryStream> memory(new TMemoryStream);
  TCountedPtr<TFileMemoryStream::TFileMemoryStreamContent> content(new TFileMemoryStream::TFileMemoryStreamContent);
  TCountedPtr<TSharedMemoryStream> shared(new TSharedMemoryStream(block, sizeof block, 0));
  TCountedPtr<TMemoryView> view = memory->CreateMemoryView(0, 0, 0);
  TCountedPtr<TFileMemoryStream> file(new TFileMemoryStream(0, 0));
  const struct {
    const char* name;
    const TStream* stream;
    const char* description;
  } cases[] = {
      {"TMemoryStream", memory.Get(), "no info"},         {"TFileMemoryStreamContent", content.Get(), "no info"},
      {"TSharedMemoryStream", shared.Get(), "no info"},   {"TMemoryView", view.Get(), "no info"},
      {"TFileMemoryStream", file.Get(), "<Unavailable>"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.stream->GetDescription().c_str(), c.description) << c.name;
}

// A handle to the interface counts on the stream's own count word.
TEST_F(MemoryStreamTest, InterfaceHandlesCountTheStream) {
  auto* stream = new TMemoryStream(4);
  TCountedPtr<TStream> first(stream);
  TCountedPtr<TStream> second = first;
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(stream->GetCountWord()), 2u);
  TCountedPtr<TAbstractMemoryStream> third(stream);
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(stream->GetCountWord()), 3u);
  first.Reset();
  third.Reset();
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(stream->GetCountWord()), 1u);
}

// Each pooled class takes its objects from a pool of its own and gives them back to it.
template <typename T, typename... TArgs>
void ExpectOwnPool(TArgs... arguments) {
  T* object = new T(arguments...);
  const auto* pool = TPoolAllocation<T>::GetInstancePointer();
  ASSERT_NE(pool, nullptr);
  EXPECT_TRUE(OrvTest::ComesFromPool(pool, object));
  EXPECT_GE(pool->GetElementSize(), sizeof(T));
  const std::uint32_t live = pool->GetLiveCount();
  delete object;
  EXPECT_EQ(pool->GetLiveCount(), live - 1);
}

TEST_F(MemoryStreamTest, EachStreamClassHasItsOwnPool) {
  std::uint8_t block[4] = {};
  ExpectOwnPool<TMemoryStream>(4u);
  ExpectOwnPool<TFileMemoryStream::TFileMemoryStreamContent>();
  ExpectOwnPool<TSharedMemoryStream>(block, 4u, std::uint8_t{0});
  ExpectOwnPool<TMemoryView>(static_cast<TMemoryViewProvider*>(nullptr));
  ExpectOwnPool<TFileMemoryStream>(0u, 0u);
  TMemoryStream* none = nullptr;
  delete none;
}

TEST(MemoryStreamPoolThreaded, FirstStreamsOnEightThreadsBuildOnePool) {
  constexpr int kThreads = 8;
  std::vector<TMemoryStream*> streams(kThreads, nullptr);
  OrvTest::RunOnThreadsTogether(kThreads, [&](int t) { streams[t] = new TMemoryStream(16); });
  TPoolAllocation<TMemoryStream>* pool = TPoolAllocation<TMemoryStream>::GetInstancePointer();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(OrvTest::CountRegistryEntries(pool), 1u);
  for (TMemoryStream* stream : streams) {
    EXPECT_TRUE(OrvTest::ComesFromPool(pool, stream));
    delete stream;
  }
  EXPECT_EQ(pool->GetLiveCount(), 0u);
}

}  // namespace
}  // namespace Orvan
