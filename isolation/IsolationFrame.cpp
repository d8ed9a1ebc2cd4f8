#include "IsolationFrame.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Verdict.h"

SQLHENV gEnv = SQL_NULL_HENV;
int32_t gW_ID;
int32_t gD_ID;
int32_t gC_ID;
NewOrderArg gNewOrderArg1;

namespace {
// Threads started and not yet joined: while any runs, gEnv stays allocated.
std::atomic<int> gRunningThreads{0};
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
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &gEnv))) {
    gEnv = SQL_NULL_HENV;
    return 1;
  }
  return succeeded(SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) ? 0 : 1;
}

int exitPath() {
  // A thread that is still running may be inside a transaction on gEnv: the
  // process's exit releases the environment after it instead.
  if (gEnv != SQL_NULL_HENV && gRunningThreads.load() == 0) {
    SQLFreeHandle(SQL_HANDLE_ENV, gEnv);
    gEnv = SQL_NULL_HENV;
  }
  return 1;
}

int finish(int testNumber, const Verdict& verdict) {
  verdict.printReasons();
  char line[40];
  snprintf(line, sizeof line, "\nIsolation test %d %s", testNumber,
           verdict.passed() ? "passed" : "failed");
  puts(line);
  if (!succeeded(SQLFreeHandle(SQL_HANDLE_ENV, gEnv))) return exitPath();
  gEnv = SQL_NULL_HENV;
  return 0;
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

void fillOrderStatusArg(OrderStatusByIdArg* arg, const char* label) {
  snprintf(arg->label, sizeof arg->label, "%s", label);
  arg->W_ID = gW_ID;
  arg->D_ID = gD_ID;
  arg->C_ID = gC_ID;
}

SideConnection::~SideConnection() {
  release();
}

int SideConnection::open() {
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, gEnv, &dbc_))) {
    dbc_ = SQL_NULL_HDBC;
    return fail();
  }
  dbcHeld_ = true;
  if (!succeeded(SQLConnect(dbc_, (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                            (SQLCHAR*)kPassword, SQL_NTS))) {
    return fail();
  }
  connected_ = true;
  if (check(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)SQL_TXN_SERIALIZABLE,
                              SQL_IS_UINTEGER)) != 0) {
    return 1;
  }
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_))) {
    stmt_ = SQL_NULL_HSTMT;
    return fail();
  }
  stmtHeld_ = true;
  return 0;
}

int SideConnection::fail() {
  if (stmt_ != SQL_NULL_HSTMT) {
    SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, nullptr, nullptr, (SQLCHAR*)message_, sizeof message_,
                  nullptr);
    puts(message_);
  }
  if (dbc_ != SQL_NULL_HDBC) {
    SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, nullptr, nullptr, (SQLCHAR*)message_, sizeof message_,
                  nullptr);
    printf("\n%s\n", message_);
  }
  release();
  return 1;
}

void SideConnection::release() {
  if (stmtHeld_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  if (connected_) SQLDisconnect(dbc_);
  if (dbcHeld_) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  stmtHeld_ = connected_ = dbcHeld_ = false;
  stmt_ = SQL_NULL_HSTMT;
  dbc_ = SQL_NULL_HDBC;
}

int SideConnection::close() {
  // What failed to be released stays held (and is not released again); the
  // failure exit releases what comes after it.
  if (!succeeded(SQLFreeHandle(SQL_HANDLE_STMT, stmt_))) {
    stmtHeld_ = false;
    return fail();
  }
  stmtHeld_ = false;
  stmt_ = SQL_NULL_HSTMT;
  if (!succeeded(SQLDisconnect(dbc_))) {
    connected_ = false;
    return fail();
  }
  connected_ = false;
  if (!succeeded(SQLFreeHandle(SQL_HANDLE_DBC, dbc_))) {
    dbcHeld_ = false;
    return fail();
  }
  dbcHeld_ = false;
  dbc_ = SQL_NULL_HDBC;
  return 0;
}

int32_t getD_NEXT_O_ID() {
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
      c.check(SQLExecDirect(s, (SQLCHAR*)"call getNextDistrictOrderID(?,?,?)", SQL_NTS)) != 0 ||
      c.close() != 0) {
    return -1;
  }
  return next;
}
