#include "OrderStatus.h"

#include <cstdio>

#include "TransactionFrame.h"
#include "support.h"

namespace {

const char* const kStatements[] = {
    "call getCustBalanceName(?,?,?,?,?,?,?)",
    "call getOrderCarrierEntry(?,?,?,?,?,?)",
    "SELECT OL_I_ID      , OL_SUPPLY_W_ID      , CAST(OL_QUANTITY as INTEGER) as OL_QUANTITY      "
    ", "
    "OL_AMOUNT      , SUBSTR(NVL2(OL_DELIVERY_D, CAST(OL_DELIVERY_D AS VARCHAR), ''), 1, 10)  FROM "
    "ORDER_LINE  WHERE OL_O_ID = ?    AND OL_D_ID = ?    AND OL_W_ID = ? ",
};

enum Stmt { kCustomer, kLatestOrder, kOrderLines };

struct Call {
  OrderStatusByIdArg* arg;
  int pause;
};

int prepare(SQLHSTMT* stmts, void* record) {
  return PrepareOrderStatusStmt(stmts, static_cast<OrderStatusByIdArg*>(record));
}

void copyLine(OrderStatusLine& to, const OrderStatusLine& from) {
  to.OL_SUPPLY_W_ID = from.OL_SUPPLY_W_ID;
  to.OL_I_ID = from.OL_I_ID;
  to.OL_QUANTITY = from.OL_QUANTITY;
  to.OL_AMOUNT = from.OL_AMOUNT;
  snprintf(to.OL_DELIVERY_D, sizeof to.OL_DELIVERY_D, "%s", from.OL_DELIVERY_D);
}

// Fetches the order's lines into the record; the cursor stays open.
int fetchLines(TransactionCall& call, OrderStatusByIdArg& a, int* count) {
  *count = 0;
  for (;;) {
    SQLRETURN rc = SQLFetch(call.stmt[kOrderLines]);
    if (rc == SQL_NO_DATA) return kStepsDone;
    if (!call.check(rc, kOrderLines)) return kStepFailed;
    if (*count == kMaxOrderLines) {
      // More lines than any order may have: refuse rather than write past
      // the record. Retrying would read the same rows again.
      printf("\nOrder-Status stopped: order %d of customer %d has more than %d lines\n", a.O_ID,
             a.C_ID, kMaxOrderLines);
      call.failing = -1;
      return kStepFailed;
    }
    copyLine(a.orderLines[*count], a.fetchedLine);
    ++*count;
  }
}

int attempt(TransactionCall& call, void* context) {
  const Call& c = *static_cast<Call*>(context);
  OrderStatusByIdArg& a = *c.arg;
  if (!call.execute(kCustomer) || !call.execute(kLatestOrder)) return kStepFailed;
  if (c.pause != 0) {
    a.oIdBeforePause = a.O_ID;
    pauseWithMessage("- %s paused after reading the ORDER table for selected customer.", a.label,
                     c.pause);
    if (!call.execute(kLatestOrder)) return kStepFailed;
  }
  // An attempt cut short during the fetch may have left its cursor open.
  if (call.retries > 0) SQLFreeStmt(call.stmt[kOrderLines], SQL_CLOSE);
  if (!call.execute(kOrderLines)) return kStepFailed;
  int count = 0;
  if (fetchLines(call, a, &count) != kStepsDone) return kStepFailed;
  if (!call.check(SQLCloseCursor(call.stmt[kOrderLines]), kOrderLines)) return kStepFailed;
  a.orderLineCount = count;
  call.completion = SQL_COMMIT;
  return kStepsDone;
}

}  // namespace

int PrepareOrderStatusStmt(SQLHSTMT* stmts, OrderStatusByIdArg* a) {
  StatementPreparer p(stmts);
  // The two procedures take the keys in opposite orders.
  p.prepare(kCustomer, kStatements[kCustomer])
      .inInt(1, &a->C_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID)
      .outAmount(4, 15, 2, &a->C_BALANCE)
      .outText(5, SQL_VARCHAR, 16, a->C_FIRST)
      .outText(6, SQL_CHAR, 2, a->C_MIDDLE)
      .outText(7, SQL_VARCHAR, 16, a->C_LAST);
  p.prepare(kLatestOrder, kStatements[kLatestOrder])
      .inInt(1, &a->W_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->C_ID)
      .outInt(4, &a->O_ID)
      .outInt(5, &a->O_CARRIER_ID)
      .outText(6, SQL_VARCHAR, 20, a->O_ENTRY_D);
  OrderStatusLine& row = a->fetchedLine;
  p.prepare(kOrderLines, kStatements[kOrderLines])
      .column(1, SQL_C_SLONG, &row.OL_I_ID, 0)
      .column(2, SQL_C_SLONG, &row.OL_SUPPLY_W_ID, 0)
      .column(3, SQL_C_SLONG, &row.OL_QUANTITY, 0)
      .column(4, SQL_C_DOUBLE, &row.OL_AMOUNT, 0)
      .column(5, SQL_C_CHAR, row.OL_DELIVERY_D, sizeof row.OL_DELIVERY_D)
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID);
  return p.result();
}

int OrderStatus(OrderStatusByIdArg* arg, int pause) {
  static constexpr TransactionProfile kProfile{3, SQL_TXN_REPEATABLE_READ, prepare, nullptr,
                                               attempt};
  Call call{arg, pause};
  return runTransaction(kProfile, arg, &call);
}
