// gtest main of the unit test programs: the engine is started once around all tests.
#include <gtest/gtest.h>

#include "support/engine_test_environment.h"

namespace {

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { OrvTest::StartEngineForTests(); }
  void TearDown() override { OrvTest::StopEngineForTests(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new EngineEnvironment);
  return RUN_ALL_TESTS();
}
