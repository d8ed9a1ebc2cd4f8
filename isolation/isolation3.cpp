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
  verdict.require(t2 + 1 == gD_NEXT_O_ID2,
                  "the district's next order number is %d after the test; after T2's order %d it "
                  "must be %d",
                  gD_NEXT_O_ID2, t2, t2 + 1);
  // T2 wrote the district row that T1 had changed: it must have waited.
  verdict.overlapped(gNewOrderRun2, "T2", gNewOrderRun1, "T1");
  verdict.waitedFor(gNewOrderRun2, "T2", gNewOrderRun1, "T1");
  verdict.noteRetries(gNewOrderRun1, "T1(New-Order)");
  verdict.noteRetries(gNewOrderRun2, "T2(New-Order)");
  return finish(3, verdict);
}
