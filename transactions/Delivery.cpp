#include "Delivery.h"

#include "TransactionFrame.h"
#include "support.h"

namespace {

const char* const kStatements[] = {
    "call getOrderID(?,?,?)",
    "DELETE   FROM NEW_ORDER  WHERE NO_O_ID = ?    AND NO_D_ID = ?    AND NO_W_ID = ? ",
    "call getOrderCustomerID(?,?,?,?)",
    "UPDATE ORDERS    SET O_CARRIER_ID = ?  WHERE O_ID   = ?    AND O_D_ID = ?    AND O_W_ID = ?",
    "UPDATE ORDER_LINE    SET OL_DELIVERY_D = SYSDATE  WHERE OL_O_ID   = ?    AND OL_D_ID = ?    "
    "AND OL_W_ID = ?",
    "call getOrderlineAmount(?,?,?,?)",
    "UPDATE CUSTOMER    SET C_BALANCE = C_BALANCE + ?      , C_DELIVERY_CNT = C_DELIVERY_CNT + 1  "
    "WHERE C_ID   = ?    AND C_D_ID = ?    AND C_W_ID = ? ",
};

enum Stmt { kOrderId, kDeleteNewOrder, kCustomer, kCarrier, kDeliveryDate, kAmount, kBalance };

struct Call {
  DeliveryArg* arg;
  int firstPause;  // set to 0 once taken: the pause is used up for the call, retries included
  int rollback;
  int endPause;
};

int prepare(SQLHSTMT* stmts, void* record) {
  return PrepareDeliveryStmt(stmts, static_cast<DeliveryArg*>(record));
}

enum class Oldest { found, none, failed };

// getOrderID reports a district without undelivered order as an error. A
// deadlock or lock wait timeout is an error too, and must not pass for an
// empty district: the first would already have rolled back the districts
// delivered so far, and the district would be skipped without a word.
Oldest readOldestOrder(TransactionCall& call) {
  SQLRETURN rc = SQLExecute(call.stmt[kOrderId]);
  if (rc == SQL_ERROR && !hasRetryableError(call.stmt[kOrderId])) {
    call.lastExecuted = kOrderId;
    return Oldest::none;
  }
  return call.check(rc, kOrderId) ? Oldest::found : Oldest::failed;
}

int attempt(TransactionCall& call, void* context) {
  Call& c = *static_cast<Call*>(context);
  DeliveryArg& a = *c.arg;
  for (int32_t& o : a.deliveredO_ID) o = -1;
  for (a.D_ID = 1; a.D_ID <= kDistricts; ++a.D_ID) {
    Oldest oldest = readOldestOrder(call);
    if (oldest == Oldest::none && c.firstPause != 0 && a.D_ID == a.selectedD_ID) {
      pauseWithMessage("- %s paused after reading the NEW-ORDER table for selected district.",
                       a.label, c.firstPause);
      c.firstPause = 0;
      oldest = readOldestOrder(call);
    }
    if (oldest == Oldest::failed) return kStepFailed;
    if (oldest == Oldest::none) continue;

    // The NEW_ORDER row may already be gone: the delivery goes on.
    SQLRETURN rc = SQLExecute(call.stmt[kDeleteNewOrder]);
    if (!call.check(rc == SQL_NO_DATA ? SQL_SUCCESS : rc, kDeleteNewOrder)) return kStepFailed;
    if (!call.execute(kCustomer) || !call.execute(kCarrier) || !call.execute(kDeliveryDate) ||
        !call.execute(kAmount)) {
      return kStepFailed;
    }
    if (a.D_ID == a.selectedD_ID) a.selectedOL_AMOUNT = a.OL_AMOUNT;
    if (!call.execute(kBalance)) return kStepFailed;
    a.deliveredO_ID[a.D_ID - 1] = a.O_ID;
  }

  // Any rollback argument but 0 rolls back, so that the pause text always
  // tells what follows.
  if (c.endPause > 0) {
    pauseWithMessage(
        c.rollback != 0 ? "- %s paused prior to rollback" : "- %s paused prior to commit", a.label,
        c.endPause);
  }
  call.completion = c.rollback != 0 ? SQL_ROLLBACK : SQL_COMMIT;
  return kStepsDone;
}

}  // namespace

int PrepareDeliveryStmt(SQLHSTMT* stmts, DeliveryArg* a) {
  StatementPreparer p(stmts);
  p.prepare(kOrderId, kStatements[kOrderId])
      .inInt(1, &a->W_ID)
      .inInt(2, &a->D_ID)
      .outInt(3, &a->O_ID);
  p.prepare(kDeleteNewOrder, kStatements[kDeleteNewOrder])
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID);
  p.prepare(kCustomer, kStatements[kCustomer])
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID)
      .outInt(4, &a->C_ID);
  p.prepare(kCarrier, kStatements[kCarrier])
      .inInt(1, &a->O_CARRIER_ID)
      .inInt(2, &a->O_ID)
      .inInt(3, &a->D_ID)
      .inInt(4, &a->W_ID);
  p.prepare(kDeliveryDate, kStatements[kDeliveryDate])
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID);
  p.prepare(kAmount, kStatements[kAmount])
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID)
      .outAmount(4, 15, 2, &a->OL_AMOUNT);
  p.prepare(kBalance, kStatements[kBalance])
      .inAmount(1, 15, 2, &a->OL_AMOUNT)
      .inInt(2, &a->C_ID)
      .inInt(3, &a->D_ID)
      .inInt(4, &a->W_ID);
  return p.result();
}

int Delivery(DeliveryArg* arg, int firstPause, int rollback, int endPause) {
  static constexpr TransactionProfile kProfile{7, SQL_TXN_SERIALIZABLE, prepare, nullptr, attempt};
  Call call{arg, firstPause, rollback, endPause};
  return runTransaction(kProfile, arg, &call);
}
