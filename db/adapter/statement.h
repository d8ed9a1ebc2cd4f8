// Side table of the statement handles handed out by the connector: which
// connection each belongs to, the extra connector statements of a text of
// several statements, the parameter bindings to route to them, and where the
// diagnostics of the last call on the handle live.
#pragma once

#include <sql.h>

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

}  // namespace acidkit::odbc
