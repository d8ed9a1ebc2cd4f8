#include "ProgramFrame.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "PrintDiagnosticRecord.h"

SQLHDBC gDbc = SQL_NULL_HDBC;

namespace acidkit {

void printUnderlined(const char* text) {
  printf("%s\n%s\n", text, std::string(strlen(text), '=').c_str());
}

int ProgramConnection::open() {
  if (!env_.allocate(SQL_NULL_HANDLE) ||
      !succeeded(SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) ||
      !dbc_.allocate(gEnv) || !dbc_.connect() ||
      !dbc_.set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE)) {
    return fail();
  }
  return 0;
}

int ProgramConnection::close() {
  // A handle whose release fails keeps its diagnostics for the failure path
  // and is not released again.
  if (!dbc_.disconnect() || !dbc_.release() || !env_.release()) return fail();
  return 0;
}

int ProgramConnection::fail() {
  if (gDbc != SQL_NULL_HDBC) PrintDiagnosticRecord(SQL_HANDLE_DBC, gDbc);
  if (gEnv != SQL_NULL_HENV) PrintDiagnosticRecord(SQL_HANDLE_ENV, gEnv);
  dbc_.close();
  env_.release();
  puts(failureLine_);
  return 1;
}

}  // namespace acidkit
