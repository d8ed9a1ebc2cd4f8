// Payment against the reference database.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "Payment.h"
#include "TestDb.h"
#include "TransactionTest.h"

using namespace acidkit_test;

namespace {

constexpr long long kAmountCents = 99999;  // the payment of 999.99

// What a Payment changes, read in whole cents so that it compares exactly.
struct Snapshot {
  long long W_YTD;
  long long D_YTD;
  long long C_BALANCE;
  long long C_YTD_PAYMENT;
  long long C_PAYMENT_CNT;
  std::string C_DATA;
  long long history;  // the customer's HISTORY rows
};

class PaymentTest : public TransactionTest {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(loadDatabase("pay_")); }

  static PaymentArg arg(int32_t w, int32_t d, int32_t c) {
    PaymentArg a{};
    strcpy(a.label, "T2");
    a.H_AMOUNT = 999.99;
    a.W_ID = w;
    a.D_ID = d;
    a.C_ID = c;
    strcpy(a.C_DATA, "not written");
    return a;
  }

  int call(PaymentArg& a, int completion) {
    return captured([&] { return Payment(&a, completion); });
  }

  static std::string customer(const PaymentArg& a) {
    return "C_W_ID = " + std::to_string(a.W_ID) + " AND C_D_ID = " + std::to_string(a.D_ID) +
           " AND C_ID = " + std::to_string(a.C_ID);
  }
  static std::string history(const PaymentArg& a) {
    return "H_C_W_ID = " + std::to_string(a.W_ID) + " AND H_C_D_ID = " + std::to_string(a.D_ID) +
           " AND H_C_ID = " + std::to_string(a.C_ID);
  }
  long long cents(const std::string& column, const std::string& from) {
    return sql->integer("SELECT CAST(" + column + " * 100 AS SIGNED) FROM " + from);
  }

  Snapshot snapshot(const PaymentArg& a) {
    std::string w = std::to_string(a.W_ID);
    std::string d = std::to_string(a.D_ID);
    return {cents("W_YTD", "WAREHOUSE WHERE W_ID = " + w),
            cents("D_YTD", "DISTRICT WHERE D_W_ID = " + w + " AND D_ID = " + d),
            cents("C_BALANCE", "CUSTOMER WHERE " + customer(a)),
            cents("C_YTD_PAYMENT", "CUSTOMER WHERE " + customer(a)),
            sql->integer("SELECT C_PAYMENT_CNT FROM CUSTOMER WHERE " + customer(a)),
            sql->text("SELECT C_DATA FROM CUSTOMER WHERE " + customer(a)),
            sql->integer("SELECT COUNT(*) FROM HISTORY WHERE " + history(a))};
  }

  void expectUnchanged(const Snapshot& before, const PaymentArg& a) {
    Snapshot after = snapshot(a);
    EXPECT_EQ(after.W_YTD, before.W_YTD);
    EXPECT_EQ(after.D_YTD, before.D_YTD);
    EXPECT_EQ(after.C_BALANCE, before.C_BALANCE);
    EXPECT_EQ(after.C_YTD_PAYMENT, before.C_YTD_PAYMENT);
    EXPECT_EQ(after.C_PAYMENT_CNT, before.C_PAYMENT_CNT);
    EXPECT_EQ(after.C_DATA, before.C_DATA);
    EXPECT_EQ(after.history, before.history);
  }

  void expectPaid(const Snapshot& before, const PaymentArg& a) {
    Snapshot after = snapshot(a);
    EXPECT_EQ(after.W_YTD, before.W_YTD + kAmountCents);
    EXPECT_EQ(after.D_YTD, before.D_YTD + kAmountCents);
    EXPECT_EQ(after.C_BALANCE, before.C_BALANCE - kAmountCents);
    EXPECT_EQ(after.C_YTD_PAYMENT, before.C_YTD_PAYMENT + kAmountCents);
    EXPECT_EQ(after.C_PAYMENT_CNT, before.C_PAYMENT_CNT + 1);
    EXPECT_EQ(after.history, before.history + 1);
  }

