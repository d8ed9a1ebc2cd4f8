// New-Order and the transaction frame against the reference database.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "NewOrder.h"
#include "TestDb.h"
#include "TransactionTest.h"

using namespace acidkit_test;

namespace {

class NewOrderTest : public TransactionTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(loadDatabase("no_"));
    fill({1001, 2001, 3001, 4001, 5001});
  }

  void fill(std::initializer_list<int32_t> items) {
    memset(&arg, 0, sizeof arg);
    strcpy(arg.label, "T1");
    arg.W_ID = 1;
    arg.D_ID = 3;
    arg.C_ID = 7;
    arg.O_ALL_LOCAL = 1;
    arg.O_OL_CNT = static_cast<int32_t>(items.size());
    int k = 0;
    for (int32_t item : items) {
      arg.orderLines[k] = NewOrderLine{};
      arg.orderLines[k].OL_SUPPLY_W_ID = 1;
      arg.orderLines[k].OL_I_ID = item;
      arg.orderLines[k].OL_QUANTITY = 5;
      ++k;
    }
  }

  int call(int pauseAfterFirstItem, int pauseBeforeEnd) {
    return captured([&] { return NewOrder(&arg, pauseAfterFirstItem, pauseBeforeEnd); });
  }

  long long nextOrderId() {
    return sql->integer("SELECT D_NEXT_O_ID FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 3");
  }
  long long count(const std::string& table, const std::string& where) {
    return sql->integer("SELECT COUNT(*) FROM " + table + " WHERE " + where);
  }
  // The order's key in ORDERS ("O_"), NEW_ORDER ("NO_") or ORDER_LINE ("OL_").
  std::string orderKey(const std::string& prefix) {
    std::string order = prefix == "O_" ? "O_ID" : prefix + "O_ID";
    return prefix + "W_ID = 1 AND " + prefix + "D_ID = 3 AND " + order + " = " +
           std::to_string(arg.O_ID);
  }
  std::string entryDate() {
    return sql->text("SELECT DATE_FORMAT(O_ENTRY_D, '%Y-%m-%d %H:%i:%s') FROM ORDERS WHERE " +
                     orderKey("O_"));
  }

  NewOrderArg arg;
};

