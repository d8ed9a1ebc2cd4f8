#include "TransactionFrame.h"

#include <cstdio>

#include "config.h"
#include "support.h"

namespace {

// How much the failure exit has to release.
enum class Held { nothing, handle, connection, statements };

void freeStatements(TransactionCall& call) {
  for (SQLHSTMT& s : call.stmt) {
    if (s != SQL_NULL_HSTMT) {
      SQLFreeHandle(SQL_HANDLE_STMT, s);
      s = SQL_NULL_HSTMT;
    }
  }
}

int failureExit(TransactionCall& call, Held held) {
  if (call.dbc != SQL_NULL_HDBC) {
    // Without a record the buffer keeps the statement's message (or stays empty).
    SQLGetDiagRec(SQL_HANDLE_DBC, call.dbc, 1, nullptr, &call.nativeError,
                  reinterpret_cast<SQLCHAR*>(call.message), sizeof call.message, nullptr);
    printf("\n%s\n", call.message);
    SQLEndTran(SQL_HANDLE_DBC, call.dbc, SQL_ROLLBACK);
  }
  switch (held) {
    case Held::statements:
      freeStatements(call);
      [[fallthrough]];
    case Held::connection:
      // Disconnecting also drops statements still allocated on the connection.
      SQLDisconnect(call.dbc);
      [[fallthrough]];
    case Held::handle:
      SQLFreeHandle(SQL_HANDLE_DBC, call.dbc);
      call.dbc = SQL_NULL_HDBC;
      break;
    case Held::nothing:
      break;
  }
  return 1;
}

// A deadlock or a lock wait timeout: the transaction may run again.
bool isRetryable(SQLINTEGER native) {
  return native == kRetryableDeadlock || native == kRetryableTimeout;
}

// The failing statement's first record decides: roll back and run again
// (true), or give up after printing its message (false).
bool retryAfterFailure(TransactionCall& call) {
  call.nativeError = 0;
  SQLHSTMT failed = call.failing >= 0 ? call.stmt[call.failing] : SQL_NULL_HSTMT;
  if (failed != SQL_NULL_HSTMT) {
    SQLGetDiagRec(SQL_HANDLE_STMT, failed, 1, nullptr, &call.nativeError,
                  reinterpret_cast<SQLCHAR*>(call.message), sizeof call.message, nullptr);
  }
  if (isRetryable(call.nativeError)) {
    SQLEndTran(SQL_HANDLE_DBC, call.dbc, SQL_ROLLBACK);
    if (++call.retries < kMaxAttempts) {
      noteRetry();
      return true;
    }
  }
  if (call.nativeError != 0) printf("\n%s\n", call.message);
  return false;
}

}  // namespace

bool hasRetryableError(SQLHSTMT stmt) {
  SQLINTEGER native = 0;
  SQLCHAR message[256];
  SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, nullptr, &native, message, sizeof message, nullptr);
  return isRetryable(native);
}

int runTransaction(const TransactionProfile& profile, void* record, void* context) {
  TransactionCall call;
  Held held = Held::nothing;

  if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, gEnv, &call.dbc))) {
    call.dbc = SQL_NULL_HDBC;
    return failureExit(call, held);
  }
  held = Held::handle;
  if (!succeeded(SQLConnect(call.dbc, (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                            (SQLCHAR*)kPassword, SQL_NTS))) {
    return failureExit(call, held);
  }
  if (!succeeded(SQLSetConnectAttr(call.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF,
                                   SQL_IS_UINTEGER)) ||
      !succeeded(SQLSetConnectAttr(call.dbc, SQL_ATTR_TXN_ISOLATION,
                                   (SQLPOINTER)(uintptr_t)profile.isolation, SQL_IS_UINTEGER))) {
    return failureExit(call, Held::connection);
  }
  for (int i = 0; i < profile.statementCount; ++i) {
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, call.dbc, &call.stmt[i]))) {
      call.stmt[i] = SQL_NULL_HSTMT;
      return failureExit(call, Held::connection);
    }
  }
  held = Held::statements;
  if (profile.prepare(call.stmt.data(), record) != 0) return failureExit(call, held);

  int steps = profile.once != nullptr ? profile.once(call, context) : kStepsDone;
  for (;;) {
    if (steps == kStepsDone) steps = profile.attempt(call, context);
    if (steps == kStepsDone) {
      if (succeeded(SQLEndTran(SQL_HANDLE_DBC, call.dbc, call.completion))) break;
      call.failing = call.lastExecuted;
    }
    if (!retryAfterFailure(call)) return failureExit(call, held);
    steps = kStepsDone;
  }

  freeStatements(call);
  held = Held::handle;
  if (!succeeded(SQLDisconnect(call.dbc))) {
    call.nativeError = 0;
    return failureExit(call, held);
  }
  if (!succeeded(SQLFreeHandle(SQL_HANDLE_DBC, call.dbc))) {
    return failureExit(call, Held::nothing);  // the handle is not freed twice
  }
  return 0;
}

StatementPreparer& StatementPreparer::check(SQLRETURN rc) {
  if (succeeded(rc)) return *this;
  failed_ = true;
  SQLHSTMT s = current_ >= 0 ? stmts_[current_] : SQL_NULL_HSTMT;
  if (s != SQL_NULL_HSTMT) {
    char message[2048] = {};
    SQLINTEGER native = 0;
    SQLGetDiagRec(SQL_HANDLE_STMT, s, 1, nullptr, &native, reinterpret_cast<SQLCHAR*>(message),
                  sizeof message, nullptr);
    printf("\n%s\n", message);
  }
  return *this;
}

StatementPreparer& StatementPreparer::prepare(int i, const char* text) {
  if (failed_) return *this;
  current_ = i;
  return check(SQLPrepare(stmts_[i], (SQLCHAR*)text, SQL_NTS));
}

StatementPreparer& StatementPreparer::param(SQLUSMALLINT n, SQLSMALLINT io, SQLSMALLINT cType,
                                            SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits,
                                            void* value, SQLLEN bufferLength) {
  if (failed_) return *this;
  return check(SQLBindParameter(stmts_[current_], n, io, cType, sqlType, size, digits, value,
                                bufferLength, nullptr));
}

StatementPreparer& StatementPreparer::column(SQLUSMALLINT n, SQLSMALLINT cType, void* value,
                                             SQLLEN bufferLength) {
  if (failed_) return *this;
  return check(SQLBindCol(stmts_[current_], n, cType, value, bufferLength, nullptr));
}
