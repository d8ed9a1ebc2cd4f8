#include "TwoOrderStatus.h"

#include <cstdio>

#include "IsolationFrame.h"
#include "support.h"

using namespace acidkit;

OrderStatusByIdArg gOrderStatusByIdArg0;
OrderStatusByIdArg gOrderStatusByIdArg2;
OrderStatusByIdArg gOrderStatusByIdArg3;
TransactionRun acidkit::gNewOrderRun;
TransactionRun acidkit::gOrderStatusRun;

namespace {

std::array<int32_t, 5> gItemsT1;

void* NewOrder_T1(void*) {
  fillNewOrderArg(&gNewOrderArg1, "T1", gItemsT1);
  gNewOrderRun = traced("T1(New-Order)", kNewOrderError,
                        [] { return NewOrder(&gNewOrderArg1, 0, kPauseSeconds); });
  return nullptr;
}

void* OrderStatus_T2(void*) {
  fillOrderStatusArg(&gOrderStatusByIdArg2, "T2");
  gOrderStatusRun = traced("T2(Order-Status)", kOrderStatusError,
                           [] { return OrderStatus(&gOrderStatusByIdArg2, 0); });
  return nullptr;
}

// T0 and T3 run on the main thread; without their results there is no
// report to make.
int runOnMainThread(OrderStatusByIdArg* arg, const char* label) {
  fillOrderStatusArg(arg, label);
  char line[40];
  snprintf(line, sizeof line, "%s(Order-Status) start", label);
  printWithTime(line);
  if (OrderStatus(arg, 0) != 0) {
    puts(kMainOrderStatusError);
    return 1;
  }
  snprintf(line, sizeof line, "%s(Order-Status) end", label);
  printWithTime(line);
  return 0;
}

}  // namespace

int acidkit::runOrderStatusAroundNewOrder(bool withT0, const std::array<int32_t, 5>& itemsT1) {
  gItemsT1 = itemsT1;
  drawIds();
  printIds();
  if (setUpEnvironment() != 0) return exitPath();
  if (withT0 && runOnMainThread(&gOrderStatusByIdArg0, "T0") != 0) return exitPath();

  pthread_t t1, t2;
  if (startThread(&t1, NewOrder_T1) != 0) return exitPath();
  sleepSeconds(kSecondThreadDelay);
  if (startThread(&t2, OrderStatus_T2) != 0) return exitPath();
  joinThread(t1);
  joinThread(t2);

  if (runOnMainThread(&gOrderStatusByIdArg3, "T3") != 0) return exitPath();
  return 0;
}

void acidkit::printOrderStatusReport(bool withT0) {
  const OrderStatusByIdArg& t0 = gOrderStatusByIdArg0;
  const OrderStatusByIdArg& t2 = gOrderStatusByIdArg2;
  const OrderStatusByIdArg& t3 = gOrderStatusByIdArg3;
  printf("\n");
  if (withT0) printf("T0 Customer last name: %s\n", t0.C_LAST);
  printf("T1 Customer last name: %s\n", gNewOrderArg1.C_LAST);
  printf("T2 Customer last name: %s\n", t2.C_LAST);
  printf("T3 Customer last name: %s\n", t3.C_LAST);
  printf("\n");
  if (withT0) printf("T0 Order ID: %d\n", t0.O_ID);
  printf("T1 Order ID: %d\n", gNewOrderArg1.O_ID);
  printf("T2 Order ID: %d\n", t2.O_ID);
  printf("T3 Order ID: %d\n", t3.O_ID);
  printf("\n");
  if (withT0) printf("T0 # order lines: %d\n", t0.orderLineCount);
  printf("T1 # order lines: %d\n", gNewOrderArg1.O_OL_CNT);
  printf("T2 # order lines: %d\n", t2.orderLineCount);
  printf("T3 # order lines: %d\n", t3.orderLineCount);
}
