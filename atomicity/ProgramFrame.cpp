#include "ProgramFrame.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "PrintDiagnosticRecord.h"
#include "TransactionFrame.h"
#include "config.h"

void printUnderlined(const char* text) {
  printf("%s\n%s\n", text, std::string(strlen(text), '=').c_str());
}

int openProgramConnection(SQLHENV& env, SQLHDBC& dbc, const char* failureLine) {
  env = SQL_NULL_HENV;
  dbc = SQL_NULL_HDBC;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    env = SQL_NULL_HENV;
    return failProgram(env, dbc, ProgramHeld::nothing, failureLine);
  }
  if (!succeeded(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0))) {
    return failProgram(env, dbc, ProgramHeld::environment, failureLine);
  }
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    dbc = SQL_NULL_HDBC;
    return failProgram(env, dbc, ProgramHeld::environment, failureLine);
  }
  if (!succeeded(SQLConnect(dbc, (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                            (SQLCHAR*)kPassword, SQL_NTS))) {
    return failProgram(env, dbc, ProgramHeld::connectionHandle, failureLine);
  }
  if (!succeeded(SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)SQL_TXN_SERIALIZABLE,
                                   SQL_IS_UINTEGER))) {
    return failProgram(env, dbc, ProgramHeld::connection, failureLine);
  }
  return 0;
}

int closeProgramConnection(SQLHENV& env, SQLHDBC& dbc, const char* failureLine) {
  if (!succeeded(SQLDisconnect(dbc))) {
    return failProgram(env, dbc, ProgramHeld::connectionHandle, failureLine);
  }
  // A handle whose freeing failed keeps its diagnostics for the failure path
  // and is not freed again.
  if (!succeeded(SQLFreeHandle(SQL_HANDLE_DBC, dbc))) {
    return failProgram(env, dbc, ProgramHeld::environment, failureLine);
  }
  dbc = SQL_NULL_HDBC;
  if (!succeeded(SQLFreeHandle(SQL_HANDLE_ENV, env))) {
    return failProgram(env, dbc, ProgramHeld::nothing, failureLine);
  }
  env = SQL_NULL_HENV;
  return 0;
}

int failProgram(SQLHENV& env, SQLHDBC& dbc, ProgramHeld held, const char* failureLine) {
  if (dbc != SQL_NULL_HDBC) PrintDiagnosticRecord(SQL_HANDLE_DBC, dbc);
  if (env != SQL_NULL_HENV) PrintDiagnosticRecord(SQL_HANDLE_ENV, env);
  switch (held) {
    case ProgramHeld::connection:
      SQLDisconnect(dbc);
      [[fallthrough]];
    case ProgramHeld::connectionHandle:
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      dbc = SQL_NULL_HDBC;
      [[fallthrough]];
    case ProgramHeld::environment:
      SQLFreeHandle(SQL_HANDLE_ENV, env);
      env = SQL_NULL_HENV;
      break;
    case ProgramHeld::nothing:
      break;
  }
  puts(failureLine);
  return 1;
}
