// Diagnostics: records come from the connector statement that failed (one
// part of a split text) and carry the native codes the programs retry on.
#include "connector.h"
#include "statement.h"

using namespace acidkit::odbc;

namespace {

// MariaDB's deadlock and lock wait timeout, as the codes the transactions
// roll back and retry on. SQLSTATE and message stay the server's.
SQLINTEGER mapNative(SQLINTEGER native) {
  switch (native) {
    case 1213:
      return 14032;
    case 1205:
      return 14007;
    default:
      return native;
  }
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT bufferLength, SQLSMALLINT* textLength) {
  const DiagSource from = diagSource(type, handle);
  SQLRETURN rc = gConnector.SQLGetDiagRec(from.type, from.handle, record, state, native, message,
                                          bufferLength, textLength);
  if (SQL_SUCCEEDED(rc) && native != nullptr) *native = mapNative(*native);
  return rc;
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                  SQLSMALLINT field, SQLPOINTER info, SQLSMALLINT bufferLength,
                                  SQLSMALLINT* stringLength) {
  const DiagSource from = diagSource(type, handle);
  SQLRETURN rc = gConnector.SQLGetDiagField(from.type, from.handle, record, field, info,
                                            bufferLength, stringLength);
  if (SQL_SUCCEEDED(rc) && field == SQL_DIAG_NATIVE && info != nullptr) {
    *static_cast<SQLINTEGER*>(info) = mapNative(*static_cast<SQLINTEGER*>(info));
  }
  return rc;
}

}  // extern "C"
