// Connecting: the connector is always asked for the options the adapter
// relies on, whatever the data source entry says.
#include <odbcinst.h>

#include <cstdio>
#include <string>

#include "connector.h"
#include "connstr.h"
#include "misconfig.h"
#include "statement.h"

using namespace acidkit::odbc;

namespace {

std::string textOf(SQLCHAR* text, SQLSMALLINT length) {
  if (text == nullptr) return {};
  const char* p = reinterpret_cast<const char*>(text);
  return length == SQL_NTS ? std::string(p) : std::string(p, length < 0 ? 0 : length);
}

// OPTION as the connection string sets it, else as the data source entry does.
void requireOptions(ConnectionAttributes& attributes) {
  std::string option;
  if (const std::string* set = findAttribute(attributes, "OPTION"); set != nullptr) {
    option = *set;
  } else if (const std::string* dsn = findAttribute(attributes, "DSN"); dsn != nullptr) {
    char value[32];
    SQLGetPrivateProfileString(dsn->c_str(), "Option", "", value, sizeof value, "odbc.ini");
    option = value;
  }
  setAttribute(attributes, "OPTION", withRequiredOptions(option));
}

// psqlODBC: a CALL fills its INOUT parameters only with server-side prepare;
// a failed statement rolls back to a savepoint of its own, as a failed
// statement does on the reference server (txnguard.cpp ends the whole
// transaction for the errors that must end it).
void requirePostgreSQLOptions(ConnectionAttributes& attributes) {
  setAttribute(attributes, "UseServerSidePrepare", "1");
  setAttribute(attributes, "Protocol", "7.4-2");
}

SQLRETURN driverConnect(SQLHDBC dbc, SQLHWND window, const std::string& in, SQLCHAR* out,
                        SQLSMALLINT outMax, SQLSMALLINT* outLength, SQLUSMALLINT completion) {
  ConnectionAttributes attributes = parseConnectionString(in);
  Misconfiguration misconfiguration;
  std::string error;
  if (!readMisconfiguration(attributes, &misconfiguration, &error)) {
    fprintf(stderr, "acidkit adapter: %s\n", error.c_str());
    return SQL_ERROR;
  }
  if (gDialect == Dialect::PostgreSQL) {
    requirePostgreSQLOptions(attributes);
  } else {
    requireOptions(attributes);
  }
  std::string text = buildConnectionString(attributes);
  SQLRETURN rc = gConnector.SQLDriverConnect(dbc, window, reinterpret_cast<SQLCHAR*>(text.data()),
                                             SQL_NTS, out, outMax, outLength, completion);
  if (SQL_SUCCEEDED(rc)) setMisconfiguration(dbc, misconfiguration);
  return rc;
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user,
                             SQLSMALLINT userLength, SQLCHAR* password,
                             SQLSMALLINT passwordLength) {
  // Empty user or password: the data source entry's own apply.
  ConnectionAttributes attributes{{"DSN", textOf(dsn, dsnLength)}};
  if (std::string u = textOf(user, userLength); !u.empty()) attributes.emplace_back("UID", u);
  if (std::string p = textOf(password, passwordLength); !p.empty())
    attributes.emplace_back("PWD", p);
  return driverConnect(dbc, nullptr, buildConnectionString(attributes), nullptr, 0, nullptr,
                       SQL_DRIVER_NOPROMPT);
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLength,
                                   SQLCHAR* out, SQLSMALLINT outMax, SQLSMALLINT* outLength,
                                   SQLUSMALLINT completion) {
  return driverConnect(dbc, window, textOf(in, inLength), out, outMax, outLength, completion);
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
  forgetConnection(dbc);
  forgetMisconfiguration(dbc);
  clearOwnDiag(dbc);
  return gConnector.SQLDisconnect(dbc);
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length) {
  // Isolation, autocommit and the rest go to the connector as they are (an
  // isolation level set after connecting takes effect at once), unless the
  // data source is misconfigured on purpose.
  const Misconfiguration broken = misconfigurationOf(dbc);
  const auto number = reinterpret_cast<SQLULEN>(value);
  if (attribute == SQL_ATTR_AUTOCOMMIT && number == SQL_AUTOCOMMIT_OFF && broken.brokenAutocommit) {
    return SQL_SUCCESS;
  }
  if (attribute == SQL_ATTR_TXN_ISOLATION && broken.forcedIsolation) {
    value = reinterpret_cast<SQLPOINTER>(*broken.forcedIsolation);
  }
  return gConnector.SQLSetConnectAttr(dbc, attribute, value, length);
}

}  // extern "C"
