#include "Payment.h"

#include <cstring>
#include <iterator>

#include "PaymentStatements.h"
#include "TransactionFrame.h"

namespace {

using acidkit::Steps;
using acidkit::TransactionCall;

enum Stmt { kSysDate, kWarehouse, kDistrict, kCustomer, kBadCredit, kGoodCredit, kHistory };
static_assert(std::size(kPaymentStatements) == kHistory + 1);

class PaymentTransaction final : public acidkit::Transaction {
 public:
  PaymentTransaction(PaymentArg& arg, int completion) : arg_(arg), completion_(completion) {}
  int statementCount() const override { return std::size(kPaymentStatements); }
  SQLUINTEGER isolation() const override { return SQL_TXN_SERIALIZABLE; }
  int prepare(SQLHSTMT* stmts) override { return PreparePaymentStmt(stmts, &arg_); }
  // The date is read once per call: a retry keeps the first attempt's.
  Steps once(TransactionCall& call) override {
    return call.execute(kSysDate) ? Steps::done : Steps::failed;
  }
  Steps attempt(TransactionCall& call) override {
    if (!call.execute(kWarehouse) || !call.execute(kDistrict) || !call.execute(kCustomer)) {
      return Steps::failed;
    }
    // The bad-credit procedure applies the whole customer side of the payment.
    const int customerUpdate = strcmp(arg_.C_CREDIT, "BC") == 0 ? kBadCredit : kGoodCredit;
    if (!call.execute(customerUpdate) || !call.execute(kHistory)) return Steps::failed;
    call.complete(static_cast<SQLSMALLINT>(completion_));
    return Steps::done;
  }

 private:
  PaymentArg& arg_;
  int completion_;
};

}  // namespace

int PreparePaymentStmt(SQLHSTMT* stmts, PaymentArg* a) {
  const auto& kStatements = kPaymentStatements;
  acidkit::StatementPreparer p(stmts);
  p.prepare(kSysDate, kStatements[kSysDate]).outText(1, SQL_VARCHAR, 21, a->H_DATE);
  p.prepare(kWarehouse, kStatements[kWarehouse])
      .inAmount(1, 15, 2, &a->H_AMOUNT)
      .inInt(2, &a->W_ID)
      .outText(3, SQL_VARCHAR, 20, a->W_STREET_1)
      .outText(4, SQL_VARCHAR, 20, a->W_STREET_2)
      .outText(5, SQL_VARCHAR, 20, a->W_CITY)
      .outText(6, SQL_CHAR, 2, a->W_STATE)
      .outText(7, SQL_CHAR, 9, a->W_ZIP)
      .outText(8, SQL_VARCHAR, 10, a->W_NAME);
  p.prepare(kDistrict, kStatements[kDistrict])
      .inAmount(1, 15, 2, &a->H_AMOUNT)
      .inInt(2, &a->W_ID)
      .inInt(3, &a->D_ID)
      .outText(4, SQL_VARCHAR, 20, a->D_STREET_1)
      .outText(5, SQL_VARCHAR, 20, a->D_STREET_2)
      .outText(6, SQL_VARCHAR, 20, a->D_CITY)
      .outText(7, SQL_CHAR, 2, a->D_STATE)
      .outText(8, SQL_CHAR, 9, a->D_ZIP)
      .outText(9, SQL_VARCHAR, 10, a->D_NAME);
  p.prepare(kCustomer, kStatements[kCustomer])
      .inInt(1, &a->C_ID)
      .inInt(2, &a->D_ID)
      .inInt(3, &a->W_ID)
      .outText(4, SQL_VARCHAR, 16, a->C_FIRST)
      .outText(5, SQL_CHAR, 2, a->C_MIDDLE)
      .outText(6, SQL_VARCHAR, 16, a->C_LAST)
      .outText(7, SQL_VARCHAR, 20, a->C_STREET_1)
      .outText(8, SQL_VARCHAR, 20, a->C_STREET_2)
      .outText(9, SQL_VARCHAR, 20, a->C_CITY)
      .outText(10, SQL_CHAR, 2, a->C_STATE)
      .outText(11, SQL_CHAR, 9, a->C_ZIP)
      .outText(12, SQL_CHAR, 16, a->C_PHONE)
      .outText(13, SQL_CHAR, 2, a->C_CREDIT)
      .outAmount(14, 12, 2, &a->C_CREDIT_LIM)
      .outAmount(15, 4, 4, &a->C_DISCOUNT)
      .outAmount(16, 15, 2, &a->C_BALANCE)
      .outText(17, SQL_VARCHAR, 21, a->C_SINCE);
  p.prepare(kBadCredit, kStatements[kBadCredit])
      .inAmount(1, 15, 2, &a->H_AMOUNT)
      .inInt(2, &a->C_ID)
      .inInt(3, &a->D_ID)
      .inInt(4, &a->W_ID)
      .outText(5, SQL_CHAR, 200, a->C_DATA);
  p.prepare(kGoodCredit, kStatements[kGoodCredit])
      .inAmount(1, 15, 2, &a->H_AMOUNT)
      .inAmount(2, 15, 2, &a->H_AMOUNT)
      .inInt(3, &a->W_ID)
      .inInt(4, &a->D_ID)
      .inInt(5, &a->C_ID);
  p.prepare(kHistory, kStatements[kHistory])
      .inInt(1, &a->D_ID)
      .inInt(2, &a->W_ID)
      .inInt(3, &a->C_ID)
      .inInt(4, &a->D_ID)
      .inInt(5, &a->W_ID)
      .inText(6, SQL_VARCHAR, 21, a->H_DATE)
      .inAmount(7, 15, 2, &a->H_AMOUNT)
      .inText(8, SQL_VARCHAR, 10, a->W_NAME)
      .inText(9, SQL_VARCHAR, 10, a->D_NAME);
  return p.result();
}

int Payment(PaymentArg* arg, int completion) {
  PaymentTransaction transaction(*arg, completion);
  return acidkit::runTransaction(transaction);
}
