// Which database and driver the suite ran against, as ODBC reports them.
#pragma once

#include <string>

namespace acidkit {

struct DbInfo {
  bool ok = false;
  std::string error;  // why it could not be read, when !ok
  std::string dbmsName, dbmsVersion, driverName, driverVersion;
  // The Description key of TESTDB's odbc.ini entry: what the data source is
  // (a cluster's topology and nodes, for instance); may be empty.
  std::string description;
};

// Connects to TESTDB with the kit's login and reads SQL_DBMS_NAME,
// SQL_DBMS_VER, SQL_DRIVER_NAME and SQL_DRIVER_VER; the data source's
// description comes from its odbc.ini entry, connected or not.
DbInfo readDbInfo();

}  // namespace acidkit
