#include "core/streams/memory_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "core/diagnostics/assertion.h"
#include "core/objects/weak_observer_registry.h"
#include "core/streams/file_memory_stream.h"
#include "core/streams/memory_stream.h"
#include "core/threads/thread_services.h"
#include "support/debug_output_recorder.h"
#include "support/dialog_recorder.h"
#include "support/stream_test_fixture.h"

namespace Orvan {
namespace {

// A stream of the bytes 0, 1, 2 ... size - 1.
TCountedPtr<TMemoryStream> CountingStream(std::uint32_t size) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream(size));
  std::iota(stream->GetData(), stream->GetData() + size, std::uint8_t{0});
  return stream;
}

using MemoryViewTest = OrvTest::StreamTest;

TEST_F(MemoryViewTest, ViewsShowTheirRangeAndCountWhileTheyLive) {
  TCountedPtr<TMemoryStream> stream = CountingStream(10);
  EXPECT_EQ(stream->GetLiveViewCount(), 0u);
  {
    TCountedPtr<TMemoryView> view = stream->CreateMemoryView(2, 4, 7);
    EXPECT_EQ(stream->GetLiveViewCount(), 1u);
    EXPECT_EQ(view->GetParent(), static_cast<TMemoryViewProvider*>(stream.Get()));
    EXPECT_EQ(view->GetData(), stream->GetData() + 2);
    EXPECT_EQ(view->GetSize(), 4u);
    EXPECT_EQ(view->GetPosition(), 0u);
    EXPECT_EQ(view->GetFlag(), 7);
    EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(view->GetCountWord()), 1u);

    TCountedPtr<TMemoryViewProvider> second = stream->GetMemoryView(0, 10);
    EXPECT_EQ(stream->GetLiveViewCount(), 2u);
    EXPECT_EQ(second->GetProvidedSize(), 10u);
    EXPECT_EQ(static_cast<TMemoryView*>(second.Get())->GetFlag(), 0);

    TCountedPtr<TMemoryView> whole = stream->CreateWholeMemoryView(3);
    EXPECT_EQ(whole->GetSize(), 10u);
    EXPECT_EQ(whole->GetData(), stream->GetData());
    EXPECT_EQ(stream->GetLiveViewCount(), 3u);

    // A copy of the handle is no new view.
    TCountedPtr<TMemoryView> copy = view;
    EXPECT_EQ(stream->GetLiveViewCount(), 3u);
    second.Reset();
    EXPECT_EQ(stream->GetLiveViewCount(), 2u);
  }
  EXPECT_EQ(stream->GetLiveViewCount(), 0u);
}

TEST_F(MemoryViewTest, ViewOfAViewCountsOnTheViewItCameFrom) {
  TCountedPtr<TMemoryStream> stream = CountingStream(10);
  TCountedPtr<TMemoryView> outer = stream->CreateMemoryView(2, 6, 0);
  TCountedPtr<TMemoryView> inner = outer->CreateMemoryView(1, 3, 0);
  EXPECT_EQ(stream->GetLiveViewCount(), 1u);
  EXPECT_EQ(outer->GetLiveViewCount(), 1u);
  EXPECT_EQ(inner->GetParent(), static_cast<TMemoryViewProvider*>(outer.Get()));
  std::uint8_t bytes[3] = {};
  EXPECT_EQ(inner->Read(bytes, 3), 3);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(bytes[2], 5);
  // Cut at the outer view's end, not the stream's.
  TCountedPtr<TMemoryView> tail = outer->CreateMemoryView(4, 100, 0);
  EXPECT_EQ(tail->GetSize(), 2u);
  inner.Reset();
  tail.Reset();
  EXPECT_EQ(outer->GetLiveViewCount(), 0u);
}

