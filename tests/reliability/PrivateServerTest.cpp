// Servers that die or stop answering, on a private server of the tests (never
// the shared one). Killed while transactions hold their locks, then
// restarted: the nine isolation programs run side by side, each on a
// database of its own; once every program
// has a transaction paused holding locks and another one waiting for them,
// the server is killed (SIGKILL) and started again. Every waiting transaction
// must report the lost connection, every paused one must report its failure
// when it wakes, every program must reach its verdict with exit status 0
// within a bounded time, hold no handle at exit, and leave its database as it
// was: nothing of the interrupted transactions committed, nothing lost.
// Frozen (SIGSTOP): the data source's timeouts end every wait with a report.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <thread>

#include "Reliability.h"
#include "TestDb.h"

using namespace acidkit_test;

namespace {

using Clock = std::chrono::steady_clock;

// The private server runs for this test only.
class PrivateServer {
 public:
  PrivateServer() : server_(Server::privateInstance()) {}
  ~PrivateServer() {
    if (started_) server_.refdb("stop");
  }
  bool start() {
    RunResult r = server_.refdb("start");
    started_ = true;
    EXPECT_EQ(r.status, 0) << r.output;
    return r.status == 0;
  }
  const Server& server() const { return server_; }

 private:
  Server server_;
  bool started_ = false;
};

struct Expectation {
  std::string program;
  std::string waitingStart;  // the transaction that waits for the paused one
  std::vector<std::string> waiting;
  std::vector<std::string> paused;  // from the pause line to the verdict
};

std::vector<Expectation> expectations(const std::string& prefix) {
  // The connector's own prefix ("[ma-x.y.z]") comes first in the server's.
  const std::string connector = prefix.substr(0, prefix.find(']') + 1);
  const std::string lost = "(Lost connection to server during query|Server has gone away)";
  // A statement that finds the connection gone, and the connection's line
  // (its own record, or the statement's text kept in the buffer).
  const std::string onStatement = "~" + literal(prefix) + lost;
  const std::string onConnection = "~(" + literal(prefix) + "|" + literal(connector) + ")" + lost;
  auto failedStatement = [&](const std::string& errorLine) {
    return std::vector<std::string>{"", onStatement, "", onConnection, errorLine};
  };
  // The end of the transaction fails: the connection's line only.
  auto failedEnd = [&](const std::string& errorLine) {
    return std::vector<std::string>{"", onConnection, errorLine};
  };
  auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::string newOrderError = "Error New Order Transaction!";
  const std::string orderStatusError = "Error Order Status Transaction!";
  auto waitingNewOrder = join(failedStatement(newOrderError), {"T2(New-Order) end"});
  auto waitingOrderStatus = join(failedStatement(orderStatusError), {"T2(Order-Status) end"});
  auto pausedNewOrder = [&](const std::string& completion, int test) {
    return join({"- T1 paused prior to " + completion},
                join(failedEnd(newOrderError),
                     {"T1(New-Order) end", "Isolation test " + std::to_string(test) + " failed"}));
  };
  auto pausedDelivery = [&](const std::string& completion, int test) {
    return join({"- T1 paused prior to " + completion},
                join(failedEnd("Error Delivery Transaction!"),
                     {"T1(Delivery) end", "Isolation test " + std::to_string(test) + " failed"}));
  };
  return {
      {"isolation1", "T2(Order-Status) start", waitingOrderStatus,
       join(pausedNewOrder("commit", 1), {})},
      {"isolation2", "T2(Order-Status) start", waitingOrderStatus, pausedNewOrder("rollback", 2)},
      {"isolation3", "T2(New-Order) start", waitingNewOrder, pausedNewOrder("commit", 3)},
      {"isolation4", "T2(New-Order) start", waitingNewOrder, pausedNewOrder("rollback", 4)},
      {"isolation5", "T2(Payment) start",
       join(failedStatement("Error Payment Transaction!"), {"T2(Payment) end"}),
       pausedDelivery("commit", 5)},
      {"isolation6", "T2(Payment) start",
       join(failedStatement("Error Payment Transaction!"), {"T2(Payment) end"}),
       pausedDelivery("rollback", 6)},
      // T3's update reports with puts, then the connection's line; no end line.
      {"isolation7",
       "T3(Increase the price of items) start",
       {onStatement, "", onConnection, "T3 ERROR"},
       join({"- T2 paused after scanning first item (x)"},
            join(failedStatement(newOrderError),
                 {"T2(New-Order) end", "T4(Query I_PRICE from items x and y) end",
                  "Isolation test 7 failed"}))},
      {"isolation8", "T2(New-Order) start", waitingNewOrder,
       join({"- T1 paused after reading the NEW-ORDER table for selected district."},
            join(failedStatement("Error Delivery Transaction!"),
                 {"T1(Delivery) end", "Delivery results", "Isolation test 8 failed"}))},
      {"isolation9", "T2(New-Order) start", waitingNewOrder,
       join({"- T1 paused after reading the ORDER table for selected customer."},
            join(failedStatement(orderStatusError),
                 {"T1(Order-Status) end", "Isolation test 9 failed"}))},
  };
}

TEST(ServerKill, EveryPausedProgramReportsTheLossReachesItsVerdictAndLosesNothing) {
  PrivateServer instance;
  ASSERT_TRUE(instance.start());
  const Server& server = instance.server();
  RunResult tpl = server.loadTemplate();
  ASSERT_EQ(tpl.status, 0) << tpl.output;

  std::vector<CheckedDatabase> dbs(pausingPrograms().size());
  std::vector<std::map<std::string, std::string>> before(dbs.size());
  for (size_t i = 0; i < dbs.size(); ++i) {
    ASSERT_TRUE(dbs[i].create("kill_" + pausingPrograms()[i], server));
  }
  // A clean restart first: the copies' redo is checkpointed, so that the
  // restart after the kill takes seconds, before the paused transactions wake.
  ASSERT_EQ(server.refdb("stop").status, 0);
  ASSERT_TRUE(instance.start());
  for (size_t i = 0; i < dbs.size(); ++i) before[i] = dbs[i].checksums();
  dbs[0].useHere();
  const std::vector<Expectation> expected = expectations(serverMessagePrefix());

  // Each writes its output and exit status to its run dir. isolation7 and
  // isolation8 start their waiting transaction 20 s after the paused one,
  // the others after 10 s: the others start 10 s later, so that all wait
  // from about the same moment.
  std::vector<std::string> runDirs(dbs.size());
  auto launch = [&](size_t i) {
    const std::string& program = pausingPrograms()[i];
    runDirs[i] = freshRunDir("kill_" + program);
    const std::string& dir = runDirs[i];
    std::string command = "timeout -k 10 240 sh -c " +
                          shellQuote(dbs[i].command(program, Checker::kSanitized, dir)) + " > " +
                          dir + "/out 2>&1; echo $? > " + dir + "/status";
    return std::system(("(" + command + ") >/dev/null 2>&1 &").c_str()) == 0;
  };
  const std::vector<size_t> late = {6, 7};  // isolation7, isolation8
  for (size_t i : late) ASSERT_TRUE(launch(i));
  std::this_thread::sleep_for(std::chrono::seconds(10));
  for (size_t i = 0; i < dbs.size(); ++i) {
    if (i != late[0] && i != late[1]) {
      ASSERT_TRUE(launch(i));
    }
  }

  // The kill comes as soon as the server shows, in every database, a
  // transaction waiting for a lock (the paused one holds it).
  std::string waitingIn;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  size_t waitingDatabases = 0;
  while (Clock::now() < deadline && waitingDatabases < dbs.size()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RunResult r = server.refdb(
        "sql -N -e \"SELECT DISTINCT p.DB FROM information_schema.INNODB_TRX t JOIN "
        "information_schema.PROCESSLIST p ON p.ID = t.trx_mysql_thread_id "
        "WHERE t.trx_state = 'LOCK WAIT'\"");
    waitingIn = r.output;
    waitingDatabases = lines(r.output).size();
  }
  ASSERT_EQ(waitingDatabases, dbs.size()) << "databases with a waiting transaction:\n" << waitingIn;
  const int pid = server.pid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  while (kill(pid, 0) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto killed = Clock::now();
  const double killedAt =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  ASSERT_TRUE(instance.start());
  std::cout << "server killed, restarted in "
            << std::chrono::duration<double>(Clock::now() - killed).count() << " s\n";

  // No program may hang: all end within the pause and a margin.
  for (size_t i = 0; i < dbs.size(); ++i) {
    while (Clock::now() < killed + std::chrono::seconds(150) &&
           readFile(runDirs[i] + "/status").empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  for (size_t i = 0; i < dbs.size(); ++i) {
    const Expectation& e = expected[i];
    SCOPED_TRACE(e.program);
    std::string status = readFile(runDirs[i] + "/status");
    ASSERT_FALSE(status.empty()) << e.program << " did not end:\n" << readFile(runDirs[i] + "/out");
    CheckedRun run =
        dbs[i].collect(runDirs[i], std::atoi(status.c_str()), readFile(runDirs[i] + "/out"));
    EXPECT_EQ(run.status, 0) << run.output;
    // The waiting transaction had started before the kill.
    int start = findLine(run.out, e.waitingStart);
    ASSERT_GE(start, 0) << run.output;
    EXPECT_LT(timestampOf(run.out[start]), killedAt) << run.output;
    std::vector<std::string> waiting = {e.waitingStart};
    waiting.insert(waiting.end(), e.waiting.begin(), e.waiting.end());
    expectLinesInOrder(run, waiting, e.program + " (waiting transaction)");
    expectLinesInOrder(run, e.paused, e.program + " (paused transaction)");
    expectNoHandlesHeld(run, e.program);
    EXPECT_EQ(dbs[i].checksums(), before[i]) << e.program << ": the database changed";
    // The kit's own check of the database afterwards.
    CheckedRun consist = dbs[i].run("consist");
    EXPECT_EQ(consist.status, 0) << consist.output;
    EXPECT_NE(findLine(consist.out, "All consistency tests passed"), -1) << consist.output;
  }
}

// The server dies while isolation8 moves the district's rows to district
// 255: the move fails and district 255 cannot be counted either. Nobody can
// tell where the rows are, so the program must neither move them back on a
// guess nor claim they are parked; it says it cannot tell and how to look.
TEST(ServerKill, Isolation8CannotTellWhereTheRowsAreAndSaysSo) {
  PrivateServer instance;
  ASSERT_TRUE(instance.start());
  const Server& server = instance.server();
  ASSERT_EQ(server.loadTemplate().status, 0);
  CheckedDatabase db;
  ASSERT_TRUE(db.create("kill_isolation8_park", server));
  // The first row of the move holds it for 20 s: time to kill the server.
  ASSERT_TRUE(
      db.admin("DELIMITER //\nCREATE TRIGGER slow_park BEFORE UPDATE ON NEW_ORDER FOR EACH ROW "
               "IF NEW.NO_D_ID = 255 AND @acidkit_slept IS NULL THEN "
               "SET @acidkit_slept = 1; DO SLEEP(20); END IF //\nDELIMITER ;\n"));
  db.useHere();
  const std::map<std::string, std::string> before = db.checksums();

  const std::string dir = freshRunDir("kill_isolation8_park");
  std::string command = "timeout -k 10 240 sh -c " +
                        shellQuote(db.command("isolation8", Checker::kSanitized, dir)) + " > " +
                        dir + "/out 2>&1; echo $? > " + dir + "/status";
  ASSERT_EQ(std::system(("(" + command + ") >/dev/null 2>&1 &").c_str()), 0);
  // The server shows the move by its trigger's sleep.
  std::string moving;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline && moving.find("SLEEP(20)") == std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    moving = server.refdb("sql -N -e \"SELECT INFO FROM information_schema.PROCESSLIST\"").output;
  }
  ASSERT_NE(moving.find("SLEEP(20)"), std::string::npos) << readFile(dir + "/out");
  const int pid = server.pid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  while (kill(pid, 0) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // The server stays down until the program has ended.
  while (Clock::now() < deadline + std::chrono::seconds(60) && readFile(dir + "/status").empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::string status = readFile(dir + "/status");
  ASSERT_FALSE(status.empty()) << "isolation8 hangs:\n" << readFile(dir + "/out");
  CheckedRun run = db.collect(dir, std::atoi(status.c_str()), readFile(dir + "/out"));
  ASSERT_TRUE(instance.start());

  EXPECT_EQ(run.status, 1) << run.output;
  const std::string w = std::to_string(run.w), d = std::to_string(run.d);
  expectLinesInOrder(
      run,
      {"Error remove all rows(NEW-ORDER)",
       "Cannot tell whether the NEW_ORDER rows of warehouse " + w + ", district " + d +
           " are in district 255: counting them failed (see above). Check "
           "with: repair-new-order " +
           w +
           " (it lists what district 255 holds), "
           "then, if it lists rows: repair-new-order " +
           w + " " + d},
      "isolation8");
  EXPECT_EQ(run.output.find("Error restore all rows(NEW-ORDER)"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("are in district 255; move them back"), std::string::npos)
      << run.output;
  expectNoHandlesHeld(run, "isolation8");
  // The crash undid the uncommitted move: nothing to repair, nothing lost.
  EXPECT_EQ(db.checksums(), before);
}

// Stops the server process (SIGSTOP) and lets it go on (SIGCONT) when done:
// it keeps its connections but answers nothing.
class Freeze {
 public:
  explicit Freeze(int pid) : pid_(pid) { EXPECT_EQ(kill(pid_, SIGSTOP), 0); }
  ~Freeze() { kill(pid_, SIGCONT); }

 private:
  int pid_;
};

TEST(ServerFrozen, TheDataSourceTimeoutsEndEveryWaitWithAReport) {
  PrivateServer instance;
  ASSERT_TRUE(instance.start());
  const Server& server = instance.server();
  ASSERT_EQ(server.loadTemplate().status, 0);
  CheckedDatabase db;
  ASSERT_TRUE(db.create("frozen", server));

  // The data source bounds every wait, longer than the longest lock wait.
  const std::string ini = readFile(db.plainIniDir() + "/odbc.ini");
  for (const char* key : {"CONN_TIMEOUT", "READ_TIMEOUT", "WRITE_TIMEOUT"}) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(ini, m, std::regex(std::string("\\n") + key + R"( *= *(\d+))")))
        << key << " missing:\n"
        << ini;
    if (std::string(key) != "CONN_TIMEOUT") {
      EXPECT_GT(std::stoi(m[1]), 180) << key;
    }
  }
  // Short ones here, so that the test does not wait ten minutes.
  for (const char* key : {"CONN_TIMEOUT", "READ_TIMEOUT", "WRITE_TIMEOUT"}) {
    db.setDataSourceValue(key, "3");
  }
  db.useHere();
  const int pid = server.pid();
  ASSERT_GT(pid, 0);
  const std::string lost = "~.*(Lost connection|Server has gone away).*";

  {
    SCOPED_TRACE("frozen before the program starts");
    Freeze frozen(pid);
    const std::string noAnswer = connectError().message;
    CheckedRun run = db.run("isolation3", Checker::kSanitized, 60);
    EXPECT_EQ(run.status, 1) << run.output;
    std::vector<std::string> expected = {"W_ID : ", "D_ID : ", "C_ID : ",          "",
                                         "",        noAnswer,  "Error D_NEXT_O_ID"};
    expected[0] += std::to_string(run.w);
    expected[1] += std::to_string(run.d);
    expected[2] += std::to_string(run.c);
    expectExactLines(run, expected, "isolation3");
    EXPECT_LT(run.seconds, 20) << run.output;
    expectNoHandlesHeld(run, "isolation3");
  }
  {
    SCOPED_TRACE("frozen while T1 is paused holding its locks");
    const std::string dir = freshRunDir("frozen_isolation3");
    std::string command = "timeout -k 10 120 sh -c " +
                          shellQuote(db.command("isolation3", Checker::kSanitized, dir)) + " > " +
                          dir + "/out 2>&1; echo $? > " + dir + "/status";
    ASSERT_EQ(std::system(("(" + command + ") >/dev/null 2>&1 &").c_str()), 0);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline &&
           findLine(lines(readFile(dir + "/out")), "- T1 paused prior to commit") == -1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Freeze frozen(pid);
    const std::string noAnswer = connectError().message;
    while (Clock::now() < deadline + std::chrono::seconds(60) &&
           readFile(dir + "/status").empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::string status = readFile(dir + "/status");
    ASSERT_FALSE(status.empty()) << "isolation3 hangs:\n" << readFile(dir + "/out");
    CheckedRun run = db.collect(dir, std::atoi(status.c_str()), readFile(dir + "/out"));
    // T2 cannot connect, T1 cannot end its transaction, the final read
    // cannot connect: each says so, and the program takes its exit path.
    EXPECT_EQ(run.status, 1) << run.output;
    expectLinesInOrder(
        run,
        {"T2(New-Order) start", "", noAnswer, "Error New Order Transaction!", "T2(New-Order) end"},
        "isolation3 T2");
    expectLinesInOrder(run,
                       {"- T1 paused prior to commit", "", lost, "Error New Order Transaction!",
                        "T1(New-Order) end", "", noAnswer, "Error D_NEXT_O_ID"},
                       "isolation3 T1");
    expectNoHandlesHeld(run, "isolation3");
  }
  // Going on, the server holds a consistent database (T1's commit, sent
  // before the freeze, may or may not have been applied: in doubt).
  CheckedRun consist = db.run("consist");
  EXPECT_NE(findLine(consist.out, "All consistency tests passed"), -1) << consist.output;
}

}  // namespace
