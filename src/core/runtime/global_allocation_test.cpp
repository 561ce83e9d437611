#include "core/runtime/global_allocation.h"

#include <gtest/gtest.h>

TEST(GlobalAllocationSmoke, OperatorNewIsEngine) {
  int* p = new int(3);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
  delete p;
}
