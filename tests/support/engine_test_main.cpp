// gtest main of the unit test programs: the engine is started once around all tests.
#include <gtest/gtest.h>

#include "support/engine_gtest_environment.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new OrvTest::TEngineGtestEnvironment);
  return RUN_ALL_TESTS();
}
