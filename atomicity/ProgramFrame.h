// What atom and consist share besides the diagnostics printer: the one
// connection each keeps for its whole run, with its failure path, and the
// underlined headings of their reports.
#pragma once

#include <sql.h>
#include <sqlext.h>

// How much of the program's environment and connection is held: what the
// failure path releases.
enum class ProgramHeld { nothing, environment, connectionHandle, connection };

// Allocates the environment (ODBC 3) and the connection, connects to the data
// source and asks for serializable isolation; autocommit stays on. 0, or the
// failure path's 1.
int openProgramConnection(SQLHENV& env, SQLHDBC& dbc, const char* failureLine);
// Disconnects and frees the connection, then frees the environment. 0, or the
// failure path's 1.
int closeProgramConnection(SQLHENV& env, SQLHDBC& dbc, const char* failureLine);
// The failure path: the connection's diagnostics, then the environment's,
// release of what is held (each freed handle set to null), the failure line.
// Returns 1, the program's exit status.
int failProgram(SQLHENV& env, SQLHDBC& dbc, ProgramHeld held, const char* failureLine);

// Prints `text` on a line and underlines it with as many "=" as it has
// characters.
void printUnderlined(const char* text);
