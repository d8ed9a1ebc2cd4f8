// The TPC-C Delivery transaction: the oldest undelivered order of each of a
// warehouse's ten districts, all in one transaction. Delivery,
// PrepareDeliveryStmt, the record and its fields keep their fixed names.
#pragma once

#include <sql.h>

#include <cstdint>

#include "config.h"

struct DeliveryArg {
  char label[4];         // thread label printed by the pause messages
  int32_t W_ID;          // in
  int32_t O_CARRIER_ID;  // in: written into every delivered order
  int32_t selectedD_ID;  // in: district of interest, 1..10
  // work fields of the district being processed
  int32_t D_ID;  // 1..10; 11 after a complete pass
  int32_t O_ID;
  int32_t C_ID;
  double OL_AMOUNT;
  double selectedOL_AMOUNT;           // out: never cleared by Delivery
  int32_t deliveredO_ID[kDistricts];  // out: order delivered in district d at d-1, or -1
};

// Prepares the seven statements on stmts[0..6] and binds them to the record.
int PrepareDeliveryStmt(SQLHSTMT* stmts, DeliveryArg* arg);

// Runs one Delivery. firstPause (whole seconds, 0 for none): taken once per
// call when district selectedD_ID is found empty, followed by a second read
// of it. rollback: 1 ends with a rollback, 0 with a commit. endPause (whole
// seconds): before the end of the transaction when greater than 0.
// 0 when the transaction ended as asked, 1 on failure.
int Delivery(DeliveryArg* arg, int firstPause, int rollback, int endPause);
