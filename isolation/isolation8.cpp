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
#include "Verdict.h"

using namespace acidkit;

DeliveryArg gDeliveryArg;
NewOrderArg gNewOrderArg;

namespace {

TransactionRun gDeliveryRun;
TransactionRun gNewOrderRun;

void* Delivery_T1(void*) {
  fillDeliveryArg(&gDeliveryArg);
  gDeliveryRun = traced("T1(Delivery)", kDeliveryError,
                        [] { return Delivery(&gDeliveryArg, kPauseSeconds, 1, 0); });
  return nullptr;
}

void* NewOrder_T2(void*) {
  fillNewOrderArg(&gNewOrderArg, "T2", {1008, 2008, 3008, 4008, 5008});
  gNewOrderRun =
      traced("T2(New-Order)", kNewOrderError, [] { return NewOrder(&gNewOrderArg, 0, 0); });
  return nullptr;
}

void printRepairHint() {
  printf(
      "The NEW_ORDER rows of warehouse %d, district %d are in district 255; move them back "
      "with: repair-new-order %d %d\n",
      gW_ID, gD_ID, gW_ID, gD_ID);
}

// Where the rows are is not known: say why, and how to look.
void printCheckHint(const char* why) {
  printf(
      "%s Check with: repair-new-order %d (it lists what district 255 holds), then, if it lists "
      "rows: repair-new-order %d %d\n",
      why, gW_ID, gW_ID, gD_ID);
}

// When a move reported a failure and district 255 could not be counted
// either, nobody knows where the rows are; a move back would be a guess.
void printUnknownHint() {
  char why[200];
  snprintf(why, sizeof why,
           "Cannot tell whether the NEW_ORDER rows of warehouse %d, district %d are in district "
           "255: counting them failed (see above).",
           gW_ID, gD_ID);
  printCheckHint(why);
}

// Where the district's rows are, as far as this program knows.
enum class Parked { no, yes, unknown };

// While the rows are parked, SIGINT, SIGTERM and SIGHUP must bring them back
// before the process ends. The signals are blocked in every thread; one
// thread waits for them and moves the rows back on a connection of its own.
// gParkLock covers parking, unparking, the starts of the transaction threads
// and the release of gEnv: once the watcher holds it, it never lets go (the
// process ends), so no thread starts, no move happens behind its back and
// gEnv is not freed under it; once main holds it for the release, the
// watcher cannot act any more.
sigset_t gStopSignals;
pthread_mutex_t gParkLock = PTHREAD_MUTEX_INITIALIZER;
Parked gRowsParked = Parked::no;  // under gParkLock
// The process's last words: the restore's outcome, or a second signal.
pthread_mutex_t gEndLock = PTHREAD_MUTEX_INITIALIZER;

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

int nextStopSignal() {
  int sig = 0;
  while (sigwait(&gStopSignals, &sig) != 0) {
  }
  return sig;
}

// Transaction threads may be inside ODBC calls: end without running exit
// handlers under them; the server rolls back their open transactions.
[[noreturn]] void endNow() {
  fflush(stdout);
  _exit(1);
}

void* restoreAfterSignal(void*) {
  // A lock wait can time out while T1 sleeps on its locks: try again.
  int failed = 1;
  for (int attempt = 0; attempt < kMaxAttempts && failed != 0; ++attempt) {
    failed = resotreDistrictID();
  }
  pthread_mutex_lock(&gEndLock);
  if (failed != 0) {
    puts(kRestoreRowsError);
    printRepairHint();
  } else {
    puts("NEW_ORDER rows restored");
  }
  endNow();
}

void* watchStopSignals(void*) {
  int sig = nextStopSignal();
  pthread_mutex_lock(&gParkLock);
  if (gRowsParked == Parked::no) {
    printf("\nInterrupted by %s\n", signalName(sig));
    endNow();
  }
  if (gRowsParked == Parked::unknown) {
    printf("\nInterrupted by %s\n", signalName(sig));
    printUnknownHint();
    endNow();
  }
  printf(
      "\nInterrupted by %s: moving the NEW_ORDER rows of warehouse %d back from district 255 "
      "to district %d (after the running transactions end)\n",
      signalName(sig), gW_ID, gD_ID);
  fflush(stdout);
  // The move may wait for T1's locks (its pause, or up to six lock wait
  // timeouts): a second signal must still end the program at once.
  pthread_t restorer;
  if (pthread_create(&restorer, nullptr, restoreAfterSignal, nullptr) != 0) {
    restoreAfterSignal(nullptr);
  }
  printf("Send %s again to end at once and leave the rows in district 255\n", signalName(sig));
  fflush(stdout);
  int again = nextStopSignal();
  pthread_mutex_lock(&gEndLock);
  printf("\nInterrupted again by %s: ending without waiting for the rows to move back\n",
         signalName(again));
  // The move already sent may still be applied once the locks it waits for
  // go with this process's transactions.
  char why[200];
  snprintf(why, sizeof why,
           "The move of the NEW_ORDER rows of warehouse %d back to district %d may still finish "
           "on the server.",
           gW_ID, gD_ID);
  printCheckHint(why);
  endNow();
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

// Before gEnv is released: the watcher must not start a move on it. Held
// until the process ends.
void stopGuarding() {
  pthread_mutex_lock(&gParkLock);
}

int exitGuarded() {
  stopGuarding();
  return exitPath();
}

// Rows in district 255 are left by a run that could not move them back; a
// second parking would mix them with this district's rows for good.
int checkInvalidDistrictEmpty() {
  int32_t parked = countInvalidDistrictRows();
  if (parked < 0) {
    printf("%s%d\n", kDistrict255ReadErrorPrefix, gW_ID);
    return 1;
  }
  if (parked > 0) {
    printf(
        "%s%d holds %d NEW_ORDER rows left by an earlier isolation8 "
        "run. Nothing was changed.\nMove them back to their district with: repair-new-order %d "
        "<its D_ID> (repair-new-order %d lists the districts they fit)\n",
        kDistrict255HoldsRowsPrefix, gW_ID, parked, gW_ID, gW_ID);
    return 1;
  }
  return 0;
}

// A move that reports a failure may still have been committed (a failing
// release after the update): district 255, empty before, tells, unless it
// cannot be counted.
Parked rowsParkedAfterFailure() {
  int32_t parked = countInvalidDistrictRows();
  return parked < 0 ? Parked::unknown : parked > 0 ? Parked::yes : Parked::no;
}

int parkRows() {
  pthread_mutex_lock(&gParkLock);
  int failed = setInvalidDistrictID();
  gRowsParked = failed == 0 ? Parked::yes : rowsParkedAfterFailure();
  pthread_mutex_unlock(&gParkLock);
  return failed;
}

int unparkRows() {
  pthread_mutex_lock(&gParkLock);
  int failed = resotreDistrictID();
  gRowsParked = failed == 0 ? Parked::no : rowsParkedAfterFailure();
  pthread_mutex_unlock(&gParkLock);
  if (failed != 0) {
    puts(kRestoreRowsError);
    if (gRowsParked == Parked::yes) printRepairHint();
    if (gRowsParked == Parked::unknown) printUnknownHint();
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
  if (guardParkedRows() != 0 || checkInvalidDistrictEmpty() != 0) return exitGuarded();
  if (parkRows() != 0) {
    puts(kParkRowsError);
    if (gRowsParked == Parked::yes) unparkRows();
    if (gRowsParked == Parked::unknown) printUnknownHint();
    return exitGuarded();
  }

  pthread_t t1, t2;
  if (startGuarded(&t1, Delivery_T1) != 0) {
    unparkRows();  // nothing runs on the rows yet
    return exitGuarded();
  }
  sleepSeconds(kLateThreadDelay);
  // Without T2 the rows still wait for T1 to end before they go back.
  bool t2Started = startGuarded(&t2, NewOrder_T2) == 0;
  if (t2Started) joinThread(t2);
  // The message has no line end of its own: T1's end line follows it here.
  if (!t2Started) putchar('\n');
  joinThread(t1);
  if (unparkRows() != 0 || !t2Started) return exitGuarded();

  const int32_t delivered = gDeliveryArg.deliveredO_ID[gD_ID - 1];
  printf("\n");
  puts("Delivery results");
  for (int d = 1; d <= kDistricts; ++d) {
    printf("[%2d] : %d\n", d, gDeliveryArg.deliveredO_ID[d - 1]);
  }
  printf("\n");
  printNewOrderResults(gNewOrderArg);

  // -1 proves nothing unless T1 really looked twice in one transaction and
  // T2's order was really committed while T1 paused.
  Verdict verdict;
  verdict.ranToItsEnd(gDeliveryRun, "T1(Delivery)");
  verdict.ranToItsEnd(gNewOrderRun, "T2(New-Order)");
  verdict.require(!gNewOrderRun.succeeded() || !gNewOrderArg.rollbackFlag,
                  "T2(New-Order) rolled back, so it added no order to district %d", gD_ID);
  const CallTrace& t1Trace = gDeliveryRun.trace;
  verdict.require(!gDeliveryRun.succeeded() || t1Trace.pauses > 0,
                  "T1(Delivery) found orders in district %d at its first look and never paused: "
                  "no phantom test took place",
                  gD_ID);
  // The pause is used up once taken: an attempt after it reads the district
  // once, in a transaction of its own, and may rightly find T2's committed
  // order. That is no phantom, and no test either.
  bool rerunAfterPause =
      t1Trace.pauses > 0 && t1Trace.retries > 0 && t1Trace.lastRetryAt >= t1Trace.lastPauseStarted;
  verdict.require(!rerunAfterPause,
                  "T1(Delivery) was rolled back after its pause (deadlock or lock wait timeout) "
                  "and ran again without it, so its last look at district %d was not in the "
                  "transaction that had found it empty: no phantom test took place; run "
                  "isolation8 again",
                  gD_ID);
  if (!rerunAfterPause && delivered == gNewOrderArg.O_ID) {
    verdict.require(false,
                    "T1 delivered order %d in district %d after its pause: the order T2 inserted "
                    "while T1 held the district (a phantom)",
                    delivered, gD_ID);
  } else if (!rerunAfterPause) {
    verdict.require(delivered == -1,
                    "T1 delivered order %d in district %d, which it had found empty before its "
                    "pause",
                    delivered, gD_ID);
  }
  verdict.overlapped(gNewOrderRun, "T2", gDeliveryRun, "T1");
  verdict.noteRetries(gDeliveryRun, "T1(Delivery)");
  verdict.noteRetries(gNewOrderRun, "T2(New-Order)");
  stopGuarding();
  return finish(8, verdict);
}
