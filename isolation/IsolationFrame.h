// What the nine isolation programs share: the drawn ids, the environment,
// the transaction threads, short connections of their own for reads and
// updates outside the transactions, and the verdict. The globals and
// getD_NEXT_O_ID keep their fixed names; the rest is the kit's own, in
// namespace acidkit.
#pragma once

#include <pthread.h>
#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstdint>
#include <cstdio>

#include "NewOrder.h"
#include "Odbc.h"
#include "OrderStatus.h"
#include "OutputLines.h"
#include "config.h"
#include "support.h"

extern int32_t gW_ID;
extern int32_t gD_ID;
extern int32_t gC_ID;

// T1's New-Order in tests 1 to 4 (defined once: the programs share one library).
extern NewOrderArg gNewOrderArg1;

// The district's next order number for gW_ID, gD_ID, or -1 on failure.
int32_t getD_NEXT_O_ID();

namespace acidkit {

// srand(time(NULL)), then W, D and C drawn in that order.
void drawIds();
// "W_ID : %d\n", "D_ID : %d\n", "C_ID : %d\n\n".
void printIds();
// Allocates gEnv and declares ODBC 3; 0 or 1.
int setUpEnvironment();
// Releases gEnv (unless a thread may still use it) and gives exit status 1.
int exitPath();
// Releases gEnv at the end of a run; false when that failed.
bool releaseEnvironment();

class Verdict;
// Prints the verdict's reasons when it failed and then its line, releases
// gEnv and gives the exit status.
int finish(int testNumber, const Verdict& verdict);

// Starts a transaction thread, or prints "\ncan't create thread :[...]"
// and returns 1.
int startThread(pthread_t* thread, void* (*function)(void*));
void joinThread(pthread_t thread);
// Whole-second sleep between thread starts that a signal does not cut short.
void sleepSeconds(unsigned seconds);

// What one transaction of a test did: its result, when its call began and
// returned (monotonic seconds), and what its trace recorded meanwhile.
struct TransactionRun {
  int result = 1;  // 1 until the call returned 0
  double started = -1;
  double ended = -1;
  CallTrace trace;
  bool succeeded() const { return result == 0; }
};

// A transaction run on a test thread: "<name> start", the call, the error
// line when it fails, "<name> end".
template <class Call>
TransactionRun traced(const char* name, const char* errorText, Call call);

// Fills a New-Order record of the tests: the drawn ids, five lines of the
// given items from the home warehouse with quantity k on line k.
void fillNewOrderArg(NewOrderArg* arg, const char* label, const std::array<int32_t, 5>& items);
// "New order results:" and T2's last name, order number and line count,
// the end of the reports of tests 8 and 9.
void printNewOrderResults(const NewOrderArg& t2);
// Fills an Order-Status record of the tests: the label and the drawn ids.
void fillOrderStatusArg(OrderStatusByIdArg* arg, const char* label);

// A short connection of the program's own, outside the transactions: one
// statement, SQL_TXN_SERIALIZABLE, autocommit left on. Every failure prints
// the statement's first message with puts and the connection's as "\n%s\n",
// releases what was set up and returns 1.
class SideConnection {
 public:
  int open();
  SQLHSTMT stmt() const { return stmt_.get(); }
  // Checks a call's result; on failure runs the failure exit.
  int check(SQLRETURN rc) { return succeeded(rc) ? 0 : fail(); }
  int commit() { return connection_.endTransaction(SQL_COMMIT) ? 0 : fail(); }
  // Frees the statement, disconnects and frees the connection; what failed
  // to be released is not released again, the failure exit releases the rest.
  int close();
  int fail();

 private:
  OdbcConnection connection_;
  OdbcStatement stmt_;
  char message_[256] = {};
};

// --- template implementation ---

template <class Call>
TransactionRun traced(const char* name, const char* errorText, Call call) {
  char line[64];
  snprintf(line, sizeof line, "%s start", name);
  printWithTime(line);
  TransactionRun run;
  callTrace() = {};
  run.started = monotonicSeconds();
  run.result = call();
  run.ended = monotonicSeconds();
  run.trace = callTrace();
  if (run.result != 0) puts(errorText);
  snprintf(line, sizeof line, "%s end", name);
  printWithTime(line);
  return run;
}

}  // namespace acidkit
