#include "connector.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <strings.h>

#include <cstdio>
#include <mutex>

namespace acidkit::odbc {

Connector gConnector;
Dialect gDialect = Dialect::MariaDB;

namespace {

constexpr const char* kMariaDBConnector = "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so";
// The ANSI build: the programs' texts are single-byte.
constexpr const char* kPostgreSQLConnector = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so";

int gLoadStatus = 1;
std::once_flag gLoadOnce;

void load() {
  // The driver entry names the dialect, and may name another build of the connector.
  char dialect[32];
  SQLGetPrivateProfileString("acidkit", "Dialect", "mariadb", dialect, sizeof dialect,
                             "odbcinst.ini");
  const char* name = "MariaDB Connector/ODBC";
  const char* package = "odbc-mariadb";
  const char* fallback = kMariaDBConnector;
  if (strcasecmp(dialect, "postgresql") == 0) {
    gDialect = Dialect::PostgreSQL;
    name = "psqlODBC";
    package = "odbc-postgresql";
    fallback = kPostgreSQLConnector;
  } else if (dialect[0] != '\0' && strcasecmp(dialect, "mariadb") != 0) {
    fprintf(stderr,
            "acidkit ODBC adapter: unknown 'Dialect = %s' in the [acidkit] section of "
            "odbcinst.ini; use mariadb or postgresql.\n",
            dialect);
    return;
  }
  char path[1024];
  SQLGetPrivateProfileString("acidkit", "Connector", fallback, path, sizeof path, "odbcinst.ini");
  if (path[0] == '\0') snprintf(path, sizeof path, "%s", fallback);
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    fprintf(stderr,
            "acidkit ODBC adapter: cannot load %s: %s\n"
            "Install it (apt-get install %s) or name its library with "
            "'Connector = PATH' in the [acidkit] section of odbcinst.ini.\n",
            name, dlerror(), package);
    return;
  }
#define ACIDKIT_CONNECTOR_LOAD(function)                                                          \
  gConnector.function = reinterpret_cast<decltype(gConnector.function)>(dlsym(lib, #function));   \
  if (gConnector.function == nullptr) {                                                           \
    fprintf(stderr, "acidkit ODBC adapter: %s lacks %s; it is not %s.\n", path, #function, name); \
    return;                                                                                       \
  }
  ACIDKIT_CONNECTOR_FUNCTIONS(ACIDKIT_CONNECTOR_LOAD)
#undef ACIDKIT_CONNECTOR_LOAD
  gLoadStatus = 0;
}

}  // namespace

int loadConnector() {
  std::call_once(gLoadOnce, load);
  return gLoadStatus;
}

}  // namespace acidkit::odbc
