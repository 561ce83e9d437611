// A base fixture for stream tests: every stream pool's live count (and the count blocks of weak
// watchers) must be back where it started when the test ends, so a stream that is leaked or freed
// twice shows in the test that did it.
#pragma once

#include <array>
#include <cstdint>

#include "core/streams/file_memory_stream.h"
#include "core/streams/memory_stream.h"
#include "core/streams/memory_view.h"
#include "core/streams/shared_memory_stream.h"
#include "support/counted_objects_fixture.h"
#include "support/pool_checks.h"

namespace OrvTest {

inline std::array<std::uint32_t, 5> LiveStreamPoolObjects() {
  using Orvan::TFileMemoryStream;
  return {LivePoolObjects<Orvan::TMemoryStream>(), LivePoolObjects<Orvan::TSharedMemoryStream>(),
          LivePoolObjects<TFileMemoryStream::TFileMemoryStreamContent>(), LivePoolObjects<Orvan::TMemoryView>(),
          LivePoolObjects<TFileMemoryStream>()};
}

class StreamTest : public CountedObjectsTest {
 protected:
  void SetUp() override {
    CountedObjectsTest::SetUp();
    livePoolObjects_ = LiveStreamPoolObjects();
  }
  void TearDown() override {
    EXPECT_EQ(LiveStreamPoolObjects(), livePoolObjects_);
    CountedObjectsTest::TearDown();
  }

 private:
  std::array<std::uint32_t, 5> livePoolObjects_{};
};

}  // namespace OrvTest
