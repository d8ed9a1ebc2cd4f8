// TPC-C isolation test 8: a phantom between a Delivery and a New-Order. The
// district's NEW_ORDER rows are parked in district 255 so that T1's Delivery
// finds the district empty, pauses 30 s inside its transaction and reads it
// again; T2's New-Order adds an order to the district 20 s after T1 started.
// A Delivery protected against phantoms does not find that order.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "DeliveryT1.h"
#include "InvalidDistrict.h"
#include "IsolationFrame.h"
#include "NewOrder.h"

DeliveryArg gDeliveryArg;
NewOrderArg gNewOrderArg;

namespace {

int gDeliveryResult = 1;
int gNewOrderResult = 1;

void* Delivery_T1(void*) {
  fillDeliveryArg(&gDeliveryArg);
  gDeliveryResult = traced("T1(Delivery)", kDeliveryError,
                           [] { return Delivery(&gDeliveryArg, kPauseSeconds, 1, 0); });
  return nullptr;
}

void* NewOrder_T2(void*) {
  fillNewOrderArg(&gNewOrderArg, "T2", {1008, 2008, 3008, 4008, 5008});
  gNewOrderResult =
      traced("T2(New-Order)", kNewOrderError, [] { return NewOrder(&gNewOrderArg, 0, 0); });
  return nullptr;
}

void printRepairHint() {
  printf(
      "The NEW_ORDER rows of warehouse %d, district %d are in district 255; move them back "
      "with: repair-new-order %d %d\n",
      gW_ID, gD_ID, gW_ID, gD_ID);
}

// While the rows are parked, SIGINT, SIGTERM and SIGHUP must bring them back
// before the process ends. The signals are blocked in every thread; one
// thread waits for them and moves the rows back on a connection of its own.
// gParkLock covers parking, unparking and the starts of the transaction
// threads: once the watcher holds it, it never lets go (the process ends),
// so no thread starts and no move happens behind its back.
sigset_t gStopSignals;
pthread_mutex_t gParkLock = PTHREAD_MUTEX_INITIALIZER;
bool gRowsParked = false;  // under gParkLock

const char* signalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "SIGHUP";
  }
}

void* watchStopSignals(void*) {
  int sig = 0;
  while (sigwait(&gStopSignals, &sig) != 0) {
  }
  pthread_mutex_lock(&gParkLock);
  if (gRowsParked) {
    printf(
        "\nInterrupted by %s: moving the NEW_ORDER rows of warehouse %d back from district 255 "
        "to district %d (after the running transactions end)\n",
        signalName(sig), gW_ID, gD_ID);
    fflush(stdout);
    // A lock wait can time out while T1 sleeps on its locks: try again.
    int failed = 1;
    for (int attempt = 0; attempt < kMaxAttempts && failed != 0; ++attempt) {
      failed = resotreDistrictID();
    }
    if (failed != 0) {
      puts("Error restore all rows(NEW-ORDER)");
      printRepairHint();
    } else {
      puts("NEW_ORDER rows restored");
    }
  } else {
    printf("\nInterrupted by %s\n", signalName(sig));
  }
  fflush(stdout);
  // Transaction threads may be inside ODBC calls: end without running exit
  // handlers under them; the server rolls back their open transactions.
  _exit(1);
}

int guardParkedRows() {
  sigemptyset(&gStopSignals);
  sigaddset(&gStopSignals, SIGINT);
  sigaddset(&gStopSignals, SIGTERM);
  sigaddset(&gStopSignals, SIGHUP);
  // Threads created from here on (ours and the driver's) inherit the mask.
  pthread_sigmask(SIG_BLOCK, &gStopSignals, nullptr);
  // Output into a pipe whose reader is gone (Ctrl-C on "isolation8 | tee")
  // must not end the program before the rows are back.
  signal(SIGPIPE, SIG_IGN);
  pthread_t watcher;
  int error = pthread_create(&watcher, nullptr, watchStopSignals, nullptr);
  if (error != 0) {
    printf("\ncan't create thread :[%s]", strerror(error));
    return 1;
  }
  return 0;
}

