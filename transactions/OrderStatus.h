// The TPC-C Order-Status transaction, by customer number. OrderStatus,
// PrepareOrderStatusStmt, the records and their fields keep their fixed
// names.
#pragma once

#include <sql.h>

#include <cstdint>

#include "config.h"

struct OrderStatusLine {
  int32_t OL_SUPPLY_W_ID;
  int32_t OL_I_ID;
  int32_t OL_QUANTITY;
  double OL_AMOUNT;
  char OL_DELIVERY_D[11];  // first 10 characters of the date; empty when undelivered
};

// Inputs, outputs, and the row buffer the order-line query is bound to.
struct OrderStatusByIdArg {
  char label[4];  // thread label printed by the pause message
  int32_t W_ID;
  int32_t D_ID;
  int32_t C_ID;
  char C_FIRST[17];
  char C_MIDDLE[3];
  char C_LAST[17];
  double C_BALANCE;
  int32_t oIdBeforePause;  // first read of the order; written only when pausing
  int32_t O_ID;            // after a pause: the read made after it
  char O_ENTRY_D[20];
  int32_t O_CARRIER_ID;
  int32_t orderLineCount;
  OrderStatusLine orderLines[kMaxOrderLines];  // entries from orderLineCount on are not written
  OrderStatusLine fetchedLine;                 // work: each fetched row lands here first
};

// Prepares the three statements on stmts[0..2] and binds them to the record.
int PrepareOrderStatusStmt(SQLHSTMT* stmts, OrderStatusByIdArg* arg);

// Runs one Order-Status. With a pause (whole seconds, 0 for none) it stops
// after reading the customer's latest order and reads it again in the same
// transaction. 0 when committed; 1 on failure, also when the order has more
// lines than the record holds.
int OrderStatus(OrderStatusByIdArg* arg, int pause);
