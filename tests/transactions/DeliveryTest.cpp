// Delivery against the reference database.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "Delivery.h"
#include "TestDb.h"
#include "TransactionTest.h"

using namespace acidkit_test;

namespace {

constexpr char kFirstPauseText[] =
    "- T1 paused after reading the NEW-ORDER table for selected district.";

class DeliveryTest : public TransactionTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(loadDatabase("dl_", 12));
    fill(1, 4);
  }

  void fill(int32_t w, int32_t selected) {
    memset(&arg, 0, sizeof arg);
    strcpy(arg.label, "T1");
    arg.W_ID = w;
    arg.O_CARRIER_ID = 5;
    arg.selectedD_ID = selected;
    arg.selectedOL_AMOUNT = 12.5;  // kept when the district delivers nothing
  }

  int call(int firstPause, int rollback, int endPause) {
    return captured([&] { return Delivery(&arg, firstPause, rollback, endPause); });
  }

  std::string w() const { return std::to_string(arg.W_ID); }
  // The district's oldest undelivered order, or -1.
  long long oldest(int d) {
    return sql->integer("SELECT MIN(NO_O_ID) FROM NEW_ORDER WHERE NO_W_ID = " + w() +
                        " AND NO_D_ID = " + std::to_string(d));
  }
  std::array<long long, 10> oldestOrders() {
    std::array<long long, 10> o;
    for (int d = 1; d <= 10; ++d) o[d - 1] = oldest(d);
    return o;
  }
  double orderAmount(int d, long long o) {
    return sql->number("SELECT SUM(OL_AMOUNT) FROM ORDER_LINE WHERE OL_W_ID = " + w() +
                       " AND OL_D_ID = " + std::to_string(d) +
                       " AND OL_O_ID = " + std::to_string(o));
  }
  // What a Delivery of the warehouse changes, as one text.
  std::string state() {
    return sql->text(
        "SELECT CONCAT_WS('|',"
        " (SELECT CONCAT(COUNT(*), ':', SUM(CRC32(CONCAT_WS(',', NO_D_ID, NO_O_ID))))"
        "    FROM NEW_ORDER WHERE NO_W_ID = " +
        w() +
        "),"
        " (SELECT SUM(CRC32(CONCAT_WS(',', O_D_ID, O_ID, COALESCE(O_CARRIER_ID, -1))))"
        "    FROM ORDERS WHERE O_W_ID = " +
        w() +
        "),"
        " (SELECT COUNT(OL_DELIVERY_D) FROM ORDER_LINE WHERE OL_W_ID = " +
        w() +
        "),"
        " (SELECT SUM(CRC32(CONCAT_WS(',', C_D_ID, C_ID, C_BALANCE, C_DELIVERY_CNT)))"
        "    FROM CUSTOMER WHERE C_W_ID = " +
        w() + "))");
  }
  // One fault point armed, whatever was armed before.
  bool armOnly(const std::string& point, int failures, int errorCode) {
    return sql->exec("DELETE FROM acidkit_fault") && arm(point, failures, errorCode);
  }

  void expectDelivered(const std::array<long long, 10>& orders) {
    for (int d = 1; d <= 10; ++d) {
      EXPECT_EQ(arg.deliveredO_ID[d - 1], orders[d - 1]) << "district " << d;
    }
  }
  // Committed deliveries of the given orders: each order once, and nothing else.
  void expectCommitted(const std::array<long long, 10>& orders, const std::string& before) {
    EXPECT_EQ(sql->integer("SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = " + w()),
              std::stoll(before) - 10);  // the state opens with the NEW_ORDER count
    for (int d = 1; d <= 10; ++d) {
      SCOPED_TRACE("district " + std::to_string(d));
      std::string key = " WHERE O_W_ID = " + w() + " AND O_D_ID = " + std::to_string(d) +
                        " AND O_ID = " + std::to_string(orders[d - 1]);
      EXPECT_EQ(oldest(d), orders[d - 1] + 1);
      EXPECT_EQ(sql->integer("SELECT O_CARRIER_ID FROM ORDERS" + key), 5);
      EXPECT_EQ(sql->integer("SELECT COUNT(*) FROM ORDER_LINE WHERE OL_W_ID = " + w() +
                             " AND OL_D_ID = " + std::to_string(d) + " AND OL_O_ID = " +
                             std::to_string(orders[d - 1]) + " AND OL_DELIVERY_D IS NULL"),
                0);
    }
  }

  DeliveryArg arg;
};

TEST_F(DeliveryTest, WarehouseWithoutUndeliveredOrders) {
  ASSERT_TRUE(sql->exec("DELETE FROM NEW_ORDER WHERE NO_W_ID = 1"));
  std::string before = state();
  ASSERT_EQ(call(1, 0, 0), 0) << output;
  for (int d = 1; d <= 10; ++d) EXPECT_EQ(arg.deliveredO_ID[d - 1], -1) << "district " << d;
  EXPECT_EQ(arg.selectedOL_AMOUNT, 12.5);
  EXPECT_EQ(arg.D_ID, 11);
  // One pause, at district 4 only, and nothing else printed.
  ASSERT_EQ(lines(output).size(), 1u) << output;
  EXPECT_TRUE(isTimestampedLine(lines(output)[0], kFirstPauseText)) << output;
  EXPECT_GE(seconds, 1.0);
  EXPECT_EQ(state(), before);
}

