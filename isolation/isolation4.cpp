// TPC-C isolation test 4: T1's New-Order (its last item does not exist)
// rolls back after holding the district for 30 s; T2's New-Order for the
// same district must wait for it and take the order number T1 had taken.
#include <cstdio>

#include "IsolationFrame.h"
#include "TwoNewOrders.h"
#include "Verdict.h"

using namespace acidkit;

int main() {
  if (runTwoNewOrders({1014, 2014, 3014, 4014, -1}, {1024, 2024, 3024, 4024, 5024}) != 0) {
    return 1;
  }
  const int32_t t2 = gNewOrderArg2.O_ID;
  printf("\n");
  printf("Initial D_NEXT_O_ID : %d\n", gD_NEXT_O_ID1);
  printf("Order id of T2      : %d\n", t2);
  printf("Final D_NEXT_O_ID   : %d\n", gD_NEXT_O_ID2);

  Verdict verdict;
  verdict.ranToItsEnd(gNewOrderRun1, "T1(New-Order)");
  verdict.require(!gNewOrderRun1.succeeded() || gNewOrderArg1.rollbackFlag,
                  "T1(New-Order) did not roll back at its missing fifth item");
  verdict.ranToItsEnd(gNewOrderRun2, "T2(New-Order)");
  verdict.require(t2 == gD_NEXT_O_ID1,
                  "T2 took order number %d, not %d, the number T1 took and gave back when it "
                  "rolled back",
                  t2, gD_NEXT_O_ID1);
  requireT2AfterT1(&verdict);
  return finish(4, verdict);
}
