// Faults injected end to end: each case runs a program of the sanitizer build
// (with the handle ledger) against a database of its own that is unreachable,
// lacks the rows a procedure needs, fails with retryable errors, or keeps a
// row locked; it checks the exact lines the program prints, its exit status,
// that it held no handle at exit, and what the database holds afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>

#include "Reliability.h"

using namespace acidkit_test;

namespace {

const std::string kRule(45, '=');

std::vector<std::string> idLines(const ProgramRun& ids) {
  return {"W_ID : " + std::to_string(ids.w), "D_ID : " + std::to_string(ids.d),
          "C_ID : " + std::to_string(ids.c), ""};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A diagnostic block of atom and consist ("~RE" for a message: a pattern).
std::vector<std::string> diagnosticBlock(const std::string& state, const std::string& native,
                                         const std::string& message) {
  const std::string label = "SQL_DIAG_MESSAGE_TEXT : ";
  return {"",
          kRule,
          "SQL_DIAG_SQLSTATE     : " + state,
          "SQL_DIAG_NATIVE       : " + native,
          message[0] == '~' ? "~" + literal(label) + message.substr(1) : label + message,
          kRule};
}

// A transaction that failed on a statement with a non-zero native error: the
// statement's message, then the connection's (the same buffer: the
// connection has no record of its own), then the caller's line.
std::vector<std::string> failedTransaction(const std::string& message,
                                           const std::string& errorLine) {
  return {"", message, "", message, errorLine};
}

void expectStatus(const CheckedRun& run, int status, const std::string& what) {
  EXPECT_EQ(run.status, status) << what << "\n" << run.output;
}

// --- TESTDB unreachable at start --------------------------------------------

class Unreachable : public testing::TestWithParam<std::string> {};

TEST_P(Unreachable, ReportsTheConnectFailureAndReleasesEverything) {
  const std::string program = GetParam();
  CheckedDatabase db;
  ASSERT_TRUE(db.create("unreachable_" + program, Server::shared(), false));
  db.makeUnreachable();
  db.useHere();
  const Diagnostic connect = connectError();
  const std::string& m = connect.message;
  ASSERT_NE(m, "");

  CheckedRun run = db.run(program);
  std::vector<std::string> expected;
  int status = 1;
  if (program == "isolation1") {
    expected = idLines(run) + std::vector<std::string>{"T1(New-Order) start",
                                                       "",
                                                       m,
                                                       "Error New Order Transaction!",
                                                       "T1(New-Order) end",
                                                       "T2(Order-Status) start",
                                                       "",
                                                       m,
                                                       "Error Order Status Transaction!",
                                                       "T2(Order-Status) end",
                                                       "T3(Order-Status) start",
                                                       "",
                                                       m,
                                                       "Error Order Status Transaction0!"};
  } else if (program == "isolation2") {
    expected = idLines(run) + std::vector<std::string>{"T0(Order-Status) start", "", m,
                                                       "Error Order Status Transaction0!"};
  } else if (program == "isolation3" || program == "isolation4") {
    expected = idLines(run) + std::vector<std::string>{"", m, "Error D_NEXT_O_ID"};
  } else if (program == "isolation5" || program == "isolation6") {
    expected = {"", m, "Error C_ID"};
  } else if (program == "isolation7") {
    expected = idLines(run) + std::vector<std::string>{"T1(Query I_PRICE from items x and y) start",
                                                       "", m, "Error I_PRICE"};
  } else if (program == "isolation8") {
    // It first makes sure that no earlier run left rows in district 255.
    expected = idLines(run) +
               std::vector<std::string>{
                   "", m, "Error reading district 255 of warehouse " + std::to_string(run.w)};
  } else if (program == "isolation9") {
    // Both transactions failed: the verdict cannot be "passed".
    status = 0;
    expected = idLines(run) + std::vector<std::string>{"T1(Order-Status) start",
                                                       "",
                                                       m,
                                                       "Error Order Status Transaction!",
                                                       "T1(Order-Status) end",
                                                       "T2(New-Order) start",
                                                       "",
                                                       m,
                                                       "Error New Order Transaction!",
                                                       "T2(New-Order) end",
                                                       "",
                                                       "Order status results",
                                                       "T1 Order ID: 0 -> 0",
                                                       "",
                                                       "New order results:",
                                                       "T2 Customer last name: ",
                                                       "T2 Order ID: 0",
                                                       "T2 # order lines: 5",
                                                       "Reason: T1(Order-Status) failed, so what "
                                                       "it read or wrote proves nothing",
                                                       "Reason: T2(New-Order) failed, so what it "
                                                       "read or wrote proves nothing",
                                                       "",
                                                       "Isolation test 9 failed"};
  } else {
    expected = diagnosticBlock(connect.state, std::to_string(connect.native), m) +
               std::vector<std::string>{program == "atom" ? "======> ATOMICITY TEST FAILED!"
                                                          : "CONSISTENCY TEST FAILED!"};
  }
  expectStatus(run, status, program);
  expectExactLines(run, expected, program);
  expectNoHandlesHeld(run, program);
}

INSTANTIATE_TEST_SUITE_P(Programs, Unreachable, testing::ValuesIn(allPrograms()),
                         [](const auto& info) { return info.param; });

// --- a row that a procedure needs is missing ----------------------------------

// Empties a table for the length of one case, keeping its rows aside.
class HiddenTable {
 public:
  HiddenTable(const CheckedDatabase& db, const std::string& table) : db_(db), table_(table) {
    db_.admin("RENAME TABLE " + table + " TO " + table + "_hidden; CREATE TABLE " + table +
              " LIKE " + table + "_hidden;");
  }
  ~HiddenTable() {
    db_.admin("DROP TABLE " + table_ + "; RENAME TABLE " + table_ + "_hidden TO " + table_ + ";");
  }

 private:
  const CheckedDatabase& db_;
  std::string table_;
};

struct MissingRowCase {
  std::string name;
  std::string program;
  std::string table;  // emptied while the program runs
  int status;
  // Lines expected, given the run's ids and the server's message prefix.
  std::function<std::vector<std::string>(const ProgramRun&, const std::string&)> lines;
  bool exact = true;  // else: these lines in this order among others
  // Tables that the failed run must leave exactly as they were (all nine when empty).
  std::vector<std::string> unchanged = {};
};

std::vector<MissingRowCase> missingRowCases() {
  const std::string noRow = "no row: ";
  return {
      {"next order number of a missing district", "isolation3", "DISTRICT", 1,
       [=](const ProgramRun& i, const std::string& p) {
         std::string m =
             p + noRow + "DISTRICT D_W_ID=" + std::to_string(i.w) + " D_ID=" + std::to_string(i.d);
         return idLines(i) + std::vector<std::string>{m, "", m, "Error D_NEXT_O_ID"};
       }},
      {"customer of a district without undelivered orders", "isolation5", "NEW_ORDER", 1,
       [=](const ProgramRun&, const std::string& p) {
         std::string m =
             "~" + literal(p + noRow) + "undelivered order in NO_W_ID=\\d+ NO_D_ID=\\d+";
         return std::vector<std::string>{m, "", m, "Error C_ID"};
       }},
      {"moving the rows of a district that has none", "isolation8", "NEW_ORDER", 1,
       [=](const ProgramRun& i, const std::string&) {
         // The update matches no row: SQL_NO_DATA, no diagnostic record, so
         // both diagnostic lines print the empty buffer.
         return idLines(i) +
                std::vector<std::string>{"", "", "", "Error remove all rows(NEW-ORDER)"};
       }},
      {"price of a missing item", "isolation7", "ITEM", 1,
       [=](const ProgramRun& i, const std::string& p) {
         std::string m = "~" + literal(p + noRow) + "ITEM I_ID=\\d+";
         return idLines(i) + std::vector<std::string>{"T1(Query I_PRICE from items x and y) start",
                                                      m, "", m, "Error I_PRICE"};
       }},
      {"Order-Status of a missing customer on the main thread", "isolation2", "CUSTOMER", 1,
       [=](const ProgramRun& i, const std::string& p) {
         std::string m = p + noRow + "CUSTOMER C_W_ID=" + std::to_string(i.w) +
                         " C_D_ID=" + std::to_string(i.d) + " C_ID=" + std::to_string(i.c);
         return idLines(i) + std::vector<std::string>{"T0(Order-Status) start"} +
                failedTransaction(m, "Error Order Status Transaction0!");
       }},
      {"New-Order of a missing customer", "isolation3", "CUSTOMER", 0,
       [=](const ProgramRun& i, const std::string& p) {
         std::string m = p + noRow + "CUSTOMER C_W_ID=" + std::to_string(i.w) +
                         " C_D_ID=" + std::to_string(i.d) + " C_ID=" + std::to_string(i.c);
         return std::vector<std::string>{"T1(New-Order) start"} +
                failedTransaction(m, "Error New Order Transaction!") +
                std::vector<std::string>{"T1(New-Order) end", "T2(New-Order) start"} +
                failedTransaction(m, "Error New Order Transaction!") +
                std::vector<std::string>{"T2(New-Order) end",
                                         "",
                                         "~Initial D_NEXT_O_ID : \\d+",
                                         "Order id of T1      : 0",
                                         "Order id of T2      : 0",
                                         "~Final D_NEXT_O_ID   : \\d+",
                                         "",
                                         "Isolation test 3 failed"};
       },
       false},
      {"Delivery of an order without lines",
       "isolation5",
       "ORDER_LINE",
       0,
       [=](const ProgramRun& i, const std::string&) {
         // The ORDER_LINE update matches no row: SQL_NO_DATA without a
         // diagnostic record, so only the connection's (empty) line.
         return std::vector<std::string>{"T1(Delivery) start",
                                         "",
                                         "",
                                         "Error Delivery Transaction!",
                                         "T1(Delivery) end",
                                         "T2(Payment) start",
                                         "T2(Payment) end",
                                         "",
                                         "Using customer: " + std::to_string(i.c),
                                         "Isolation test 5 failed"};
       },
       false,
       {"NEW_ORDER", "ORDERS", "ORDER_LINE", "STOCK", "ITEM"}},
      {"atomicity reads of a missing customer", "atom", "CUSTOMER", 0,
       [=](const ProgramRun&, const std::string& p) {
         std::vector<std::string> one = {"Row from customer before transaction",
                                         std::string(36, '=')};
         one = one +
               diagnosticBlock(
                   "45000", "1644",
                   "~" + literal(p + noRow) + "CUSTOMER C_W_ID=\\d+ C_D_ID=\\d+ C_ID=\\d+") +
               std::vector<std::string>{"======> ATOMICITY TEST FAILED!"};
         return std::vector<std::string>{"COMMIT TEST FOR ATOMICITY"} + one +
                std::vector<std::string>{"ROLLBACK TEST FOR ATOMICITY"} + one +
                std::vector<std::string>{"AT LEAST ONE ATOMICITY TEST FAILED!"};
       },
       false},
      {"warehouse sample of an empty WAREHOUSE table", "consist", "WAREHOUSE", 1,
       [=](const ProgramRun&, const std::string& p) {
         return diagnosticBlock("45000", "1644", p + noRow + "WAREHOUSE is empty") +
                std::vector<std::string>{"CONSISTENCY TEST FAILED!", "CONSISTENCY TEST FAILED!"};
       },
       false},
  };
}

TEST(MissingRow, EveryProcedureThatMustFailEndsItsProgramAsDocumented) {
  CheckedDatabase db;
  ASSERT_TRUE(db.create("missing_rows"));
  db.useHere();
  const std::string prefix = serverMessagePrefix();
  for (const MissingRowCase& c : missingRowCases()) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> before = db.checksums();
    CheckedRun run;
    {
      HiddenTable hidden(db, c.table);
      run = db.run(c.program);
    }
    std::cout << c.name << ": " << c.program << " exit " << run.status << ", " << run.seconds
              << " s\n";
    std::string what = c.name + " (" + c.program + ")";
    expectStatus(run, c.status, what);
    std::vector<std::string> expected = c.lines(run, prefix);
    if (c.exact) {
      expectExactLines(run, expected, what);
    } else {
      expectLinesInOrder(run, expected, what);
    }
    expectNoHandlesHeld(run, what);
    // Nothing lost, nothing half done.
    std::map<std::string, std::string> after = db.checksums();
    if (c.unchanged.empty()) {
      EXPECT_EQ(after, before) << what;
    } else {
      for (const std::string& table : c.unchanged) EXPECT_EQ(after[table], before[table]) << what;
    }
  }
}

// --- retryable errors -----------------------------------------------------------

struct RetryCase {
  std::string transaction;
  std::string program;
  std::string point;  // fault point that the transaction passes on every attempt
  std::string errorLine;
  std::string startLine;  // of the thread or the test that runs the transaction
  std::string passedLine;
  std::string failedLine;
};

std::vector<RetryCase> retryCases() {
  return {{"NewOrder", "isolation3", "updateDistrictGetOrderline", "Error New Order Transaction!",
           "T1(New-Order) start", "Isolation test 3 passed", "Isolation test 3 failed"},
          {"Payment", "atom", "getCustAll", "======> ATOMICITY TEST FAILED!",
           "Execution of payment_by_id transaction (COMMIT)", "All atomicity tests passed",
           "AT LEAST ONE ATOMICITY TEST FAILED!"},
          {"Delivery", "isolation5", "getOrderlineAmount", "Error Delivery Transaction!",
           "T1(Delivery) start", "Isolation test 5 passed", "Isolation test 5 failed"},
          {"OrderStatus", "isolation1", "getCustBalanceName", "Error Order Status Transaction!",
           "T2(Order-Status) start", "Isolation test 1 passed", "Isolation test 1 failed"}};
}

class Retry : public testing::TestWithParam<RetryCase> {};

// Rows that a committed transaction of the case adds or changes.
long long historyRows(Sql& sql) {
  return sql.integer("SELECT COUNT(*) FROM HISTORY");
}
long long orders(Sql& sql) {
  return sql.integer("SELECT COUNT(*) FROM ORDERS");
}
long long newOrders(Sql& sql) {
  return sql.integer("SELECT COUNT(*) FROM NEW_ORDER");
}

TEST_P(Retry, FiveFailuresAreRetriedSilentlyTheSixthFailsTheTransaction) {
  const RetryCase& c = GetParam();
  CheckedDatabase db;
  ASSERT_TRUE(db.create("retry_" + c.transaction));
  ASSERT_TRUE(db.enableFaults());
  db.useHere();
  const std::string fault =
      serverMessagePrefix() + "acidkit fault injected at " + c.point + " (14032)";
  for (int failures : {5, 6}) {
    SCOPED_TRACE(std::to_string(failures) + " failures");
    ASSERT_TRUE(
        db.admin("DELETE FROM acidkit_fault; INSERT INTO acidkit_fault (point, remaining) "
                 "VALUES ('" +
                 c.point + "', " + std::to_string(failures) + ");"));
    Sql sql;
    ASSERT_TRUE(sql.ok()) << sql.lastError();
    const long long history = historyRows(sql), orderCount = orders(sql),
                    newOrderCount = newOrders(sql);
    CheckedRun run = db.run(c.program);
    std::string what = c.program + ", " + std::to_string(failures) + " failures at " + c.point;
    std::cout << what << ": exit " << run.status << ", " << run.seconds << " s\n";
    expectStatus(run, 0, what);
    expectNoHandlesHeld(run, what);
    EXPECT_EQ(sql.integer("SELECT fired FROM acidkit_fault"), failures) << what;
    if (failures == 5) {
      // Retried without a word: no diagnostic, the transaction succeeds.
      EXPECT_EQ(run.output.find("acidkit fault injected"), std::string::npos) << run.output;
      expectLinesInOrder(run, {c.startLine, c.passedLine}, what);
    } else {
      expectLinesInOrder(run,
                         std::vector<std::string>{c.startLine} +
                             failedTransaction(fault, c.errorLine) +
                             std::vector<std::string>{c.failedLine},
                         what);
    }
    // What the sixth failure leaves: nothing of the failed transaction.
    const bool failed = failures == 6;
    if (c.transaction == "NewOrder") {
      EXPECT_EQ(orders(sql), orderCount + (failed ? 1 : 2)) << what;
      EXPECT_EQ(findLine(run.out, "Order id of T1      : 0") != -1, failed) << run.output;
    } else if (c.transaction == "Payment") {
      // The commit test's Payment, when it went through; the rollback test's never.
      EXPECT_EQ(historyRows(sql), history + (failed ? 0 : 1)) << what;
    } else if (c.transaction == "Delivery") {
      // Ten orders delivered, or none; T2's Payment commits either way.
      EXPECT_EQ(newOrders(sql), newOrderCount - (failed ? 0 : 10)) << what;
      EXPECT_EQ(historyRows(sql), history + 1) << what;
    } else {
      EXPECT_EQ(orders(sql), orderCount + 1) << what;  // T1's New-Order commits
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Transactions, Retry, testing::ValuesIn(retryCases()),
                         [](const testing::TestParamInfo<RetryCase>& info) {
                           return info.param.transaction;
                         });

// --- a row locked for good: the lock wait timeout ends every wait ---------------

// Holds row locks on an open transaction of its own until destroyed.
class RowLocker {
 public:
  explicit RowLocker(const std::string& lockingQuery) {
    EXPECT_TRUE(sql_.ok()) << sql_.lastError();
    SQLSetConnectAttr(sql_.dbc(), SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF,
                      SQL_IS_UINTEGER);
    EXPECT_TRUE(sql_.exec(lockingQuery)) << sql_.lastError();
  }
  ~RowLocker() { SQLEndTran(SQL_HANDLE_DBC, sql_.dbc(), SQL_ROLLBACK); }

 private:
  Sql sql_;
};

class LockWait : public testing::Test {
 protected:
  bool prepare(const std::string& name) {
    if (!db_.create("lockwait_" + name)) return false;
    // A short lock wait for this database's sessions only; the reference
    // server waits 180 s.
    db_.addDataSourceLine("InitStmt    = SET SESSION innodb_lock_wait_timeout = 2");
    db_.useHere();
    lockTimeout_ = serverMessagePrefix() + "Lock wait timeout exceeded; try restarting transaction";
    return true;
  }
  CheckedDatabase db_;
  std::string lockTimeout_;
};

TEST_F(LockWait, TransactionsRetryOnTheTimeoutSixTimesThenReport) {
  ASSERT_TRUE(prepare("transaction"));
  std::map<std::string, std::string> before = db_.checksums();
  CheckedRun run;
  {
    RowLocker locker("SELECT COUNT(*) FROM STOCK FOR UPDATE");
    run = db_.run("isolation3", Checker::kSanitized, 120);
  }
  std::cout << "isolation3 against a locked STOCK: exit " << run.status << ", " << run.seconds
            << " s\n";
  expectStatus(run, 0, "isolation3");
  // T2 starts while T1 still retries: each thread's lines in order.
  for (const std::string thread : {"T1", "T2"}) {
    expectLinesInOrder(
        run,
        std::vector<std::string>{thread + "(New-Order) start"} +
            failedTransaction(lockTimeout_, "Error New Order Transaction!") +
            std::vector<std::string>{thread + "(New-Order) end", "Isolation test 3 failed"},
        "isolation3 " + thread);
  }
  // Six waits of 2 s each, then the report: no hang, no early give-up.
  int start = findLine(run.out, "T1(New-Order) start"),
      end = findLine(run.out, "T1(New-Order) end");
  ASSERT_GE(start, 0);
  ASSERT_GE(end, 0);
  double waited = timestampOf(run.out[end]) - timestampOf(run.out[start]);
  EXPECT_GE(waited, 11.5) << run.output;
  EXPECT_LT(waited, 30) << run.output;
  expectNoHandlesHeld(run, "isolation3");
  EXPECT_EQ(db_.checksums(), before);
}

TEST_F(LockWait, ASideConnectionReportsTheTimeoutAtOnce) {
  ASSERT_TRUE(prepare("side"));
  CheckedRun run;
  {
    RowLocker locker("SELECT COUNT(*) FROM DISTRICT FOR UPDATE");
    run = db_.run("isolation3", Checker::kSanitized, 60);
  }
  expectStatus(run, 1, "isolation3");
  expectExactLines(
      run,
      idLines(run) + std::vector<std::string>{lockTimeout_, "", lockTimeout_, "Error D_NEXT_O_ID"},
      "isolation3");
  EXPECT_LT(run.seconds, 20);
  expectNoHandlesHeld(run, "isolation3");
}

// --- isolation8: a signal while the environment is released --------------------

// Runs a program of the sanitizer build in the background; its output goes to
// <dir>/out, its exit status to <dir>/status.
void launch(const CheckedDatabase& db, const std::string& program, const std::string& dir,
            const RunOptions& options) {
  std::string command = "timeout -k 10 240 sh -c " +
                        shellQuote(db.command(program, Checker::kSanitized, dir, options)) + " > " +
                        dir + "/out 2>&1; echo $? > " + dir + "/status";
  ASSERT_EQ(std::system(("(" + command + ") >/dev/null 2>&1 &").c_str()), 0);
}

// The process named `name` whose working directory is `dir` (the run
// directory of one launch, so never another test's program); -1 if none.
int pidRunningIn(const std::string& dir, const std::string& name) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ec;
    auto cwd = std::filesystem::read_symlink(entry.path() / "cwd", ec);
    if (ec || cwd != std::filesystem::canonical(dir, ec)) continue;
    std::string comm = readFile(entry.path().string() + "/comm");
    if (comm == name + "\n") return std::atoi(pid.c_str());
  }
  return -1;
}

// The rows cannot go back (a trigger refuses), so isolation8 ends through its
// exit path with the rows parked while it releases gEnv, slowed down by the
// handle ledger. A SIGINT then must not start a move on the released
// environment: the watcher is shut out before the release.
TEST(Isolation8Release, ASignalDuringTheReleaseUsesNoReleasedHandle) {
  CheckedDatabase db;
  ASSERT_TRUE(db.create("isolation8_release"));
  ASSERT_TRUE(
      db.admin("DELIMITER //\nCREATE TRIGGER no_way_back BEFORE UPDATE ON NEW_ORDER FOR EACH ROW "
               "IF OLD.NO_D_ID = 255 THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'no way "
               "back'; END IF //\nDELIMITER ;\n"));
  const std::string dir = freshRunDir("isolation8_release");
  RunOptions options;
  options.wrapper = "ACIDKIT_LEDGER_SLOW_ENV_FREE=4";
  options.detectLeaks = false;  // the rows' watcher thread still waits at exit
  launch(db, "isolation8", dir, options);
  // The main thread releases gEnv (the program's output is still in its
  // buffer): the ledger marks the start of the slowed release.
  for (int i = 0; i < 1200 && !std::filesystem::exists(dir + "/ledger.env-freed"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(std::filesystem::exists(dir + "/ledger.env-freed")) << readFile(dir + "/out");
  const int pid = pidRunningIn(dir, "isolation8");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGINT), 0);
  for (int i = 0; i < 200 && readFile(dir + "/status").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  CheckedRun run =
      db.collect(dir, std::atoi(readFile(dir + "/status").c_str()), readFile(dir + "/out"));
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(run.output.find("Interrupted by SIGINT"), std::string::npos) << run.output;
  expectLinesInOrder(
      run, {"Error restore all rows(NEW-ORDER)", "~The NEW_ORDER rows of warehouse \\d+, .*"},
      "isolation8");
  expectNoHandlesHeld(run, "isolation8");
}

}  // namespace
