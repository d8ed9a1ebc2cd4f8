// TPC-C isolation test 9: T1's Order-Status reads the customer's latest order,
// pauses 30 s and reads it again in the same transaction; T2's New-Order for
// the same customer starts 10 s after T1. Both reads must find the same order:
// no phantom.
#include <cstdio>

#include "IsolationFrame.h"
#include "Verdict.h"

using namespace acidkit;

OrderStatusByIdArg gOrderStatusByIdArg;
NewOrderArg gNewOrderArg;

namespace {

TransactionRun gOrderStatusRun;
TransactionRun gNewOrderRun;

void* OrderStatus_T1(void*) {
  fillOrderStatusArg(&gOrderStatusByIdArg, "T1");
  gOrderStatusRun = traced("T1(Order-Status)", kOrderStatusError,
                           [] { return OrderStatus(&gOrderStatusByIdArg, kPauseSeconds); });
  return nullptr;
}

void* NewOrder_T2(void*) {
  fillNewOrderArg(&gNewOrderArg, "T2", {1009, 2009, 3009, 4009, 5009});
  gNewOrderRun =
      traced("T2(New-Order)", kNewOrderError, [] { return NewOrder(&gNewOrderArg, 0, 0); });
  return nullptr;
}

}  // namespace

int main() {
  drawIds();
  printIds();
  if (setUpEnvironment() != 0) return exitPath();

  pthread_t t1, t2;
  if (startThread(&t1, OrderStatus_T1) != 0) return exitPath();
  sleepSeconds(kSecondThreadDelay);
  if (startThread(&t2, NewOrder_T2) != 0) return exitPath();
  joinThread(t2);
  joinThread(t1);

  const OrderStatusByIdArg& t1Result = gOrderStatusByIdArg;
  printf("\n");
  printf("Order status results\n");
  printf("T1 Order ID: %d -> %d\n", t1Result.oIdBeforePause, t1Result.O_ID);
  printf("\n");
  printNewOrderResults(gNewOrderArg);

  // A T1 that failed before its first read leaves 0 -> 0: equal, yet nothing
  // was tested. Only two transactions that both succeeded decide, and only
  // if T2 committed its order while T1 paused between its reads.
  Verdict verdict;
  verdict.ranToItsEnd(gOrderStatusRun, "T1(Order-Status)");
  verdict.ranToItsEnd(gNewOrderRun, "T2(New-Order)");
  verdict.require(!gNewOrderRun.succeeded() || !gNewOrderArg.rollbackFlag,
                  "T2(New-Order) rolled back, so it gave the customer no newer order");
  if (t1Result.O_ID == gNewOrderArg.O_ID && t1Result.oIdBeforePause != gNewOrderArg.O_ID) {
    verdict.require(false,
                    "T1 read order %d before its pause and %d after it: the order T2 inserted "
                    "(a phantom)",
                    t1Result.oIdBeforePause, t1Result.O_ID);
  } else {
    verdict.require(t1Result.O_ID == t1Result.oIdBeforePause,
                    "T1 read order %d before its pause and %d after it", t1Result.oIdBeforePause,
                    t1Result.O_ID);
  }
  verdict.overlapped(gNewOrderRun, "T2", gOrderStatusRun, "T1");
  // A T1 run again after T2 had ended read the same order twice, yet nothing
  // was inserted between its reads: no phantom test took place.
  const CallTrace& t1Trace = gOrderStatusRun.trace;
  verdict.require(
      !gNewOrderRun.succeeded() || t1Trace.retries == 0 || t1Trace.lastRetryAt < gNewOrderRun.ended,
      "T1(Order-Status) was rolled back and run again after T2 had ended, so nothing "
      "was inserted between its two reads: no phantom test took place");
  verdict.noteRetries(gOrderStatusRun, "T1(Order-Status)");
  verdict.noteRetries(gNewOrderRun, "T2(New-Order)");
  return finish(9, verdict);
}
