#include "Delivery.h"

#include <iterator>

#include "DeliveryStatements.h"
#include "TransactionFrame.h"
#include "support.h"

namespace {

using acidkit::pauseWithMessage;
using acidkit::Steps;
using acidkit::TransactionCall;

enum Stmt { kOrderId, kDeleteNewOrder, kCustomer, kCarrier, kDeliveryDate, kAmount, kBalance };
static_assert(std::size(kDeliveryStatements) == kBalance + 1);

enum class Oldest { found, none, failed };

// getOrderID reports a district without undelivered order as an error. A
// deadlock or lock wait timeout is an error too, and must not pass for an
// empty district: the first would already have rolled back the districts
// delivered so far, and the district would be skipped without a word.
Oldest readOldestOrder(TransactionCall& call) {
  SQLRETURN rc = SQLExecute(call.stmt(kOrderId));
  if (rc == SQL_ERROR && !acidkit::hasRetryableError(call.stmt(kOrderId))) {
    call.ran(kOrderId);
    return Oldest::none;
  }
  return call.check(rc, kOrderId) ? Oldest::found : Oldest::failed;
}

class DeliveryTransaction final : public acidkit::Transaction {
 public:
  DeliveryTransaction(DeliveryArg& arg, int firstPause, int rollback, int endPause)
      : arg_(arg), firstPause_(firstPause), rollback_(rollback), endPause_(endPause) {}
  int statementCount() const override { return std::size(kDeliveryStatements); }
  SQLUINTEGER isolation() const override { return SQL_TXN_SERIALIZABLE; }
  int prepare(SQLHSTMT* stmts) override { return PrepareDeliveryStmt(stmts, &arg_); }
  Steps attempt(TransactionCall& call) override;

 private:
  DeliveryArg& arg_;
  int firstPause_;  // set to 0 once taken: used up for the call, retries included
  int rollback_;
  int endPause_;
};

Steps DeliveryTransaction::attempt(TransactionCall& call) {
  DeliveryArg& a = arg_;
  for (int32_t& o : a.deliveredO_ID) o = -1;
  for (a.D_ID = 1; a.D_ID <= kDistricts; ++a.D_ID) {
    Oldest oldest = readOldestOrder(call);
    if (oldest == Oldest::none && firstPause_ != 0 && a.D_ID == a.selectedD_ID) {
      pauseWithMessage("- %s paused after reading the NEW-ORDER table for selected district.",
                       a.label, firstPause_);
      firstPause_ = 0;
      oldest = readOldestOrder(call);
    }
    if (oldest == Oldest::failed) return Steps::failed;
    if (oldest == Oldest::none) continue;

    // The NEW_ORDER row may already be gone: the delivery goes on.
    SQLRETURN rc = SQLExecute(call.stmt(kDeleteNewOrder));
    if (!call.check(rc == SQL_NO_DATA ? SQL_SUCCESS : rc, kDeleteNewOrder)) return Steps::failed;
    if (!call.execute(kCustomer) || !call.execute(kCarrier) || !call.execute(kDeliveryDate) ||
        !call.execute(kAmount)) {
      return Steps::failed;
    }
    if (a.D_ID == a.selectedD_ID) a.selectedOL_AMOUNT = a.OL_AMOUNT;
    if (!call.execute(kBalance)) return Steps::failed;
    a.deliveredO_ID[a.D_ID - 1] = a.O_ID;
  }

  // Any rollback argument but 0 rolls back, so that the pause text always
  // tells what follows.
  if (endPause_ > 0) {
    pauseWithMessage(
        rollback_ != 0 ? "- %s paused prior to rollback" : "- %s paused prior to commit", a.label,
        endPause_);
  }
  call.complete(rollback_ != 0 ? SQL_ROLLBACK : SQL_COMMIT);
  return Steps::done;
}

}  // namespace

int PrepareDeliveryStmt(SQLHSTMT* stmts, DeliveryArg* a) {
  const auto& kStatements = kDeliveryStatements;
  acidkit::StatementPreparer p(stmts);
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
  DeliveryTransaction transaction(*arg, firstPause, rollback, endPause);
  return acidkit::runTransaction(transaction);
}
