// TPC-C isolation test 2: as test 1, but T1's New-Order (its last item does
// not exist) rolls back after 30 s. T2 and T3 must return the customer's
// order as T0 saw it before T1 began.
#include <cstring>

#include "IsolationFrame.h"
#include "TwoOrderStatus.h"
#include "Verdict.h"

using namespace acidkit;

namespace {

// What an Order-Status after T0 returned, against what T0 found.
void requireT0sOrder(Verdict* verdict, const char* label, const OrderStatusByIdArg& t) {
  const OrderStatusByIdArg& t0 = gOrderStatusByIdArg0;
  const NewOrderArg& t1 = gNewOrderArg1;
  verdict->require(strcmp(t.C_LAST, t0.C_LAST) == 0,
                   "%s's customer last name \"%s\" differs from T0's \"%s\"", label, t.C_LAST,
                   t0.C_LAST);
  if (t.O_ID == t1.O_ID && t1.O_ID != t0.O_ID) {
    verdict->require(false, "%s returned T1's order %d, which T1 rolled back: uncommitted data",
                     label, t.O_ID);
  } else {
    verdict->require(t.O_ID == t0.O_ID,
                     "%s returned order %d, not order %d that T0 found before T1", label, t.O_ID,
                     t0.O_ID);
  }
  verdict->require(t.orderLineCount == t0.orderLineCount, "%s read %d order lines; T0 read %d",
                   label, t.orderLineCount, t0.orderLineCount);
}

}  // namespace

int main() {
  if (runOrderStatusAroundNewOrder(true, {1002, 2002, 3002, 4002, -1}) != 0) return 1;
  printOrderStatusReport(true);

  Verdict verdict;
  verdict.ranToItsEnd(gNewOrderRun, "T1(New-Order)");
  verdict.require(!gNewOrderRun.succeeded() || gNewOrderArg1.rollbackFlag,
                  "T1(New-Order) did not roll back at its missing fifth item");
  verdict.ranToItsEnd(gOrderStatusRun, "T2(Order-Status)");
  verdict.require(strcmp(gNewOrderArg1.C_LAST, gOrderStatusByIdArg0.C_LAST) == 0,
                  "T1's customer last name \"%s\" differs from T0's \"%s\"", gNewOrderArg1.C_LAST,
                  gOrderStatusByIdArg0.C_LAST);
  requireT0sOrder(&verdict, "T2", gOrderStatusByIdArg2);
  requireT0sOrder(&verdict, "T3", gOrderStatusByIdArg3);
  verdict.overlapped(gOrderStatusRun, "T2", gNewOrderRun, "T1");
  verdict.noteRetries(gNewOrderRun, "T1(New-Order)");
  verdict.noteRetries(gOrderStatusRun, "T2(Order-Status)");
  return finish(2, verdict);
}
