// What atom and consist share: the one connection each keeps for its whole
// run (gDbc, from gEnv), with its failure path, and the underlined headings
// of their reports. gDbc keeps its fixed name.
#pragma once

#include <sql.h>

#include "Odbc.h"

extern SQLHDBC gDbc;

namespace acidkit {

// gEnv (ODBC 3) and gDbc, connected to the data source with serializable
// isolation and autocommit left on.
class ProgramConnection {
 public:
  // failureLine: the program's own line after the diagnostics of a failure.
  explicit ProgramConnection(const char* failureLine) : failureLine_(failureLine) {}

  // 0, or the failure path's 1.
  int open();
  // Disconnects and frees gDbc, then frees gEnv; 0, or the failure path's 1.
  int close();
  // The failure path: the diagnostics of gDbc, then of gEnv, each as far as
  // it exists; what is still held released (gDbc disconnected if connected,
  // then freed; then gEnv), each freed handle set to null; the failure line.
  // Returns 1, the program's exit status.
  int fail();

 private:
  const char* failureLine_;
  OdbcEnvironment env_{&gEnv};
  OdbcConnection dbc_{&gDbc};
};

// Prints `text` on a line and underlines it with as many "=" as it has
// characters.
void printUnderlined(const char* text);

}  // namespace acidkit
