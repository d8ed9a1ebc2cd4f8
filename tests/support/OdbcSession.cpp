#include "OdbcSession.h"

#include <gtest/gtest.h>

#include "TestDb.h"
#include "config.h"

namespace acidkit_test {

std::string DiagRecord::text() const {
  if (state.empty()) return "no diagnostic record";
  return "[" + state + "] " + std::to_string(native) + " " + message;
}

DiagRecord firstDiag(SQLSMALLINT type, SQLHANDLE handle) {
  DiagRecord r;
  SQLCHAR state[6] = {};
  SQLCHAR message[1024] = {};
  if (SQL_SUCCEEDED(
          SQLGetDiagRec(type, handle, 1, state, &r.native, message, sizeof message, nullptr))) {
    r.state = reinterpret_cast<char*>(state);
    r.message = reinterpret_cast<char*>(message);
  }
  return r;
}

Session::Session(SQLUINTEGER isolation, bool autocommit) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  SQLRETURN rc = SQLConnect(dbc_, (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                            (SQLCHAR*)kPassword, SQL_NTS);
  if (SQL_SUCCEEDED(rc)) {
    rc = SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                           (SQLPOINTER)(autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
                           SQL_IS_UINTEGER);
  }
  if (SQL_SUCCEEDED(rc)) {
    rc = SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)(SQLULEN)isolation,
                           SQL_IS_UINTEGER);
  }
  if (!SQL_SUCCEEDED(rc)) {
    error_ = firstDiag(SQL_HANDLE_DBC, dbc_).text();
    ADD_FAILURE() << "connecting to TESTDB: " << error_;
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
  }
}

Session::~Session() {
  if (dbc_ != SQL_NULL_HDBC) {
    SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

SQLRETURN Session::exec(const std::string& sql) {
  SQLHSTMT s = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s);
  SQLRETURN rc = SQLExecDirect(s, (SQLCHAR*)sql.c_str(), SQL_NTS);
  lastDiag_ = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA ? DiagRecord{} : firstDiag(SQL_HANDLE_STMT, s);
  SQLFreeHandle(SQL_HANDLE_STMT, s);
  return rc;
}

std::string Session::text(const std::string& query) {
  SQLHSTMT s = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s);
  char value[1024] = {};
  SQLLEN indicator = 0;
  std::string result;
  SQLRETURN rc = SQLExecDirect(s, (SQLCHAR*)query.c_str(), SQL_NTS);
  if (!SQL_SUCCEEDED(rc)) {
    ADD_FAILURE() << query << ": " << firstDiag(SQL_HANDLE_STMT, s).text();
  } else if (SQL_SUCCEEDED(SQLFetch(s)) &&
             SQL_SUCCEEDED(SQLGetData(s, 1, SQL_C_CHAR, value, sizeof value, &indicator))) {
    result = indicator == SQL_NULL_DATA ? "NULL" : value;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, s);
  return result;
}

void Session::lockWait(int seconds) {
  const std::string n = std::to_string(seconds);
  EXPECT_EQ(exec(acidkit_test::onPostgreSQL() ? "SET lock_timeout = '" + n + "s'"
                                              : "SET SESSION innodb_lock_wait_timeout = " + n),
            SQL_SUCCESS);
}

Statement::Statement(Session& session, const char* text, bool prepare) {
  ok_ = SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, session.dbc(), &h_));
  if (ok_ && prepare) {
    ok_ = SQL_SUCCEEDED(SQLPrepare(h_, (SQLCHAR*)text, SQL_NTS));
    if (!ok_) ADD_FAILURE() << "SQLPrepare(" << text << "): " << error();
  }
}

Statement::~Statement() {
  if (h_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_);
}

Statement& Statement::bind(SQLSMALLINT io, SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size,
                           SQLSMALLINT digits, void* v, SQLLEN buffer) {
  SQLRETURN rc = SQLBindParameter(h_, next_, io, cType, sqlType, size, digits, v, buffer, nullptr);
  if (!SQL_SUCCEEDED(rc)) {
    ok_ = false;
    ADD_FAILURE() << "SQLBindParameter " << next_ << ": " << error();
  }
  ++next_;
  return *this;
}

Statement& Statement::in(int32_t& v) {
  return bind(SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0);
}
Statement& Statement::out(int32_t& v) {
  return bind(SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0);
}
Statement& Statement::in(double& v, SQLULEN precision, SQLSMALLINT scale) {
  return bind(SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_NUMERIC, precision, scale, &v, 0);
}
Statement& Statement::out(double& v, SQLULEN precision, SQLSMALLINT scale) {
  return bind(SQL_PARAM_OUTPUT, SQL_C_DOUBLE, SQL_NUMERIC, precision, scale, &v, 0);
}
Statement& Statement::in(char* v, SQLSMALLINT sqlType, SQLULEN size, SQLLEN buffer) {
  return bind(SQL_PARAM_INPUT, SQL_C_CHAR, sqlType, size, 0, v, buffer);
}
Statement& Statement::out(char* v, SQLSMALLINT sqlType, SQLULEN size, SQLLEN buffer) {
  return bind(SQL_PARAM_OUTPUT, SQL_C_CHAR, sqlType, size, 0, v, buffer);
}
Statement& Statement::in(SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits,
                         void* v) {
  return bind(SQL_PARAM_INPUT, cType, sqlType, size, digits, v, 0);
}
Statement& Statement::outBigint(int64_t& v) {
  return bind(SQL_PARAM_OUTPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &v, 0);
}

Statement& Statement::column(SQLSMALLINT cType, void* v, SQLLEN buffer) {
  if (!SQL_SUCCEEDED(SQLBindCol(h_, nextColumn_, cType, v, buffer, nullptr))) {
    ok_ = false;
    ADD_FAILURE() << "SQLBindCol " << nextColumn_ << ": " << error();
  }
  ++nextColumn_;
  return *this;
}

SQLLEN Statement::rowCount() {
  SQLLEN rows = -1;
  SQLRowCount(h_, &rows);
  return rows;
}

}  // namespace acidkit_test
