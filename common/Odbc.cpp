#include "Odbc.h"

#include "config.h"

SQLHENV gEnv = SQL_NULL_HENV;

namespace acidkit {

template <SQLSMALLINT Type>
bool OdbcHandle<Type>::allocate(SQLHANDLE parent) {
  if (succeeded(SQLAllocHandle(Type, parent, slot_))) {
    held_ = true;
    return true;
  }
  *slot_ = SQL_NULL_HANDLE;
  return false;
}

template <SQLSMALLINT Type>
bool OdbcHandle<Type>::release() {
  if (!held_) return true;
  held_ = false;
  if (!succeeded(SQLFreeHandle(Type, *slot_))) return false;
  *slot_ = SQL_NULL_HANDLE;
  return true;
}

template class OdbcHandle<SQL_HANDLE_ENV>;
template class OdbcHandle<SQL_HANDLE_DBC>;
template class OdbcHandle<SQL_HANDLE_STMT>;

bool OdbcConnection::connect() {
  connected_ = succeeded(SQLConnect(get(), (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                                    (SQLCHAR*)kPassword, SQL_NTS));
  return connected_;
}

bool OdbcConnection::set(SQLINTEGER attribute, SQLULEN value) {
  return succeeded(SQLSetConnectAttr(get(), attribute, (SQLPOINTER)value, SQL_IS_UINTEGER));
}

bool OdbcConnection::endTransaction(SQLSMALLINT completion) {
  return succeeded(SQLEndTran(SQL_HANDLE_DBC, get(), completion));
}

bool OdbcConnection::disconnect() {
  if (!connected_) return true;
  connected_ = false;
  return succeeded(SQLDisconnect(get()));
}

void OdbcConnection::close() {
  disconnect();
  release();
}

void readFirstDiagnostic(SQLSMALLINT type, SQLHANDLE handle, char* message, SQLSMALLINT size,
                         SQLINTEGER* native) {
  SQLGetDiagRec(type, handle, 1, nullptr, native, reinterpret_cast<SQLCHAR*>(message), size,
                nullptr);
}

std::string diagnosticText(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[512] = {};
  if (!succeeded(
          SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, nullptr))) {
    return "no diagnostic";
  }
  return std::string(reinterpret_cast<char*>(state)) + ": " + reinterpret_cast<char*>(message);
}

}  // namespace acidkit
