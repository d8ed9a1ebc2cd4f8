#include "DeliveryPayment.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "DeliveryT1.h"
#include "IsolationFrame.h"

DeliveryArg gDeliveryArg;
PaymentArg gPaymentArg;
double gC_BALANCE1;
double gC_BALANCE2;

namespace {

int gRollback;
int gDeliveryResult = 1;
int gPaymentResult = 1;
bool gBalanceReadFailed = false;

void* Delivery_T1(void*) {
  fillDeliveryArg(&gDeliveryArg);
  gDeliveryResult = traced("T1(Delivery)", kDeliveryError,
                           [] { return Delivery(&gDeliveryArg, 0, gRollback, kPauseSeconds); });
  return nullptr;
}

void* Payment_T2(void*) {
  snprintf(gPaymentArg.label, sizeof gPaymentArg.label, "T2");
  gPaymentArg.W_ID = gW_ID;
  gPaymentArg.D_ID = gD_ID;
  gPaymentArg.C_ID = gC_ID;
  gPaymentArg.H_AMOUNT = 15.00;
  gPaymentResult = traced("T2(Payment)", kPaymentError, [] { return Payment(&gPaymentArg, 0); });
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
      c.check(SQLExecDirect(c.stmt(), (SQLCHAR*)"call getOrderCustomerIDByNO(?,?,?)", SQL_NTS)) !=
          0 ||
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
      c.check(SQLExecDirect(c.stmt(), (SQLCHAR*)"call getCustBalance(?,?,?,?)", SQL_NTS)) != 0 ||
      c.close() != 0) {
    gBalanceReadFailed = true;
    return 0.0;
  }
  return balance;
}

int runDeliveryPayment(int rollback) {
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
    puts("Error C_ID");
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

int finishBalanceTest(int testNumber, double expected) {
  bool balanceRight = sameCents(expected, gC_BALANCE2);
  if (!balanceRight) puts("Customer balance incorrect");
  // A balance that adds up proves nothing when a transaction failed, a read
  // gave 0.0 for a failure, or T1 never touched the customer.
  bool conflictRan = gDeliveryResult == 0 && gPaymentResult == 0 && !gBalanceReadFailed &&
                     gDeliveryArg.deliveredO_ID[gD_ID - 1] != -1;
  return finish(testNumber, balanceRight && conflictRan);
}
