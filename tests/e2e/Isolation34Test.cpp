// isolation3 and isolation4 end to end on the reference database, with their
// real sleeps and pauses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProgramRun.h"
#include "TestDb.h"

using namespace acidkit_test;

namespace {

std::string where(const ProgramRun& run) {
  return " WHERE O_W_ID = " + std::to_string(run.w) + " AND O_D_ID = " + std::to_string(run.d);
}

TEST(Isolation3, T2WaitsForT1sCommitAndTakesTheNextOrderNumber) {
  TestDatabase db;
  ASSERT_TRUE(db.load("e2e_isolation3", kWarehouses));
  ProgramRun run;
  ASSERT_NO_FATAL_FAILURE(runIsolation(db, "isolation3", &run));
  const auto& out = run.out;

  std::vector<double> at = schedule(out, {"T1(New-Order) start", "- T1 paused prior to commit",
                                          "T2(New-Order) start", "T1(New-Order) end"});
  // T1 prints its end only after its commit returned, so the two end lines may
  // come in either order.
  std::vector<double> t2At = schedule(out, {"T2(New-Order) start", "T2(New-Order) end"});
  ASSERT_EQ(at.size(), 4u) << run.output;
  ASSERT_EQ(t2At.size(), 2u) << run.output;
  EXPECT_GE(at[2] - at[0], 10 - kThreadStartSlack);  // T2 starts 10 s after T1
  EXPECT_GE(at[3] - at[1], 30.0);                    // T1 holds its locks 30 s
  EXPECT_GE(t2At[1] - at[1], 30.0);                  // T2 could only end after T1

  long long initial = valueAfter(out, "Initial D_NEXT_O_ID : ");
  long long t1 = valueAfter(out, "Order id of T1      : ");
  long long t2 = valueAfter(out, "Order id of T2      : ");
  long long final = valueAfter(out, "Final D_NEXT_O_ID   : ");
  EXPECT_EQ(t1, initial);
  EXPECT_EQ(t2, t1 + 1);
  EXPECT_EQ(final, t2 + 1);
  size_t n = out.size();
  ASSERT_GE(n, 7u);
  EXPECT_EQ(out[n - 7], "");
  EXPECT_EQ(out[n - 6], "Initial D_NEXT_O_ID : " + std::to_string(initial));
  EXPECT_EQ(out[n - 3], "Final D_NEXT_O_ID   : " + std::to_string(final));
  EXPECT_EQ(out[n - 2], "");
  EXPECT_EQ(out[n - 1], "Isolation test 3 passed");

  // Both orders were committed with their own five lines.
  Sql sql;
  ASSERT_TRUE(sql.ok()) << sql.lastError();
  std::string w = std::to_string(run.w), d = std::to_string(run.d);
  EXPECT_EQ(
      sql.integer("SELECT D_NEXT_O_ID FROM DISTRICT WHERE D_W_ID = " + w + " AND D_ID = " + d),
      final);
  for (auto [order, firstItem] : {std::pair{t1, 1013}, std::pair{t2, 1023}}) {
    std::string o = std::to_string(order);
    EXPECT_EQ(sql.integer("SELECT COUNT(*) FROM ORDERS" + where(run) + " AND O_ID = " + o +
                          " AND O_C_ID = " + std::to_string(run.c)),
              1);
    EXPECT_EQ(sql.integer("SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = " + w +
                          " AND NO_D_ID = " + d + " AND NO_O_ID = " + o),
              1);
    EXPECT_EQ(sql.integer("SELECT SUM(OL_I_ID) FROM ORDER_LINE WHERE OL_W_ID = " + w +
                          " AND OL_D_ID = " + d + " AND OL_O_ID = " + o),
              firstItem * 5 + 1000 * (0 + 1 + 2 + 3 + 4));
  }
}

TEST(Isolation4, T2WaitsForT1sRollbackAndTakesT1sOrderNumber) {
  TestDatabase db;
  ASSERT_TRUE(db.load("e2e_isolation4", kWarehouses));
  ProgramRun run;
  ASSERT_NO_FATAL_FAILURE(runIsolation(db, "isolation4", &run));
  const auto& out = run.out;

  std::vector<double> at = schedule(out, {"T1(New-Order) start", "- T1 paused prior to rollback",
                                          "T2(New-Order) start", "T1(New-Order) end"});
  // T1 prints its end only after its rollback returned, so the two end lines may
  // come in either order.
  std::vector<double> t2At = schedule(out, {"T2(New-Order) start", "T2(New-Order) end"});
  ASSERT_EQ(at.size(), 4u) << run.output;
  ASSERT_EQ(t2At.size(), 2u) << run.output;
  EXPECT_GE(at[2] - at[0], 10 - kThreadStartSlack);
  EXPECT_GE(at[3] - at[1], 30.0);
  EXPECT_GE(t2At[1] - at[1], 30.0);

  long long initial = valueAfter(out, "Initial D_NEXT_O_ID : ");
  long long t2 = valueAfter(out, "Order id of T2      : ");
  long long final = valueAfter(out, "Final D_NEXT_O_ID   : ");
  EXPECT_EQ(t2, initial);
  EXPECT_EQ(final, initial + 1);
  EXPECT_EQ(findLine(out, "Order id of T1      : ", 0), -1);  // no line for T1
  size_t n = out.size();
  ASSERT_GE(n, 6u);
  EXPECT_EQ(out[n - 6], "");
  EXPECT_EQ(out[n - 5], "Initial D_NEXT_O_ID : " + std::to_string(initial));
  EXPECT_EQ(out[n - 4], "Order id of T2      : " + std::to_string(t2));
  EXPECT_EQ(out[n - 3], "Final D_NEXT_O_ID   : " + std::to_string(final));
  EXPECT_EQ(out[n - 1], "Isolation test 4 passed");

  // Only T2's order exists under that number; T1 left no line behind.
  Sql sql;
  ASSERT_TRUE(sql.ok()) << sql.lastError();
  std::string w = std::to_string(run.w), d = std::to_string(run.d);
  std::string lines = "SELECT COUNT(*) FROM ORDER_LINE WHERE OL_W_ID = " + w +
                      " AND OL_D_ID = " + d + " AND OL_O_ID = " + std::to_string(t2);
  EXPECT_EQ(sql.integer(lines), 5);
  EXPECT_EQ(sql.integer(lines + " AND OL_I_ID IN (1014, 2014, 3014, 4014)"), 0);
  EXPECT_EQ(
      sql.integer("SELECT COUNT(*) FROM ORDERS" + where(run) + " AND O_ID > " + std::to_string(t2)),
      0);
}

}  // namespace
