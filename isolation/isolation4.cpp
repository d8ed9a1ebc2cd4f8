// TPC-C isolation test 4: T1's New-Order (its last item does not exist)
// rolls back after holding the district for 30 s; T2's New-Order for the
// same district must wait for it and take the order number T1 had taken.
#include <cstdio>

#include "IsolationFrame.h"
#include "TwoNewOrders.h"

int main() {
  if (runTwoNewOrders({1014, 2014, 3014, 4014, -1}, {1024, 2024, 3024, 4024, 5024}) != 0) {
    return 1;
  }
  printf("\n");
  printf("Initial D_NEXT_O_ID : %d\n", gD_NEXT_O_ID1);
  printf("Order id of T2      : %d\n", gNewOrderArg2.O_ID);
  printf("Final D_NEXT_O_ID   : %d\n", gD_NEXT_O_ID2);

  bool passed = gNewOrderArg2.O_ID + 1 == gD_NEXT_O_ID2 && gNewOrderArg2.O_ID == gD_NEXT_O_ID1;
  // T1 must have rolled back as planned, not failed.
  return finish(
      4, passed && gNewOrderResult1 == 0 && gNewOrderArg1.rollbackFlag && gNewOrderResult2 == 0);
}