// Rows in district 255 are left by a run that could not move them back; a
// second parking would mix them with this district's rows for good.
int checkInvalidDistrictEmpty() {
  int32_t parked = countInvalidDistrictRows();
  if (parked < 0) {
    printf("Error reading district 255 of warehouse %d\n", gW_ID);
    return 1;
  }
  if (parked > 0) {
    printf(
        "District 255 of warehouse %d holds %d NEW_ORDER rows left by an earlier isolation8 "
        "run. Nothing was changed.\nMove them back to their district with: repair-new-order %d "
        "<its D_ID> (repair-new-order %d lists the districts they fit)\n",
        gW_ID, parked, gW_ID, gW_ID);
    return 1;
  }
  return 0;
}

// A move that reports a failure may still have been committed (a failing
// release after the update): district 255, empty before, tells.
bool rowsParkedAfterFailure() {
  return countInvalidDistrictRows() != 0;
}

int parkRows() {
  pthread_mutex_lock(&gParkLock);
  int failed = setInvalidDistrictID();
  gRowsParked = failed == 0 || rowsParkedAfterFailure();
  pthread_mutex_unlock(&gParkLock);
  return failed;
}

int unparkRows() {
  pthread_mutex_lock(&gParkLock);
  int failed = resotreDistrictID();
  gRowsParked = failed != 0 && rowsParkedAfterFailure();
  pthread_mutex_unlock(&gParkLock);
  if (failed != 0) {
    puts("Error restore all rows(NEW-ORDER)");
    if (gRowsParked) printRepairHint();
  }
  return failed;
}

int startGuarded(pthread_t* thread, void* (*function)(void*)) {
  pthread_mutex_lock(&gParkLock);
  int failed = startThread(thread, function);
  pthread_mutex_unlock(&gParkLock);
  return failed;
}

}  // namespace

int main() {
  drawIds();
  printIds();
  if (setUpEnvironment() != 0) return exitPath();
  if (guardParkedRows() != 0 || checkInvalidDistrictEmpty() != 0) return exitPath();
  if (parkRows() != 0) {
    puts("Error remove all rows(NEW-ORDER)");
    if (gRowsParked) unparkRows();
    return exitPath();
  }

  pthread_t t1, t2;
  if (startGuarded(&t1, Delivery_T1) != 0) {
    unparkRows();  // nothing runs on the rows yet
    return exitPath();
  }
  sleepSeconds(kLateThreadDelay);
  // Without T2 the rows still wait for T1 to end before they go back.
  bool t2Started = startGuarded(&t2, NewOrder_T2) == 0;
  if (t2Started) joinThread(t2);
  // The message has no line end of its own: T1's end line follows it here.
  if (!t2Started) putchar('\n');
  joinThread(t1);
  if (unparkRows() != 0 || !t2Started) return exitPath();

  printf("\n");
  puts("Delivery results");
  for (int d = 1; d <= kDistricts; ++d) {
    printf("[%2d] : %d\n", d, gDeliveryArg.deliveredO_ID[d - 1]);
  }
  printf("\n");
  puts("New order results:");
  printf("T2 Customer last name: %s\n", gNewOrderArg.C_LAST);
  printf("T2 Order ID: %d\n", gNewOrderArg.O_ID);
  printf("T2 # order lines: %d\n", gNewOrderArg.O_OL_CNT);

  // -1 proves nothing unless T1 really ran to its end and T2's order was
  // really committed while T1 looked.
  bool passed = gDeliveryArg.deliveredO_ID[gD_ID - 1] == -1;
  return finish(
      8, passed && gDeliveryResult == 0 && gNewOrderResult == 0 && !gNewOrderArg.rollbackFlag);
}
