#include "NewOrder.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "NewOrderStatements.h"
#include "TransactionFrame.h"
#include "support.h"

namespace {

using acidkit::pauseWithMessage;
using acidkit::Steps;
using acidkit::TransactionCall;

enum Stmt {
  kSysDate,
  kWarehouseCustomer,
  kDistrict,
  kOrders,
  kNewOrder,
  kItem,
  kStock,
  kStockUpdate,
  kOrderLine
};
static_assert(std::size(kNewOrderStatements) == kOrderLine + 1);

// SQL_ATTR_TXN_ISOLATION asked of the stock statement alone.
constexpr SQLINTEGER kStatementIsolation = 108;

class NewOrderTransaction final : public acidkit::Transaction {
 public:
  NewOrderTransaction(NewOrderArg& arg, int pauseAfterFirstItem, int pauseBeforeEnd)
      : arg_(arg), pauseAfterFirstItem_(pauseAfterFirstItem), pauseBeforeEnd_(pauseBeforeEnd) {}
  int statementCount() const override { return std::size(kNewOrderStatements); }
  SQLUINTEGER isolation() const override { return SQL_TXN_READ_COMMITTED; }
  int prepare(SQLHSTMT* stmts) override { return PrepareNewOrderStmt(stmts, &arg_); }
  // The date is read once per call: a retry keeps the first attempt's.
  Steps once(TransactionCall& call) override {
    return call.execute(kSysDate) ? Steps::done : Steps::failed;
  }
  Steps attempt(TransactionCall& call) override;

 private:
  NewOrderArg& arg_;
  int pauseAfterFirstItem_;
  int pauseBeforeEnd_;
};

Steps NewOrderTransaction::attempt(TransactionCall& call) {
  NewOrderArg& a = arg_;
  if (!call.execute(kWarehouseCustomer) || !call.execute(kDistrict) || !call.execute(kOrders) ||
      !call.execute(kNewOrder)) {
    return Steps::failed;
  }
  a.totalAmount = 0;
  for (int k = 1; k <= a.O_OL_CNT; ++k) {
    NewOrderLine& line = a.orderLines[k - 1];
    a.OL_NUMBER = k;
    a.OL_I_ID = line.OL_I_ID;
    a.OL_SUPPLY_W_ID = line.OL_SUPPLY_W_ID;
    a.OL_QUANTITY = line.OL_QUANTITY;

    SQLRETURN rc = SQLExecute(call.stmt(kItem));
    call.ran(kItem);
    // No such item: the order will be rolled back. A deadlock or lock wait
    // timeout on the item is no missing item; the order runs again.
    if (rc == SQL_ERROR && !acidkit::hasRetryableError(call.stmt(kItem))) {
      a.rollbackFlag = true;
      continue;
    }
    if (!call.check(rc, kItem)) return Steps::failed;
    line.I_PRICE = a.I_PRICE;
    memcpy(line.I_NAME, a.I_NAME, sizeof line.I_NAME);

    if (k == 1 && pauseAfterFirstItem_ != 0) {
      pauseWithMessage("- %s paused after scanning first item (x)", a.label, pauseAfterFirstItem_);
    }
    // Serializable stock read; a database that cannot grant it per statement
    // still locks the row through the statement's FOR UPDATE.
    SQLSetStmtAttr(call.stmt(kStock), kStatementIsolation, (SQLPOINTER)SQL_TXN_SERIALIZABLE, 0);
    if (!call.execute(kStock)) return Steps::failed;
    line.S_QUANTITY = a.S_QUANTITY;
    line.brandGeneric =
        strstr(a.I_DATA, "original") != nullptr && strstr(a.S_DATA, "original") != nullptr ? 'B'
                                                                                           : 'G';
    int32_t quantity = a.S_QUANTITY - a.OL_QUANTITY;
    if (quantity < 10) quantity += 91;
    a.S_QUANTITY = quantity;
    a.remoteFlag = a.W_ID != a.OL_SUPPLY_W_ID ? 1 : 0;
    if (!call.execute(kStockUpdate)) return Steps::failed;

    a.OL_AMOUNT = static_cast<double>(a.OL_QUANTITY) * a.I_PRICE;
    line.OL_AMOUNT = a.OL_AMOUNT;
    a.totalAmount += a.OL_AMOUNT;
    if (!call.execute(kOrderLine)) return Steps::failed;
  }
  a.totalAmount = (a.W_TAX + 1.0 + a.D_TAX) * a.totalAmount * (1.0 - a.C_DISCOUNT);

  if (pauseBeforeEnd_ > 0) {
    pauseWithMessage(
        a.rollbackFlag ? "- %s paused prior to rollback" : "- %s paused prior to commit", a.label,
        pauseBeforeEnd_);
  }
  call.complete(a.rollbackFlag ? SQL_ROLLBACK : SQL_COMMIT);
  return Steps::done;
}

}  // namespace

