#include "connector.h"

#include <dlfcn.h>
#include <odbcinst.h>

#include <cstdio>
#include <mutex>

namespace acidkit::odbc {

Connector gConnector;

namespace {

constexpr const char* kDefaultConnector = "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so";

int gLoadStatus = 1;
std::once_flag gLoadOnce;

void load() {
  // The driver entry may name another build of the connector.
  char path[1024];
  SQLGetPrivateProfileString("acidkit", "Connector", kDefaultConnector, path, sizeof path,
                             "odbcinst.ini");
  if (path[0] == '\0') snprintf(path, sizeof path, "%s", kDefaultConnector);
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    fprintf(stderr,
            "acidkit ODBC adapter: cannot load MariaDB Connector/ODBC: %s\n"
            "Install it (apt-get install odbc-mariadb) or name its library with "
            "'Connector = PATH' in the [acidkit] section of odbcinst.ini.\n",
            dlerror());
    return;
  }
#define ACIDKIT_CONNECTOR_LOAD(name)                                                              \
  gConnector.name = reinterpret_cast<decltype(gConnector.name)>(dlsym(lib, #name));               \
  if (gConnector.name == nullptr) {                                                               \
    fprintf(stderr, "acidkit ODBC adapter: %s lacks %s; it is not MariaDB Connector/ODBC 3.1.\n", \
            path, #name);                                                                         \
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
