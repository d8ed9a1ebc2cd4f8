// Order-Status against the reference database.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "NewOrder.h"
#include "OrderStatus.h"
#include "TestDb.h"
#include "TransactionTest.h"

using namespace acidkit_test;

namespace {

constexpr char kPauseLine[] = "- T1 paused after reading the ORDER table for selected customer.";

class OrderStatusTest : public TransactionTest {
 protected:
  // Loads acidkit_<name>, of this test alone, and allocates the environment.
  void load(const std::string& name) {
    ASSERT_NO_FATAL_FAILURE(loadDatabase("", 0, name));
    memset(&arg, 0, sizeof arg);
    strcpy(arg.label, "T1");
    arg.W_ID = 1;
    arg.D_ID = 3;
    arg.C_ID = 7;
  }
  int call(int pause) {
    return captured([&] { return OrderStatus(&arg, pause); });
  }

  std::string customerKey() { return "C_W_ID = 1 AND C_D_ID = 3 AND C_ID = 7"; }
  long long latestOrder() {
    return sql->integer(
        "SELECT MAX(O_ID) FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 3 AND O_C_ID = 7");
  }
  std::string lineOf(long long order) {
    return "SELECT COUNT(*) FROM ORDER_LINE WHERE OL_W_ID = 1 AND OL_D_ID = 3 AND OL_O_ID = " +
           std::to_string(order);
  }
  OrderStatusByIdArg arg;
};

// A fresh order of five lines from New-Order, one of them marked delivered.
TEST_F(OrderStatusTest, ReadsTheLatestOrderIntoTheFirstEntriesAndLeavesTheRestAlone) {
  ASSERT_NO_FATAL_FAILURE(load("os_lines"));
  NewOrderArg order{};
  strcpy(order.label, "T9");
  order.W_ID = 1;
  order.D_ID = 3;
  order.C_ID = 7;
  order.O_OL_CNT = 5;
  order.O_ALL_LOCAL = 1;
  for (int k = 0; k < 5; ++k) order.orderLines[k] = {1, 1000 * (k + 1) + 11, "", k + 1, 0, 0, 0, 0};
  ASSERT_EQ(NewOrder(&order, 0, 0), 0);
  ASSERT_TRUE(
      sql->exec("UPDATE ORDER_LINE SET OL_DELIVERY_D = '2026-03-05 12:34:56' WHERE "
                "OL_W_ID = 1 AND OL_D_ID = 3 AND OL_NUMBER = 2 AND OL_O_ID = " +
                std::to_string(order.O_ID)))
      << sql->lastError();

  for (int i = 5; i < kMaxOrderLines; ++i) arg.orderLines[i] = {-5, -6, -7, -8.5, "untouched"};
  arg.oIdBeforePause = -3;
  ASSERT_EQ(call(0), 0) << output;
  EXPECT_EQ(output, "");              // no pause, no line
  EXPECT_EQ(arg.oIdBeforePause, -3);  // written only when pausing

  EXPECT_EQ(arg.O_ID, order.O_ID);
  EXPECT_STREQ(arg.O_ENTRY_D, order.O_ENTRY_D);
  EXPECT_STREQ(arg.C_LAST, order.C_LAST);
  EXPECT_EQ(arg.C_FIRST, sql->text("SELECT C_FIRST FROM CUSTOMER WHERE " + customerKey()));
  EXPECT_EQ(arg.C_MIDDLE, sql->text("SELECT C_MIDDLE FROM CUSTOMER WHERE " + customerKey()));
  EXPECT_DOUBLE_EQ(arg.C_BALANCE,
                   sql->number("SELECT C_BALANCE FROM CUSTOMER WHERE " + customerKey()));
  ASSERT_EQ(arg.orderLineCount, 5);
  for (int i = 0; i < 5; ++i) {
    const OrderStatusLine& line = arg.orderLines[i];
    int k = line.OL_QUANTITY;  // rows come in the database's order: match them by quantity
    ASSERT_TRUE(k >= 1 && k <= 5) << "entry " << i;
    EXPECT_EQ(line.OL_I_ID, 1000 * k + 11);
    EXPECT_EQ(line.OL_SUPPLY_W_ID, 1);
    EXPECT_DOUBLE_EQ(line.OL_AMOUNT, order.orderLines[k - 1].OL_AMOUNT);
    EXPECT_STREQ(line.OL_DELIVERY_D, k == 2 ? "2026-03-05" : "") << "line " << k;
  }
  for (int i = 5; i < kMaxOrderLines; ++i) {
    EXPECT_EQ(arg.orderLines[i].OL_I_ID, -6) << "entry " << i;
    EXPECT_STREQ(arg.orderLines[i].OL_DELIVERY_D, "untouched") << "entry " << i;
  }
}

TEST_F(OrderStatusTest, PauseWithoutConcurrentChangeReadsTheSameOrderTwice) {
  ASSERT_NO_FATAL_FAILURE(load("os_pause"));
  long long latest = latestOrder();
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(call(1), 0) << output;
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  std::vector<std::string> out = lines(output);
  ASSERT_EQ(out.size(), 1u) << output;
  EXPECT_TRUE(isTimestampedLine(out[0], kPauseLine)) << out[0];
  EXPECT_EQ(arg.oIdBeforePause, latest);
  EXPECT_EQ(arg.O_ID, latest);
  EXPECT_EQ(arg.orderLineCount, sql->integer(lineOf(latest)));
  // The loader's delivered orders carry their delivery date.
  if (sql->integer("SELECT COUNT(*) FROM ORDER_LINE WHERE OL_W_ID = 1 AND OL_D_ID = 3 AND "
                   "OL_DELIVERY_D IS NOT NULL AND OL_O_ID = " +
                   std::to_string(latest)) > 0) {
    EXPECT_EQ(strlen(arg.orderLines[0].OL_DELIVERY_D), 10u) << arg.orderLines[0].OL_DELIVERY_D;
  }
}

// The pause line comes once per attempt that reaches it: faults armed during
// the first pause fail the read after it, then the customer read of the
// second attempt; the third attempt pauses again and commits.
TEST_F(OrderStatusTest, RetryRunsTheProfileAgainFromTheCustomerReadPauseIncluded) {
  ASSERT_NO_FATAL_FAILURE(load("os_retry"));
  ASSERT_TRUE(refdb("faults on --db " + db.name()));
  long long latest = latestOrder();
  int result = -1;
  testing::internal::CaptureStdout();
  std::thread t([&] { result = OrderStatus(&arg, 3); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // inside the first pause
  bool armed = arm("getOrderCarrierEntry", 1, 14032) && arm("getCustBalanceName", 1, 14032);
  t.join();
  fflush(stdout);
  output = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(armed) << sql->lastError();

  EXPECT_EQ(result, 0) << output;
  EXPECT_EQ(fired("getOrderCarrierEntry"), 1);
  EXPECT_EQ(fired("getCustBalanceName"), 1);
  std::vector<std::string> out = lines(output);
  ASSERT_EQ(out.size(), 2u) << output;  // retries print nothing of their own
  EXPECT_TRUE(isTimestampedLine(out[0], kPauseLine)) << out[0];
  EXPECT_TRUE(isTimestampedLine(out[1], kPauseLine)) << out[1];
  EXPECT_EQ(arg.oIdBeforePause, latest);
  EXPECT_EQ(arg.O_ID, latest);
  EXPECT_STRNE(arg.C_LAST, "");
  ASSERT_TRUE(refdb("faults off --db " + db.name()));
}

TEST_F(OrderStatusTest, MoreLinesThanTheRecordHoldsFailTheTransaction) {
  ASSERT_NO_FATAL_FAILURE(load("os_overflow"));
  // An order of 17 lines, newer than any other of the customer's.
  ASSERT_TRUE(sql->exec("INSERT INTO ORDERS VALUES (90001, 3, 1, 7, NOW(), NULL, 17, 1)"))
      << sql->lastError();
  for (int n = 1; n <= 17; ++n) {
    ASSERT_TRUE(sql->exec("INSERT INTO ORDER_LINE VALUES (90001, 3, 1, " + std::to_string(n) +
                          ", " + std::to_string(n) + ", 1, NULL, 1, 1.00, 'dist')"))
        << sql->lastError();
  }
  // Anything written past the record's lines would land in the guard.
  struct Guarded {
    OrderStatusByIdArg record;
    char guard[4 * sizeof(OrderStatusLine)];
  };
  auto guarded = std::make_unique<Guarded>();
  memset(guarded->guard, 'g', sizeof guarded->guard);
  guarded->record = arg;

  testing::internal::CaptureStdout();
  int result = OrderStatus(&guarded->record, 0);
  fflush(stdout);
  output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 1);
  EXPECT_NE(output.find("order 90001 of customer 7 has more than 15 lines"), std::string::npos)
      << output;
  for (char c : guarded->guard) ASSERT_EQ(c, 'g');
  EXPECT_EQ(guarded->record.orderLines[kMaxOrderLines - 1].OL_QUANTITY, 1);
  EXPECT_EQ(guarded->record.orderLineCount, 0);  // the failed step stored no count
}

}  // namespace
