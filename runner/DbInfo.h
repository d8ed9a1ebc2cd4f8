// Which database and driver the suite ran against, as ODBC reports them.
#pragma once

#include <string>

namespace acidkit {

struct DbInfo {
  bool ok = false;
  std::string error;  // why it could not be read, when !ok
  std::string dbmsName, dbmsVersion, driverName, driverVersion;
};

// Connects to TESTDB with the kit's login and reads SQL_DBMS_NAME,
// SQL_DBMS_VER, SQL_DRIVER_NAME and SQL_DRIVER_VER.
DbInfo readDbInfo();

}  // namespace acidkit
