#include "PrintDiagnosticRecord.h"

#include <cstdio>

#include "Odbc.h"

namespace {

constexpr char kRule[] = "=============================================";  // 45

}  // namespace

void PrintDiagnosticRecord(SQLSMALLINT handleType, SQLHANDLE handle) {
  for (SQLSMALLINT record = 1; record > 0; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[512] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc =
        SQLGetDiagRec(handleType, handle, record, state, &native, message, sizeof message, &length);
    if (rc == SQL_NO_DATA) return;
    if (!acidkit::succeeded(rc)) {
      puts("SQLGetDiagRec failure.");
      return;
    }
    printf("\n%s\n", kRule);
    printf("SQL_DIAG_SQLSTATE     : %s\n", reinterpret_cast<char*>(state));
    printf("SQL_DIAG_NATIVE       : %d\n", static_cast<int>(native));
    printf("SQL_DIAG_MESSAGE_TEXT : %s\n", reinterpret_cast<char*>(message));
    printf("%s\n", kRule);
  }
}
