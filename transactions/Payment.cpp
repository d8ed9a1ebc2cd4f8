#include "Payment.h"

#include <cstring>

#include "TransactionFrame.h"

namespace {

const char* const kStatements[] = {
    "call getSysDate(?)",
    "CALL updateWarehouseYTD(?,?,?,?,?,?,?,?)",
    "CALL updateDistrictYTD(?,?,?,?,?,?,?,?,?)",
    "CALL getCustAll(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
    "CALL updateCustomerData(?,?,?,?,?)",
    "UPDATE CUSTOMER    SET C_BALANCE = C_BALANCE - ?      , C_YTD_PAYMENT = C_YTD_PAYMENT + ?     "
    " , C_PAYMENT_CNT = C_PAYMENT_CNT + 1  WHERE C_W_ID = ?    AND C_D_ID = ?    AND C_ID   = ? ",
    "INSERT   INTO HISTORY (H_C_D_ID               , H_C_W_ID               , H_C_ID              "
    " , H_D_ID               , H_W_ID               , H_DATE               , H_AMOUNT             "
    "  , H_DATA ) VALUES (?, ?, ?, ?, ?, SUBSTR(CAST(? AS VARCHAR), 1, 19), ?, ? || '    ' || ?) ",
};

enum Stmt { kSysDate, kWarehouse, kDistrict, kCustomer, kBadCredit, kGoodCredit, kHistory };

struct Call {
  PaymentArg* arg;
  int completion;
};

int prepare(SQLHSTMT* stmts, void* record) {
  return PreparePaymentStmt(stmts, static_cast<PaymentArg*>(record));
}

// The date is read once per call: a retry keeps the first attempt's.
int once(TransactionCall& call, void*) {
  return call.execute(kSysDate) ? kStepsDone : kStepFailed;
}

int attempt(TransactionCall& call, void* context) {
  const Call& c = *static_cast<Call*>(context);
  if (!call.execute(kWarehouse) || !call.execute(kDistrict) || !call.execute(kCustomer)) {
    return kStepFailed;
  }
  // The bad-credit procedure applies the whole customer side of the payment.
  const int customerUpdate = strcmp(c.arg->C_CREDIT, "BC") == 0 ? kBadCredit : kGoodCredit;
  if (!call.execute(customerUpdate) || !call.execute(kHistory)) return kStepFailed;
  call.completion = static_cast<SQLSMALLINT>(c.completion);
  return kStepsDone;
}

}  // namespace

int PreparePaymentStmt(SQLHSTMT* stmts, PaymentArg* a) {
  StatementPreparer p(stmts);
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
  static constexpr TransactionProfile kProfile{7, SQL_TXN_SERIALIZABLE, prepare, once, attempt};
  Call call{arg, completion};
  return runTransaction(kProfile, arg, &call);
}
