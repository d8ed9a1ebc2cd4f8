// The stored procedures of the reference database, through TESTDB, on a small
// hand-made fixture (database acidkit_refdb_test): what each returns, that a
// missing row is an error and never a NULL output, which locks each set keeps
// (the locking set makes the conflicting statement of another connection
// wait; the non-locking set does not, where InnoDB allows it), and the
// test-only fault points.
//
// One process runs every case in turn: the cases switch procedure sets and
// hold locks on the same rows, so they must not meet. Every case rolls back
// what it changed.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "OdbcSession.h"
#include "TestDb.h"

using namespace acidkit_test;

namespace {

constexpr SQLUINTEGER kRC = SQL_TXN_READ_COMMITTED;
constexpr SQLUINTEGER kRR = SQL_TXN_REPEATABLE_READ;
constexpr SQLUINTEGER kSER = SQL_TXN_SERIALIZABLE;
const char* const kDb = "acidkit_refdb_test";

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool refdbQuiet(const std::string& args) {
  return run(sourcePath("db/refdb") + " " + args).status == 0;
}

// A CALL with integer inputs and every output bound as text, executed as
// prepared; the outputs are read after each execution.
struct Call {
  Call(Session& s, const std::string& text, std::vector<int32_t> inputs, size_t outputs)
      : in(std::move(inputs)), out(outputs, std::string(256, '\0')), st(s, text.c_str()) {
    for (int32_t& v : in) st.in(v);
    for (std::string& v : out) st.out(v.data(), SQL_VARCHAR, 255, 256);
  }
  std::vector<std::string> values() const {
    std::vector<std::string> result;
    for (const std::string& v : out) result.emplace_back(v.c_str());
    return result;
  }
  std::vector<int32_t> in;
  std::vector<std::string> out;
  Statement st;
};

class Procedures : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string refdb = sourcePath("db/refdb");
    const std::string sql = sourcePath("db/sql/");
    if (run(refdb + " status").status != 0) {
      gSetupError = "the reference server is not running; start it with: db/refdb start";
      return;
    }
    RunResult built = run(refdb + " sql -e 'DROP DATABASE IF EXISTS " + kDb + "; CREATE DATABASE " +
                          kDb + "' && cat " + sql + "schema.sql " + sql + "indexes.sql " +
                          sourcePath("tests/refdb/fixture.sql") + " | " + refdb + " sql --db " +
                          kDb + " && " + refdb + " procedures locking --db " + kDb);
    if (built.status != 0) {
      gSetupError = std::string("could not build ") + kDb + ":\n" + built.output;
      return;
    }
    TestDatabase db;
    if (!db.use("refdb_test")) gSetupError = "could not point TESTDB at " + std::string(kDb);
  }
  static void TearDownTestSuite() { refdbQuiet(std::string("drop-db ") + kDb); }
  void SetUp() override { ASSERT_TRUE(gSetupError.empty()) << gSetupError; }
  static std::string gSetupError;
};
std::string Procedures::gSetupError;

// --- outputs ----------------------------------------------------------------

// Outputs after the second of two executions in one transaction.
struct OutputCase {
  const char* text;
  std::vector<int32_t> inputs;
  std::vector<std::string> outputs;
  const char* effectQuery = nullptr;  // read in the same transaction afterwards
  const char* effect = nullptr;
};