TEST_F(DeliveryTest, CommitsTheOldestOrderOfEveryDistrict) {
  std::array<long long, 10> orders = oldestOrders();
  std::string before = state();
  long long c =
      sql->integer("SELECT O_C_ID FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 4 AND O_ID = " +
                   std::to_string(orders[3]));
  std::string customer =
      " FROM CUSTOMER WHERE C_W_ID = 1 AND C_D_ID = 4 AND C_ID = " + std::to_string(c);
  double balance = sql->number("SELECT C_BALANCE" + customer);
  long long deliveries = sql->integer("SELECT C_DELIVERY_CNT" + customer);
  double amount = orderAmount(4, orders[3]);

  // A first pause is not taken where the district has an order.
  ASSERT_EQ(call(5, 0, 1), 0) << output;
  EXPECT_LT(seconds, 5.0);
  ASSERT_EQ(lines(output).size(), 1u) << output;
  EXPECT_TRUE(isTimestampedLine(lines(output)[0], "- T1 paused prior to commit")) << output;
  expectDelivered(orders);
  EXPECT_DOUBLE_EQ(arg.selectedOL_AMOUNT, amount);
  expectCommitted(orders, before);
  EXPECT_DOUBLE_EQ(sql->number("SELECT C_BALANCE" + customer), balance + amount);
  EXPECT_EQ(sql->integer("SELECT C_DELIVERY_CNT" + customer), deliveries + 1);
}

// The reference database locks the empty district against inserts, so an
// order cannot appear there during the pause; a first read that fails
// without a retryable code (what the procedure does for an empty district)
// stands in for the empty read, and the second read finds the order or not.
TEST_F(DeliveryTest, EmptyFirstReadPausesOnceAndReadsOnceMore) {
  ASSERT_TRUE(refdb("faults on --db " + db.name()));
  fill(1, 1);
  std::array<long long, 10> orders = oldestOrders();
  std::string before = state();
  for (int failures : {1, 2}) {
    SCOPED_TRACE(std::to_string(failures) + " failing reads");
    fill(1, 1);
    ASSERT_TRUE(armOnly("getOrderID", failures, 1644)) << sql->lastError();
    ASSERT_EQ(call(1, 1, 0), 0) << output;
    EXPECT_EQ(fired("getOrderID"), failures);  // the district is read twice at most
    ASSERT_EQ(lines(output).size(), 1u) << output;
    EXPECT_TRUE(isTimestampedLine(lines(output)[0], kFirstPauseText)) << output;
    std::array<long long, 10> expected = orders;
    if (failures == 2) expected[0] = -1;
    expectDelivered(expected);
    EXPECT_DOUBLE_EQ(arg.selectedOL_AMOUNT, failures == 1 ? orderAmount(1, orders[0]) : 12.5);
    EXPECT_EQ(state(), before);
  }
}

TEST_F(DeliveryTest, RollbackChangesNothingButTheRecordShowsTheDeliveries) {
  std::array<long long, 10> orders = oldestOrders();
  std::string before = state();
  ASSERT_EQ(call(0, 1, 1), 0) << output;
  ASSERT_EQ(lines(output).size(), 1u) << output;
  EXPECT_TRUE(isTimestampedLine(lines(output)[0], "- T1 paused prior to rollback")) << output;
  expectDelivered(orders);
  EXPECT_DOUBLE_EQ(arg.selectedOL_AMOUNT, orderAmount(4, orders[3]));
  EXPECT_EQ(state(), before);
}

// A retryable error rolls the whole transaction back and runs it again from
// district 1: each order is delivered once. getOrderID's own errors are read
// as an empty district, but not a retryable one: the district (and, after a
// deadlock, the districts before it) would be lost without a word.
TEST_F(DeliveryTest, RetryableErrorRunsAllTenDistrictsAgain) {
  ASSERT_TRUE(refdb("faults on --db " + db.name()));
  ASSERT_TRUE(db.admin(
      "DELIMITER //\n"
      "CREATE TRIGGER test_fault_customer_d4 BEFORE UPDATE ON CUSTOMER FOR EACH ROW"
      " IF NEW.C_D_ID = 4 THEN CALL acidkit_fault_hit('UPDATE CUSTOMER district 4'); END IF //\n"));
  struct Case {
    int32_t w;
    const char* point;
    int errorCode;
  } cases[] = {{1, "UPDATE CUSTOMER district 4", 14032}, {2, "getOrderID", 14007}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    fill(c.w, 4);
    std::array<long long, 10> orders = oldestOrders();
    std::string before = state();
    ASSERT_TRUE(armOnly(c.point, 1, c.errorCode)) << sql->lastError();
    ASSERT_EQ(call(0, 0, 0), 0) << output;
    EXPECT_EQ(fired(c.point), 1);
    EXPECT_EQ(output, "");
    expectDelivered(orders);
    expectCommitted(orders, before);
  }
}

TEST_F(DeliveryTest, OrderWithoutLinesFailsTheCall) {
  std::array<long long, 10> orders = oldestOrders();
  ASSERT_TRUE(sql->exec("DELETE FROM ORDER_LINE WHERE OL_W_ID = 1 AND OL_D_ID = 2 AND OL_O_ID = " +
                        std::to_string(orders[1])));
  std::string before = state();
  EXPECT_EQ(call(0, 0, 0), 1) << output;
  // District 1 was delivered by the failed attempt; nothing was committed.
  EXPECT_EQ(arg.deliveredO_ID[0], orders[0]);
  for (int d = 2; d <= 10; ++d) EXPECT_EQ(arg.deliveredO_ID[d - 1], -1) << "district " << d;
  EXPECT_EQ(state(), before);
}

}  // namespace
