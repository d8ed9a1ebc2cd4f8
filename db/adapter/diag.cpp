// Diagnostics: records come from the connector statement that failed (one
// part of a split text), or from the adapter itself, and carry the native
// codes the programs retry on.
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "connector.h"
#include "statement.h"

using namespace acidkit::odbc;

namespace {

// MariaDB's deadlock and lock wait timeout, and PostgreSQL's SQLSTATEs for
// them, as the codes the transactions roll back and retry on. SQLSTATE and
// message stay the server's.
SQLINTEGER mapNative(SQLINTEGER native, const char* state) {
  if (gDialect == Dialect::PostgreSQL) {
    const SQLINTEGER mapped = retryableNative(state);
    return mapped != 0 ? mapped : native;
  }
  switch (native) {
    case 1213:
      return 14032;
    case 1205:
      return 14007;
    default:
      return native;
  }
}

std::mutex gOwnMutex;
std::unordered_map<SQLHANDLE, OwnDiag> gOwn;

bool findOwn(SQLHANDLE handle, OwnDiag* out) {
  std::lock_guard lock(gOwnMutex);
  auto it = gOwn.find(handle);
  if (it == gOwn.end()) return false;
  *out = it->second;
  return true;
}

// Copies text into an ODBC string buffer: truncated with a warning when it
// does not fit, its full length reported.
template <typename Length>
SQLRETURN putText(const std::string& text, SQLPOINTER out, SQLSMALLINT size, Length* length) {
  if (length != nullptr) *length = static_cast<Length>(text.size());
  if (out == nullptr || size <= 0) return SQL_SUCCESS;
  const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
  memcpy(out, text.data(), n);
  static_cast<char*>(out)[n] = '\0';
  return n < text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN ownRec(const OwnDiag& d, SQLSMALLINT record, SQLCHAR* state, SQLINTEGER* native,
                 SQLCHAR* message, SQLSMALLINT bufferLength, SQLSMALLINT* textLength) {
  if (record != 1) return SQL_NO_DATA;
  if (state != nullptr) memcpy(state, d.state.c_str(), 6);
  if (native != nullptr) *native = d.native;
  return putText(d.message, message, bufferLength, textLength);
}

SQLRETURN ownField(const OwnDiag& d, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER info,
                   SQLSMALLINT bufferLength, SQLSMALLINT* stringLength) {
  if (record == 0) {
    if (field == SQL_DIAG_NUMBER && info != nullptr) *static_cast<SQLINTEGER*>(info) = 1;
    if (field == SQL_DIAG_RETURNCODE && info != nullptr) *static_cast<SQLRETURN*>(info) = SQL_ERROR;
    return SQL_SUCCESS;
  }
  if (record != 1) return SQL_NO_DATA;
  switch (field) {
    case SQL_DIAG_SQLSTATE:
      return putText(d.state, info, bufferLength, stringLength);
    case SQL_DIAG_MESSAGE_TEXT:
      return putText(d.message, info, bufferLength, stringLength);
    case SQL_DIAG_NATIVE:
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = d.native;
      return SQL_SUCCESS;
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return putText("ODBC 3.0", info, bufferLength, stringLength);
    default:
      return putText("", info, bufferLength, stringLength);
  }
}

}  // namespace

namespace acidkit::odbc {

void setOwnDiag(SQLHANDLE handle, OwnDiag diag) {
  std::lock_guard lock(gOwnMutex);
  gOwn[handle] = std::move(diag);
}

void clearOwnDiag(SQLHANDLE handle) {
  std::lock_guard lock(gOwnMutex);
  gOwn.erase(handle);
}

}  // namespace acidkit::odbc

extern "C" {

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT bufferLength, SQLSMALLINT* textLength) {
  if (OwnDiag own; findOwn(handle, &own)) {
    return ownRec(own, record, state, native, message, bufferLength, textLength);
  }
  const DiagSource from = diagSource(type, handle);
  SQLCHAR stateHere[6] = "";
  SQLCHAR* stateOut = state != nullptr ? state : stateHere;
  SQLRETURN rc = gConnector.SQLGetDiagRec(from.type, from.handle, record, stateOut, native, message,
                                          bufferLength, textLength);
  if (SQL_SUCCEEDED(rc) && native != nullptr)
    *native = mapNative(*native, reinterpret_cast<const char*>(stateOut));
  return rc;
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                  SQLSMALLINT field, SQLPOINTER info, SQLSMALLINT bufferLength,
                                  SQLSMALLINT* stringLength) {
  if (OwnDiag own; findOwn(handle, &own)) {
    return ownField(own, record, field, info, bufferLength, stringLength);
  }
  const DiagSource from = diagSource(type, handle);
  SQLRETURN rc = gConnector.SQLGetDiagField(from.type, from.handle, record, field, info,
                                            bufferLength, stringLength);
  if (SQL_SUCCEEDED(rc) && field == SQL_DIAG_NATIVE && info != nullptr) {
    SQLCHAR state[6] = "";
    if (gDialect == Dialect::PostgreSQL) {
      gConnector.SQLGetDiagField(from.type, from.handle, record, SQL_DIAG_SQLSTATE, state,
                                 sizeof state, nullptr);
    }
    *static_cast<SQLINTEGER*>(info) =
        mapNative(*static_cast<SQLINTEGER*>(info), reinterpret_cast<const char*>(state));
  }
  return rc;
}

}  // extern "C"
