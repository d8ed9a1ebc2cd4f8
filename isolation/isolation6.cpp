// TPC-C isolation test 6: T1's Delivery raises the customer's balance and
// rolls back after holding its locks 30 s; T2's Payment by the same customer
// must wait for it and pay from the balance as it was before T1.
#include <cstdio>

#include "DeliveryPayment.h"

using namespace acidkit;

int main() {
  if (runDeliveryPayment(1) != 0) return 1;
  printf("\n");
  printf("Using customer: %d\n", gC_ID);
  printf("Starting balance: %.2lf\n", gC_BALANCE1);
  printf("Subtract payment: %.2lf\n", gPaymentArg.H_AMOUNT);
  printf("Final balance: %.2f\n", gC_BALANCE2);
  char sum[128];
  snprintf(sum, sizeof sum,
           "starting balance %.2f - payment %.2f; T1's delivery of %.2f was rolled back",
           gC_BALANCE1, gPaymentArg.H_AMOUNT, gDeliveryArg.selectedOL_AMOUNT);
  return finishBalanceTest(6, gC_BALANCE1 - gPaymentArg.H_AMOUNT, sum);
}