TEST_F(NewOrderTest, CommitsAnOrderWithItsLinesStockAndTotal) {
  ASSERT_TRUE(sql->ok()) << sql->lastError();
  // Quantities either side of the restock rule, a brand item on line 3, a
  // remote supplier on line 4, an upper-case marker that does not count on 5.
  ASSERT_TRUE(sql->exec("UPDATE STOCK SET S_QUANTITY = 15 WHERE S_W_ID = 1 AND S_I_ID = 1001"));
  ASSERT_TRUE(sql->exec("UPDATE STOCK SET S_QUANTITY = 14 WHERE S_W_ID = 1 AND S_I_ID = 2001"));
  ASSERT_TRUE(sql->exec("UPDATE ITEM SET I_DATA = 'an original item' WHERE I_ID IN (3001, 5001)"));
  ASSERT_TRUE(sql->exec("UPDATE STOCK SET S_DATA = 'original stock' WHERE S_I_ID = 3001"));
  ASSERT_TRUE(sql->exec("UPDATE STOCK SET S_DATA = 'ORIGINAL STOCK' WHERE S_I_ID = 5001"));
  ASSERT_TRUE(sql->exec("UPDATE ITEM SET I_DATA = 'plain' WHERE I_ID IN (1001, 2001, 4001)"));
  arg.orderLines[3].OL_SUPPLY_W_ID = 2;
  long long next = nextOrderId();
  long long remoteBefore =
      sql->integer("SELECT S_REMOTE_CNT FROM STOCK WHERE S_W_ID = 2 AND S_I_ID = 4001");

  ASSERT_EQ(call(0, 0), 0) << output;
  EXPECT_EQ(output, "");
  EXPECT_EQ(arg.O_ID, next);
  EXPECT_FALSE(arg.rollbackFlag);
  EXPECT_EQ(nextOrderId(), next + 1);
  EXPECT_EQ(strlen(arg.O_ENTRY_D), 19u) << arg.O_ENTRY_D;
  EXPECT_EQ(entryDate(), arg.O_ENTRY_D);
  EXPECT_EQ(count("NEW_ORDER", orderKey("NO_")), 1);
  EXPECT_EQ(count("ORDER_LINE", orderKey("OL_")), 5);

  EXPECT_EQ(arg.orderLines[0].S_QUANTITY, 15);
  EXPECT_EQ(sql->integer("SELECT S_QUANTITY FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 1001"), 10);
  EXPECT_EQ(arg.orderLines[1].S_QUANTITY, 14);
  EXPECT_EQ(sql->integer("SELECT S_QUANTITY FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 2001"), 100);
  const char brands[] = {'G', 'G', 'B', 'G', 'G'};
  for (int k = 0; k < 5; ++k)
    EXPECT_EQ(arg.orderLines[k].brandGeneric, brands[k]) << "line " << k + 1;
  EXPECT_EQ(sql->integer("SELECT S_REMOTE_CNT FROM STOCK WHERE S_W_ID = 2 AND S_I_ID = 4001"),
            remoteBefore + 1);
  EXPECT_EQ(count("ORDER_LINE", orderKey("OL_") + " AND OL_NUMBER = 4 AND OL_SUPPLY_W_ID = 2"), 1);
  // The line's district text is the stock's S_DIST_03 (district 3).
  EXPECT_EQ(sql->text("SELECT OL_DIST_INFO FROM ORDER_LINE WHERE " + orderKey("OL_") +
                      " AND OL_NUMBER = 1"),
            sql->text("SELECT S_DIST_03 FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 1001"));

  double sum = 0;
  for (int k = 0; k < 5; ++k) {
    const NewOrderLine& line = arg.orderLines[k];
    EXPECT_EQ(line.OL_AMOUNT, line.OL_QUANTITY * line.I_PRICE);
    EXPECT_GT(line.I_PRICE, 0);
    EXPECT_STRNE(line.I_NAME, "");
    sum += line.OL_AMOUNT;
  }
  EXPECT_EQ(arg.totalAmount, (arg.W_TAX + 1.0 + arg.D_TAX) * sum * (1.0 - arg.C_DISCOUNT));
  EXPECT_STRNE(arg.C_LAST, "");
  EXPECT_EQ(strlen(arg.C_CREDIT), 2u);
}

TEST_F(NewOrderTest, ZeroLinesCommitsTheOrderAlone) {
  ASSERT_TRUE(sql->ok()) << sql->lastError();
  fill({});
  long long next = nextOrderId();
  ASSERT_EQ(call(0, 0), 0) << output;
  EXPECT_EQ(arg.O_ID, next);
  EXPECT_EQ(arg.totalAmount, 0);
  EXPECT_EQ(count("ORDERS", orderKey("O_")), 1);
  EXPECT_EQ(count("NEW_ORDER", orderKey("NO_")), 1);
  EXPECT_EQ(count("ORDER_LINE", orderKey("OL_")), 0);
}

TEST_F(NewOrderTest, MissingLastItemRollsBackAfterThePause) {
  ASSERT_TRUE(sql->ok()) << sql->lastError();
  fill({1001, 2001, 3001, 4001, -1});
  long long next = nextOrderId();
  long long stock = sql->integer("SELECT S_YTD FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 1001");

  ASSERT_EQ(call(0, 1), 0) << output;
  EXPECT_TRUE(arg.rollbackFlag);
  EXPECT_EQ(arg.O_ID, next);  // the number the rolled-back order had taken
  EXPECT_EQ(lines(output).size(), 1u) << output;
  EXPECT_TRUE(isTimestampedLine(lines(output)[0], "- T1 paused prior to rollback")) << output;
  EXPECT_EQ(nextOrderId(), next);
  EXPECT_EQ(count("ORDERS", orderKey("O_")), 0);
  EXPECT_EQ(count("ORDER_LINE", orderKey("OL_")), 0);
  EXPECT_EQ(sql->integer("SELECT S_YTD FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 1001"), stock);
  EXPECT_EQ(arg.orderLines[4].I_PRICE, 0);  // a missing item's outputs stay as they were
}

