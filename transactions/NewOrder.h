// The TPC-C New-Order transaction. NewOrder, PrepareNewOrderStmt, the
// records and their fields keep their fixed names.
#pragma once

#include <sql.h>

#include <cstdint>

#include "config.h"

struct NewOrderLine {
  int32_t OL_SUPPLY_W_ID;  // in
  int32_t OL_I_ID;         // in
  char I_NAME[25];         // out
  int32_t OL_QUANTITY;     // in
  int32_t S_QUANTITY;      // out: stock as read, before this order
  char brandGeneric;       // out: 'B' or 'G', no terminator
  double I_PRICE;          // out
  double OL_AMOUNT;        // out
};

// Inputs, outputs, and the work fields of the line being processed, to which
// the statements are bound.
struct NewOrderArg {
  char label[4];  // thread label printed by the pause messages
  int32_t W_ID;
  int32_t D_ID;
  char O_ENTRY_D[22];  // out: YYYY-MM-DD HH24:MI:SS of the first attempt
  int32_t C_ID;
  char C_LAST[17];
  char C_CREDIT[3];
  double C_DISCOUNT;
  int32_t O_ID;
  int32_t O_OL_CNT;  // in: 0..15
  double W_TAX;
  double D_TAX;
  NewOrderLine orderLines[kMaxOrderLines];
  // work fields of the current line
  int32_t OL_NUMBER;
  int32_t OL_SUPPLY_W_ID;
  int32_t OL_I_ID;
  char I_NAME[25];
  int32_t OL_QUANTITY;
  int32_t S_QUANTITY;
  double I_PRICE;
  double OL_AMOUNT;
  int32_t remoteFlag;
  char OL_DIST_INFO[25];
  char S_DATA[51];
  char I_DATA[51];
  int32_t O_ALL_LOCAL;  // in
  bool rollbackFlag;    // out: a line's item does not exist, the order was rolled back
  double totalAmount;   // out
};

// Prepares the nine statements on stmts[0..8] and binds them to the record.
int PrepareNewOrderStmt(SQLHSTMT* stmts, NewOrderArg* arg);

// Runs one New-Order. Pauses in whole seconds, 0 for none: after the first
// item was read, and before the commit or rollback. 0 when committed, or
// rolled back because an item does not exist; 1 on failure.
int NewOrder(NewOrderArg* arg, int pauseAfterFirstItem, int pauseBeforeEnd);
