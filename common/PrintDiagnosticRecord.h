// Every diagnostic record of an ODBC handle, in full. The name is a fixed
// one; atom and consist print their failures with it.
#pragma once

#include <sql.h>

// Prints each record of the handle as a block with its SQLSTATE, native error
// and message; "SQLGetDiagRec failure." when a record cannot be read. A
// handle without diagnostics prints nothing.
void PrintDiagnosticRecord(SQLSMALLINT handleType, SQLHANDLE handle);