TEST_F(NewOrderTest, PauseAfterFirstItemOnlyWhenItExists) {
  ASSERT_TRUE(call(1, 0) == 0) << output;
  EXPECT_TRUE(isTimestampedLine(lines(output).at(0), "- T1 paused after scanning first item (x)"))
      << output;

  fill({-1, 2001});
  ASSERT_EQ(call(1, 0), 0) << output;
  EXPECT_EQ(output, "");
  EXPECT_TRUE(arg.rollbackFlag);
}

TEST_F(NewOrderTest, MoreLinesThanTheRecordHoldsAreRefused) {
  ASSERT_TRUE(sql->ok()) << sql->lastError();
  long long next = nextOrderId();
  arg.O_OL_CNT = 16;
  EXPECT_EQ(call(0, 0), 1);
  EXPECT_NE(output.find("at most 15 lines"), std::string::npos) << output;
  EXPECT_EQ(nextOrderId(), next);
}

TEST(NewOrderFrame, UnreachableDatabaseFailsWithOneDiagnosticLine) {
  TestDatabase db;
  ASSERT_TRUE(db.useUnreachable("new_order"));
  acidkit::OdbcEnvironment env(&gEnv);
  ASSERT_TRUE(env.allocate(SQL_NULL_HANDLE));
  SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  NewOrderArg arg{};
  arg.O_OL_CNT = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(NewOrder(&arg, 0, 0), 1);
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.front(), '\n');
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(lines(out).size(), 2u) << out;  // "\n%s\n": an empty line, then the message
  EXPECT_NE(out.find("connect", 0), std::string::npos) << out;
  EXPECT_TRUE(env.release()) << "a handle was left allocated";
}

// Retryable errors injected by the database at one statement of the order.
TEST_F(NewOrderTest, RetryableErrorsRunTheOrderAgainAtMostSixTimes) {
  ASSERT_TRUE(sql->ok()) << sql->lastError();
  ASSERT_TRUE(db.enableFaults());
  struct Case {
    const char* point;
    int failures;
    int errorCode;
    int result;
  } cases[] = {
      {"getWarehouseCustomer", 5, 14032, 0},
      {"getItemData", 2, 14032, 0},  // a deadlock on an item is no missing item
      {"UPDATE STOCK", 5, 14007, 0},
      {"INSERT ORDER_LINE", 6, 14032, 1},
      {"INSERT ORDERS", 1, 1644, 1},  // not retryable: one attempt
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    fill({1001, 2001, 3001, 4001, 5001});
    long long next = nextOrderId();
    ASSERT_TRUE(sql->exec("DELETE FROM acidkit_fault"));
    ASSERT_TRUE(sql->exec("INSERT INTO acidkit_fault (point, remaining, errno) VALUES ('" +
                          std::string(c.point) + "', " + std::to_string(c.failures) + ", " +
                          std::to_string(c.errorCode) + ")"));
    EXPECT_EQ(call(0, 0), c.result) << output;
    EXPECT_EQ(sql->integer("SELECT fired FROM acidkit_fault"), c.failures);
    if (c.result == 0) {
      EXPECT_EQ(output, "");
      EXPECT_FALSE(arg.rollbackFlag);
      EXPECT_EQ(nextOrderId(), next + 1);  // committed once
      EXPECT_EQ(count("ORDER_LINE", orderKey("OL_")), 5);
      EXPECT_EQ(entryDate(), arg.O_ENTRY_D);
    } else {
      // The statement's message, then the connection's (which has no record of
      // its own, so the buffer still holds the statement's); nothing committed.
      std::vector<std::string> out = lines(output);
      ASSERT_EQ(out.size(), 4u) << output;
      EXPECT_NE(out[1].find("acidkit fault injected at " + std::string(c.point)),
                std::string::npos);
      EXPECT_EQ(out[0], "");
      EXPECT_EQ(out[2], "");
      EXPECT_EQ(out[3], out[1]);
      EXPECT_EQ(nextOrderId(), next);
      EXPECT_EQ(count("ORDERS", "O_W_ID = 1 AND O_D_ID = 3 AND O_ID >= " + std::to_string(next)),
                0);
    }
  }
}

}  // namespace
