// atom and consist end to end on the reference database.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "TestDb.h"

using namespace acidkit_test;

namespace {

int count(const std::vector<std::string>& out, const std::string& line) {
  return static_cast<int>(std::count(out.begin(), out.end(), line));
}

// Each heading is on a line of its own, underlined by as many "=".
void expectUnderlined(const std::vector<std::string>& out,
                      const std::vector<std::string>& headings) {
  int from = 0;
  for (const std::string& heading : headings) {
    int i = findLine(out, heading, from);
    ASSERT_GE(i, 0) << "missing or out of order: " << heading;
    ASSERT_LT(i + 1, static_cast<int>(out.size()));
    EXPECT_EQ(out[i + 1], std::string(heading.size(), '=')) << heading;
    from = i + 2;
  }
}

// A connection through TESTDB that is sure to reach the test's database: the
// driver manager may keep a data source it read earlier in the process (run
// the tests one per process, as ctest does).
std::unique_ptr<Sql> connect(const TestDatabase& db) {
  auto sql = std::make_unique<Sql>();
  EXPECT_TRUE(sql->ok()) << sql->lastError();
  EXPECT_EQ(sql->text("SELECT DATABASE()"), db.name()) << "TESTDB names another database";
  return sql;
}

long long cents(Sql& sql, const std::string& sum) {
  return sql.integer("SELECT CAST(" + sum + " * 100 AS SIGNED)");
}

TEST(AtomConsistTest, AtomPassesTheCommitAndRollbackTests) {
  TestDatabase db;
  ASSERT_TRUE(db.load("e2e_atom", kWarehouses));
  auto sql = connect(db);
  ASSERT_FALSE(testing::Test::HasFailure());
  long long history = sql->integer("SELECT COUNT(*) FROM HISTORY");
  long long warehouses = cents(*sql, "(SELECT SUM(W_YTD) FROM WAREHOUSE)");
  long long customers = cents(*sql, "(SELECT SUM(C_BALANCE) FROM CUSTOMER)");

  RunResult r = db.runProgram("atom");
  std::vector<std::string> out = lines(r.output);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(count(out, "Test passed"), 2) << r.output;
  EXPECT_EQ(count(out, "TEST FAILED"), 0);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "All atomicity tests passed");
  EXPECT_TRUE(std::regex_match(out[0], std::regex("W_ID : [0-9]+"))) << out[0];
  expectUnderlined(
      out,
      {"COMMIT TEST FOR ATOMICITY", "Row from customer before transaction",
       "Row from district before transaction", "Row from warehouse before transaction",
       "Execution of payment_by_id transaction (COMMIT)", "Row from customer after transaction",
       "Row from district after transaction", "Row from warehouse after transaction",
       "ROLLBACK TEST FOR ATOMICITY", "Row from customer before transaction",
       "Execution of payment_by_id transaction (ROLLBACK)",
       "Row from warehouse after transaction"});

  // Exactly the committed payment of 999.99 is in the database.
  EXPECT_EQ(sql->integer("SELECT COUNT(*) FROM HISTORY"), history + 1);
  EXPECT_EQ(cents(*sql, "(SELECT SUM(W_YTD) FROM WAREHOUSE)"), warehouses + 99999);
  EXPECT_EQ(cents(*sql, "(SELECT SUM(C_BALANCE) FROM CUSTOMER)"), customers - 99999);
}

TEST(AtomConsistTest, AtomReportsAFailedStepAndGoesOn) {
  TestDatabase db;
  ASSERT_TRUE(db.load("e2e_atom_fail", kWarehouses));
  ASSERT_TRUE(db.admin("DELETE FROM CUSTOMER;"));

  RunResult r = db.runProgram("atom");
  std::vector<std::string> out = lines(r.output);
  EXPECT_EQ(r.status, 0) << r.output;
  // Both tests stop at the customer read, print its diagnostics and go on.
  EXPECT_EQ(count(out, "======> ATOMICITY TEST FAILED!"), 2) << r.output;
  EXPECT_EQ(count(out, "SQL_DIAG_SQLSTATE     : 45000"), 2) << r.output;
  EXPECT_EQ(count(out, "Test passed") + count(out, "TEST FAILED"), 0);
  EXPECT_EQ(findLine(out, "Execution of payment_by_id transaction (COMMIT)"), -1);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "AT LEAST ONE ATOMICITY TEST FAILED!");
}

