// TPC-C isolation test 3: T1's New-Order commits after holding the district
// for 30 s; T2's New-Order for the same district must wait for it and take
// the next order number after T1's.
#include <cstdio>

#include "IsolationFrame.h"
#include "TwoNewOrders.h"

int main() {
  if (runTwoNewOrders({1013, 2013, 3013, 4013, 5013}, {1023, 2023, 3023, 4023, 5023}) != 0) {
    return 1;
  }
  printf("\n");
  printf("Initial D_NEXT_O_ID : %d\n", gD_NEXT_O_ID1);
  printf("Order id of T1      : %d\n", gNewOrderArg1.O_ID);
  printf("Order id of T2      : %d\n", gNewOrderArg2.O_ID);
  printf("Final D_NEXT_O_ID   : %d\n", gD_NEXT_O_ID2);

  bool passed =
      gNewOrderArg2.O_ID + 1 == gD_NEXT_O_ID2 && gNewOrderArg2.O_ID == gNewOrderArg1.O_ID + 1;
  // An order number read from a failed New-Order proves nothing.
  return finish(3, passed && gNewOrderResult1 == 0 && gNewOrderResult2 == 0);
}