int PrepareNewOrderStmt(SQLHSTMT* stmts, NewOrderArg* a) {
  const auto& kStatements = kNewOrderStatements;
  acidkit::StatementPreparer p(stmts);
  p.prepare(kSysDate, kStatements[kSysDate]).outText(1, SQL_VARCHAR, 19, a->O_ENTRY_D);
  p.prepare(kWarehouseCustomer, kStatements[kWarehouseCustomer])
      .inInt(1, &a->W_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->C_ID)
      .outAmount(4, 4, 4, &a->C_DISCOUNT)
      .outText(5, SQL_VARCHAR, 16, a->C_LAST)
      .outText(6, SQL_CHAR, 2, a->C_CREDIT)
      .outAmount(7, 4, 4, &a->W_TAX);
  p.prepare(kDistrict, kStatements[kDistrict])
      .inInt(1, &a->D_ID)
      .inInt(2, &a->W_ID)
      .outInt(3, &a->O_ID)
      .outAmount(4, 4, 4, &a->D_TAX);
  p.prepare(kOrders, kStatements[kOrders])
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID)
      .inInt(4, &a->C_ID)
      .inText(5, SQL_VARCHAR, 21, a->O_ENTRY_D)
      .param(6, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_NUMERIC, 8, 0, &a->O_OL_CNT, 0)
      .param(7, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_NUMERIC, 1, 0, &a->O_ALL_LOCAL, 0);
  p.prepare(kNewOrder, kStatements[kNewOrder])
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID);
  p.prepare(kItem, kStatements[kItem])
      .inInt(1, &a->OL_I_ID)
      .outAmount(2, 5, 2, &a->I_PRICE)
      .outText(3, SQL_VARCHAR, 24, a->I_NAME)
      .outText(4, SQL_VARCHAR, 50, a->I_DATA);
  p.prepare(kStock, kStatements[kStock])
      .inInt(1, &a->OL_I_ID)
      .inInt(2, &a->OL_SUPPLY_W_ID)
      .inInt(3, &a->D_ID)
      .inInt(4, &a->OL_I_ID)
      .inInt(5, &a->OL_SUPPLY_W_ID)
      .outText(6, SQL_VARCHAR, 50, a->S_DATA)
      .outInt(7, &a->S_QUANTITY)
      .outText(8, SQL_CHAR, 24, a->OL_DIST_INFO);
  p.prepare(kStockUpdate, kStatements[kStockUpdate])
      .inInt(1, &a->S_QUANTITY)
      .inInt(2, &a->OL_QUANTITY)
      .inInt(3, &a->remoteFlag)
      .inInt(4, &a->OL_I_ID)
      .inInt(5, &a->OL_SUPPLY_W_ID);
  p.prepare(kOrderLine, kStatements[kOrderLine])
      .inInt(1, &a->O_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID)
      .inInt(4, &a->OL_NUMBER)
      .inInt(5, &a->OL_I_ID)
      .inInt(6, &a->OL_SUPPLY_W_ID)
      .inInt(7, &a->OL_QUANTITY)
      .inAmount(8, 6, 2, &a->OL_AMOUNT)
      .inText(9, SQL_CHAR, 24, a->OL_DIST_INFO);
  return p.result();
}

int NewOrder(NewOrderArg* arg, int pauseAfterFirstItem, int pauseBeforeEnd) {
  // The record holds 15 lines; more would read and write past it.
  if (arg->O_OL_CNT > kMaxOrderLines) {
    printf("\nNew-Order of %d lines refused: an order holds at most %d lines\n", arg->O_OL_CNT,
           kMaxOrderLines);
    return 1;
  }
  NewOrderTransaction transaction(*arg, pauseAfterFirstItem, pauseBeforeEnd);
  return acidkit::runTransaction(transaction);
}
