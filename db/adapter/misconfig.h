// Misconfigured connections on purpose: data source keys that make the
// adapter behave like a broken driver, so that `acidkit selfcheck` can show
// the kit failing such a database. Never set on a real data source.
//   BrokenAutocommit = 1        turning autocommit off answers success and
//                               leaves it on: every statement commits
//   ForcedIsolation  = LEVEL    every isolation level asked for is replaced
//                               by LEVEL (READ-UNCOMMITTED, READ-COMMITTED,
//                               REPEATABLE-READ or SERIALIZABLE)
#pragma once

#include <sql.h>

#include <optional>
#include <string>
#include <string_view>

#include "connstr.h"

namespace acidkit::odbc {

struct Misconfiguration {
  bool brokenAutocommit = false;
  std::optional<SQLULEN> forcedIsolation;  // SQL_TXN_* value
};

// The keys of a connection's attributes, or of its data source entry when
// the connection string does not carry them. An unknown level is refused.
// Returns false with a message in *error.
bool readMisconfiguration(const ConnectionAttributes& attributes, Misconfiguration* into,
                          std::string* error);
// SQL_TXN_* value of a level name, or nothing.
std::optional<SQLULEN> isolationLevelNamed(std::string_view name);

// Remembered per connection from its connect to its disconnect.
void setMisconfiguration(SQLHDBC dbc, const Misconfiguration& misconfiguration);
void forgetMisconfiguration(SQLHDBC dbc);
Misconfiguration misconfigurationOf(SQLHDBC dbc);

}  // namespace acidkit::odbc
