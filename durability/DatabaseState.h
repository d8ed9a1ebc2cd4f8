// Reads of the database under test that the stream and its verification
// share: statements of standard SQL, one row each, on a connection of the
// kit (autocommit on).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <initializer_list>
#include <string>

#include "Odbc.h"

namespace acidkit {

// One prepared statement with input parameters, run as often as needed; each
// run fetches the first row's columns, bound as 64-bit integers.
class RowQuery {
 public:
  bool prepare(SQLHDBC connection, const char* text);
  // Binds input parameter n to *value for every later run.
  bool bindInt(SQLUSMALLINT n, int32_t* value);
  bool bindText(SQLUSMALLINT n, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, char* value);
  bool bindTimestamp(SQLUSMALLINT n, SQL_TIMESTAMP_STRUCT* value);
  // Runs it; *found is false when it returned no row. Columns 1..count go to
  // columns[0..count-1]; a NULL reads as 0.
  bool run(long long* columns, int count, bool* found);
  // The statement's first diagnostic, for the message of a failed call.
  std::string error() const;

 private:
  OdbcStatement stmt_;
  std::string text_;
};

struct DatabaseCounts {
  long long warehouses = 0;      // WAREHOUSE rows with W_ID 1..W
  long long nextOrderIdSum = 0;  // sum of D_NEXT_O_ID of their districts
  long long historyRows = 0;     // all of HISTORY
};

// The counts over warehouses 1..w; false with *error (the statement's
// diagnostic) when a read fails.
bool readCounts(SQLHDBC connection, int32_t w, DatabaseCounts* counts, std::string* error);

// A connection of the kit to the data source under test, or false with the
// reason in *error.
bool openConnection(OdbcConnection* connection, std::string* error);

}  // namespace acidkit