TEST_F(MemoryViewTest, RangesBeyondTheDataAreCutOrEmpty) {
  const std::uint64_t kHigh = std::uint64_t{1} << 32;
  const struct {
    std::uint64_t offset;
    std::uint32_t length;
    std::uint32_t firstByte;  // of the view, when it is not empty
    std::uint32_t size;
  } cases[] = {
      {0, 10, 0, 10}, {8, 5, 8, 2},     {9, 0xFFFFFFFFu, 9, 1}, {10, 3, 0, 0},
      {11, 1, 0, 0},  {kHigh, 4, 0, 0}, {kHigh + 2, 3, 0, 0},   {~std::uint64_t{0}, 1, 0, 0},
  };
  TCountedPtr<TMemoryStream> stream = CountingStream(10);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
    TCountedPtr<TMemoryView> view = stream->CreateMemoryView(c.offset, c.length, 0);
    EXPECT_EQ(view->GetSize(), c.size);
    if (c.size != 0) {
      EXPECT_EQ(view->GetData()[0], c.firstByte);
    }
    EXPECT_EQ(stream->GetLiveViewCount(), 1u);

    // ReadAt copies the same bytes, and nothing into the rest of the destination.
    std::array<std::uint8_t, 16> destination;
    destination.fill(0xEE);
    stream->ReadAt(destination.data(), c.offset, std::min<std::uint32_t>(c.length, 12));
    const std::uint32_t copied = std::min<std::uint32_t>(c.size, 12);
    for (std::uint32_t i = 0; i < copied; ++i) EXPECT_EQ(destination[i], c.firstByte + i);
    EXPECT_EQ(destination[copied], 0xEE);
  }
  EXPECT_EQ(stream->GetPosition(), 0u);
}

TEST_F(MemoryViewTest, ReadsAndWritesStopAtTheBlockEdge) {
  TCountedPtr<TMemoryStream> stream = CountingStream(10);
  TCountedPtr<TMemoryView> view = stream->CreateMemoryView(2, 4, 0);
  view->SetPosition(3);
  const std::uint8_t patch[5] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4};
  EXPECT_EQ(view->Write(patch, sizeof patch), 1);
  EXPECT_EQ(view->GetPosition(), 4u);
  EXPECT_EQ(stream->GetData()[5], 0xA0);
  EXPECT_EQ(stream->GetData()[6], 6);  // the byte after the view is the stream's
  EXPECT_EQ(view->Write(patch, sizeof patch), 0);

  std::uint8_t bytes[8] = {};
  view->SetPosition(1);
  EXPECT_EQ(view->Read(bytes, 0xFFFFFFFFu), 3);
  EXPECT_EQ(bytes[2], 0xA0);
  std::uint32_t status = 0;
  view->Seek(2, kSeekFromEnd);
  EXPECT_EQ(view->ReadWithStatus(bytes, 8, status), 2u);
  EXPECT_EQ(status, kStreamStatusShort);
  // A shared block keeps its size.
  view->SetSize(100);
  EXPECT_EQ(view->GetSize(), 4u);
}

TEST_F(MemoryViewTest, SharedStreamsTakeANewBlockAndKeepTheirPosition) {
  std::uint8_t first[4] = {1, 2, 3, 4};
  std::uint8_t second[6] = {5, 6, 7, 8, 9, 10};
  TLWSharedMemoryStream cursor;
  EXPECT_EQ(cursor.GetData(), nullptr);
  EXPECT_EQ(cursor.GetFlag(), 1);
  std::uint8_t byte = 0;
  EXPECT_EQ(cursor.Read(&byte, 1), 0);

  TCountedPtr<TSharedMemoryStream> shared(new TSharedMemoryStream(first, sizeof first, 4));
  shared->Seek(3, kSeekFromStart);
  shared->SetSharedBlock(second, sizeof second, 9);
  EXPECT_EQ(shared->GetPosition(), 3u);
  EXPECT_EQ(shared->GetFlag(), 9);
  EXPECT_EQ(shared->Read(&byte, 1), 1);
  EXPECT_EQ(byte, 8);
  EXPECT_EQ(shared->GetProvidedSize(), 6u);
}

TEST_F(MemoryViewTest, EmptyViewStillCountsAsLive) {
  TCountedPtr<TMemoryStream> stream = CountingStream(4);
  {
    TCountedPtr<TMemoryView> empty(new TMemoryView(stream.Get()));
    EXPECT_EQ(stream->GetLiveViewCount(), 1u);
    EXPECT_EQ(empty->GetSize(), 0u);
    EXPECT_EQ(empty->GetData(), nullptr);
  }
  EXPECT_EQ(stream->GetLiveViewCount(), 0u);
}

TEST_F(MemoryViewTest, RegisteredViewsLeaveTheirParentsSetWhenTheyDie) {
  TCountedPtr<TMemoryStream> stream = CountingStream(10);
  TCountedPtr<TMemoryViewProvider> first = stream->CreateRegisteredMemoryView(0, 4);
  TCountedPtr<TMemoryViewProvider> second = stream->CreateRegisteredMemoryView(4, 4);
  TCountedPtr<TMemoryViewProvider> plain = stream->GetMemoryView(8, 2);
  EXPECT_EQ(stream->GetChildCount(), 2u);
  EXPECT_TRUE(stream->HasChild(first.Get()));
  EXPECT_TRUE(stream->HasChild(second.Get()));
  EXPECT_FALSE(stream->HasChild(plain.Get()));
  EXPECT_EQ(first->GetParentProvider(), static_cast<TMemoryViewProvider*>(stream.Get()));
  EXPECT_EQ(plain->GetParentProvider(), nullptr);
  EXPECT_EQ(stream->GetLiveViewCount(), 3u);

  first.Reset();
  EXPECT_EQ(stream->GetChildCount(), 1u);
  EXPECT_TRUE(stream->HasChild(second.Get()));
  second.Reset();
  EXPECT_EQ(stream->GetChildCount(), 0u);
  EXPECT_EQ(stream->GetLiveViewCount(), 1u);
}

