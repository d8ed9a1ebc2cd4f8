// The connector behind the adapter (MariaDB Connector/ODBC or psqlODBC, as
// the driver entry's Dialect says): loaded once per process, reached only
// through this table so that no call can land on the driver manager's
// functions of the same names.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "sqltext.h"

// Every connector function the adapter calls or forwards.
// clang-format off
#define ACIDKIT_CONNECTOR_FUNCTIONS(X) \
  X(SQLAllocHandle) X(SQLBindCol) X(SQLBindParameter) X(SQLBrowseConnect) \
  X(SQLBulkOperations) X(SQLCancel) X(SQLCloseCursor) X(SQLColAttribute) \
  X(SQLColumnPrivileges) X(SQLColumns) X(SQLCopyDesc) X(SQLDescribeCol) \
  X(SQLDescribeParam) X(SQLDisconnect) X(SQLDriverConnect) X(SQLEndTran) \
  X(SQLExecDirect) X(SQLExecute) X(SQLFetch) X(SQLFetchScroll) X(SQLForeignKeys) \
  X(SQLFreeHandle) X(SQLFreeStmt) X(SQLGetConnectAttr) X(SQLGetCursorName) \
  X(SQLGetData) X(SQLGetDescField) X(SQLGetDescRec) X(SQLGetDiagField) \
  X(SQLGetDiagRec) X(SQLGetEnvAttr) X(SQLGetFunctions) X(SQLGetInfo) \
  X(SQLGetStmtAttr) X(SQLGetTypeInfo) X(SQLMoreResults) X(SQLNativeSql) X(SQLNumParams) \
  X(SQLNumResultCols) X(SQLParamData) X(SQLPrepare) X(SQLPrimaryKeys) \
  X(SQLProcedureColumns) X(SQLProcedures) X(SQLPutData) X(SQLRowCount) \
  X(SQLSetConnectAttr) X(SQLSetCursorName) X(SQLSetDescField) X(SQLSetDescRec) \
  X(SQLSetEnvAttr) X(SQLSetPos) X(SQLSetStmtAttr) X(SQLSpecialColumns) \
  X(SQLStatistics) X(SQLTablePrivileges) X(SQLTables)
// clang-format on

namespace acidkit::odbc {

struct Connector {
#define ACIDKIT_CONNECTOR_POINTER(name) decltype(&::name) name;
  ACIDKIT_CONNECTOR_FUNCTIONS(ACIDKIT_CONNECTOR_POINTER)
#undef ACIDKIT_CONNECTOR_POINTER
};

extern Connector gConnector;
// The server's dialect, from the driver entry; set by loadConnector.
extern Dialect gDialect;

// Loads the connector on first use; 0 when gConnector is ready, else 1 after
// a message on standard error that says what failed and what to do.
int loadConnector();

}  // namespace acidkit::odbc
