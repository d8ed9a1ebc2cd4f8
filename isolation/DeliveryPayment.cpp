#include "DeliveryPayment.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "DeliveryT1.h"
#include "IsolationFrame.h"
#include "SideStatements.h"
#include "Verdict.h"

using namespace acidkit;

DeliveryArg gDeliveryArg;
PaymentArg gPaymentArg;
double gC_BALANCE1;
double gC_BALANCE2;

namespace {

int gRollback;
TransactionRun gDeliveryRun;
TransactionRun gPaymentRun;
bool gBalanceReadFailed = false;

void* Delivery_T1(void*) {
  fillDeliveryArg(&gDeliveryArg);
  gDeliveryRun = traced("T1(Delivery)", kDeliveryError,
                        [] { return Delivery(&gDeliveryArg, 0, gRollback, kPauseSeconds); });
  return nullptr;
}

void* Payment_T2(void*) {
  snprintf(gPaymentArg.label, sizeof gPaymentArg.label, "T2");
  gPaymentArg.W_ID = gW_ID;
  gPaymentArg.D_ID = gD_ID;
  gPaymentArg.C_ID = gC_ID;
  gPaymentArg.H_AMOUNT = 15.00;
  gPaymentRun = traced("T2(Payment)", kPaymentError, [] { return Payment(&gPaymentArg, 0); });
  return nullptr;
}

int bindInt(SideConnection& c, SQLUSMALLINT n, SQLSMALLINT io, int32_t* value) {
  return c.check(
      SQLBindParameter(c.stmt(), n, io, SQL_C_SLONG, SQL_INTEGER, 0, 0, value, 0, nullptr));
}

// Amounts compared in cents: the database computes in decimal, the program
// in binary doubles, and the two may differ in the last bit of a sum.
long long cents(double amount) {
  return std::llround(amount * 100.0);
}

bool sameCents(double a, double b) {
  return std::isfinite(a) && std::isfinite(b) && std::fabs(a) < 1e15 && std::fabs(b) < 1e15 &&
         cents(a) == cents(b);
}

}  // namespace

int32_t getC_ID() {
  int32_t customer = 0;
  SideConnection c;
  if (c.open() != 0) return -1;
  if (bindInt(c, 1, SQL_PARAM_INPUT, &gW_ID) != 0 || bindInt(c, 2, SQL_PARAM_INPUT, &gD_ID) != 0 ||
      bindInt(c, 3, SQL_PARAM_OUTPUT, &customer) != 0 ||
      c.check(SQLExecDirect(c.stmt(), (SQLCHAR*)kGetOrderCustomerIDByNO, SQL_NTS)) != 0 ||
      c.close() != 0) {
    return -1;
  }
  return customer;
}

double getC_BALANCE() {
  double balance = 0.0;
  SideConnection c;
  if (c.open() != 0 || bindInt(c, 1, SQL_PARAM_INPUT, &gC_ID) != 0 ||
      bindInt(c, 2, SQL_PARAM_INPUT, &gD_ID) != 0 || bindInt(c, 3, SQL_PARAM_INPUT, &gW_ID) != 0 ||
      c.check(SQLBindParameter(c.stmt(), 4, SQL_PARAM_OUTPUT, SQL_C_DOUBLE, SQL_NUMERIC, 15, 2,
                               &balance, 0, nullptr)) != 0 ||
      c.check(SQLExecDirect(c.stmt(), (SQLCHAR*)kGetCustBalance, SQL_NTS)) != 0 || c.close() != 0) {
    gBalanceReadFailed = true;
    return 0.0;
  }
  return balance;
}

int acidkit::runDeliveryPayment(int rollback) {
  gRollback = rollback;
  srand(time(nullptr));
  // The customer is read from the database, so the environment comes first
  // and only the warehouse and the district are drawn.
  if (setUpEnvironment() != 0) return exitPath();
  gW_ID = rand() % kWarehouses + 1;
  gD_ID = rand() % kDistricts + 1;
  gC_ID = getC_ID();
  // 0 is no customer either: a procedure that reported success without one.
  if (gC_ID < 1) {
    puts(kCustomerIdError);
    return exitPath();
  }
  printIds();
  gC_BALANCE1 = getC_BALANCE();

  pthread_t t1, t2;
  if (startThread(&t1, Delivery_T1) != 0) return exitPath();
  sleepSeconds(kSecondThreadDelay);
  if (startThread(&t2, Payment_T2) != 0) return exitPath();
  joinThread(t1);
  joinThread(t2);
  gC_BALANCE2 = getC_BALANCE();
  return 0;
}

int acidkit::finishBalanceTest(int testNumber, double expected, const char* sum) {
  bool balanceRight = sameCents(expected, gC_BALANCE2);
  if (!balanceRight) puts(kBalanceIncorrect);
  // A balance that adds up proves nothing when a transaction failed, a read
  // gave 0.0 for a failure, or T1 never touched the customer.
  Verdict verdict;
  verdict.ranToItsEnd(gDeliveryRun, "T1(Delivery)");
  verdict.ranToItsEnd(gPaymentRun, "T2(Payment)");
  verdict.require(!gBalanceReadFailed,
                  "a read of customer %d's balance failed (see above), so the balances prove "
                  "nothing",
                  gC_ID);
  verdict.require(!gDeliveryRun.succeeded() || gDeliveryArg.deliveredO_ID[gD_ID - 1] != -1,
                  "T1(Delivery) delivered no order in district %d, so it never changed customer "
                  "%d's balance",
                  gD_ID, gC_ID);
  verdict.require(balanceRight, "customer %d's final balance is %.2f; expected %.2f (%s)", gC_ID,
                  gC_BALANCE2, expected, sum);
  // What T2 read before paying: after a rollback only the balance before T1
  // was ever committed; the delivered amount in it is T1's uncommitted work.
  if (gRollback != 0 && gPaymentRun.succeeded() && !gBalanceReadFailed) {
    verdict.require(sameCents(gPaymentArg.C_BALANCE, gC_BALANCE1),
                    "T2 read customer %d's balance as %.2f before paying, yet only %.2f was ever "
                    "committed: T1 rolled back its delivery of %.2f (a read of uncommitted data)",
                    gC_ID, gPaymentArg.C_BALANCE, gC_BALANCE1, gDeliveryArg.selectedOL_AMOUNT);
  }
  // T2 wrote the customer row that T1 had changed: it must have waited.
  verdict.overlapped(gPaymentRun, "T2", gDeliveryRun, "T1");
  verdict.waitedFor(gPaymentRun, "T2", gDeliveryRun, "T1");
  verdict.noteRetries(gDeliveryRun, "T1(Delivery)");
  verdict.noteRetries(gPaymentRun, "T2(Payment)");
  return finish(testNumber, verdict);
}
