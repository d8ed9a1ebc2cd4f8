// The row generator without a server: the same seed gives the same bytes
// however the rows are cut into statements and buffers (so whatever the
// thread count), and the per-district order plan keeps its rules.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "generate.h"

namespace {

std::string generate(LoadTable table, const LoadParams& params, int wFirst, int wLast,
                     size_t cap = 1 << 20) {
  std::string out, buf(cap, '\0');
  RowWriter writer;
  writer.start(table, &params, wFirst, wLast);
  while (size_t n = writer.fill(buf.data(), cap)) out.append(buf.data(), n);
  return out;
}

LoadParams params(uint64_t seed, int warehouses) {
  LoadParams p;
  initLoadParams(&p, seed, warehouses, "2024-01-02 03:04:05");
  return p;
}

TEST(Generate, SameSeedSameRowsHoweverTheLoadIsCut) {
  const LoadParams p = params(7, 2);
  for (int t = 0; t < kTableCount; ++t) {
    const LoadTable table = static_cast<LoadTable>(t);
    SCOPED_TRACE(gTables[t].name);
    const std::string whole = generate(table, p, 1, 2);
    EXPECT_EQ(whole, generate(table, params(7, 2), 1, 2));
    if (table != kItem) {
      EXPECT_EQ(whole, generate(table, p, 1, 1) + generate(table, p, 2, 2));
    }
    // Buffers that hold only one longest row at a time.
    EXPECT_EQ(whole, generate(table, p, 1, 2, kMaxRowBytes));
  }
  EXPECT_NE(generate(kStock, p, 1, 1), generate(kStock, params(8, 2), 1, 1));
}

TEST(Generate, LastNamesFollowTheSyllableRule) {
  const struct {
    int n;
    const char* name;
  } cases[] = {{0, "BARBARBAR"}, {371, "PRICALLYOUGHT"}, {999, "EINGEINGEING"}};
  for (const auto& c : cases) {
    char name[32];
    EXPECT_EQ(lastName(c.n, name), static_cast<int>(std::string(c.name).size()));
    EXPECT_STREQ(name, c.name);
  }
}

TEST(Generate, OrderPlanIsAPermutationWithCarriersOnlyOnDeliveredOrders) {
  DistrictOrders plan;
  planDistrictOrders(7, 3, 4, &plan);
  std::set<int> customers(plan.cId, plan.cId + kOrdersPerDistrict);
  EXPECT_EQ(customers.size(), static_cast<size_t>(kOrdersPerDistrict));
  EXPECT_EQ(*customers.begin(), 1);
  EXPECT_EQ(*customers.rbegin(), kOrdersPerDistrict);
  for (int i = 0; i < kOrdersPerDistrict; ++i) {
    const bool delivered = i + 1 < kFirstNewOrder;
    EXPECT_EQ(plan.carrier[i] != 0, delivered) << "order " << i + 1;
    EXPECT_LE(plan.carrier[i], 10);
    EXPECT_GE(plan.olCnt[i], 5);
    EXPECT_LE(plan.olCnt[i], 15);
  }
}

TEST(Generate, ExpectedOrderLinesCountsTheGeneratedRows) {
  const LoadParams p = params(11, 2);
  const std::string rows = generate(kOrderLine, p, 1, 2);
  int64_t lines = 0;
  for (char c : rows) lines += c == '\n';
  EXPECT_EQ(lines, expectedOrderLines(11, 2));
}

}  // namespace