const OutputCase kOutputs[] = {
    {"CALL getWarehouseCustomer(?,?,?,?,?,?,?)",
     {1, 1, 1},
     {"0.1234", "BARBARBAR", "GC", "0.1000"}},
    {"CALL updateDistrictGetOrderline(?,?,?,?)",
     {1, 1},
     {"5", "0.0500"},
     "SELECT D_NEXT_O_ID FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 1",
     "6"},
    {"CALL getItemData(?,?,?,?)", {1}, {"10.00", "Item-1", "an original item"}},
    // The district text is the S_DIST_xx column of the district asked for.
    {"CALL getStockData(?,?,?,?,?,?)",
     {3, 2, 1},
     {"stock data 2 original", "15", "dist-03-item-2-xxxxxxxxx"}},
    {"CALL getStockData(?,?,?,?,?,?)",
     {10, 3, 1},
     {"stock data 3 original", "15", "dist-10-item-3-xxxxxxxxx"}},
    {"CALL updateWarehouseYTD(?,?,?,?,?,?,?,?)",
     {5, 1},
     {"W Street 1", "W Street 2", "W City", "WA", "123451111", "WH-One"},
     "SELECT W_YTD FROM WAREHOUSE WHERE W_ID = 1",
     "300010.00"},
    {"CALL updateDistrictYTD(?,?,?,?,?,?,?,?,?)",
     {5, 1, 4},
     {"D Street 1", "D Street 2", "D City", "DS", "543211111", "Dist-4"},
     "SELECT D_YTD FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 4",
     "30010.00"},
    {"CALL getCustAll(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
     {2, 1, 1},
     {"Bob", "OE", "OUGHTABLE", "C Street 1", "C Street 2", "C City", "CS", "222222222",
      "5551234567890123", "BC", "50000.00", "0.0500", "-10.00", "2024-01-02 03:04:05"}},
    // The payment goes to the left of C_DATA; the second execution's in front.
    {"CALL updateCustomerData(?,?,?,?,?)",
     {12, 2, 1, 1},
     {"2 1 1 1 1 12.00 | 2 1 1 1 1 12.00 | bad customer"},
     "SELECT CONCAT(C_BALANCE, ' ', C_YTD_PAYMENT, ' ', C_PAYMENT_CNT) FROM CUSTOMER"
     " WHERE C_W_ID = 1 AND C_D_ID = 1 AND C_ID = 2",
     "-34.00 34.00 3"},
    {"call getOrderID(?,?,?)", {1, 1}, {"2"}},  // the lowest NO_O_ID
    {"call getOrderCustomerID(?,?,?,?)", {1, 1, 1}, {"2"}},
    {"call getOrderlineAmount(?,?,?,?)", {3, 1, 1}, {"50.50"}},
    {"call getOrderlineAmount(?,?,?,?)", {9, 1, 1}, {"0.00"}},  // an order without lines
    {"call getCustBalanceName(?,?,?,?,?,?,?)", {1, 1, 1}, {"-10.00", "Alice", "OE", "BARBARBAR"}},
    // The newest order of the customer; an undelivered one has carrier 0.
    {"call getOrderCarrierEntry(?,?,?,?,?,?)", {1, 1, 1}, {"3", "0", "2024-02-03 12:30:45"}},
    {"call getOrderCarrierEntry(?,?,?,?,?,?)", {1, 1, 2}, {"1", "7", "2024-02-01 10:00:00"}},
    {"call getNextDistrictOrderID(?,?,?)", {1, 1}, {"4"}},
    {"call getCustBalance(?,?,?,?)", {1, 1, 1}, {"-10.00"}},
    {"call getOrderCustomerIDByNO(?,?,?)", {1, 1}, {"1"}},  // customer of order 2
    {"call getItemPrice(?,?)", {3}, {"99.99"}},
    {"call getCustomerID(?,?,?,?,?,?,?,?,?)", {1, 1, 2}, {"2", "1", "1", "1", "-10.00", "10.00"}},
    {"call getDistrictID(?,?,?,?,?)", {1, 3}, {"1", "3", "30000.00"}},
    {"call getWarehouseID(?,?,?)", {1}, {"1", "300000.00"}},
    {"call getMinWarehouseID(?)", {}, {"1"}},
    {"call getMaxWarehouseID(?)", {}, {"1"}},
};

// Each CALL runs twice on one statement: it leaves nothing open, and reads or
// changes the same row again.
TEST_F(Procedures, ReturnTheFixturesValues) {
  for (const OutputCase& c : kOutputs) {
    SCOPED_TRACE(c.text);
    Session s(kSER);
    ASSERT_TRUE(s.ok()) << s.error();
    Call call(s, c.text, c.inputs, c.outputs.size());
    ASSERT_TRUE(call.st.ok()) << call.st.error();
    for (int run = 0; run < 2; ++run) {
      ASSERT_EQ(call.st.execute(), SQL_SUCCESS)
          << "execution " << run + 1 << ": " << call.st.error();
    }
    EXPECT_EQ(call.values(), c.outputs);
    if (c.effectQuery != nullptr) {
      EXPECT_EQ(s.text(c.effectQuery), c.effect);
    }
    EXPECT_EQ(s.endTran(SQL_ROLLBACK), SQL_SUCCESS);
  }
}

