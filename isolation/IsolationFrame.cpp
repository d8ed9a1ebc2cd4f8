#include "IsolationFrame.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "SideStatements.h"
#include "Verdict.h"

int32_t gW_ID;
int32_t gD_ID;
int32_t gC_ID;
NewOrderArg gNewOrderArg1;

namespace acidkit {

namespace {
// Threads started and not yet joined: while any runs, gEnv stays allocated.
std::atomic<int> gRunningThreads{0};
OdbcEnvironment gEnvironment(&gEnv);
}  // namespace

void drawIds() {
  srand(time(nullptr));
  gW_ID = rand() % kWarehouses + 1;
  gD_ID = rand() % kDistricts + 1;
  gC_ID = rand() % kCustomers + 1;
}

void printIds() {
  printf("W_ID : %d\n", gW_ID);
  printf("D_ID : %d\n", gD_ID);
  printf("C_ID : %d\n\n", gC_ID);
}

int setUpEnvironment() {
  return gEnvironment.allocate(SQL_NULL_HANDLE) &&
                 succeeded(SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0))
             ? 0
             : 1;
}

bool releaseEnvironment() {
  // An environment whose release failed is not released again.
  return gEnvironment.release();
}

int exitPath() {
  // A thread that is still running may be inside a transaction on gEnv: the
  // process's exit releases the environment after it instead.
  if (gRunningThreads.load() == 0) {
    gEnvironment.release();
  } else {
    gEnvironment.abandon();
  }
  return 1;
}

int finish(int testNumber, const Verdict& verdict) {
  verdict.printReasons();
  printf("\n%s\n", isolationVerdictLine(testNumber, verdict.passed()).c_str());
  return releaseEnvironment() ? 0 : 1;
}

int startThread(pthread_t* thread, void* (*function)(void*)) {
  int error = pthread_create(thread, nullptr, function, nullptr);
  if (error != 0) {
    printf("\ncan't create thread :[%s]", strerror(error));
    return 1;
  }
  ++gRunningThreads;
  return 0;
}

void joinThread(pthread_t thread) {
  pthread_join(thread, nullptr);
  --gRunningThreads;
}

void sleepSeconds(unsigned seconds) {
  for (unsigned left = seconds; left > 0;) left = sleep(left);
}

void fillNewOrderArg(NewOrderArg* arg, const char* label, const std::array<int32_t, 5>& items) {
  snprintf(arg->label, sizeof arg->label, "%s", label);
  arg->W_ID = gW_ID;
  arg->D_ID = gD_ID;
  arg->C_ID = gC_ID;
  arg->O_OL_CNT = 5;
  arg->O_ALL_LOCAL = 1;
  for (int k = 1; k <= 5; ++k) {
    NewOrderLine& line = arg->orderLines[k - 1];
    line.OL_SUPPLY_W_ID = gW_ID;
    line.OL_I_ID = items[k - 1];
    line.OL_QUANTITY = k;
  }
}

void printNewOrderResults(const NewOrderArg& t2) {
  printf("New order results:\n");
  printf("T2 Customer last name: %s\n", t2.C_LAST);
  printf("T2 Order ID: %d\n", t2.O_ID);
  printf("T2 # order lines: %d\n", t2.O_OL_CNT);
}

void fillOrderStatusArg(OrderStatusByIdArg* arg, const char* label) {
  snprintf(arg->label, sizeof arg->label, "%s", label);
  arg->W_ID = gW_ID;
  arg->D_ID = gD_ID;
  arg->C_ID = gC_ID;
}

int SideConnection::open() {
  if (!connection_.allocate() || !connection_.connect() ||
      !connection_.set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE) ||
      !stmt_.allocate(connection_.get())) {
    return fail();
  }
  return 0;
}

int SideConnection::fail() {
  if (stmt() != SQL_NULL_HSTMT) {
    readFirstDiagnostic(SQL_HANDLE_STMT, stmt(), message_, sizeof message_);
    puts(message_);
  }
  if (connection_.get() != SQL_NULL_HDBC) {
    readFirstDiagnostic(SQL_HANDLE_DBC, connection_.get(), message_, sizeof message_);
    printf("\n%s\n", message_);
  }
  stmt_.release();
  connection_.close();
  return 1;
}

int SideConnection::close() {
  if (!stmt_.release() || !connection_.disconnect() || !connection_.release()) return fail();
  return 0;
}

}  // namespace acidkit

int32_t getD_NEXT_O_ID() {
  using acidkit::SideConnection;
  int32_t next = -1;
  SideConnection c;
  if (c.open() != 0) return -1;
  SQLHSTMT s = c.stmt();
  if (c.check(SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &gD_ID, 0,
                               nullptr)) != 0 ||
      c.check(SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &gW_ID, 0,
                               nullptr)) != 0 ||
      c.check(SQLBindParameter(s, 3, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &next, 0,
                               nullptr)) != 0 ||
      c.check(SQLExecDirect(s, (SQLCHAR*)kGetNextDistrictOrderID, SQL_NTS)) != 0 ||
      c.close() != 0) {
    return -1;
  }
  return next;
}
