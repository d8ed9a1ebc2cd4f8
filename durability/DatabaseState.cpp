#include "DatabaseState.h"

#include <cstdio>

namespace acidkit {

bool RowQuery::prepare(SQLHDBC connection, const char* text) {
  text_ = text;
  return stmt_.allocate(connection) && succeeded(SQLPrepare(stmt_.get(), (SQLCHAR*)text, SQL_NTS));
}

bool RowQuery::bindInt(SQLUSMALLINT n, int32_t* value) {
  return succeeded(SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                    value, 0, nullptr));
}

bool RowQuery::bindText(SQLUSMALLINT n, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits,
                        char* value) {
  return succeeded(SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR, sqlType, size,
                                    digits, value, 0, nullptr));
}

bool RowQuery::bindTimestamp(SQLUSMALLINT n, SQL_TIMESTAMP_STRUCT* value) {
  return succeeded(SQLBindParameter(stmt_.get(), n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                    SQL_TYPE_TIMESTAMP, 19, 0, value, 0, nullptr));
}

bool RowQuery::run(long long* columns, int count, bool* found) {
  SQLHSTMT s = stmt_.get();
  if (!succeeded(SQLExecute(s))) return false;
  SQLRETURN rc = SQLFetch(s);
  *found = rc != SQL_NO_DATA;
  if (*found && !succeeded(rc)) return false;
  for (int i = 0; *found && i < count; ++i) {
    SQLLEN indicator = 0;
    columns[i] = 0;
    if (!succeeded(SQLGetData(s, static_cast<SQLUSMALLINT>(i + 1), SQL_C_SBIGINT, &columns[i], 0,
                              &indicator))) {
      return false;
    }
    if (indicator == SQL_NULL_DATA) columns[i] = 0;
  }
  return succeeded(SQLFreeStmt(s, SQL_CLOSE));
}

std::string RowQuery::error() const {
  return "\"" + text_ + "\": " + diagnosticText(SQL_HANDLE_STMT, stmt_.get());
}

bool readCounts(SQLHDBC connection, int32_t w, DatabaseCounts* counts, std::string* error) {
  int32_t first = 1, last = w;
  struct Read {
    const char* text;
    bool range;
    long long* into;
  } reads[] = {
      {"SELECT COUNT(*) FROM WAREHOUSE WHERE W_ID BETWEEN ? AND ?", true, &counts->warehouses},
      {"SELECT SUM(D_NEXT_O_ID) FROM DISTRICT WHERE D_W_ID BETWEEN ? AND ?", true,
       &counts->nextOrderIdSum},
      {"SELECT COUNT(*) FROM HISTORY", false, &counts->historyRows},
  };
  for (const Read& r : reads) {
    RowQuery q;
    bool found = false;
    if (!q.prepare(connection, r.text) ||
        (r.range && (!q.bindInt(1, &first) || !q.bindInt(2, &last))) || !q.run(r.into, 1, &found)) {
      *error = q.error();
      return false;
    }
  }
  return true;
}

bool openConnection(OdbcConnection* connection, std::string* error) {
  if (connection->allocate() && connection->connect()) return true;
  *error = connection->get() == SQL_NULL_HDBC
               ? "no connection handle: " + diagnosticText(SQL_HANDLE_ENV, gEnv)
               : diagnosticText(SQL_HANDLE_DBC, connection->get());
  connection->close();
  return false;
}

}  // namespace acidkit