  // The record holds the rows as the transaction read them.
  void expectRecordFilled(const Snapshot& before, const PaymentArg& a) {
    std::string w = "FROM WAREHOUSE WHERE W_ID = " + std::to_string(a.W_ID);
    std::string d = "FROM DISTRICT WHERE D_W_ID = " + std::to_string(a.W_ID) +
                    " AND D_ID = " + std::to_string(a.D_ID);
    std::string c = "FROM CUSTOMER WHERE " + customer(a);
    EXPECT_EQ(strlen(a.H_DATE), 19u) << a.H_DATE;
    EXPECT_EQ(a.W_NAME, sql->text("SELECT W_NAME " + w));
    EXPECT_EQ(a.W_ZIP, sql->text("SELECT W_ZIP " + w));
    EXPECT_EQ(a.D_NAME, sql->text("SELECT D_NAME " + d));
    EXPECT_EQ(a.D_STATE, sql->text("SELECT D_STATE " + d));
    EXPECT_EQ(a.C_LAST, sql->text("SELECT C_LAST " + c));
    // Two-letter fields come back whole.
    EXPECT_EQ(strlen(a.C_MIDDLE), 2u);
    EXPECT_EQ(a.C_MIDDLE, sql->text("SELECT C_MIDDLE " + c));
    EXPECT_EQ(a.C_PHONE, sql->text("SELECT C_PHONE " + c));
    EXPECT_EQ(llround(a.C_BALANCE * 100), before.C_BALANCE);
    EXPECT_EQ(llround(a.C_CREDIT_LIM * 100),
              cents("C_CREDIT_LIM", "CUSTOMER WHERE " + customer(a)));
  }
};

TEST_F(PaymentTest, CommitsForGoodAndBadCredit) {
  struct Case {
    int32_t C_ID;
    const char* credit;
    bool badCredit;
  };
  for (const Case& k : {Case{7, "GC", false}, Case{8, "BC", true}, Case{9, "bc", false}}) {
    SCOPED_TRACE(k.credit);
    PaymentArg a = arg(1, 3, k.C_ID);
    ASSERT_TRUE(sql->exec(std::string("UPDATE CUSTOMER SET C_CREDIT = '") + k.credit +
                          "', C_DATA = 'data before the payment' WHERE " + customer(a)));
    Snapshot before = snapshot(a);

    ASSERT_EQ(call(a, 0), 0) << output;
    EXPECT_EQ(output, "");
    expectPaid(before, a);
    expectRecordFilled(before, a);
    EXPECT_STREQ(a.C_CREDIT, k.credit);

    std::string data = sql->text("SELECT C_DATA FROM CUSTOMER WHERE " + customer(a));
    if (k.badCredit) {
      EXPECT_NE(data, before.C_DATA);
      EXPECT_EQ(a.C_DATA, data.substr(0, 200));
    } else {
      EXPECT_EQ(data, before.C_DATA);
      EXPECT_STREQ(a.C_DATA, "not written");
    }

    // The loaded rows are payments of 10.00.
    std::string row = " FROM HISTORY WHERE " + history(a) + " AND H_D_ID = 3 AND H_W_ID = 1" +
                      " AND H_AMOUNT = 999.99";
    EXPECT_EQ(sql->text("SELECT H_DATA" + row), std::string(a.W_NAME) + "    " + a.D_NAME);
    EXPECT_EQ(sql->text("SELECT H_DATA" + row),
              sql->text("SELECT CONCAT(W_NAME, '    ', D_NAME) FROM WAREHOUSE, DISTRICT"
                        " WHERE W_ID = 1 AND D_W_ID = 1 AND D_ID = 3"));
    EXPECT_EQ(sql->text("SELECT DATE_FORMAT(H_DATE, '%Y-%m-%d %H:%i:%s')" + row),
              std::string(a.H_DATE, 19));
    EXPECT_EQ(sql->integer("SELECT COUNT(*)" + row), 1);
  }
}

TEST_F(PaymentTest, RollbackLeavesEveryRowAndFillsTheRecord) {
  PaymentArg a = arg(2, 10, 3000);
  ASSERT_TRUE(sql->exec("UPDATE CUSTOMER SET C_CREDIT = 'BC' WHERE " + customer(a)));
  Snapshot before = snapshot(a);
  long long allHistory = sql->integer("SELECT COUNT(*) FROM HISTORY");

  ASSERT_EQ(call(a, 1), 0) << output;
  EXPECT_EQ(output, "");
  expectUnchanged(before, a);
  EXPECT_EQ(sql->integer("SELECT COUNT(*) FROM HISTORY"), allHistory);
  expectRecordFilled(before, a);
  // The bad-credit update ran and was rolled back with the rest.
  EXPECT_STRNE(a.C_DATA, "not written");
}

