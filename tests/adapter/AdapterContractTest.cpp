// The contract of the reference database through TESTDB: every statement text
// of the programs, prepared and bound as the programs bind it, executed with
// representative values and checked for its outputs or its effect; then the
// error codes, locks and threads the isolation tests rely on.
//
// Runs on database acidkit_adapter_test (one warehouse), loaded once. Every
// case works inside a transaction that it rolls back, or changes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "AtomStatements.h"
#include "ConsistStatements.h"
#include "DeliveryStatements.h"
#include "NewOrderStatements.h"
#include "OdbcSession.h"
#include "OrderStatusStatements.h"
#include "PaymentStatements.h"
#include "SideStatements.h"
#include "TestDb.h"

using namespace acidkit_test;

namespace {

constexpr SQLUINTEGER kRC = SQL_TXN_READ_COMMITTED;
constexpr SQLUINTEGER kRR = SQL_TXN_REPEATABLE_READ;
constexpr SQLUINTEGER kSER = SQL_TXN_SERIALIZABLE;

std::string str(const std::string& s) {
  return s;
}
std::string n(long long v) {
  return std::to_string(v);
}

bool isDateTime(const char* text) {
  static const std::regex layout("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
  return std::regex_match(text, layout);
}

// Seconds between a 'YYYY-MM-DD HH:MM:SS' text and the server's clock.
long long secondsFromNow(Session& s, const std::string& dateTime) {
  if (onPostgreSQL()) {
    return s.integer("SELECT CAST(ABS(EXTRACT(EPOCH FROM CAST('" + dateTime +
                     "' AS TIMESTAMP) - LOCALTIMESTAMP)) AS INTEGER)");
  }
  return s.integer("SELECT ABS(TIMESTAMPDIFF(SECOND, '" + dateTime + "', NOW()))");
}

// A CALL delivers its outputs, and leaves the statement and the connection
// free at once: run it, run another statement, run it again.
void runsTwice(Session& s, Statement& st) {
  ASSERT_TRUE(st.ok());
  EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
  EXPECT_EQ(s.text("SELECT 1"), "1") << "the connection is still busy after the CALL";
  EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
}

// Another connection cannot change what `sql` touches: it waits for the
// lock until its one-second timeout, which arrives as native error 14007.
void expectLocked(const std::string& sql) {
  Session other;
  other.lockWait(1);
  EXPECT_EQ(other.exec(sql), SQL_ERROR) << sql << " was not kept waiting";
  EXPECT_EQ(other.lastDiag().native, 14007) << other.lastDiag().text();
}

std::string customerRow(const char* columns, int32_t d, int32_t c) {
  return std::string("SELECT ") + columns + " FROM CUSTOMER WHERE C_W_ID = 1 AND C_D_ID = " + n(d) +
         " AND C_ID = " + n(c);
}

// A statement text with its bindings and representative values, run inside
// a session at the isolation level and autocommit mode its program uses.
struct Case {
  const char* name;
  SQLUINTEGER isolation;
  bool autocommit;
  void (*run)(Session&);
};

const Case kCases[] = {
    // New-Order, READ COMMITTED.
    {"NewOrder1_getSysDate", kRC, false,
     [](Session& s) {
       char date[22] = "x";
       Statement st(s, kNewOrderStatements[0]);
       st.out(date, SQL_VARCHAR, 19, 22);
       runsTwice(s, st);
       EXPECT_TRUE(isDateTime(date)) << date;
       EXPECT_LE(secondsFromNow(s, date), 5);
     }},
    {"NewOrder2_getWarehouseCustomer", kRC, false,
     [](Session& s) {
       int32_t w = 1, d = 3, c = 17;
       double discount = -1, wTax = -1;
       char last[17] = "", credit[3] = "";
       Statement st(s, kNewOrderStatements[1]);
       st.in(w).in(d).in(c).out(discount, 4, 4).out(last, SQL_VARCHAR, 16, 17);
       st.out(credit, SQL_CHAR, 2, 3).out(wTax, 4, 4);
       runsTwice(s, st);
       EXPECT_EQ(str(last), s.text(customerRow("C_LAST", d, c)));
       EXPECT_EQ(str(credit), s.text(customerRow("C_CREDIT", d, c)));
       EXPECT_DOUBLE_EQ(discount, s.number(customerRow("C_DISCOUNT", d, c)));
       EXPECT_DOUBLE_EQ(wTax, s.number("SELECT W_TAX FROM WAREHOUSE WHERE W_ID = 1"));
     }},
    {"NewOrder3_updateDistrictGetOrderline_keepsDistrictLocked", kRC, false,
     [](Session& s) {
       const std::string next = "SELECT D_NEXT_O_ID FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 3";
       const long long before = s.integer(next);
       int32_t d = 3, w = 1, oId = -1;
       double dTax = -1;
       Statement st(s, kNewOrderStatements[2]);
       st.in(d).in(w).out(oId).out(dTax, 4, 4);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(oId, before);
       EXPECT_DOUBLE_EQ(dTax, s.number("SELECT D_TAX FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 3"));
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(oId, before + 1);
       EXPECT_EQ(s.integer(next), before + 2);
       expectLocked("UPDATE DISTRICT SET D_YTD = D_YTD WHERE D_W_ID = 1 AND D_ID = 3");
       EXPECT_EQ(s.endTran(SQL_ROLLBACK), SQL_SUCCESS);
       EXPECT_EQ(s.integer(next), before);
     }},
    {"NewOrder4_insertOrders_TO_DATE", kRC, false,
     [](Session& s) {
       int32_t oId = static_cast<int32_t>(
           s.integer("SELECT D_NEXT_O_ID FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 3"));
       int32_t d = 3, w = 1, c = 17, count = 5, allLocal = 1;
       char entry[22] = "2024-05-06 07:08:09";
       Statement st(s, kNewOrderStatements[3]);
       st.in(oId).in(d).in(w).in(c).in(entry, SQL_VARCHAR, 21, 22);
       st.in(SQL_C_SLONG, SQL_NUMERIC, 8, 0, &count).in(SQL_C_SLONG, SQL_NUMERIC, 1, 0, &allLocal);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(st.rowCount(), 1);
       EXPECT_EQ(
           s.text(
               "SELECT CONCAT_WS(' ', O_C_ID, O_ENTRY_D, O_OL_CNT, O_ALL_LOCAL, "
               "CASE WHEN O_CARRIER_ID IS NULL THEN 'none' END) FROM ORDERS WHERE O_W_ID = 1 AND "
               "O_D_ID = 3 AND O_ID = " +
               n(oId)),
           "17 2024-05-06 07:08:09 5 1 none");
       // TO_DATE refuses what is not a date in its layout.
       ++oId;
       strcpy(entry, "06.05.2024 07:08");
       EXPECT_EQ(st.execute(), SQL_ERROR);
     }},
    {"NewOrder5_insertNewOrder", kRC, false,
     [](Session& s) {
       int32_t oId = 99999, d = 3, w = 1;
       Statement st(s, kNewOrderStatements[4]);
       st.in(oId).in(d).in(w);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(s.integer("SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 3 "
                           "AND NO_O_ID = 99999"),
                 1);
     }},
    {"NewOrder6_getItemData_failsForMissingItem", kRC, false,
     [](Session& s) {
       int32_t item = 77;
       double price = -1;
       char name[25] = "", data[51] = "";
       Statement st(s, kNewOrderStatements[5]);
       st.in(item).out(price, 5, 2).out(name, SQL_VARCHAR, 24, 25).out(data, SQL_VARCHAR, 50, 51);
       runsTwice(s, st);
       EXPECT_DOUBLE_EQ(price, s.number("SELECT I_PRICE FROM ITEM WHERE I_ID = 77"));
       EXPECT_EQ(str(name), s.text("SELECT I_NAME FROM ITEM WHERE I_ID = 77"));
       EXPECT_EQ(str(data), s.text("SELECT I_DATA FROM ITEM WHERE I_ID = 77"));
       item = -1;
       EXPECT_EQ(st.execute(), SQL_ERROR);
       item = 78;
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(str(name), s.text("SELECT I_NAME FROM ITEM WHERE I_ID = 78"));
     }},
    {"NewOrder7_stockSelectForUpdateAndGetStockData", kRC, false,
     [](Session& s) {
       int32_t item = 123, w = 1, d = 7, quantity = -1;
       char sData[51] = "", distInfo[25] = "";
       Statement st(s, kNewOrderStatements[6]);
       st.in(item).in(w).in(d).in(item).in(w).out(sData, SQL_VARCHAR, 50, 51).out(quantity);
       st.out(distInfo, SQL_CHAR, 24, 25);
       SQLSMALLINT markers = 0;
       EXPECT_EQ(SQLNumParams(st.handle(), &markers), SQL_SUCCESS);
       EXPECT_EQ(markers, 8);
       // Statement-level isolation: the connector refuses it, the program
       // ignores the result, the statement stays usable.
       EXPECT_EQ(SQLSetStmtAttr(st.handle(), 108, (SQLPOINTER)8, 0), SQL_ERROR);
       EXPECT_EQ(st.diag().state, onPostgreSQL() ? "HYC00" : "HY024");
       runsTwice(s, st);
       const std::string row = " FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 123";
       EXPECT_EQ(str(sData), s.text("SELECT S_DATA" + row));
       EXPECT_EQ(quantity, s.integer("SELECT S_QUANTITY" + row));
       EXPECT_EQ(str(distInfo), s.text("SELECT S_DIST_07" + row));
       SQLSMALLINT columns = -1;
       EXPECT_EQ(SQLNumResultCols(st.handle(), &columns), SQL_SUCCESS);
       EXPECT_EQ(columns, 0) << "the SELECT's rows must not be delivered";
       // The row stays locked to the end of the transaction; its neighbour not.
       expectLocked("UPDATE STOCK SET S_YTD = S_YTD WHERE S_W_ID = 1 AND S_I_ID = 123");
       Session other;
       EXPECT_EQ(other.exec("UPDATE STOCK SET S_YTD = S_YTD WHERE S_W_ID = 1 AND S_I_ID = 124"),
                 SQL_SUCCESS);
     }},
    {"NewOrder7_errorOfTheCallIsTheStatements", kRC, false,
     [](Session& s) {
       int32_t item = -1, w = 1, d = 7, quantity = -1;
       char sData[51] = "", distInfo[25] = "";
       Statement st(s, kNewOrderStatements[6]);
       st.in(item).in(w).in(d).in(item).in(w).out(sData, SQL_VARCHAR, 50, 51).out(quantity);
       st.out(distInfo, SQL_CHAR, 24, 25);
       EXPECT_EQ(st.execute(), SQL_ERROR);
       const DiagRecord r = st.diag();
       EXPECT_EQ(r.state, "45000") << r.text();
       EXPECT_NE(r.message.find("STOCK"), std::string::npos) << r.text();
       item = 5;
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(quantity,
                 s.integer("SELECT S_QUANTITY FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 5"));
     }},
    {"NewOrder7_directWithParametersBoundBefore", kRC, false,
     [](Session& s) {
       // Bindings made before the text is known still land on their statement.
       int32_t item = 321, w = 1, d = 10, quantity = -1;
       char sData[51] = "", distInfo[25] = "";
       Statement st(s, nullptr, false);
       st.in(item).in(w).in(d).in(item).in(w).out(sData, SQL_VARCHAR, 50, 51).out(quantity);
       st.out(distInfo, SQL_CHAR, 24, 25);
       EXPECT_EQ(st.execDirect(kNewOrderStatements[6]), SQL_SUCCESS) << st.error();
       EXPECT_EQ(str(distInfo),
                 s.text("SELECT S_DIST_10 FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 321"));
       EXPECT_EQ(quantity,
                 s.integer("SELECT S_QUANTITY FROM STOCK WHERE S_W_ID = 1 AND S_I_ID = 321"));
       expectLocked("UPDATE STOCK SET S_YTD = S_YTD WHERE S_W_ID = 1 AND S_I_ID = 321");
     }},
    {"NewOrder8_updateStock_noDataWhenNoRow", kRC, false,
     [](Session& s) {
       const std::string row =
           "SELECT CONCAT_WS(' ', S_QUANTITY, S_YTD, S_ORDER_CNT, S_REMOTE_CNT) FROM STOCK "
           "WHERE S_W_ID = 1 AND S_I_ID = 123";
       long long ytd = 0, orders = 0, remote = 0, q = 0;
       sscanf(s.text(row).c_str(), "%lld %lld %lld %lld", &q, &ytd, &orders, &remote);
       int32_t quantity = 42, olQuantity = 3, remoteFlag = 1, item = 123, w = 1;
       Statement st(s, kNewOrderStatements[7]);
       st.in(quantity).in(olQuantity).in(remoteFlag).in(item).in(w);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(st.rowCount(), 1);
       EXPECT_EQ(s.text(row), "42 " + n(ytd + 3) + " " + n(orders + 1) + " " + n(remote + 1));
       item = -1;
       EXPECT_EQ(st.execute(), SQL_NO_DATA);
     }},
    {"NewOrder9_insertOrderLine", kRC, false,
     [](Session& s) {
       int32_t oId = 99999, d = 3, w = 1, number = 1, item = 123, supply = 1, quantity = 4;
       double amount = 12.34;
       char dist[25] = "abcdefghijklmnopqrstuvwx";
       Statement st(s, kNewOrderStatements[8]);
       st.in(oId).in(d).in(w).in(number).in(item).in(supply).in(quantity).in(amount, 6, 2);
       st.in(dist, SQL_CHAR, 24, 25);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(
           s.text("SELECT CONCAT_WS(' ', OL_I_ID, OL_QUANTITY, OL_AMOUNT, OL_DIST_INFO, "
                  "CASE WHEN OL_DELIVERY_D IS NULL THEN 'undelivered' END) FROM ORDER_LINE WHERE "
                  "OL_W_ID = 1 AND OL_D_ID = 3 AND OL_O_ID = 99999 AND OL_NUMBER = 1"),
           "123 4 12.34 abcdefghijklmnopqrstuvwx undelivered");
     }},

    // Payment, SERIALIZABLE.
    {"Payment1_getSysDate", kSER, false,
     [](Session& s) {
       char date[22] = "x";
       Statement st(s, kPaymentStatements[0]);
       st.out(date, SQL_VARCHAR, 21, 22);
       runsTwice(s, st);
       EXPECT_TRUE(isDateTime(date)) << date;
     }},
    {"Payment2_updateWarehouseYTD", kSER, false,
     [](Session& s) {
       const std::string ytd = "SELECT W_YTD FROM WAREHOUSE WHERE W_ID = 1";
       const double before = s.number(ytd);
       double amount = 15.00;
       int32_t w = 1;
       char street1[21] = "", street2[21] = "", city[21] = "", state[3] = "", zip[10] = "",
            name[11] = "";
       Statement st(s, kPaymentStatements[1]);
       st.in(amount, 15, 2)
           .in(w)
           .out(street1, SQL_VARCHAR, 20, 21)
           .out(street2, SQL_VARCHAR, 20, 21);
       st.out(city, SQL_VARCHAR, 20, 21).out(state, SQL_CHAR, 2, 3).out(zip, SQL_CHAR, 9, 10);
       st.out(name, SQL_VARCHAR, 10, 11);
       runsTwice(s, st);
       EXPECT_DOUBLE_EQ(s.number(ytd), before + 30.00);
       EXPECT_EQ(str(street1) + "|" + street2 + "|" + city + "|" + state + "|" + zip + "|" + name,
                 s.text("SELECT CONCAT_WS('|', W_STREET_1, W_STREET_2, W_CITY, W_STATE, W_ZIP, "
                        "W_NAME) FROM WAREHOUSE WHERE W_ID = 1"));
     }},
    {"Payment3_updateDistrictYTD", kSER, false,
     [](Session& s) {
       const std::string ytd = "SELECT D_YTD FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 4";
       const double before = s.number(ytd);
       double amount = 15.00;
       int32_t w = 1, d = 4;
       char street1[21] = "", street2[21] = "", city[21] = "", state[3] = "", zip[10] = "",
            name[11] = "";
       Statement st(s, kPaymentStatements[2]);
       st.in(amount, 15, 2).in(w).in(d).out(street1, SQL_VARCHAR, 20, 21);
       st.out(street2, SQL_VARCHAR, 20, 21)
           .out(city, SQL_VARCHAR, 20, 21)
           .out(state, SQL_CHAR, 2, 3);
       st.out(zip, SQL_CHAR, 9, 10).out(name, SQL_VARCHAR, 10, 11);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_DOUBLE_EQ(s.number(ytd), before + 15.00);
       EXPECT_EQ(str(street1) + "|" + street2 + "|" + city + "|" + state + "|" + zip + "|" + name,
                 s.text("SELECT CONCAT_WS('|', D_STREET_1, D_STREET_2, D_CITY, D_STATE, D_ZIP, "
                        "D_NAME) FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 4"));
     }},
    {"Payment4_getCustAll", kSER, false,
     [](Session& s) {
       int32_t c = 55, d = 4, w = 1;
       char first[17] = "", middle[3] = "", last[17] = "", street1[21] = "", street2[21] = "",
            city[21] = "", state[3] = "", zip[10] = "", phone[17] = "", credit[3] = "",
            since[22] = "";
       double creditLim = -1, discount = -1, balance = -1;
       Statement st(s, kPaymentStatements[3]);
       st.in(c).in(d).in(w).out(first, SQL_VARCHAR, 16, 17).out(middle, SQL_CHAR, 2, 3);
       st.out(last, SQL_VARCHAR, 16, 17).out(street1, SQL_VARCHAR, 20, 21);
       st.out(street2, SQL_VARCHAR, 20, 21).out(city, SQL_VARCHAR, 20, 21);
       st.out(state, SQL_CHAR, 2, 3).out(zip, SQL_CHAR, 9, 10).out(phone, SQL_CHAR, 16, 17);
       st.out(credit, SQL_CHAR, 2, 3).out(creditLim, 12, 2).out(discount, 4, 4);
       st.out(balance, 15, 2).out(since, SQL_VARCHAR, 21, 22);
       runsTwice(s, st);
       EXPECT_EQ(str(first) + "|" + middle + "|" + last + "|" + street1 + "|" + street2 + "|" +
                     city + "|" + state + "|" + zip + "|" + phone + "|" + credit + "|" + since,
                 s.text(customerRow("CONCAT_WS('|', C_FIRST, C_MIDDLE, C_LAST, C_STREET_1, "
                                    "C_STREET_2, C_CITY, C_STATE, C_ZIP, C_PHONE, C_CREDIT, "
                                    "C_SINCE)",
                                    d, c)));
       EXPECT_DOUBLE_EQ(creditLim, s.number(customerRow("C_CREDIT_LIM", d, c)));
       EXPECT_DOUBLE_EQ(discount, s.number(customerRow("C_DISCOUNT", d, c)));
       EXPECT_DOUBLE_EQ(balance, s.number(customerRow("C_BALANCE", d, c)));
       EXPECT_EQ(strlen(middle), 2u);
     }},
    {"Payment5_updateCustomerData_badCredit", kSER, false,
     [](Session& s) {
       int32_t d = 4, w = 1;
       int32_t c = static_cast<int32_t>(s.integer(
           "SELECT MIN(C_ID) FROM CUSTOMER WHERE C_W_ID = 1 AND C_D_ID = 4 AND C_CREDIT = 'BC'"));
       ASSERT_GT(c, 0) << "no bad-credit customer in district 4";
       const double balance = s.number(customerRow("C_BALANCE", d, c));
       double amount = 15.00;
       char data[201] = "";
       Statement st(s, kPaymentStatements[4]);
       st.in(amount, 15, 2).in(c).in(d).in(w).out(data, SQL_CHAR, 200, 201);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_DOUBLE_EQ(s.number(customerRow("C_BALANCE", d, c)), balance - 15.00);
       EXPECT_EQ(str(data), s.text(customerRow("LEFT(C_DATA, 200)", d, c)));
       EXPECT_EQ(s.text("SELECT 1"), "1");
     }},
    {"Payment6_updateCustomer_noDataWhenNoRow", kSER, false,
     [](Session& s) {
       int32_t w = 1, d = 4, c = 55;
       const std::string row =
           customerRow("CONCAT_WS(' ', C_BALANCE, C_YTD_PAYMENT, C_PAYMENT_CNT)", d, c);
       double balance = 0, ytd = 0, count = 0;
       sscanf(s.text(row).c_str(), "%lf %lf %lf", &balance, &ytd, &count);
       double amount = 15.00;
       Statement st(s, kPaymentStatements[5]);
       st.in(amount, 15, 2).in(amount, 15, 2).in(w).in(d).in(c);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       char expected[100];
       snprintf(expected, sizeof expected, "%.2f %.2f %.0f", balance - 15, ytd + 15, count + 1);
       EXPECT_EQ(s.text(row), expected);
       c = 4000;
       EXPECT_EQ(st.execute(), SQL_NO_DATA);
     }},
    {"Payment7_insertHistory_castAndConcatenation", kSER, false,
     [](Session& s) {
       int32_t d = 4, w = 1, c = 55;
       char date[22] = "2024-05-06 07:08:09.5";
       char wName[11] = "WNAME", dName[11] = "dname-10ch";
       double amount = 15.00;
       Statement st(s, kPaymentStatements[6]);
       st.in(d).in(w).in(c).in(d).in(w).in(date, SQL_VARCHAR, 21, 22).in(amount, 15, 2);
       st.in(wName, SQL_VARCHAR, 10, 11).in(dName, SQL_VARCHAR, 10, 11);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(
           s.text("SELECT CONCAT('[', H_DATA, '] ', H_DATE, ' ', H_AMOUNT) FROM HISTORY "
                  "WHERE H_C_W_ID = 1 AND H_C_D_ID = 4 AND H_C_ID = 55 AND H_DATA LIKE 'WNAME%'"),
           "[WNAME    dname-10ch] 2024-05-06 07:08:09 15.00");
     }},

    // Delivery, SERIALIZABLE.
    {"Delivery1_getOrderID_failsForEmptyDistrict", kSER, false,
     [](Session& s) {
       int32_t w = 1, d = 2, oId = -1;
       Statement st(s, kDeliveryStatements[0]);
       st.in(w).in(d).out(oId);
       runsTwice(s, st);
       EXPECT_EQ(oId,
                 s.integer("SELECT MIN(NO_O_ID) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 2"));
       ASSERT_EQ(s.exec("DELETE FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 5"), SQL_SUCCESS);
       d = 5;
       EXPECT_EQ(st.execute(), SQL_ERROR);
       d = 2;
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
     }},
    {"Delivery2_deleteNewOrder_noDataWhenGone", kSER, false,
     [](Session& s) {
       int32_t oId = static_cast<int32_t>(
           s.integer("SELECT MIN(NO_O_ID) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 2"));
       int32_t d = 2, w = 1;
       Statement st(s, kDeliveryStatements[1]);
       st.in(oId).in(d).in(w);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(st.rowCount(), 1);
       EXPECT_EQ(st.execute(), SQL_NO_DATA);
     }},
    {"Delivery3_getOrderCustomerID", kSER, false,
     [](Session& s) {
       int32_t oId = 2500, d = 2, w = 1, c = -1;
       Statement st(s, kDeliveryStatements[2]);
       st.in(oId).in(d).in(w).out(c);
       runsTwice(s, st);
       EXPECT_EQ(
           c,
           s.integer("SELECT O_C_ID FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 2 AND O_ID = 2500"));
     }},
    {"Delivery4_updateOrders_noDataWhenNoRow", kSER, false,
     [](Session& s) {
       int32_t carrier = 5, oId = 2500, d = 2, w = 1;
       Statement st(s, kDeliveryStatements[3]);
       st.in(carrier).in(oId).in(d).in(w);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(
           s.integer(
               "SELECT O_CARRIER_ID FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 2 AND O_ID = 2500"),
           5);
       // Matching a row that already holds the value is still a match.
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       oId = -1;
       EXPECT_EQ(st.execute(), SQL_NO_DATA);
     }},
    {"Delivery5_updateOrderLine_SYSDATE", kSER, false,
     [](Session& s) {
       int32_t oId = 2500, d = 2, w = 1;
       const std::string where =
           " FROM ORDER_LINE WHERE OL_W_ID = 1 AND OL_D_ID = 2 AND OL_O_ID = 2500";
       Statement st(s, kDeliveryStatements[4]);
       st.in(oId).in(d).in(w);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(st.rowCount(), s.integer("SELECT COUNT(*)" + where));
       EXPECT_EQ(s.integer("SELECT COUNT(*)" + where + " AND OL_DELIVERY_D IS NULL"), 0);
       EXPECT_LE(secondsFromNow(s, s.text("SELECT MIN(OL_DELIVERY_D)" + where)), 5);
       oId = -1;
       EXPECT_EQ(st.execute(), SQL_NO_DATA);
     }},
    {"Delivery6_getOrderlineAmount", kSER, false,
     [](Session& s) {
       int32_t oId = 2500, d = 2, w = 1;
       double amount = -1;
       Statement st(s, kDeliveryStatements[5]);
       st.in(oId).in(d).in(w).out(amount, 15, 2);
       runsTwice(s, st);
       EXPECT_DOUBLE_EQ(amount, s.number("SELECT SUM(OL_AMOUNT) FROM ORDER_LINE WHERE OL_W_ID = 1 "
                                         "AND OL_D_ID = 2 AND OL_O_ID = 2500"));
     }},
    {"Delivery7_updateCustomer_noDataWhenNoRow", kSER, false,
     [](Session& s) {
       int32_t c = 66, d = 2, w = 1;
       const std::string row = customerRow("CONCAT_WS(' ', C_BALANCE, C_DELIVERY_CNT)", d, c);
       double balance = 0, count = 0;
       sscanf(s.text(row).c_str(), "%lf %lf", &balance, &count);
       double amount = 123.45;
       Statement st(s, kDeliveryStatements[6]);
       st.in(amount, 15, 2).in(c).in(d).in(w);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       char expected[100];
       snprintf(expected, sizeof expected, "%.2f %.0f", balance + 123.45, count + 1);
       EXPECT_EQ(s.text(row), expected);
       c = 4000;
       EXPECT_EQ(st.execute(), SQL_NO_DATA);
     }},

    // Order-Status, REPEATABLE READ.
    {"OrderStatus1_getCustBalanceName", kRR, false,
     [](Session& s) {
       int32_t c = 88, d = 6, w = 1;
       double balance = -1;
       char first[17] = "", middle[3] = "", last[17] = "";
       Statement st(s, kOrderStatusStatements[0]);
       st.in(c).in(d).in(w).out(balance, 15, 2).out(first, SQL_VARCHAR, 16, 17);
       st.out(middle, SQL_CHAR, 2, 3).out(last, SQL_VARCHAR, 16, 17);
       runsTwice(s, st);
       EXPECT_DOUBLE_EQ(balance, s.number(customerRow("C_BALANCE", d, c)));
       EXPECT_EQ(str(first) + " " + middle + " " + last,
                 s.text(customerRow("CONCAT_WS(' ', C_FIRST, C_MIDDLE, C_LAST)", d, c)));
     }},
    {"OrderStatus2_getOrderCarrierEntry", kRR, false,
     [](Session& s) {
       int32_t w = 1, d = 6, c = 88, oId = -1, carrier = -1;
       char entry[20] = "";
       Statement st(s, kOrderStatusStatements[1]);
       st.in(w).in(d).in(c).out(oId).out(carrier).out(entry, SQL_VARCHAR, 20, 20);
       runsTwice(s, st);
       const std::string order =
           " FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 6 AND O_ID = " + n(oId);
       EXPECT_EQ(
           oId,
           s.integer(
               "SELECT MAX(O_ID) FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 6 AND O_C_ID = 88"));
       EXPECT_EQ(carrier, s.integer("SELECT COALESCE(O_CARRIER_ID, 0)" + order));
       EXPECT_EQ(str(entry), s.text("SELECT O_ENTRY_D" + order));
     }},
    {"OrderStatus3_orderLines_fifthColumnNeverNull", kRR, false,
     [](Session& s) {
       struct {
         int32_t supply, item, quantity;
         double amount;
         char delivery[11];
       } line{};
       int32_t oId = 0, d = 6, w = 1;
       Statement st(s, kOrderStatusStatements[2]);
       st.column(SQL_C_SLONG, &line.item, 0).column(SQL_C_SLONG, &line.supply, 0);
       st.column(SQL_C_SLONG, &line.quantity, 0).column(SQL_C_DOUBLE, &line.amount, 0);
       st.column(SQL_C_CHAR, line.delivery, 11);
       st.in(oId).in(d).in(w);
       // An undelivered order (in NEW_ORDER), then a delivered one.
       const long long undelivered =
           s.integer("SELECT MAX(NO_O_ID) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 6");
       for (long long order : {undelivered, 1LL}) {
         oId = static_cast<int32_t>(order);
         const std::string where =
             " FROM ORDER_LINE WHERE OL_W_ID = 1 AND OL_D_ID = 6 AND OL_O_ID = " + n(order);
         ASSERT_EQ(st.execute(), SQL_SUCCESS) << st.error();
         int rows = 0;
         SQLRETURN rc;
         while ((rc = st.fetch()) == SQL_SUCCESS) {
           ++rows;
           const std::string key = where + " AND OL_I_ID = " + n(line.item);
           EXPECT_EQ(line.quantity, s.integer("SELECT OL_QUANTITY" + key));
           EXPECT_EQ(line.supply, s.integer("SELECT OL_SUPPLY_W_ID" + key));
           EXPECT_DOUBLE_EQ(line.amount, s.number("SELECT OL_AMOUNT" + key));
           EXPECT_EQ(str(line.delivery),
                     order == 1 ? s.text("SELECT DATE(OL_DELIVERY_D)" + key) : "");
         }
         EXPECT_EQ(rc, SQL_NO_DATA) << st.error();
         EXPECT_EQ(rows, s.integer("SELECT COUNT(*)" + where));
         EXPECT_GT(rows, 0);
         EXPECT_EQ(st.closeCursor(), SQL_SUCCESS) << st.error();
       }
     }},

    // The isolation programs' own statements (autocommit on, SERIALIZABLE).
    {"Isolation_getNextDistrictOrderID_direct", kSER, true,
     [](Session& s) {
       int32_t d = 8, w = 1, next = -1;
       Statement st(s, nullptr, false);
       st.in(d).in(w).out(next);
       for (int run = 0; run < 2; ++run) {
         EXPECT_EQ(st.execDirect(kGetNextDistrictOrderID), SQL_SUCCESS) << st.error();
         EXPECT_EQ(next,
                   s.integer("SELECT D_NEXT_O_ID FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 8"));
       }
     }},
    {"Isolation_getOrderCustomerIDByNO_failsForEmptyDistrict", kSER, false,
     [](Session& s) {
       int32_t w = 1, d = 9, c = 0;
       Statement st(s, nullptr, false);
       st.in(w).in(d).out(c);
       EXPECT_EQ(st.execDirect(kGetOrderCustomerIDByNO), SQL_SUCCESS) << st.error();
       EXPECT_EQ(
           c, s.integer("SELECT O_C_ID FROM ORDERS WHERE O_W_ID = 1 AND O_D_ID = 9 AND O_ID = "
                        "(SELECT MIN(NO_O_ID) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 9)"));
       ASSERT_EQ(s.exec("DELETE FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 9"), SQL_SUCCESS);
       EXPECT_EQ(st.execDirect(kGetOrderCustomerIDByNO), SQL_ERROR);
     }},
    {"Isolation_getCustBalance_direct", kSER, true,
     [](Session& s) {
       int32_t c = 99, d = 9, w = 1;
       double balance = 0;
       Statement st(s, nullptr, false);
       st.in(c).in(d).in(w).out(balance, 15, 2);
       EXPECT_EQ(st.execDirect(kGetCustBalance), SQL_SUCCESS) << st.error();
       EXPECT_DOUBLE_EQ(balance, s.number(customerRow("C_BALANCE", d, c)));
     }},
    {"Isolation_getItemPrice_twoItemsOneStatement", kSER, true,
     [](Session& s) {
       int32_t item = 100000;
       double price = -1;
       Statement st(s, kGetItemPrice);
       st.in(item).out(price, 5, 2);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_DOUBLE_EQ(price, s.number("SELECT I_PRICE FROM ITEM WHERE I_ID = 100000"));
       item = 5;
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_DOUBLE_EQ(price, s.number("SELECT I_PRICE FROM ITEM WHERE I_ID = 5"));
     }},
    {"Isolation_increasePrice_noDataWhenNoItem", kSER, false,
     [](Session& s) {
       const double before = s.number("SELECT I_PRICE FROM ITEM WHERE I_ID = 4242");
       int32_t item = 4242;
       Statement st(s, kIncreasePrice);
       st.in(item);
       EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
       EXPECT_EQ(
           s.text("SELECT I_PRICE FROM ITEM WHERE I_ID = 4242"),
           s.text("SELECT CAST(ROUND(" + std::to_string(before) + " * 1.10, 2) AS DECIMAL(5,2))"));
       item = 0;
       EXPECT_EQ(st.execute(), SQL_NO_DATA);
     }},
    {"Isolation_moveNewOrderRows_noDataWhenNone", kSER, false,
     [](Session& s) {
       const long long rows =
           s.integer("SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 10");
       int32_t w = 1, d = 10;
       Statement set(s, nullptr, false), restore(s, nullptr, false);
       set.in(w).in(d);
       restore.in(d).in(w);
       EXPECT_EQ(set.execDirect(kSetInvalidDistrict), SQL_SUCCESS) << set.error();
       EXPECT_EQ(set.rowCount(), rows);
       EXPECT_EQ(s.integer("SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 255"),
                 rows);
       EXPECT_EQ(set.execDirect(kSetInvalidDistrict), SQL_NO_DATA);
       EXPECT_EQ(restore.execDirect(kRestoreDistrict), SQL_SUCCESS) << restore.error();
       EXPECT_EQ(s.integer("SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 10"),
                 rows);
       EXPECT_EQ(restore.execDirect(kRestoreDistrict), SQL_NO_DATA);
     }},

    // atom (autocommit on, SERIALIZABLE).
    {"Atom_getCustomerDistrictWarehouse", kSER, true,
     [](Session& s) {
       int32_t w = 1, d = 3, c = 17, ints[4] = {-1, -1, -1, -1}, dInts[2] = {-1, -1}, wId = -1;
       double amounts[2] = {-1, -1}, dYtd = -1, wYtd = -1;
       Statement customer(s, kGetCustomerID), district(s, kGetDistrictID),
           warehouse(s, kGetWarehouseID);
       customer.in(w).in(d).in(c).out(ints[0]).out(ints[1]).out(ints[2]).out(ints[3]);
       customer.out(amounts[0], 15, 2).out(amounts[1], 15, 2);
       district.in(w).in(d).out(dInts[0]).out(dInts[1]).out(dYtd, 15, 2);
       warehouse.in(w).out(wId).out(wYtd, 15, 2);
       runsTwice(s, customer);
       runsTwice(s, district);
       runsTwice(s, warehouse);
       EXPECT_EQ(n(ints[0]) + " " + n(ints[1]) + " " + n(ints[2]) + " " + n(ints[3]),
                 s.text(customerRow("CONCAT_WS(' ', C_ID, C_D_ID, C_W_ID, C_PAYMENT_CNT)", d, c)));
       EXPECT_DOUBLE_EQ(amounts[0], s.number(customerRow("C_BALANCE", d, c)));
       EXPECT_DOUBLE_EQ(amounts[1], s.number(customerRow("C_YTD_PAYMENT", d, c)));
       EXPECT_EQ(dInts[0], 1);
       EXPECT_EQ(dInts[1], 3);
       EXPECT_DOUBLE_EQ(dYtd, s.number("SELECT D_YTD FROM DISTRICT WHERE D_W_ID = 1 AND D_ID = 3"));
       EXPECT_EQ(wId, 1);
       EXPECT_DOUBLE_EQ(wYtd, s.number("SELECT W_YTD FROM WAREHOUSE WHERE W_ID = 1"));
     }},

    // consist: one statement, direct execution, autocommit on, SERIALIZABLE.
    {"Consist_sampleTableAndConditions", kSER, true,
     [](Session& s) {
       Statement st(s, nullptr, false);
       char now[22] = "";
       ASSERT_EQ(SQLBindParameter(st.handle(), 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 19, 0,
                                  now, 22, nullptr),
                 SQL_SUCCESS);
       EXPECT_EQ(st.execDirect(kGetSysDate), SQL_SUCCESS) << st.error();
       EXPECT_TRUE(isDateTime(now)) << now;
       EXPECT_TRUE(SQL_SUCCEEDED(st.execDirect(kDropTempW))) << st.error();
       EXPECT_TRUE(SQL_SUCCEEDED(st.execDirect(kDropTempW)))
           << "dropping a missing table: " << st.error();
       EXPECT_EQ(st.execDirect(kCreateTempW), SQL_SUCCESS) << st.error();
       int64_t minW = -1, maxW = -1;
       for (auto [text, value] :
            {std::pair{kGetMinWarehouseID, &minW}, std::pair{kGetMaxWarehouseID, &maxW}}) {
         ASSERT_EQ(SQLBindParameter(st.handle(), 1, SQL_PARAM_OUTPUT, SQL_C_SBIGINT, SQL_BIGINT, 0,
                                    0, value, 0, nullptr),
                   SQL_SUCCESS);
         EXPECT_EQ(st.execDirect(text), SQL_SUCCESS) << st.error();
       }
       EXPECT_EQ(minW, 1);
       EXPECT_EQ(maxW, 1);
       char insert[512];
       snprintf(insert, sizeof insert, kInsertTempWFormat, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1);
       EXPECT_EQ(st.execDirect(insert), SQL_SUCCESS) << st.error();
       EXPECT_EQ(st.rowCount(), 11);
       int64_t row = -1, sum = 0;
       int rows = 0;
       st.column(SQL_C_SBIGINT, &row, 0);
       ASSERT_EQ(st.execDirect(kSelectTempW), SQL_SUCCESS) << st.error();
       while (st.fetch() == SQL_SUCCESS) {
         ++rows;
         sum += row;
       }
       EXPECT_EQ(rows, 11);
       EXPECT_EQ(sum, 2);
       EXPECT_EQ(st.closeCursor(), SQL_SUCCESS);
       SQLFreeStmt(st.handle(), SQL_UNBIND);
       // A freshly loaded database meets all four conditions: no query finds a row.
       for (const char* query :
            {kCondition1, kCondition2Orders, kCondition2NewOrders, kCondition3, kCondition4}) {
         ASSERT_EQ(st.execDirect(query), SQL_SUCCESS) << query << st.error();
         EXPECT_EQ(st.fetch(), SQL_NO_DATA) << query;
         EXPECT_EQ(st.closeCursor(), SQL_SUCCESS) << st.error();
       }
     }},
    {"Consist_conditionFindsAViolation", kSER, false,
     [](Session& s) {
       ASSERT_EQ(s.exec("UPDATE DISTRICT SET D_YTD = D_YTD + 1 WHERE D_W_ID = 1 AND D_ID = 1"),
                 SQL_SUCCESS);
       Statement st(s, nullptr, false);
       ASSERT_EQ(st.execDirect(kCondition1), SQL_SUCCESS) << st.error();
       EXPECT_EQ(st.fetch(), SQL_SUCCESS);
       EXPECT_EQ(st.closeCursor(), SQL_SUCCESS);
     }},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class AdapterContract : public testing::Test {
 protected:
  // Loads once per process, for both suites.
  static void SetUpTestSuite() {
    if (gTried) return;
    gTried = true;
    // Kept for the whole process: every test of the file uses the database.
    static TestDatabase* db = new TestDatabase;
    gLoaded = db->load("adapter_test", 1);
  }
  void SetUp() override { ASSERT_TRUE(gLoaded) << "database acidkit_adapter_test was not loaded"; }
  static bool gTried, gLoaded;
};
bool AdapterContract::gTried = false;
bool AdapterContract::gLoaded = false;

class StatementContract : public AdapterContract, public testing::WithParamInterface<Case> {};

TEST_P(StatementContract, HoldsThroughTestdb) {
  const Case& c = GetParam();
  Session s(c.isolation, c.autocommit);
  ASSERT_TRUE(s.ok()) << s.error();
  c.run(s);
  // Nothing the case ran may be left open on the connection.
  EXPECT_EQ(s.endTran(SQL_ROLLBACK), SQL_SUCCESS) << firstDiag(SQL_HANDLE_DBC, s.dbc()).text();
}

INSTANTIATE_TEST_SUITE_P(AdapterContract, StatementContract, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Both ways of reading a native error see the kit's code; SQLSTATE and
// message stay the server's.
void expectNative(Statement& st, SQLINTEGER native, const char* state, const char* message) {
  const DiagRecord r = st.diag();
  EXPECT_EQ(r.native, native) << r.text();
  EXPECT_EQ(r.state, state) << r.text();
  EXPECT_NE(r.message.find(message), std::string::npos) << r.text();
  SQLINTEGER field = 0;
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, st.handle(), 1, SQL_DIAG_NATIVE, &field, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(field, native);
}

TEST_F(AdapterContract, LockWaitTimeoutIsNative14007) {
  Session holder, waiter;
  waiter.lockWait(1);
  ASSERT_EQ(holder.exec("UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 31"), SQL_SUCCESS);
  Statement st(waiter, kIncreasePrice);
  int32_t item = 31;
  st.in(item);
  const auto start = Clock::now();
  EXPECT_EQ(st.execute(), SQL_ERROR);
  EXPECT_GE(secondsSince(start), 0.9);
  if (onPostgreSQL()) {
    expectNative(st, 14007, "55P03", "lock timeout");
  } else {
    expectNative(st, 14007, "HY000", "Lock wait timeout exceeded");
  }
  // The connection goes on after the rollback, like a retrying transaction.
  EXPECT_EQ(waiter.endTran(SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(holder.endTran(SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
}

TEST_F(AdapterContract, DeadlockIsNative14032) {
  Session a, b;
  b.lockWait(30);
  ASSERT_EQ(a.exec("UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 41"), SQL_SUCCESS);
  ASSERT_EQ(b.exec("UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 42"), SQL_SUCCESS);
  Statement bWaits(b, kIncreasePrice);
  int32_t bItem = 41;
  bWaits.in(bItem);
  SQLRETURN bResult = SQL_SUCCESS;
  std::thread thread([&] { bResult = bWaits.execute(); });  // waits for a's row
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Statement aCloses(a, kIncreasePrice);
  int32_t aItem = 42;
  aCloses.in(aItem);
  const SQLRETURN aResult = aCloses.execute();        // closes the cycle
  if (aResult == SQL_ERROR) a.endTran(SQL_ROLLBACK);  // lets b go on
  thread.join();
  ASSERT_NE(aResult == SQL_ERROR, bResult == SQL_ERROR) << "exactly one side is the victim";
  Statement& victim = aResult == SQL_ERROR ? aCloses : bWaits;
  if (onPostgreSQL()) {
    expectNative(victim, 14032, "40P01", "deadlock detected");
  } else {
    expectNative(victim, 14032, "40001", "Deadlock");
  }
}

// A thread that waits for a lock inside SQLExecute holds up no other
// thread's calls: the driver manager does not serialise calls into the driver.
TEST_F(AdapterContract, WaitingThreadDoesNotBlockOtherConnections) {
  Session holder, waiter;
  waiter.lockWait(30);
  ASSERT_EQ(holder.exec("UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 51"), SQL_SUCCESS);
  SQLRETURN waited = SQL_ERROR;
  double waitedFor = 0;
  std::thread thread([&] {
    const auto start = Clock::now();
    waited = waiter.exec("UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 51");
    waitedFor = secondsSince(start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto start = Clock::now();
  {
    Session other;  // connects, reads and disconnects meanwhile
    EXPECT_EQ(other.text("SELECT I_ID FROM ITEM WHERE I_ID = 52"), "52");
  }
  EXPECT_LT(secondsSince(start), 2.0) << "another connection waited for the blocked thread";
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(holder.endTran(SQL_COMMIT), SQL_SUCCESS);
  thread.join();
  EXPECT_EQ(waited, SQL_SUCCESS) << waiter.lastDiag().text();
  EXPECT_GE(waitedFor, 1.4);
  EXPECT_EQ(waiter.endTran(SQL_COMMIT), SQL_SUCCESS);
}

// Isolation level and autocommit reach the server as the programs set them,
// after connecting.
TEST_F(AdapterContract, ConnectionSettingsPassThrough) {
  const std::pair<SQLUINTEGER, const char*> levels[] = {
      {kRC, "READ-COMMITTED"}, {kRR, "REPEATABLE-READ"}, {kSER, "SERIALIZABLE"}};
  if (onPostgreSQL()) {
    // The server keeps no autocommit setting: the driver begins the transactions.
    const std::pair<SQLUINTEGER, const char*> pgLevels[] = {
        {kRC, "read committed"}, {kRR, "repeatable read"}, {kSER, "serializable"}};
    for (auto [level, name] : pgLevels) {
      Session s(level);
      EXPECT_EQ(s.text("SHOW transaction_isolation"), name);
    }
    return;
  }
  for (auto [level, name] : levels) {
    Session s(level);
    EXPECT_EQ(s.text("SELECT @@tx_isolation"), name);
    EXPECT_EQ(s.text("SELECT @@autocommit"), "0");
  }
  Session on(kSER, true);
  EXPECT_EQ(on.text("SELECT @@autocommit"), "1");
}

// A missing row fails its statement alone, on either engine: the transaction
// goes on and commits what it did before (a Delivery skips an empty district,
// a New-Order reads its unused item and rolls back by choice).
TEST_F(AdapterContract, NoRowErrorFailsTheStatementAlone) {
  Session s(kSER);
  const std::string price = "SELECT I_PRICE FROM ITEM WHERE I_ID = 81";
  const double before = s.number(price);
  ASSERT_EQ(s.exec("UPDATE ITEM SET I_PRICE = I_PRICE + 1 WHERE I_ID = 81"), SQL_SUCCESS);
  int32_t item = -1;
  double out = 0;
  char name[25] = "", data[51] = "";
  Statement st(s, kNewOrderStatements[5]);
  st.in(item).out(out, 5, 2).out(name, SQL_VARCHAR, 24, 25).out(data, SQL_VARCHAR, 50, 51);
  EXPECT_EQ(st.execute(), SQL_ERROR);
  EXPECT_EQ(st.diag().state, "45000") << st.error();
  EXPECT_EQ(s.endTran(SQL_COMMIT), SQL_SUCCESS) << firstDiag(SQL_HANDLE_DBC, s.dbc()).text();
  Session other;
  EXPECT_DOUBLE_EQ(other.number(price), before + 1);
  EXPECT_EQ(s.exec("UPDATE ITEM SET I_PRICE = I_PRICE - 1 WHERE I_ID = 81"), SQL_SUCCESS);
  EXPECT_EQ(s.endTran(SQL_COMMIT), SQL_SUCCESS);
}

// PostgreSQL: a serialization failure ends the whole transaction. Its earlier
// writes and locks are gone at once, every later statement and the COMMIT
// fail with the same error (never a COMMIT of what came before it), and a
// rollback lets the connection go on.
TEST_F(AdapterContract, SerializationFailureEndsTheWholeTransaction) {
  if (!onPostgreSQL()) GTEST_SKIP() << "InnoDB rolls a deadlock victim back itself";
  Session a(kRR), b(kRC, true);
  const std::string price = "SELECT I_PRICE FROM ITEM WHERE I_ID = ";
  const double before72 = b.number(price + "72");
  ASSERT_EQ(a.text(price + "71"), b.text(price + "71"));  // a's snapshot
  ASSERT_EQ(a.exec("UPDATE ITEM SET I_PRICE = I_PRICE + 1 WHERE I_ID = 72"), SQL_SUCCESS);
  ASSERT_EQ(b.exec("UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 71"), SQL_SUCCESS);
  Statement st(a, kIncreasePrice);
  int32_t item = 71;
  st.in(item);
  EXPECT_EQ(st.execute(), SQL_ERROR);
  expectNative(st, 14032, "40001", "could not serialize");
  b.lockWait(1);
  EXPECT_EQ(b.exec("UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 72"), SQL_SUCCESS)
      << "the failed transaction still holds its lock: " << b.lastDiag().text();
  EXPECT_DOUBLE_EQ(b.number(price + "72"), before72);
  item = 73;
  EXPECT_EQ(st.execute(), SQL_ERROR) << "a statement ran after the serialization failure";
  expectNative(st, 14032, "40001", "could not serialize");
  EXPECT_EQ(a.endTran(SQL_COMMIT), SQL_ERROR) << "COMMIT succeeded after a serialization failure";
  EXPECT_EQ(firstDiag(SQL_HANDLE_DBC, a.dbc()).native, 14032);
  EXPECT_DOUBLE_EQ(b.number(price + "72"), before72);
  // The COMMIT's failure ended the transaction; the connection goes on.
  item = 74;
  EXPECT_EQ(st.execute(), SQL_SUCCESS) << st.error();
  EXPECT_EQ(a.endTran(SQL_ROLLBACK), SQL_SUCCESS);
}

// The connection asks for found rows whatever the data source or the
// connection string says, so a match that changes nothing is no SQL_NO_DATA.
TEST_F(AdapterContract, MatchedRowsCountEvenWithOptionZero) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLRETURN rc =
      SQLDriverConnect(dbc, nullptr, (SQLCHAR*)"DSN=TESTDB;UID=acidtest;PWD=58274613;OPTION=0",
                       SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << firstDiag(SQL_HANDLE_DBC, dbc).text();
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  EXPECT_EQ(
      SQLExecDirect(st, (SQLCHAR*)"UPDATE ITEM SET I_PRICE = I_PRICE WHERE I_ID = 61", SQL_NTS),
      SQL_SUCCESS);
  SQLLEN rows = -1;
  SQLRowCount(st, &rows);
  EXPECT_EQ(rows, 1);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

}  // namespace
