#include "OrderStatus.h"

#include <cstdio>
#include <iterator>

#include "OrderStatusStatements.h"
#include "TransactionFrame.h"
#include "support.h"

namespace {

using acidkit::pauseWithMessage;
using acidkit::Steps;
using acidkit::TransactionCall;

enum Stmt { kCustomer, kLatestOrder, kOrderLines };
static_assert(std::size(kOrderStatusStatements) == kOrderLines + 1);

void copyLine(OrderStatusLine& to, const OrderStatusLine& from) {
  to.OL_SUPPLY_W_ID = from.OL_SUPPLY_W_ID;
  to.OL_I_ID = from.OL_I_ID;
  to.OL_QUANTITY = from.OL_QUANTITY;
  to.OL_AMOUNT = from.OL_AMOUNT;
  snprintf(to.OL_DELIVERY_D, sizeof to.OL_DELIVERY_D, "%s", from.OL_DELIVERY_D);
}

// Fetches the order's lines into the record; the cursor stays open.
Steps fetchLines(TransactionCall& call, OrderStatusByIdArg& a, int* count) {
  *count = 0;
  for (;;) {
    SQLRETURN rc = SQLFetch(call.stmt(kOrderLines));
    if (rc == SQL_NO_DATA) return Steps::done;
    if (!call.check(rc, kOrderLines)) return Steps::failed;
    if (*count == kMaxOrderLines) {
      // More lines than any order may have: refuse rather than write past
      // the record. Retrying would read the same rows again.
      printf("\nOrder-Status stopped: order %d of customer %d has more than %d lines\n", a.O_ID,
             a.C_ID, kMaxOrderLines);
      call.failWithoutStatement();
      return Steps::failed;
    }
    copyLine(a.orderLines[*count], a.fetchedLine);
    ++*count;
  }
}

class OrderStatusTransaction final : public acidkit::Transaction {
 public:
  OrderStatusTransaction(OrderStatusByIdArg& arg, int pause) : arg_(arg), pause_(pause) {}
  int statementCount() const override { return std::size(kOrderStatusStatements); }
  SQLUINTEGER isolation() const override { return SQL_TXN_REPEATABLE_READ; }
  int prepare(SQLHSTMT* stmts) override { return PrepareOrderStatusStmt(stmts, &arg_); }
  Steps attempt(TransactionCall& call) override;

 private:
  OrderStatusByIdArg& arg_;
  int pause_;
};

Steps OrderStatusTransaction::attempt(TransactionCall& call) {
  OrderStatusByIdArg& a = arg_;
  if (!call.execute(kCustomer) || !call.execute(kLatestOrder)) return Steps::failed;
  if (pause_ != 0) {
    a.oIdBeforePause = a.O_ID;
    pauseWithMessage("- %s paused after reading the ORDER table for selected customer.", a.label,
                     pause_);
    if (!call.execute(kLatestOrder)) return Steps::failed;
  }
  // An attempt cut short during the fetch may have left its cursor open.
  if (call.retries() > 0) SQLFreeStmt(call.stmt(kOrderLines), SQL_CLOSE);
  if (!call.execute(kOrderLines)) return Steps::failed;
  int count = 0;
  if (fetchLines(call, a, &count) != Steps::done) return Steps::failed;
  if (!call.check(SQLCloseCursor(call.stmt(kOrderLines)), kOrderLines)) return Steps::failed;
  a.orderLineCount = count;
  call.complete(SQL_COMMIT);
  return Steps::done;
}

}  // namespace

int PrepareOrderStatusStmt(SQLHSTMT* stmts, OrderStatusByIdArg* a) {
  const auto& kStatements = kOrderStatusStatements;
  acidkit::StatementPreparer p(stmts);
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
  OrderStatusTransaction transaction(*arg, pause);
  return acidkit::runTransaction(transaction);
}
