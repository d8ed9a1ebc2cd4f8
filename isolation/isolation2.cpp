// TPC-C isolation test 2: as test 1, but T1's New-Order (its last item does
// not exist) rolls back after 30 s. T2 and T3 must return the customer's
// order as T0 saw it before T1 began.
#include <cstring>

#include "IsolationFrame.h"
#include "TwoOrderStatus.h"

int main() {
  bool threadsSucceeded = false;
  if (runOrderStatusAroundNewOrder(true, {1002, 2002, 3002, 4002, -1}, &threadsSucceeded) != 0) {
    return 1;
  }
  printOrderStatusReport(true);

  const OrderStatusByIdArg& t0 = gOrderStatusByIdArg0;
  const OrderStatusByIdArg& t2 = gOrderStatusByIdArg2;
  const OrderStatusByIdArg& t3 = gOrderStatusByIdArg3;
  bool passed = strcmp(gNewOrderArg1.C_LAST, t0.C_LAST) == 0 && strcmp(t2.C_LAST, t0.C_LAST) == 0 &&
                strcmp(t3.C_LAST, t0.C_LAST) == 0 && t2.O_ID == t0.O_ID && t3.O_ID == t0.O_ID &&
                t2.orderLineCount == t0.orderLineCount && t3.orderLineCount == t0.orderLineCount;
  // T1 must have rolled back as planned, not failed.
  return finish(2, passed && threadsSucceeded && gNewOrderArg1.rollbackFlag);
}
