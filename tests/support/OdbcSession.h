// Plain ODBC for the adapter's contract test: a connection through TESTDB and
// statements bound the way the programs bind them (no indicator buffers).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace acidkit_test {

struct DiagRecord {
  std::string state;
  SQLINTEGER native = 0;
  std::string message;
  std::string text() const;  // "[state] native message", or "no diagnostic record"
};

// First diagnostic record of a handle.
DiagRecord firstDiag(SQLSMALLINT type, SQLHANDLE handle);

// One connection of its own environment, as a transaction of the kit opens it.
class Session {
 public:
  explicit Session(SQLUINTEGER isolation = SQL_TXN_READ_COMMITTED, bool autocommit = false);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ok() const { return dbc_ != SQL_NULL_HDBC; }
  const std::string& error() const { return error_; }
  SQLHDBC dbc() const { return dbc_; }

  SQLRETURN exec(const std::string& sql);  // direct, on a statement of its own
  SQLRETURN endTran(SQLSMALLINT completion) { return SQLEndTran(SQL_HANDLE_DBC, dbc_, completion); }
  // First column of the first row as text ("NULL" for NULL, "" for no row),
  // and as numbers.
  std::string text(const std::string& query);
  long long integer(const std::string& query) {
    return std::strtoll(text(query).c_str(), nullptr, 10);
  }
  double number(const std::string& query) { return std::strtod(text(query).c_str(), nullptr); }
  // Makes this session's lock waits give up after `seconds`.
  void lockWait(int seconds);
  // Diagnostic record of the last failing exec().
  const DiagRecord& lastDiag() const { return lastDiag_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  std::string error_;
  DiagRecord lastDiag_;
};

// A statement prepared once and bound parameter by parameter, in order.
class Statement {
 public:
  Statement(Session& session, const char* text, bool prepare = true);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& in(int32_t& v);
  Statement& out(int32_t& v);
  Statement& in(double& v, SQLULEN precision, SQLSMALLINT scale);   // SQL_NUMERIC
  Statement& out(double& v, SQLULEN precision, SQLSMALLINT scale);  // SQL_NUMERIC
  // Texts: SQL_VARCHAR or SQL_CHAR of `size`, buffer of `buffer` bytes.
  Statement& in(char* v, SQLSMALLINT sqlType, SQLULEN size, SQLLEN buffer);
  Statement& out(char* v, SQLSMALLINT sqlType, SQLULEN size, SQLLEN buffer);
  Statement& in(SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, void* v);
  Statement& outBigint(int64_t& v);
  Statement& column(SQLSMALLINT cType, void* v, SQLLEN buffer);

  SQLRETURN execute() { return SQLExecute(h_); }
  SQLRETURN execDirect(const char* text) { return SQLExecDirect(h_, (SQLCHAR*)text, SQL_NTS); }
  SQLRETURN fetch() { return SQLFetch(h_); }
  SQLRETURN closeCursor() { return SQLCloseCursor(h_); }
  SQLLEN rowCount();
  DiagRecord diag() const { return firstDiag(SQL_HANDLE_STMT, h_); }
  std::string error() const { return diag().text(); }
  SQLHSTMT handle() const { return h_; }
  bool ok() const { return ok_; }

 private:
  Statement& bind(SQLSMALLINT io, SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size,
                  SQLSMALLINT digits, void* v, SQLLEN buffer);
  SQLHSTMT h_ = SQL_NULL_HSTMT;
  SQLUSMALLINT next_ = 1;
  SQLUSMALLINT nextColumn_ = 1;
  bool ok_ = false;
};

}  // namespace acidkit_test
