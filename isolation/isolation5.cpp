// TPC-C isolation test 5: T1's Delivery raises the customer's balance and
// commits after holding its locks 30 s; T2's Payment by the same customer
// must wait for it and pay from the balance T1 left.
#include <cstdio>

#include "DeliveryPayment.h"

using namespace acidkit;

int main() {
  if (runDeliveryPayment(0) != 0) return 1;
  printf("\n");
  printf("Using customer: %d\n", gC_ID);
  printf("Starting balance: %.2lf\n", gC_BALANCE1);
  printf("Add delivery: %.2lf\n", gDeliveryArg.selectedOL_AMOUNT);
  printf("Subtract payment: %.2lf\n", gPaymentArg.H_AMOUNT);
  printf("Final balance: %.2f\n", gC_BALANCE2);
  char sum[128];
  snprintf(sum, sizeof sum, "starting balance %.2f + delivery %.2f - payment %.2f", gC_BALANCE1,
           gDeliveryArg.selectedOL_AMOUNT, gPaymentArg.H_AMOUNT);
  return finishBalanceTest(5, (gDeliveryArg.selectedOL_AMOUNT + gC_BALANCE1) - gPaymentArg.H_AMOUNT,
                           sum);
}