TEST_F(Procedures, SysDateAndToDateShareOneLayout) {
  Session s(kRC);
  Call call(s, "CALL getSysDate(?)", {}, 1);
  ASSERT_EQ(call.st.execute(), SQL_SUCCESS) << call.st.error();
  const std::string now = call.values()[0];
  EXPECT_TRUE(std::regex_match(now, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << now;
  EXPECT_EQ(s.text("SELECT TO_DATE('" + now + "', 'YYYY-MM-DD HH24:MI:SS') = '" + now + "'"), "1");
  // Anything else is refused with a message, never turned into NULL.
  struct {
    const char* call;
    const char* message;
  } refused[] = {
      {"SELECT TO_DATE('2024-02-03', 'YYYY-MM-DD')", "only 'YYYY-MM-DD HH24:MI:SS' is supported"},
      {"SELECT TO_DATE('03.02.2024 12:30:45', 'YYYY-MM-DD HH24:MI:SS')", "is not a date and time"},
      {"SELECT TO_DATE('2024-13-45 12:30:45', 'YYYY-MM-DD HH24:MI:SS')", "is not a date and time"},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(s.exec(r.call), SQL_ERROR) << r.call;
    EXPECT_NE(s.lastDiag().message.find(r.message), std::string::npos) << s.lastDiag().text();
  }
}

// --- missing rows ---------------------------------------------------------------

struct MissingCase {
  const char* text;
  std::vector<int32_t> inputs;
  size_t outputs;
};

const MissingCase kMissing[] = {
    {"CALL getWarehouseCustomer(?,?,?,?,?,?,?)", {1, 1, 99}, 4},
    {"CALL getWarehouseCustomer(?,?,?,?,?,?,?)", {9, 1, 1}, 4},
    {"CALL updateDistrictGetOrderline(?,?,?,?)", {11, 1}, 2},
    {"CALL getItemData(?,?,?,?)", {-1}, 3},
    {"CALL getStockData(?,?,?,?,?,?)", {1, 99, 1}, 3},
    {"CALL getStockData(?,?,?,?,?,?)", {11, 1, 1}, 3},  // no S_DIST_11
    {"CALL updateWarehouseYTD(?,?,?,?,?,?,?,?)", {5, 9}, 6},
    {"CALL updateDistrictYTD(?,?,?,?,?,?,?,?,?)", {5, 1, 11}, 6},
    {"CALL getCustAll(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", {99, 1, 1}, 14},
    {"CALL updateCustomerData(?,?,?,?,?)", {5, 99, 1, 1}, 1},
    {"call getOrderID(?,?,?)", {1, 2}, 1},  // Delivery: nothing to deliver
    {"call getOrderCustomerID(?,?,?,?)", {99, 1, 1}, 1},
    {"call getCustBalanceName(?,?,?,?,?,?,?)", {99, 1, 1}, 4},
    {"call getOrderCarrierEntry(?,?,?,?,?,?)", {1, 1, 3}, 3},  // a customer without orders
    {"call getNextDistrictOrderID(?,?,?)", {11, 1}, 1},
    {"call getCustBalance(?,?,?,?)", {99, 1, 1}, 1},
    {"call getOrderCustomerIDByNO(?,?,?)", {1, 2}, 1},
    {"call getItemPrice(?,?)", {99}, 1},
    {"call getCustomerID(?,?,?,?,?,?,?,?,?)", {1, 1, 99}, 6},
    {"call getDistrictID(?,?,?,?,?)", {1, 11}, 3},
    {"call getWarehouseID(?,?,?)", {9}, 2},
};

TEST_F(Procedures, MissingRowIsAnErrorNamingIt) {
  for (const MissingCase& c : kMissing) {
    SCOPED_TRACE(c.text);
    Session s(kSER);
    Call call(s, c.text, c.inputs, c.outputs);
    ASSERT_EQ(call.st.execute(), SQL_ERROR);
    const DiagRecord d = call.st.diag();
    EXPECT_EQ(d.state, "45000") << d.text();
    EXPECT_NE(d.native, 14032) << "must not look retryable";
    EXPECT_NE(d.native, 14007) << "must not look retryable";
    EXPECT_NE(d.message.find("no row"), std::string::npos) << d.text();
    // The error ended the statement, not the transaction or the connection.
    EXPECT_EQ(s.text("SELECT 1"), "1");
    EXPECT_EQ(s.endTran(SQL_ROLLBACK), SQL_SUCCESS);
  }
  // An empty WAREHOUSE table has no smallest or largest number.
  Session s(kSER);
  ASSERT_EQ(s.exec("DELETE FROM WAREHOUSE"), SQL_SUCCESS);
  for (const char* text : {"call getMinWarehouseID(?)", "call getMaxWarehouseID(?)"}) {
    Call call(s, text, {}, 1);
    EXPECT_EQ(call.st.execute(), SQL_ERROR) << text;
    EXPECT_NE(call.st.diag().message.find("WAREHOUSE is empty"), std::string::npos)
        << call.st.error();
  }
  EXPECT_EQ(s.endTran(SQL_ROLLBACK), SQL_SUCCESS);
}

// --- locks ----------------------------------------------------------------------

// A transaction holds what `holder` did (any failure of its last statement
// included); `waiter`, on another connection with a one-second lock timeout,
// either waits (and times out with native 14007) or goes through at once.
struct LockCase {
  const char* name;
  SQLUINTEGER holderIsolation;
  std::vector<const char*> holder;
  SQLUINTEGER waiterIsolation;
  const char* waiter;
  bool waitsWithLocking;
  bool waitsWithNonlocking;
};

const LockCase kLocks[] = {
    // New-Order keeps its district row: the next New-Order of the district waits.
    {"district of a New-Order",
     kRC,
     {"CALL updateDistrictGetOrderline(1, 1, @o, @t)"},
     kRC,
     "CALL updateDistrictGetOrderline(1, 1, @o, @t)",
     true,
     true},
    // New-Order's price read keeps a price change waiting.
    {"price read of a New-Order",
     kRC,
     {"CALL getItemData(1, @p, @n, @d)"},
     kSER,
     "UPDATE ITEM SET I_PRICE = I_PRICE * 1.10 WHERE I_ID = 1",
     true,
     false},
    // Order-Status waits for an uncommitted New-Order of its customer...
    {"Order-Status behind a New-Order",
     kRC,
     {"INSERT INTO ORDERS VALUES (10, 1, 1, 1, NOW(), NULL, 1, 1)"},
     kRR,
     "CALL getOrderCarrierEntry(1, 1, 1, @o, @c, @e)",
     true,
     false},
    // ... and keeps a later New-Order of its customer from inserting ...
    {"New-Order behind an Order-Status",
     kRR,
     {"CALL getOrderCarrierEntry(1, 1, 1, @o, @c, @e)"},
     kRC,
     "INSERT INTO ORDERS VALUES (10, 1, 1, 1, NOW(), NULL, 1, 1)",
     true,
     false},
    // ... but not one of another customer.
    {"other customer's New-Order",
     kRR,
     {"CALL getOrderCarrierEntry(1, 1, 1, @o, @c, @e)"},
     kRC,
     "INSERT INTO ORDERS VALUES (10, 1, 1, 2, NOW(), NULL, 1, 1)",
     false,
     false},
    // A Delivery that found the district empty keeps New-Orders out of it
    // after the error; under SERIALIZABLE InnoDB locks plain reads too.
    {"New-Order behind an empty Delivery",
     kSER,
     {"CALL getOrderID(1, 2, @o)"},
     kRC,
     "INSERT INTO NEW_ORDER VALUES (10, 2, 1)",
     true,
     true},
    // Payment's customer read waits for a Delivery that changed the customer.
    {"Payment behind a Delivery",
     kSER,
     {"UPDATE CUSTOMER SET C_BALANCE = C_BALANCE + 1 WHERE C_W_ID = 1 AND C_D_ID = 1 AND C_ID = 1"},
     kSER,
     "CALL getCustAll(1, 1, 1, @a, @b, @c, @d, @e, @f, @g, @h, @i, @j, @k, @l, @m, @n)",
     true,
     true},
    // Payment holds its customer for update: a second Payment waits at once
    // instead of deadlocking when both update it.
    {"Payment behind a Payment",
     kSER,
     {"CALL getCustAll(1, 1, 1, @a, @b, @c, @d, @e, @f, @g, @h, @i, @j, @k, @l, @m, @n)"},
     kSER,
     "CALL getCustAll(1, 1, 1, @a, @b, @c, @d, @e, @f, @g, @h, @i, @j, @k, @l, @m, @n)",
     true,
     false},
};

void checkLocks(bool locking) {
  for (const LockCase& c : kLocks) {
    SCOPED_TRACE(std::string(c.name) + (locking ? " (locking)" : " (nonlocking)"));
    const bool waits = locking ? c.waitsWithLocking : c.waitsWithNonlocking;
    Session holder(c.holderIsolation), waiter(c.waiterIsolation);
    ASSERT_TRUE(holder.ok() && waiter.ok());
    waiter.lockWait(1);
    for (const char* sql : c.holder) holder.exec(sql);
    const auto start = Clock::now();
    const SQLRETURN rc = waiter.exec(c.waiter);
    const double waited = secondsSince(start);
    if (waits) {
      EXPECT_EQ(rc, SQL_ERROR) << "went through without waiting";
      EXPECT_EQ(waiter.lastDiag().native, 14007) << waiter.lastDiag().text();
      EXPECT_GE(waited, 0.9);
      // Once the holder has ended, the same statement goes through at once.
      EXPECT_EQ(holder.endTran(SQL_ROLLBACK), SQL_SUCCESS);
      EXPECT_EQ(waiter.exec(c.waiter), SQL_SUCCESS) << waiter.lastDiag().text();
    } else {
      EXPECT_EQ(rc, SQL_SUCCESS) << waiter.lastDiag().text();
      EXPECT_LT(waited, 0.9);
    }
    EXPECT_EQ(waiter.endTran(SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(holder.endTran(SQL_ROLLBACK), SQL_SUCCESS);
  }
}

TEST_F(Procedures, LockingSetMakesConflictsWait) {
  checkLocks(true);
}

TEST_F(Procedures, NonlockingSetWaitsOnlyWhereInnodbLocksAnyway) {
  ASSERT_TRUE(refdbQuiet(std::string("procedures nonlocking --db ") + kDb));
  checkLocks(false);
  ASSERT_TRUE(refdbQuiet(std::string("procedures locking --db ") + kDb));
}

// The Order-Status reads of isolation test 1 against a New-Order that commits
// while they wait: the order read returns the new order, and the line query
// after it (a plain read under REPEATABLE READ) sees the new order's lines,
// because neither procedure started the transaction's snapshot. The
// non-locking set returns the previous order without waiting.
void orderStatusAgainstNewOrder(bool locking, int32_t expectedOrder, size_t expectedLines,
                                double minWait, double maxWait) {
  Session newOrder(kRC);
  ASSERT_EQ(newOrder.exec("INSERT INTO ORDERS VALUES (10, 1, 1, 1, NOW(), NULL, 2, 1)"),
            SQL_SUCCESS);
  ASSERT_EQ(newOrder.exec("INSERT INTO ORDER_LINE VALUES (10, 1, 1, 1, 1, 1, NULL, 1, 10.00, 'x'),"
                          " (10, 1, 1, 2, 2, 1, NULL, 1, 20.50, 'y')"),
            SQL_SUCCESS);
  int32_t oId = -1;
  std::string lines;
  double waited = 0;
  std::thread orderStatus([&] {
    Session s(kRR);
    s.lockWait(30);
    const auto start = Clock::now();
    Call customer(s, "call getCustBalanceName(?,?,?,?,?,?,?)", {1, 1, 1}, 4);
    Call order(s, "call getOrderCarrierEntry(?,?,?,?,?,?)", {1, 1, 1}, 3);
    if (customer.st.execute() != SQL_SUCCESS || order.st.execute() != SQL_SUCCESS) return;
    waited = secondsSince(start);
    oId = std::stoi(order.values()[0]);
    lines =
        s.text("SELECT COUNT(*) FROM ORDER_LINE WHERE OL_W_ID = 1 AND OL_D_ID = 1 AND OL_O_ID = " +
               std::to_string(oId));
    s.endTran(SQL_COMMIT);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_EQ(newOrder.endTran(SQL_COMMIT), SQL_SUCCESS);
  orderStatus.join();
  EXPECT_EQ(oId, expectedOrder) << (locking ? "locking" : "nonlocking");
  EXPECT_EQ(lines, std::to_string(expectedLines));
  EXPECT_GE(waited, minWait);
  EXPECT_LE(waited, maxWait);
  Session cleanup(kRC, true);
  cleanup.exec("DELETE FROM ORDER_LINE WHERE OL_W_ID = 1 AND OL_D_ID = 1 AND OL_O_ID = 10");
  cleanup.exec("DELETE FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 1 AND O_ID = 10");
}

TEST_F(Procedures, OrderStatusWaitsAndSeesTheCommittedOrdersLines) {
  orderStatusAgainstNewOrder(true, 10, 2, 1.2, 10);
}

TEST_F(Procedures, NonlockingOrderStatusReadsThePreviousOrderAtOnce) {
  ASSERT_TRUE(refdbQuiet(std::string("procedures nonlocking --db ") + kDb));
  orderStatusAgainstNewOrder(false, 3, 2, 0, 1);
  ASSERT_TRUE(refdbQuiet(std::string("procedures locking --db ") + kDb));
}

// --- fault points ---------------------------------------------------------------

// Routine bodies are visible to their definer alone: ask as the administrator.
std::string adminValue(const std::string& query) {
  RunResult r = run(sourcePath("db/refdb") + " sql --db " + kDb + " -N -e \"" + query + "\"");
  EXPECT_EQ(r.status, 0) << r.output;
  while (!r.output.empty() && r.output.back() == '\n') r.output.pop_back();
  return r.output;
}

std::string routinesWhere(const std::string& condition) {
  return adminValue(
      std::string("SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = '") +
      kDb + "' AND " + condition);
}

TEST_F(Procedures, FaultPointsFailTheFirstExecutionsAcrossConnectionsAndRollbacks) {
  ASSERT_TRUE(refdbQuiet(std::string("faults on --db ") + kDb));
  {
    Session admin(kRC, true);
    // Every procedure of the four transactions has its point.
    EXPECT_EQ(routinesWhere("ROUTINE_DEFINITION LIKE '%acidkit_fault_hit%'"), "14");
    ASSERT_EQ(admin.exec("INSERT INTO acidkit_fault (point, remaining, errno) VALUES"
                         " ('getOrderID', 2, 14032), ('UPDATE ORDER_LINE', 1, 14007)"),
              SQL_SUCCESS);
    // Two failures, on two connections, each rolled back; then success.
    for (int attempt = 0; attempt < 3; ++attempt) {
      Session delivery(kSER);
      Call call(delivery, "call getOrderID(?,?,?)", {1, 1}, 1);
      const SQLRETURN rc = call.st.execute();
      if (attempt < 2) {
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(call.st.diag().native, 14032) << call.st.error();
        EXPECT_EQ(call.st.diag().state, "40001") << call.st.error();
      } else {
        EXPECT_EQ(rc, SQL_SUCCESS) << call.st.error();
        EXPECT_EQ(call.values()[0], "2");
      }
      // With a warning: the count in the MEMORY table is not rolled back.
      EXPECT_TRUE(SQL_SUCCEEDED(delivery.endTran(SQL_ROLLBACK)))
          << "attempt " << attempt + 1 << ": " << firstDiag(SQL_HANDLE_DBC, delivery.dbc()).text();
    }
    // A statement point, through its trigger.
    Session delivery(kSER);
    const char* update =
        "UPDATE ORDER_LINE SET OL_DELIVERY_D = NOW() WHERE OL_W_ID = 1 AND OL_D_ID = 1 AND OL_O_ID "
        "= 3";
    EXPECT_EQ(delivery.exec(update), SQL_ERROR);
    EXPECT_EQ(delivery.lastDiag().native, 14007) << delivery.lastDiag().text();
    EXPECT_TRUE(SQL_SUCCEEDED(delivery.endTran(SQL_ROLLBACK)));
    EXPECT_EQ(delivery.exec(update), SQL_SUCCESS) << delivery.lastDiag().text();
    EXPECT_TRUE(SQL_SUCCEEDED(delivery.endTran(SQL_ROLLBACK)));
    EXPECT_EQ(admin.integer("SELECT SUM(fired) FROM acidkit_fault"), 3);
  }
  // Off again: the set is the one that was installed, free of fault points.
  ASSERT_TRUE(refdbQuiet(std::string("faults off --db ") + kDb));
  EXPECT_EQ(routinesWhere("ROUTINE_DEFINITION LIKE '%acidkit_fault%'"), "0");
  EXPECT_EQ(routinesWhere("ROUTINE_COMMENT <> 'acidkit locking'"), "0");
  EXPECT_EQ(
      adminValue(
          std::string("SELECT COUNT(*) FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = '") +
          kDb + "'"),
      "0");
}

}  // namespace
