// The ODBC handle ledger: loaded into a program with LD_PRELOAD, it sits
// between the program and the driver manager, keeps every environment,
// connection and statement handle that the program holds, and notes every
// call made with a handle that is not (or no longer) held. The driver manager
// cannot tell: it answers such a call with SQL_INVALID_HANDLE at best, and a
// handle forgotten at exit stays reachable in its lists, so leak checkers do
// not see it either.
//
// At exit (also by _exit), when ACIDKIT_HANDLE_LEDGER names a file, one line
// is appended to it:
//   pid=P allocated=N env=E dbc=D stmt=S connected=C stale=X first_stale=CALL
// E, D, S: handles still held; C: connections still connected; X: calls made
// with a handle that was not held, CALL the first of them ("-" when none).
// Such a call is answered SQL_INVALID_HANDLE and never reaches the driver
// manager, which could not tell a freed handle from a live one.
//
// ACIDKIT_LEDGER_SLOW_ENV_FREE=S makes the release of an environment take S
// seconds more, after the handle is gone: the window in which another thread
// could still use it, made wide enough for a test to aim at. The window
// opens when the file <ledger file>.env-freed appears.
#include <dlfcn.h>
#include <fcntl.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace {

struct Entry {
  SQLSMALLINT type;
  SQLHANDLE parent;
  bool connected;
};

std::mutex gMutex;
// Never destroyed: the report runs after static destructors may have run.
auto* gHeld = new std::unordered_map<SQLHANDLE, Entry>;
long gAllocated = 0;
long gStale = 0;
char gFirstStale[160] = "-";

template <class Function>
Function next(const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  if (f == nullptr) {
    fprintf(stderr, "handle ledger: %s not found in the driver manager\n", name);
    abort();
  }
  return reinterpret_cast<Function>(f);
}

#define NEXT(name) static const auto next_##name = next<decltype(&::name)>(#name)

const char* typeName(SQLSMALLINT type) {
  switch (type) {
    case SQL_HANDLE_ENV:
      return "env";
    case SQL_HANDLE_DBC:
      return "dbc";
    case SQL_HANDLE_STMT:
      return "stmt";
    default:
      return "desc";
  }
}

// Notes a call whose handle is not held as that type. Caller holds gMutex.
void noteStale(const char* call, SQLSMALLINT type, SQLHANDLE handle) {
  if (gStale++ == 0) {
    snprintf(gFirstStale, sizeof gFirstStale, "%s(%s:%p)", call, typeName(type), handle);
  }
}

// False (and noted) when the handle is not held as that type.
bool expectHeld(const char* call, SQLSMALLINT type, SQLHANDLE handle) {
  std::lock_guard<std::mutex> lock(gMutex);
  auto it = gHeld->find(handle);
  if (it != gHeld->end() && it->second.type == type) return true;
  noteStale(call, type, handle);
  return false;
}

#define EXPECT_HELD(call, type, handle) \
  if (!expectHeld(call, type, handle)) return SQL_INVALID_HANDLE

__attribute__((destructor)) void report() {
  const char* path = getenv("ACIDKIT_HANDLE_LEDGER");
  if (path == nullptr || *path == '\0') return;
  long count[4] = {0, 0, 0, 0};
  long connected = 0;
  // A thread may still run at exit (a program that could not start its next
  // thread exits without waiting); it never holds the lock for long.
  std::lock_guard<std::mutex> lock(gMutex);
  for (const auto& [handle, entry] : *gHeld) {
    ++count[entry.type == SQL_HANDLE_ENV    ? 0
            : entry.type == SQL_HANDLE_DBC  ? 1
            : entry.type == SQL_HANDLE_STMT ? 2
                                            : 3];
    if (entry.connected) ++connected;
  }
  char line[400];
  int n = snprintf(line, sizeof line,
                   "pid=%d allocated=%ld env=%ld dbc=%ld stmt=%ld desc=%ld connected=%ld "
                   "stale=%ld first_stale=%s\n",
                   static_cast<int>(getpid()), gAllocated, count[0], count[1], count[2], count[3],
                   connected, gStale, gFirstStale);
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return;
  if (write(fd, line, n) != n) fprintf(stderr, "handle ledger: cannot write %s\n", path);
  close(fd);
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  NEXT(SQLAllocHandle);
  if (type != SQL_HANDLE_ENV) {
    EXPECT_HELD("SQLAllocHandle", type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC, input);
  }
  SQLRETURN rc = next_SQLAllocHandle(type, input, output);
  if (SQL_SUCCEEDED(rc) && output != nullptr) {
    std::lock_guard<std::mutex> lock(gMutex);
    (*gHeld)[*output] = Entry{type, input, false};
    ++gAllocated;
  }
  return rc;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  NEXT(SQLFreeHandle);
  EXPECT_HELD("SQLFreeHandle", type, handle);
  SQLRETURN rc = next_SQLFreeHandle(type, handle);
  if (SQL_SUCCEEDED(rc)) {
    std::lock_guard<std::mutex> lock(gMutex);
    gHeld->erase(handle);
  }
  const char* slow = getenv("ACIDKIT_LEDGER_SLOW_ENV_FREE");
  const char* path = getenv("ACIDKIT_HANDLE_LEDGER");
  if (slow != nullptr && path != nullptr && type == SQL_HANDLE_ENV) {
    char marker[512];
    snprintf(marker, sizeof marker, "%s.env-freed", path);
    int fd = open(marker, O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) close(fd);
    sleep(static_cast<unsigned>(atoi(slow)));
  }
  return rc;
}

