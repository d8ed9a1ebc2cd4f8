#include "DbInfo.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include "config.h"

namespace acidkit {

namespace {

bool succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

std::string firstDiagnostic(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[512] = {};
  if (!succeeded(
          SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, nullptr))) {
    return "no diagnostic";
  }
  return std::string(reinterpret_cast<char*>(state)) + ": " + reinterpret_cast<char*>(message);
}

std::string info(SQLHDBC dbc, SQLUSMALLINT what) {
  SQLCHAR value[256] = {};
  if (!succeeded(SQLGetInfo(dbc, what, value, sizeof value, nullptr))) {
    return "unknown (" + firstDiagnostic(SQL_HANDLE_DBC, dbc) + ")";
  }
  return reinterpret_cast<char*>(value);
}

}  // namespace

DbInfo readDbInfo() {
  DbInfo result;
  char description[512] = {};
  SQLGetPrivateProfileString(kDataSource, "Description", "", description, sizeof description,
                             "odbc.ini");
  result.description = description;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    result.error = "cannot allocate an ODBC environment";
    return result;
  }
  if (!succeeded(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) ||
      !succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    result.error = firstDiagnostic(SQL_HANDLE_ENV, env);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return result;
  }
  if (succeeded(SQLConnect(dbc, (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                           (SQLCHAR*)kPassword, SQL_NTS))) {
    result.ok = true;
    result.dbmsName = info(dbc, SQL_DBMS_NAME);
    result.dbmsVersion = info(dbc, SQL_DBMS_VER);
    result.driverName = info(dbc, SQL_DRIVER_NAME);
    result.driverVersion = info(dbc, SQL_DRIVER_VER);
    SQLDisconnect(dbc);
  } else {
    result.error = firstDiagnostic(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return result;
}

}  // namespace acidkit
