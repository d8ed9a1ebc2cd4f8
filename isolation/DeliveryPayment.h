// Isolation tests 5 and 6: a Delivery (T1) and a Payment (T2) on the same
// customer. T1 delivers the customer's oldest undelivered order and holds its
// locks 30 s before it commits (test 5) or rolls back (test 6); T2 pays 15.00
// 10 s after T1 started and must wait for T1.
// The globals, getC_ID and getC_BALANCE keep their fixed names; the rest
// is the kit's own.
#pragma once

#include <cstdint>

#include "Delivery.h"
#include "IsolationFrame.h"
#include "Payment.h"

extern DeliveryArg gDeliveryArg;
extern PaymentArg gPaymentArg;
extern double gC_BALANCE1;  // before the threads start
extern double gC_BALANCE2;  // after both ended

// The customer of the district's oldest undelivered order, or -1.
int32_t getC_ID();
// The customer's balance, or 0.0 on failure (printed).
double getC_BALANCE();

// Sets up the environment, draws W and D, reads the customer and its balance,
// runs T1 (Delivery with the given rollback argument) and T2, joins both and
// reads the balance again. 0 when the report can follow; otherwise the
// failure has been printed and the environment released: exit with 1.
namespace acidkit {

int runDeliveryPayment(int rollback);

// The verdict: the final balance must be `expected` to the cent (`sum` says
// how it is made up), every transaction and balance read must have
// succeeded with T1 delivering the customer's order, and T2 must have waited
// for T1, whose change of the customer row it overwrote; after a rolled-back
// T1 it must also have read the balance as it was before T1. Prints "Customer
// balance incorrect" when the balances differ, then the reasons and the
// verdict line; gives the exit status.
int finishBalanceTest(int testNumber, double expected, const char* sum);

}  // namespace acidkit
