#include "TransactionFrame.h"

#include <cstdio>

#include "config.h"
#include "support.h"

namespace acidkit {

namespace {

// A deadlock or a lock wait timeout: the transaction may run again.
bool isRetryable(SQLINTEGER native) {
  return native == kRetryableDeadlock || native == kRetryableTimeout;
}

}  // namespace

bool TransactionCall::check(SQLRETURN rc, int i) {
  lastExecuted_ = i;
  if (succeeded(rc)) return true;
  failing_ = i;
  return false;
}

bool hasRetryableError(SQLHSTMT stmt) {
  SQLINTEGER native = 0;
  char message[256];
  readFirstDiagnostic(SQL_HANDLE_STMT, stmt, message, sizeof message, &native);
  return isRetryable(native);
}

int runTransaction(Transaction& transaction) {
  TransactionCall call;
  OdbcConnection& connection = call.connection_;
  // The failure exit: the connection's first message (or the buffer as it
  // stands: the statement's, or empty), a rollback whose result is not
  // examined; the owners release what is still held when `call` goes.
  auto fail = [&] {
    if (connection.get() != SQL_NULL_HDBC) {
      readFirstDiagnostic(SQL_HANDLE_DBC, connection.get(), call.message_, sizeof call.message_,
                          &call.nativeError_);
      printf("\n%s\n", call.message_);
      connection.endTransaction(SQL_ROLLBACK);
    }
    return 1;
  };
  // The failing statement's first record decides: roll back and run again
  // (true), or give up after printing its message (false).
  auto retryAfterFailure = [&] {
    call.nativeError_ = 0;
    if (call.failing_ >= 0) {
      readFirstDiagnostic(SQL_HANDLE_STMT, call.stmt(call.failing_), call.message_,
                          sizeof call.message_, &call.nativeError_);
    }
    if (isRetryable(call.nativeError_)) {
      connection.endTransaction(SQL_ROLLBACK);
      if (++call.retries_ < kMaxAttempts) {
        noteRetry();
        return true;
      }
    }
    if (call.nativeError_ != 0) printf("\n%s\n", call.message_);
    return false;
  };

  if (!connection.allocate() || !connection.connect() ||
      !connection.set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF) ||
      !connection.set(SQL_ATTR_TXN_ISOLATION, transaction.isolation())) {
    return fail();
  }
  std::array<SQLHSTMT, kMaxStatements> stmts{};
  for (int i = 0; i < transaction.statementCount(); ++i) {
    if (!call.stmts_[i].allocate(connection.get())) return fail();
    stmts[i] = call.stmts_[i].get();
  }
  if (transaction.prepare(stmts.data()) != 0) return fail();

  Steps steps = transaction.once(call);
  for (;;) {
    if (steps == Steps::done) steps = transaction.attempt(call);
    if (steps == Steps::done) {
      if (connection.endTransaction(call.completion_)) break;
      call.failing_ = call.lastExecuted_;
    }
    if (!retryAfterFailure()) return fail();
    steps = Steps::done;
  }

  for (OdbcStatement& s : call.stmts_) s.release();  // results not examined
  if (!connection.disconnect()) {
    call.nativeError_ = 0;
    return fail();
  }
  // A connection handle whose release failed is not released again.
  if (!connection.release()) return fail();
  return 0;
}

StatementPreparer& StatementPreparer::check(SQLRETURN rc) {
  if (succeeded(rc)) return *this;
  failed_ = true;
  SQLHSTMT s = current_ >= 0 ? stmts_[current_] : SQL_NULL_HSTMT;
  if (s != SQL_NULL_HSTMT) {
    char message[2048] = {};
    readFirstDiagnostic(SQL_HANDLE_STMT, s, message, sizeof message);
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

}  // namespace acidkit
