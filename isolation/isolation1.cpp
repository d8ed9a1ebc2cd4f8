// TPC-C isolation test 1: T2's Order-Status for the customer of T1's
// New-Order starts while T1 holds its order open for 30 s; it must wait and
// return the order that T1 commits, as T3 does afterwards.
#include <cstring>

#include "IsolationFrame.h"
#include "TwoOrderStatus.h"

int main() {
  bool threadsSucceeded = false;
  if (runOrderStatusAroundNewOrder(false, {1001, 2001, 3001, 4001, 5001}, &threadsSucceeded) != 0) {
    return 1;
  }
  printOrderStatusReport(false);

  const NewOrderArg& t1 = gNewOrderArg1;
  const OrderStatusByIdArg& t2 = gOrderStatusByIdArg2;
  const OrderStatusByIdArg& t3 = gOrderStatusByIdArg3;
  bool passed = strcmp(t1.C_LAST, t2.C_LAST) == 0 && strcmp(t2.C_LAST, t3.C_LAST) == 0 &&
                t2.O_ID == t1.O_ID && t3.O_ID == t1.O_ID && t2.orderLineCount == t1.O_OL_CNT &&
                t3.orderLineCount == t1.O_OL_CNT;
  // What a failed transaction left in its record proves nothing.
  return finish(1, passed && threadsSucceeded);
}
