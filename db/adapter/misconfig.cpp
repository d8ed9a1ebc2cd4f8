#include "misconfig.h"

#include <odbcinst.h>
#include <sqlext.h>

#include <mutex>
#include <unordered_map>

namespace acidkit::odbc {

namespace {

std::mutex gMutex;
std::unordered_map<SQLHDBC, Misconfiguration> gConnections;

// The key as the connection string sets it, else as the data source entry does.
std::string valueOf(const ConnectionAttributes& attributes, const char* key) {
  if (const std::string* set = findAttribute(attributes, key); set != nullptr) return *set;
  const std::string* dsn = findAttribute(attributes, "DSN");
  if (dsn == nullptr) return {};
  char value[64] = {};
  SQLGetPrivateProfileString(dsn->c_str(), key, "", value, sizeof value, "odbc.ini");
  return value;
}

}  // namespace

std::optional<SQLULEN> isolationLevelNamed(std::string_view name) {
  if (name == "READ-UNCOMMITTED") return SQL_TXN_READ_UNCOMMITTED;
  if (name == "READ-COMMITTED") return SQL_TXN_READ_COMMITTED;
  if (name == "REPEATABLE-READ") return SQL_TXN_REPEATABLE_READ;
  if (name == "SERIALIZABLE") return SQL_TXN_SERIALIZABLE;
  return std::nullopt;
}

bool readMisconfiguration(const ConnectionAttributes& attributes, Misconfiguration* into,
                          std::string* error) {
  *into = {};
  std::string autocommit = valueOf(attributes, "BrokenAutocommit");
  into->brokenAutocommit = autocommit == "1";
  if (!autocommit.empty() && autocommit != "0" && autocommit != "1") {
    *error = "BrokenAutocommit must be 0 or 1, not '" + autocommit + "'";
    return false;
  }
  std::string level = valueOf(attributes, "ForcedIsolation");
  if (level.empty()) return true;
  into->forcedIsolation = isolationLevelNamed(level);
  if (!into->forcedIsolation) {
    *error = "ForcedIsolation '" + level +
             "' is no isolation level; use READ-UNCOMMITTED, READ-COMMITTED, REPEATABLE-READ or "
             "SERIALIZABLE";
    return false;
  }
  return true;
}

void setMisconfiguration(SQLHDBC dbc, const Misconfiguration& misconfiguration) {
  std::lock_guard lock(gMutex);
  if (!misconfiguration.brokenAutocommit && !misconfiguration.forcedIsolation) {
    gConnections.erase(dbc);
  } else {
    gConnections[dbc] = misconfiguration;
  }
}

void forgetMisconfiguration(SQLHDBC dbc) {
  std::lock_guard lock(gMutex);
  gConnections.erase(dbc);
}

Misconfiguration misconfigurationOf(SQLHDBC dbc) {
  std::lock_guard lock(gMutex);
  auto it = gConnections.find(dbc);
  return it == gConnections.end() ? Misconfiguration{} : it->second;
}

}  // namespace acidkit::odbc
