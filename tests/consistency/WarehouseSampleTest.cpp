// The eleven sampled warehouses and the INSERT that stores them.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "WarehouseSample.h"

namespace {

using namespace acidkit;

TEST(WarehouseSampleTest, TruncatesEachDoubleProductAsItComes) {
  struct Case {
    int min;
    int max;
    std::array<int, kSampleSize> sample;
  };
  const Case cases[] = {
      {1, 400, {1, 40, 80, 120, 160, 200, 240, 280, 320, 360, 400}},
      // 90 x 0.7 is 62.999... in double precision.
      {1, 90, {1, 9, 18, 27, 36, 45, 54, 62, 72, 81, 90}},
      // A single warehouse: the sampled 0 matches none.
      {1, 1, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {1, 2, {1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2}},
      // The fractions are of max alone, not of the range.
      {3, 30, {3, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30}},
      {1,
       INT_MAX,
       {1, 214748364, 429496729, 644245094, 858993458, 1073741823, 1288490188, 1503238552,
        1717986917, 1932735282, INT_MAX}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(warehouseSample(c.min, c.max), c.sample) << c.min << ".." << c.max;
  }
}

TEST(WarehouseSampleTest, InsertListsTheElevenValuesInOrder) {
  char text[kSampleInsertSize];
  formatSampleInsert(warehouseSample(1, 90), text);
  EXPECT_EQ(std::string(text),
            "INSERT INTO TEMP_W VALUES (1), \n"
            "                          (9), (18), (27), (36), (45), \n"
            "                          (54), (62), (72), (81), (90) \n");
  formatSampleInsert(warehouseSample(INT_MIN, INT_MIN), text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 15), "(-2147483648) \n");
}

}  // namespace
