// TPC-C isolation test 1: T2's Order-Status for the customer of T1's
// New-Order starts while T1 holds its order open for 30 s; it must wait and
// return the order that T1 commits, as T3 does afterwards.
#include <cstring>

#include "IsolationFrame.h"
#include "TwoOrderStatus.h"
#include "Verdict.h"

using namespace acidkit;

int main() {
  if (runOrderStatusAroundNewOrder(false, {1001, 2001, 3001, 4001, 5001}) != 0) return 1;
  printOrderStatusReport(false);

  const NewOrderArg& t1 = gNewOrderArg1;
  const OrderStatusByIdArg& t2 = gOrderStatusByIdArg2;
  const OrderStatusByIdArg& t3 = gOrderStatusByIdArg3;
  Verdict verdict;
  verdict.ranToItsEnd(gNewOrderRun, "T1(New-Order)");
  verdict.ranToItsEnd(gOrderStatusRun, "T2(Order-Status)");
  verdict.require(strcmp(t1.C_LAST, t2.C_LAST) == 0,
                  "T2's customer last name \"%s\" differs from T1's \"%s\"", t2.C_LAST, t1.C_LAST);
  verdict.require(strcmp(t2.C_LAST, t3.C_LAST) == 0,
                  "T3's customer last name \"%s\" differs from T2's \"%s\"", t3.C_LAST, t2.C_LAST);
  verdict.require(t2.O_ID == t1.O_ID, "T2 returned order %d, not T1's order %d", t2.O_ID, t1.O_ID);
  verdict.require(t3.O_ID == t1.O_ID, "T3 returned order %d, not T1's order %d", t3.O_ID, t1.O_ID);
  verdict.require(t2.orderLineCount == t1.O_OL_CNT, "T2 read %d order lines; T1's order has %d",
                  t2.orderLineCount, t1.O_OL_CNT);
  verdict.require(t3.orderLineCount == t1.O_OL_CNT, "T3 read %d order lines; T1's order has %d",
                  t3.orderLineCount, t1.O_OL_CNT);
  // T2 met T1's open order: it may return it only once T1 has committed.
  verdict.overlapped(gOrderStatusRun, "T2", gNewOrderRun, "T1");
  if (t2.O_ID == t1.O_ID) verdict.waitedFor(gOrderStatusRun, "T2", gNewOrderRun, "T1");
  verdict.noteRetries(gNewOrderRun, "T1(New-Order)");
  verdict.noteRetries(gOrderStatusRun, "T2(Order-Status)");
  return finish(1, verdict);
}
