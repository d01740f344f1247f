// The centring rule's arithmetic; each window applying it is the stage windows' test.
#include <gtest/gtest.h>

#include "app/Centring.h"

TEST(Centring, HalvesTheDifferenceTruncatingTowardZero) {
  POINT at = CentredOrigin(1024, 738, 300, 200);
  EXPECT_EQ(at.x, 362);
  EXPECT_EQ(at.y, 269);
  EXPECT_EQ(CentredOrigin(1024, 738, 1125, 200).x, -50) << "101 pixels wider: -50, not -51";
  EXPECT_EQ(CentredOrigin(1024, 738, 200, 839).y, -50);
}