// A program that ends with _exit runs no destructor: report first.
[[noreturn]] void _exit(int status) {
  static const auto next__exit = next<void (*)(int)>("_exit");
  report();
  next__exit(status);
  __builtin_unreachable();
}

SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user,
                             SQLSMALLINT userLength, SQLCHAR* password,
                             SQLSMALLINT passwordLength) {
  NEXT(SQLConnect);
  EXPECT_HELD("SQLConnect", SQL_HANDLE_DBC, dbc);
  SQLRETURN rc = next_SQLConnect(dbc, dsn, dsnLength, user, userLength, password, passwordLength);
  if (SQL_SUCCEEDED(rc)) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (auto it = gHeld->find(dbc); it != gHeld->end()) it->second.connected = true;
  }
  return rc;
}

// Disconnecting also frees the connection's statements.
SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
  NEXT(SQLDisconnect);
  EXPECT_HELD("SQLDisconnect", SQL_HANDLE_DBC, dbc);
  SQLRETURN rc = next_SQLDisconnect(dbc);
  if (SQL_SUCCEEDED(rc)) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (auto it = gHeld->find(dbc); it != gHeld->end()) it->second.connected = false;
    std::erase_if(*gHeld, [dbc](const auto& held) {
      return held.second.type == SQL_HANDLE_STMT && held.second.parent == dbc;
    });
  }
  return rc;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length) {
  NEXT(SQLSetEnvAttr);
  EXPECT_HELD("SQLSetEnvAttr", SQL_HANDLE_ENV, env);
  return next_SQLSetEnvAttr(env, attribute, value, length);
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length) {
  NEXT(SQLSetConnectAttr);
  EXPECT_HELD("SQLSetConnectAttr", SQL_HANDLE_DBC, dbc);
  return next_SQLSetConnectAttr(dbc, attribute, value, length);
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER length) {
  NEXT(SQLSetStmtAttr);
  EXPECT_HELD("SQLSetStmtAttr", SQL_HANDLE_STMT, stmt);
  return next_SQLSetStmtAttr(stmt, attribute, value, length);
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  NEXT(SQLPrepare);
  EXPECT_HELD("SQLPrepare", SQL_HANDLE_STMT, stmt);
  return next_SQLPrepare(stmt, text, length);
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT direction,
                                   SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size,
                                   SQLSMALLINT digits, SQLPOINTER value, SQLLEN length,
                                   SQLLEN* indicator) {
  NEXT(SQLBindParameter);
  EXPECT_HELD("SQLBindParameter", SQL_HANDLE_STMT, stmt);
  return next_SQLBindParameter(stmt, number, direction, cType, sqlType, size, digits, value, length,
                               indicator);
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER value, SQLLEN length, SQLLEN* indicator) {
  NEXT(SQLBindCol);
  EXPECT_HELD("SQLBindCol", SQL_HANDLE_STMT, stmt);
  return next_SQLBindCol(stmt, column, cType, value, length, indicator);
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT stmt) {
  NEXT(SQLExecute);
  EXPECT_HELD("SQLExecute", SQL_HANDLE_STMT, stmt);
  return next_SQLExecute(stmt);
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  NEXT(SQLExecDirect);
  EXPECT_HELD("SQLExecDirect", SQL_HANDLE_STMT, stmt);
  return next_SQLExecDirect(stmt, text, length);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
  NEXT(SQLFetch);
  EXPECT_HELD("SQLFetch", SQL_HANDLE_STMT, stmt);
  return next_SQLFetch(stmt);
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT stmt) {
  NEXT(SQLCloseCursor);
  EXPECT_HELD("SQLCloseCursor", SQL_HANDLE_STMT, stmt);
  return next_SQLCloseCursor(stmt);
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
  NEXT(SQLFreeStmt);
  EXPECT_HELD("SQLFreeStmt", SQL_HANDLE_STMT, stmt);
  SQLRETURN rc = next_SQLFreeStmt(stmt, option);
  if (SQL_SUCCEEDED(rc) && option == SQL_DROP) {
    std::lock_guard<std::mutex> lock(gMutex);
    gHeld->erase(stmt);
  }
  return rc;
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  NEXT(SQLEndTran);
  EXPECT_HELD("SQLEndTran", type, handle);
  return next_SQLEndTran(type, handle, completion);
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT bufferLength, SQLSMALLINT* textLength) {
  NEXT(SQLGetDiagRec);
  EXPECT_HELD("SQLGetDiagRec", type, handle);
  return next_SQLGetDiagRec(type, handle, record, state, native, message, bufferLength, textLength);
}

}  // extern "C"
