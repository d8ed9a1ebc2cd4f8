#include "DbInfo.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include "Odbc.h"
#include "config.h"

namespace acidkit {

namespace {

std::string info(SQLHDBC dbc, SQLUSMALLINT what) {
  SQLCHAR value[256] = {};
  if (!succeeded(SQLGetInfo(dbc, what, value, sizeof value, nullptr))) {
    return "unknown (" + diagnosticText(SQL_HANDLE_DBC, dbc) + ")";
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
  // An environment of its own: the runner is no program of the kit.
  OdbcEnvironment env;
  OdbcConnection dbc;
  if (!env.allocate(SQL_NULL_HANDLE)) {
    result.error = "cannot allocate an ODBC environment";
    return result;
  }
  if (!succeeded(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) ||
      !dbc.allocate(env.get())) {
    result.error = diagnosticText(SQL_HANDLE_ENV, env.get());
    return result;
  }
  if (!dbc.connect()) {
    result.error = diagnosticText(SQL_HANDLE_DBC, dbc.get());
    return result;
  }
  result.ok = true;
  result.dbmsName = info(dbc.get(), SQL_DBMS_NAME);
  result.dbmsVersion = info(dbc.get(), SQL_DBMS_VER);
  result.driverName = info(dbc.get(), SQL_DRIVER_NAME);
  result.driverVersion = info(dbc.get(), SQL_DRIVER_VER);
  return result;
}

}  // namespace acidkit
