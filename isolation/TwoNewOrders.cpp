#include "TwoNewOrders.h"

#include <cstdio>

#include "IsolationFrame.h"
#include "Verdict.h"

using namespace acidkit;

NewOrderArg gNewOrderArg2;
int32_t gD_NEXT_O_ID1;
int32_t gD_NEXT_O_ID2;
TransactionRun acidkit::gNewOrderRun1;
TransactionRun acidkit::gNewOrderRun2;

namespace {

std::array<int32_t, 5> gItemsT1;
std::array<int32_t, 5> gItemsT2;

void* NewOrder_T1(void*) {
  fillNewOrderArg(&gNewOrderArg1, "T1", gItemsT1);
  gNewOrderRun1 = traced("T1(New-Order)", kNewOrderError,
                         [] { return NewOrder(&gNewOrderArg1, 0, kPauseSeconds); });
  return nullptr;
}

void* NewOrder_T2(void*) {
  fillNewOrderArg(&gNewOrderArg2, "T2", gItemsT2);
  gNewOrderRun2 =
      traced("T2(New-Order)", kNewOrderError, [] { return NewOrder(&gNewOrderArg2, 0, 0); });
  return nullptr;
}

int readNextOrderId(int32_t* into) {
  *into = getD_NEXT_O_ID();
  if (*into >= 0) return 0;
  puts(kNextOrderIdError);
  return 1;
}

}  // namespace

int acidkit::runTwoNewOrders(const std::array<int32_t, 5>& itemsT1,
                             const std::array<int32_t, 5>& itemsT2) {
  gItemsT1 = itemsT1;
  gItemsT2 = itemsT2;
  drawIds();
  printIds();
  if (setUpEnvironment() != 0) return exitPath();
  if (readNextOrderId(&gD_NEXT_O_ID1) != 0) return exitPath();

  pthread_t t1, t2;
  if (startThread(&t1, NewOrder_T1) != 0) return exitPath();
  sleepSeconds(kSecondThreadDelay);
  if (startThread(&t2, NewOrder_T2) != 0) return exitPath();
  joinThread(t1);
  joinThread(t2);

  if (readNextOrderId(&gD_NEXT_O_ID2) != 0) return exitPath();
  return 0;
}

void acidkit::requireT2AfterT1(Verdict* verdict) {
  const int32_t t2 = gNewOrderArg2.O_ID;
  verdict->require(t2 + 1 == gD_NEXT_O_ID2,
                   "the district's next order number is %d after the test; after T2's order %d "
                   "it must be %d",
                   gD_NEXT_O_ID2, t2, t2 + 1);
  verdict->overlapped(gNewOrderRun2, "T2", gNewOrderRun1, "T1");
  verdict->waitedFor(gNewOrderRun2, "T2", gNewOrderRun1, "T1");
  verdict->noteRetries(gNewOrderRun1, "T1(New-Order)");
  verdict->noteRetries(gNewOrderRun2, "T2(New-Order)");
}
