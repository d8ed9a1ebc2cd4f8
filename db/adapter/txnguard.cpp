// PostgreSQL: a serialization failure, deadlock or lock timeout ends the whole
// transaction. psqlODBC rolls back only the failed statement (a savepoint),
// after which a COMMIT would succeed with the transaction's earlier writes,
// taken under a snapshot or locks that no longer hold. The adapter rolls the
// transaction back at once (its locks go with it) and answers every further
// statement, and the COMMIT, with the error that ended it, until the
// application rolls back. Other errors stay the failed statement's alone, as
// on the reference server: the programs go on after a missing row.
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "connector.h"
#include "statement.h"

using namespace acidkit::odbc;

namespace {

std::mutex gMutex;
// Connections whose transaction the adapter rolled back, with the error
// that made it.
std::unordered_map<SQLHDBC, OwnDiag> gRolledBack;

bool autocommitOff(SQLHDBC dbc) {
  SQLULEN value = SQL_AUTOCOMMIT_ON;
  return SQL_SUCCEEDED(
             gConnector.SQLGetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, &value, 0, nullptr)) &&
         value == SQL_AUTOCOMMIT_OFF;
}

// The error that ended the transaction, as every later call reports it.
OwnDiag endedBy(const OwnDiag& first) {
  return {first.state, first.native,
          "acidkit ODBC adapter: the transaction was rolled back after this error; roll back "
          "and run it again: " +
              first.message};
}

}  // namespace

namespace acidkit::odbc {

SQLINTEGER retryableNative(const char* state) {
  if (strcmp(state, "40001") == 0 || strcmp(state, "40P01") == 0) return 14032;
  if (strcmp(state, "55P03") == 0) return 14007;
  return 0;
}

void afterFailure(SQLHDBC dbc, SQLHSTMT failed) {
  if (gDialect != Dialect::PostgreSQL) return;
  SQLCHAR state[6] = "";
  SQLCHAR message[1024] = "";
  SQLINTEGER native = 0;
  if (!SQL_SUCCEEDED(gConnector.SQLGetDiagRec(SQL_HANDLE_STMT, failed, 1, state, &native, message,
                                              sizeof message, nullptr))) {
    return;
  }
  const SQLINTEGER mapped = retryableNative(reinterpret_cast<const char*>(state));
  if (mapped == 0 || !autocommitOff(dbc)) return;
  gConnector.SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
  std::lock_guard lock(gMutex);
  gRolledBack[dbc] = {reinterpret_cast<const char*>(state), mapped,
                      reinterpret_cast<const char*>(message)};
}

void forgetRollback(SQLHDBC dbc) {
  std::lock_guard lock(gMutex);
  gRolledBack.erase(dbc);
}

SQLRETURN refuseAfterRollback(SQLHDBC dbc, SQLHSTMT stmt) {
  OwnDiag diag;
  {
    std::lock_guard lock(gMutex);
    auto it = gRolledBack.find(dbc);
    if (it == gRolledBack.end()) return SQL_SUCCESS;
    diag = endedBy(it->second);
  }
  setOwnDiag(stmt, std::move(diag));
  return SQL_ERROR;
}

}  // namespace acidkit::odbc

extern "C" {

// A COMMIT after the adapter rolled back fails with the error that ended the
// transaction; a rollback ends that state.
SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (type == SQL_HANDLE_DBC) {
    clearOwnDiag(handle);
    OwnDiag first;
    bool rolledBack = false;
    {
      std::lock_guard lock(gMutex);
      auto it = gRolledBack.find(handle);
      if (it != gRolledBack.end()) {
        first = std::move(it->second);
        gRolledBack.erase(it);
        rolledBack = true;
      }
    }
    if (rolledBack) {
      SQLRETURN rc = gConnector.SQLEndTran(type, handle, SQL_ROLLBACK);
      if (completion != SQL_COMMIT) return rc;
      setOwnDiag(handle, endedBy(first));
      return SQL_ERROR;
    }
  }
  return gConnector.SQLEndTran(type, handle, completion);
}

}  // extern "C"
