#include "core/numbers/divisors.h"

#include <gtest/gtest.h>

namespace Orvan {
namespace {

TEST(DivisorsTest, GcdAndLcm) {
  struct Case {
    std::uint32_t a, b, gcd, lcm;
  };
  const Case cases[] = {
      {0, 12, 1, 0},  {12, 0, 1, 0},       {0, 0, 1, 0},
      {12, 18, 6, 36}, {18, 12, 6, 36},     {4, 6, 2, 12},
      {7, 13, 1, 91}, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
      {65536, 196608, 65536, 196608},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << ", " << c.b);
    EXPECT_EQ(Gcd(c.a, c.b), c.gcd);
    EXPECT_EQ(Lcm(c.a, c.b), c.lcm);
  }
  // Divided first, so a multiple that fits is not lost to an overflowing product.
  EXPECT_EQ(Lcm(0x80000000, 0x40000000), 0x80000000u);
}

}  // namespace
}  // namespace Orvan
