// The draw of isolation test 7's items x and y.
#include <gtest/gtest.h>

#include "ItemDraw.h"

namespace {

using acidkit::ItemPair;
using acidkit::itemsFromDraws;

TEST(ItemDraw, YLiesOneToAThousandAfterXAndWrapsToOne) {
  struct Case {
    int drawX, drawY;
    int32_t x, y;
  } cases[] = {
      {0, 0, 1, 2},                            // lowest x, next item
      {41, 999, 42, 1042},                     // farthest y
      {99999, 4, 100000, 5},                   // 100000 is followed by 1
      {99999, 1004, 100000, 5},                // only rand() % 1000 counts for y
      {99499, 999, 99500, 500},                // a thousand after x, across the wrap
      {99998, 0, 99999, 100000},               // y may be the last item
      {100000, 7, 1, 9},                       // x wraps too
      {2147483647, 2147483647, 83648, 84296},  // largest rand() values
  };
  for (const Case& c : cases) {
    ItemPair p = itemsFromDraws(c.drawX, c.drawY);
    EXPECT_EQ(p.x, c.x) << c.drawX;
    EXPECT_EQ(p.y, c.y) << c.drawX << ", " << c.drawY;
    EXPECT_NE(p.x, p.y);
    EXPECT_TRUE(p.y >= 1 && p.y <= 100000);
  }
}

}  // namespace
