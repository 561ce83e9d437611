// The gtest environment that starts the engine once around all tests of a program; the test mains
// register it.
#pragma once

#include <gtest/gtest.h>

#include "support/engine_test_environment.h"

namespace OrvTest {

class TEngineGtestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { StartEngineForTests(); }
  void TearDown() override { StopEngineForTests(); }
};

}  // namespace OrvTest
