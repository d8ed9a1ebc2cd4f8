// Side table of the statement handles handed out by the connector: which
// connection each belongs to, the extra connector statements of a text of
// several statements, the parameter bindings to route to them, and where the
// diagnostics of the last call on the handle live.
#pragma once

#include <sql.h>

#include <string>

namespace acidkit::odbc {

struct DiagSource {
  SQLSMALLINT type;
  SQLHANDLE handle;
};

void registerStatement(SQLHSTMT stmt, SQLHDBC dbc);
// Frees the extra connector statements of stmt and drops its entry.
void forgetStatement(SQLHSTMT stmt);
// The same for every statement of dbc (before disconnecting or freeing it).
void forgetConnection(SQLHDBC dbc);
// Handle whose diagnostic records answer for (type, handle).
DiagSource diagSource(SQLSMALLINT type, SQLHANDLE handle);

// A diagnostic record of the adapter's own, the only record of its handle
// until the next call on that handle clears it.
struct OwnDiag {
  std::string state;
  SQLINTEGER native;
  std::string message;
};
void setOwnDiag(SQLHANDLE handle, OwnDiag diag);
void clearOwnDiag(SQLHANDLE handle);

// PostgreSQL: the native codes the transactions retry on, for a SQLSTATE
// (40001, 40P01: 14032; 55P03: 14007), else 0.
SQLINTEGER retryableNative(const char* state);

// PostgreSQL: after a statement of dbc failed with a retryable error (failed:
// the connector statement that holds its diagnostics) while autocommit is
// off, rolls the whole transaction back and refuses every statement and a
// COMMIT until the application ends the transaction.
void afterFailure(SQLHDBC dbc, SQLHSTMT failed);
// Drops that state for dbc (disconnecting or freeing it).
void forgetRollback(SQLHDBC dbc);
// SQL_ERROR with an own record on stmt when dbc's transaction was rolled back
// that way; SQL_SUCCESS otherwise.
SQLRETURN refuseAfterRollback(SQLHDBC dbc, SQLHSTMT stmt);

}  // namespace acidkit::odbc
