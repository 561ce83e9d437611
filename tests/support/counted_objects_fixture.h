// A base fixture for tests of weak- and ref-countable objects: every test starts with zero
// constructions and destructions, and ends checking that they match and that every additional
// count block it took from the pool was given back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "core/objects/ref_counting.h"
#include "support/pool_checks.h"

namespace OrvTest {

// Test objects count their constructions and destructions here.
struct TLifeCounts {
  int constructed = 0;
  int destroyed = 0;
};
inline TLifeCounts g_life;

// Count blocks taken from their pool and not given back yet.
inline std::uint32_t LiveCountBlocks() { return LivePoolObjects<Orvan::TAdditionalRefAndWeakCount>(); }

class CountedObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_life = {};
    liveBlocks_ = LiveCountBlocks();
  }
  void TearDown() override {
    EXPECT_EQ(g_life.constructed, g_life.destroyed);
    // A block freed twice, or never, shows here.
    EXPECT_EQ(LiveCountBlocks(), liveBlocks_);
  }

  static Orvan::TCountWord Word(const Orvan::TWeakAndRefCountable& object) { return *object.GetCountWord(); }
  static Orvan::TAdditionalRefAndWeakCount* Block(const Orvan::TWeakAndRefCountable& object) {
    return Orvan::TWeakAndRefCountable::BlockOf(Word(object));
  }

  std::uint32_t liveBlocks_ = 0;
};

}  // namespace OrvTest
