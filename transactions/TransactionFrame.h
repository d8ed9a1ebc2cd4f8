// The frame every transaction call runs in: its own connection from gEnv,
// autocommit off, an isolation level, one prepared statement per text of the
// transaction, the steps with retry after the database's retryable errors,
// the end of the transaction, and release of everything on every path.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "Odbc.h"

namespace acidkit {

// How a run of a transaction's steps ended.
enum class Steps { done, failed };

inline constexpr int kMaxStatements = 9;

// One call's state; nothing of it is shared between calls or threads.
class TransactionCall {
 public:
  SQLHSTMT stmt(int i) const { return stmts_[i].get(); }
  // Executes statement i; on failure it becomes the failing statement.
  bool execute(int i) { return check(SQLExecute(stmt(i)), i); }
  // Records the result of any other call on statement i.
  bool check(SQLRETURN rc, int i);
  // A call on statement i whose failure is not the frame's to handle (an
  // error that means "no such row"): it only becomes the statement last run.
  void ran(int i) { lastExecuted_ = i; }
  // A failure that no statement's diagnostic explains.
  void failWithoutStatement() { failing_ = -1; }
  // How the transaction ends once the steps are done.
  void complete(SQLSMALLINT completion) { completion_ = completion; }
  int retries() const { return retries_; }

 private:
  friend int runTransaction(class Transaction& transaction);

  OdbcConnection connection_;
  std::array<OdbcStatement, kMaxStatements> stmts_;
  SQLINTEGER nativeError_ = 0;
  char message_[256] = {};
  int retries_ = 0;
  int failing_ = -1;       // statement (0-based) whose failure the frame handles
  int lastExecuted_ = -1;  // statement executed last: blamed when the end fails
  SQLSMALLINT completion_ = SQL_COMMIT;
};

// A transaction as the frame runs it. The transaction owns its record and
// its statement table; the frame knows neither.
class Transaction {
 public:
  virtual ~Transaction() = default;
  // The number of texts in the transaction's statement table.
  virtual int statementCount() const = 0;
  virtual SQLUINTEGER isolation() const = 0;
  // The transaction's preparation function: every statement prepared on
  // stmts[i] and bound to the record; 0 or 1.
  virtual int prepare(SQLHSTMT* stmts) = 0;
  // Steps run once per call, before the point where a retry starts again.
  virtual Steps once(TransactionCall&) { return Steps::done; }
  // Steps from that point up to and including the pause before the end;
  // they say how the transaction ends (TransactionCall::complete).
  virtual Steps attempt(TransactionCall& call) = 0;
};

// Runs one transaction call; 0 when it committed or rolled back as planned,
// 1 on failure (after printing the statement's and the connection's message).
int runTransaction(Transaction& transaction);

// True when the statement's first diagnostic record carries a retryable native
// error. A procedure that reports "no row" with an error must not have a
// deadlock taken for that answer: the database has rolled the transaction back.
bool hasRetryableError(SQLHSTMT stmt);

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

}  // namespace acidkit
