// The frame every transaction call runs in: its own connection from gEnv,
// autocommit off, an isolation level, N prepared statements, the steps with
// retry after the database's retryable errors, the end of the transaction,
// and release of everything on every path.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstddef>
#include <cstdint>

extern SQLHENV gEnv;  // the process's environment; each program's main owns it

inline bool succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

inline constexpr int kMaxStatements = 9;

// One call's state; nothing of it is shared between calls or threads.
struct TransactionCall {
  SQLHDBC dbc = SQL_NULL_HDBC;
  std::array<SQLHSTMT, kMaxStatements> stmt{};
  SQLINTEGER nativeError = 0;
  char message[256] = {};
  int retries = 0;
  int failing = -1;       // statement (0-based) whose failure the frame handles
  int lastExecuted = -1;  // statement executed last: blamed when the end fails
  SQLSMALLINT completion = SQL_COMMIT;

  // Executes statement i. On failure it becomes the failing statement and
  // false is returned; the steps then return kStepFailed.
  bool execute(int i) { return check(SQLExecute(stmt[i]), i); }
  // Records the result of any other call on statement i.
  bool check(SQLRETURN rc, int i) {
    lastExecuted = i;
    if (succeeded(rc)) return true;
    failing = i;
    return false;
  }
};

// True when the statement's first diagnostic record carries a retryable native
// error. A procedure that reports "no row" with an error must not have a
// deadlock taken for that answer: the database has rolled the transaction back.
bool hasRetryableError(SQLHSTMT stmt);

inline constexpr int kStepsDone = 0;
inline constexpr int kStepFailed = 1;

// What a transaction tells the frame about itself.
struct TransactionProfile {
  int statementCount;
  SQLUINTEGER isolation;
  // Prepares and binds every statement to the record; 0 or 1.
  int (*prepare)(SQLHSTMT* stmts, void* record);
  // Steps run once per call, before the restart point (may be null). A
  // retryable failure here restarts at `attempt`, never here again.
  int (*once)(TransactionCall& call, void* context);
  // Steps from the restart point up to and including the pause before the
  // end; sets call.completion.
  int (*attempt)(TransactionCall& call, void* context);
};

// Runs one transaction call; 0 when it committed or rolled back as planned,
// 1 on failure (after printing the statement's and the connection's message).
int runTransaction(const TransactionProfile& profile, void* record, void* context);

// Prepares and binds one transaction's statements in order. After the first
// call that does not succeed it does nothing more; that statement's first
// diagnostic message is printed as "\n%s\n" and result() is 1.
class StatementPreparer {
 public:
  explicit StatementPreparer(SQLHSTMT* stmts) : stmts_(stmts) {}

  StatementPreparer& prepare(int i, const char* text);
  StatementPreparer& param(SQLUSMALLINT n, SQLSMALLINT io, SQLSMALLINT cType, SQLSMALLINT sqlType,
                           SQLULEN size, SQLSMALLINT digits, void* value, SQLLEN bufferLength);
  StatementPreparer& column(SQLUSMALLINT n, SQLSMALLINT cType, void* value, SQLLEN bufferLength);

  // The binding kinds the transactions use.
  StatementPreparer& inInt(SQLUSMALLINT n, int32_t* v) {
    return param(n, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, v, 0);
  }
  StatementPreparer& outInt(SQLUSMALLINT n, int32_t* v) {
    return param(n, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, v, 0);
  }
  StatementPreparer& inAmount(SQLUSMALLINT n, SQLULEN p, SQLSMALLINT s, double* v) {
    return param(n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_NUMERIC, p, s, v, 0);
  }
  StatementPreparer& outAmount(SQLUSMALLINT n, SQLULEN p, SQLSMALLINT s, double* v) {
    return param(n, SQL_PARAM_OUTPUT, SQL_C_DOUBLE, SQL_NUMERIC, p, s, v, 0);
  }
  // Text of n characters in a buffer of `buffer` bytes (SQL_CHAR or SQL_VARCHAR).
  template <std::size_t N>
  StatementPreparer& inText(SQLUSMALLINT n, SQLSMALLINT sqlType, SQLULEN size, char (&v)[N]) {
    return param(n, SQL_PARAM_INPUT, SQL_C_CHAR, sqlType, size, 0, v, N);
  }
  template <std::size_t N>
  StatementPreparer& outText(SQLUSMALLINT n, SQLSMALLINT sqlType, SQLULEN size, char (&v)[N]) {
    return param(n, SQL_PARAM_OUTPUT, SQL_C_CHAR, sqlType, size, 0, v, N);
  }

  int result() const { return failed_ ? 1 : 0; }

 private:
  StatementPreparer& check(SQLRETURN rc);

  SQLHSTMT* stmts_;
  int current_ = -1;
  bool failed_ = false;
};
