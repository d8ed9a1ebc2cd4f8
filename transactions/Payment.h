// The TPC-C Payment transaction, by customer number, at the customer's own
// warehouse and district. Payment, PreparePaymentStmt, the record and its
// fields keep their fixed names.
#pragma once

#include <sql.h>

#include <cstdint>

// Inputs and everything the transaction reads back. Texts are NUL-terminated;
// each array's size is the buffer length of its binding.
struct PaymentArg {
  char label[4];    // thread label; Payment has no pause and never prints it
  double H_AMOUNT;  // in
  char H_DATE[22];  // out: date and time of the call, first 19 characters go to HISTORY
  int32_t W_ID;     // in
  char W_STREET_1[21];
  char W_STREET_2[21];
  char W_CITY[21];
  char W_STATE[3];
  char W_ZIP[10];
  char W_NAME[11];
  int32_t D_ID;  // in
  char D_STREET_1[21];
  char D_STREET_2[21];
  char D_CITY[21];
  char D_STATE[3];
  char D_ZIP[10];
  char D_NAME[11];
  int32_t C_ID;  // in
  char C_FIRST[17];
  char C_MIDDLE[3];
  char C_LAST[17];
  char C_STREET_1[21];
  char C_STREET_2[21];
  char C_CITY[21];
  char C_STATE[3];
  char C_ZIP[10];
  char C_PHONE[17];
  char C_CREDIT[3];  // "BC" selects the bad-credit update
  double C_CREDIT_LIM;
  double C_DISCOUNT;
  double C_BALANCE;  // as read, before this payment
  char C_SINCE[22];
  char C_DATA[201];  // written on the bad-credit path only
};

// Prepares the seven statements on stmts[0..6] and binds them to the record.
int PreparePaymentStmt(SQLHSTMT* stmts, PaymentArg* arg);

// Runs one Payment and ends it with `completion` (0 SQL_COMMIT, 1
// SQL_ROLLBACK). 0 when it ended as asked, 1 on failure.
int Payment(PaymentArg* arg, int completion);
