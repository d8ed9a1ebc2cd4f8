// TPC-C isolation test 3: T1's New-Order commits after holding the district
// for 30 s; T2's New-Order for the same district must wait for it and take
// the next order number after T1's.
#include <cstdio>

#include "IsolationFrame.h"
#include "TwoNewOrders.h"
#include "Verdict.h"

using namespace acidkit;

int main() {
  if (runTwoNewOrders({1013, 2013, 3013, 4013, 5013}, {1023, 2023, 3023, 4023, 5023}) != 0) {
    return 1;
  }
  const int32_t t1 = gNewOrderArg1.O_ID, t2 = gNewOrderArg2.O_ID;
  printf("\n");
  printf("Initial D_NEXT_O_ID : %d\n", gD_NEXT_O_ID1);
  printf("Order id of T1      : %d\n", t1);
  printf("Order id of T2      : %d\n", t2);
  printf("Final D_NEXT_O_ID   : %d\n", gD_NEXT_O_ID2);

  Verdict verdict;
  verdict.ranToItsEnd(gNewOrderRun1, "T1(New-Order)");
  verdict.ranToItsEnd(gNewOrderRun2, "T2(New-Order)");
  verdict.require(t2 == t1 + 1, "T2 took order number %d; after T1's order %d it must take %d", t2,
                  t1, t1 + 1);
  requireT2AfterT1(&verdict);
  return finish(3, verdict);
}