// The sample of a database loaded with warehouses 1..W, as consist lists it.
std::vector<std::string> sampleOf(int w) {
  std::vector<std::string> sample{"1"};
  for (double f : {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9}) {
    sample.push_back(std::to_string(static_cast<int>(w * f)));
  }
  sample.push_back(std::to_string(w));
  std::sort(sample.begin(), sample.end());
  return sample;
}

void expectConsistPassed(const RunResult& r) {
  std::vector<std::string> out = lines(r.output);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[0], "");
  EXPECT_TRUE(std::regex_match(
      out[1],
      std::regex("Consistency test: current time: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")))
      << out[1];
  int listing = findLine(out, "SELECT * FROM TEMP_W");
  ASSERT_GE(listing, 0) << r.output;
  ASSERT_LE(listing + 13, static_cast<int>(out.size()));
  std::vector<std::string> listed(out.begin() + listing + 1, out.begin() + listing + 12);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, sampleOf(kWarehouses));
  EXPECT_EQ(out[listing + 12], "");
  expectUnderlined(out,
                   {"Warehouses on which consistency check has been run",
                    "Results of consistency condition 1", "Results of consistency condition 2",
                    "Results of consistency condition 3", "Results of consistency condition 4"});
  for (int n = 1; n <= 4; ++n) {
    EXPECT_GE(findLine(out, "Consistency Test #" + std::to_string(n) + " Passed"), 0) << n;
  }
  EXPECT_EQ(out.back(), "All consistency tests passed");
}

TEST(AtomConsistTest, ConsistPassesOnAFreshDatabase) {
  TestDatabase db;
  ASSERT_TRUE(db.load("e2e_consist", kWarehouses));
  expectConsistPassed(db.runProgram("consist"));
  // TEMP_W stays behind, and a second run replaces it.
  expectConsistPassed(db.runProgram("consist"));
  EXPECT_EQ(connect(db)->integer("SELECT COUNT(*) FROM TEMP_W"), 11);
}