// Watches one object and records that it was told of its death.
class TDeathWatcher : public TAbstractWeakContainer {
 public:
  explicit TDeathWatcher(const TWeakAndRefCountable& object) { AppendAndRegister(object.GetCountWord()); }
  ~TDeathWatcher() override {
    if (GetEntryCount() != 0 && GetEntry(0) != nullptr) UnregisterWeakObserver(this, GetEntry(0), 0);
  }
  void OnWeakObjectDestroyed(TCountWord* countWord, std::uint32_t index) override {
    ++notifications;
    UnregisterWeakObserver(this, countWord, index);
    RemoveAt(index);
  }
  int notifications = 0;
};

TEST_F(MemoryViewTest, WeakWatcherLearnsOfTheLastRelease) {
  TCountedPtr<TStream> stream(new TMemoryStream(8));
  TCountedPtr<TMemoryView> view = static_cast<TMemoryStream*>(stream.Get())->CreateMemoryView(0, 8, 0);
  TDeathWatcher streamWatcher(*static_cast<TMemoryStream*>(stream.Get()));
  TDeathWatcher viewWatcher(*view);
  TCountedPtr<TStream> copy = stream;
  view.Reset();
  EXPECT_EQ(viewWatcher.notifications, 1);
  stream.Reset();
  EXPECT_EQ(streamWatcher.notifications, 0);
  copy.Reset();
  EXPECT_EQ(streamWatcher.notifications, 1);
  EXPECT_EQ(streamWatcher.GetRegistrationCount(), 0u);
}

// A buffer that moves while a view shows it is reported through the engine's assertion; the view
// is then not read again.
class MemoryViewMisuseTest : public OrvTest::StreamTest {
 protected:
  void SetUp() override {
    if (IsDebuggerAttached()) GTEST_SKIP() << "a debugger would get breakpoints instead of reports";
    OrvTest::StreamTest::SetUp();
  }
  std::size_t Reports() const { return output_.CountLinesContaining("ASSERTION FAILED: (liveViews == 0)"); }

  OrvTest::TDebugOutputRecorder output_;
  OrvTest::TDialogRecorder dialogs_;
};

TEST_F(MemoryViewMisuseTest, ParentThatMovesItsBufferUnderAViewIsReported) {
  TCountedPtr<TMemoryStream> stream = CountingStream(4);
  {
    TCountedPtr<TMemoryView> view = stream->CreateMemoryView(0, 4, 0);
    const std::uint8_t more[8] = {};
    stream->SetPosition(1);
    stream->Write(more, 2);  // within the capacity: nothing moves
    stream->SetSize(3);      // keeps the buffer
    EXPECT_EQ(Reports(), 0u);
    stream->SetPosition(4);
    stream->Write(more, sizeof more);
    EXPECT_EQ(Reports(), 1u);
    ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
    EXPECT_TRUE(OrvTest::IsQuitGameWarning(dialogs_.Dialogs()[0], kAssertionDialogId));
    stream->SetSize(0);
    EXPECT_EQ(Reports(), 2u);
  }
  stream->SetSize(100);
  EXPECT_EQ(Reports(), 2u);
}

TEST_F(MemoryViewMisuseTest, FileStreamThatGrowsUnderAViewIsReported) {
  TCountedPtr<TFileMemoryStream> file(new TFileMemoryStream(0, 0));
  const std::uint8_t bytes[4] = {1, 2, 3, 4};
  file->Write(bytes, sizeof bytes);
  {
    TCountedPtr<TMemoryView> view = file->CreateMemoryView(1, 2, 0);
    EXPECT_EQ(view->GetData(), file->GetData() + 1);
    EXPECT_EQ(file->GetLiveViewCount(), 1u);
    file->SetSize(64);
    EXPECT_EQ(Reports(), 1u);
  }
  file->SetSize(128);
  EXPECT_EQ(Reports(), 1u);
}

}  // namespace
}  // namespace Orvan