TEST_F(PaymentTest, MissingCustomerFailsAndCommitsNothing) {
  // No such customer: the customer read fails.
  PaymentArg a = arg(1, 1, 3001);
  Snapshot before = snapshot(a);
  EXPECT_EQ(call(a, 0), 1);
  EXPECT_NE(output.find("CUSTOMER"), std::string::npos) << output;
  expectUnchanged(before, a);

  // A customer read that answers for a row the update then does not find:
  // the update's SQL_NO_DATA fails the transaction without a message of its
  // own, and the warehouse and district updates are rolled back.
  ASSERT_TRUE(db.admin(R"(
DROP PROCEDURE getCustAll;
DELIMITER //
CREATE PROCEDURE getCustAll(IN cId INT, IN dId INT, IN wId INT,
    OUT cFirst VARCHAR(16), OUT cMiddle CHAR(2), OUT cLast VARCHAR(16),
    OUT cStreet1 VARCHAR(20), OUT cStreet2 VARCHAR(20), OUT cCity VARCHAR(20),
    OUT cState CHAR(2), OUT cZip CHAR(9), OUT cPhone CHAR(16), OUT cCredit CHAR(2),
    OUT cCreditLim DECIMAL(12,2), OUT cDiscount DECIMAL(4,4), OUT cBalance DECIMAL(15,2),
    OUT cSince VARCHAR(21))
BEGIN
  SELECT 'A', 'OE', 'B', 'C', 'D', 'E', 'XX', '123411111', '0123456789012345', 'GC',
         50000, 0.1, -10, '2020-01-01 00:00:00'
    INTO cFirst, cMiddle, cLast, cStreet1, cStreet2, cCity, cState, cZip, cPhone, cCredit,
         cCreditLim, cDiscount, cBalance, cSince;
END //
DELIMITER ;
)"));
  a = arg(1, 1, 3001);
  EXPECT_EQ(call(a, 0), 1);
  EXPECT_EQ(output, "\n\n") << "nothing was read: the connection's line is empty";
  EXPECT_STREQ(a.C_CREDIT, "GC");
  expectUnchanged(before, a);
}

TEST_F(PaymentTest, RetriesRetryableErrorsFiveTimes) {
  ASSERT_TRUE(refdb("faults on --db " + db.name()));
  // getSysDate counting its calls in a table that no rollback resets.
  ASSERT_TRUE(db.admin(R"(
CREATE OR REPLACE TABLE sysdate_calls (n INT NOT NULL) ENGINE=MEMORY;
INSERT INTO sysdate_calls VALUES (0);
DROP PROCEDURE getSysDate;
DELIMITER //
CREATE PROCEDURE getSysDate(OUT sysDate VARCHAR(21))
BEGIN
  UPDATE sysdate_calls SET n = n + 1;
  SET sysDate = DATE_FORMAT(NOW(), '%Y-%m-%d %H:%i:%s');
END //
DELIMITER ;
)"));
  struct Case {
    int32_t C_ID;
    int failures;
    int errorCode;
    int result;
  };
  for (const Case& k : {Case{11, 5, 14032, 0}, Case{12, 6, 14007, 1}}) {
    SCOPED_TRACE(k.failures);
    PaymentArg a = arg(1, 2, k.C_ID);
    ASSERT_TRUE(sql->exec("UPDATE CUSTOMER SET C_CREDIT = 'GC' WHERE " + customer(a)));
    ASSERT_TRUE(sql->exec("UPDATE sysdate_calls SET n = 0")) << sql->lastError();
    ASSERT_TRUE(sql->exec("DELETE FROM acidkit_fault"));
    ASSERT_TRUE(
        sql->exec("INSERT INTO acidkit_fault (point, remaining, errno) VALUES "
                  "('UPDATE CUSTOMER', " +
                  std::to_string(k.failures) + ", " + std::to_string(k.errorCode) + ")"));
    Snapshot before = snapshot(a);

    EXPECT_EQ(call(a, 0), k.result) << output;
    EXPECT_EQ(sql->integer("SELECT fired FROM acidkit_fault"), k.failures);
    EXPECT_EQ(sql->integer("SELECT n FROM sysdate_calls"), 1) << "getSysDate runs once per call";
    if (k.result == 0) {
      EXPECT_EQ(output, "");
      expectPaid(before, a);
    } else {
      // The last failing statement's message, then the connection's line.
      std::string message = "acidkit fault injected at UPDATE CUSTOMER (14007)";
      size_t first = output.find(message);
      ASSERT_NE(first, std::string::npos) << output;
      EXPECT_EQ(output.substr(0, 1), "\n");
      expectUnchanged(before, a);
    }
  }
}

}  // namespace