TEST(AtomConsistTest, ConsistFindsEachBrokenCondition) {
  TestDatabase db;
  ASSERT_TRUE(db.load("e2e_consist_broken", kWarehouses));
  auto connection = connect(db);
  ASSERT_FALSE(testing::Test::HasFailure());
  Sql& sql = *connection;
  long long oldest =
      sql.integer("SELECT MIN(NO_O_ID) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 5");
  std::string middle = std::to_string(oldest + 1);
  struct Case {
    int condition;
    std::string breakIt;
    std::string repairIt;
    int failedLines;  // condition 2 has two queries, both of which see it
  };
  const Case cases[] = {
      {1, "UPDATE DISTRICT SET D_YTD = D_YTD + 1 WHERE D_W_ID = 1 AND D_ID = 4",
       "UPDATE DISTRICT SET D_YTD = D_YTD - 1 WHERE D_W_ID = 1 AND D_ID = 4", 1},
      {2, "UPDATE DISTRICT SET D_NEXT_O_ID = D_NEXT_O_ID + 1 WHERE D_W_ID = 1 AND D_ID = 4",
       "UPDATE DISTRICT SET D_NEXT_O_ID = D_NEXT_O_ID - 1 WHERE D_W_ID = 1 AND D_ID = 4", 2},
      {3, "DELETE FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 5 AND NO_O_ID = " + middle,
       "INSERT INTO NEW_ORDER (NO_O_ID, NO_D_ID, NO_W_ID) VALUES (" + middle + ", 5, 1)", 1},
      {4, "UPDATE ORDERS SET O_OL_CNT = O_OL_CNT + 1 WHERE O_W_ID = 1 AND O_D_ID = 6 AND O_ID = 9",
       "UPDATE ORDERS SET O_OL_CNT = O_OL_CNT - 1 WHERE O_W_ID = 1 AND O_D_ID = 6 AND O_ID = 9", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("condition " + std::to_string(c.condition));
    ASSERT_TRUE(sql.exec(c.breakIt)) << sql.lastError();
    RunResult r = db.runProgram("consist");
    ASSERT_TRUE(sql.exec(c.repairIt)) << sql.lastError();
    std::vector<std::string> out = lines(r.output);
    EXPECT_EQ(r.status, 0) << r.output;
    for (int n = 1; n <= 4; ++n) {
      std::string failed = "Failed consistency condition " + std::to_string(n);
      std::string passed = "Consistency Test #" + std::to_string(n) + " Passed";
      bool broken = n == c.condition;
      EXPECT_EQ(count(out, failed), broken ? c.failedLines : 0) << r.output;
      EXPECT_EQ(count(out, passed), broken ? 0 : 1) << r.output;
      // Every condition is checked, the broken one included.
      EXPECT_GE(findLine(out, "Results of consistency condition " + std::to_string(n)), 0);
    }
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), "AT LEAST ONE CONSISTENCY TEST FAILED");
  }

  // Condition 4's query cannot run: its text is not printed, the diagnostics
  // and the failure line follow its heading, and the run still ends normally.
  ASSERT_TRUE(db.admin("RENAME TABLE ORDER_LINE TO ORDER_LINE_AWAY;"));
  RunResult r = db.runProgram("consist");
  ASSERT_TRUE(db.admin("RENAME TABLE ORDER_LINE_AWAY TO ORDER_LINE;"));
  std::vector<std::string> out = lines(r.output);
  EXPECT_EQ(r.status, 0) << r.output;
  int heading = findLine(out, "Results of consistency condition 4");
  ASSERT_GE(heading, 0) << r.output;
  ASSERT_GE(out.size(), heading + 10u) << r.output;
  EXPECT_EQ(out[heading + 2], "");
  EXPECT_EQ(out[heading + 3], std::string(45, '='));
  EXPECT_EQ(out[heading + 4], "SQL_DIAG_SQLSTATE     : 42S02");
  EXPECT_EQ(out[heading + 8], "CONSISTENCY TEST FAILED!");
  EXPECT_EQ(count(out, "Consistency Test #3 Passed"), 1);
  EXPECT_EQ(count(out, "Consistency Test #4 Passed"), 0);
  EXPECT_EQ(out.back(), "AT LEAST ONE CONSISTENCY TEST FAILED");

  expectConsistPassed(db.runProgram("consist"));
}

TEST(AtomConsistTest, BothFailWhenTheDataSourceCannotBeReached) {
  TestDatabase db;
  ASSERT_TRUE(db.useUnreachable("atom_consist"));
  struct Case {
    const char* program;
    const char* failureLine;
  };
  for (const Case& c : {Case{"atom", "======> ATOMICITY TEST FAILED!"},
                        Case{"consist", "CONSISTENCY TEST FAILED!"}}) {
    SCOPED_TRACE(c.program);
    RunResult r = db.runProgram(c.program);
    std::vector<std::string> out = lines(r.output);
    EXPECT_EQ(r.status, 1) << r.output;
    // The connection's record (the environment has none), then the line.
    ASSERT_EQ(out.size(), 7u) << r.output;
    EXPECT_EQ(out[0], "");
    EXPECT_EQ(out[1], std::string(45, '='));
    EXPECT_TRUE(out[2].starts_with("SQL_DIAG_SQLSTATE     : ")) << out[2];
    EXPECT_TRUE(out[3].starts_with("SQL_DIAG_NATIVE       : ")) << out[3];
    EXPECT_NE(out[4].find("Can't connect"), std::string::npos) << out[4];
    EXPECT_EQ(out[5], std::string(45, '='));
    EXPECT_EQ(out[6], c.failureLine);
  }
}

}  // namespace
