// The kit's one owner of ODBC handles, and the connection every part of it
// opens to the database under test. Names in the global namespace (gEnv) keep
// the fixed names the programs share; the rest is the kit's own.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

// The process's ODBC environment: each program allocates it (ODBC 3) before
// any connection and frees it last; every connection comes from it.
extern SQLHENV gEnv;

namespace acidkit {

// SQL_SUCCESS or SQL_SUCCESS_WITH_INFO; anything else, SQL_NO_DATA included,
// fails the step that made the call.
inline bool succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// One ODBC handle of type Type, freed by its owner's end unless released
// before. A handle whose release failed stays readable for its diagnostics
// and is never freed again. The handle lives in the owner, or in a variable
// the owner is given (a global such as gEnv), which it sets to null once
// freed.
template <SQLSMALLINT Type>
class OdbcHandle {
 public:
  explicit OdbcHandle(SQLHANDLE* slot = nullptr) : slot_(slot != nullptr ? slot : &own_) {}
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  ~OdbcHandle() { release(); }

  // SQLAllocHandle from `parent` (SQL_NULL_HANDLE for an environment). On
  // failure nothing is held and the handle reads null.
  bool allocate(SQLHANDLE parent);
  // SQLFreeHandle, at most once. True when freed (or nothing was held).
  bool release();
  // Gives the handle up without freeing it: something else frees it (a
  // disconnect frees its statements, the process's end an environment that
  // a running thread may still use).
  void abandon() { held_ = false; }

  SQLHANDLE get() const { return *slot_; }
  bool held() const { return held_; }

 private:
  SQLHANDLE own_ = SQL_NULL_HANDLE;
  SQLHANDLE* slot_;
  bool held_ = false;
};

using OdbcEnvironment = OdbcHandle<SQL_HANDLE_ENV>;
using OdbcStatement = OdbcHandle<SQL_HANDLE_STMT>;

// A connection to the data source under test with the kit's login. It ends
// as every connection of the kit ends: disconnected (once, whatever the
// result), then freed.
class OdbcConnection {
 public:
  explicit OdbcConnection(SQLHDBC* slot = nullptr) : handle_(slot) {}
  ~OdbcConnection() { close(); }

  bool allocate(SQLHENV env = gEnv) { return handle_.allocate(env); }
  // SQLConnect to TESTDB as the kit's user.
  bool connect();
  // SQLSetConnectAttr of a number (SQL_IS_UINTEGER).
  bool set(SQLINTEGER attribute, SQLULEN value);
  bool endTransaction(SQLSMALLINT completion);
  // SQLDisconnect, at most once.
  bool disconnect();
  bool release() { return handle_.release(); }
  // Disconnects and releases what is still held; results not examined.
  void close();

  SQLHDBC get() const { return handle_.get(); }
  bool connected() const { return connected_; }
  bool held() const { return handle_.held(); }

 private:
  OdbcHandle<SQL_HANDLE_DBC> handle_;
  bool connected_ = false;
};

// The message of a handle's first diagnostic record, into `message` (size
// bytes); *native gets its native error when given. Without a record the
// buffer keeps what it held: the frames print the text read before, or the
// empty text.
void readFirstDiagnostic(SQLSMALLINT type, SQLHANDLE handle, char* message, SQLSMALLINT size,
                         SQLINTEGER* native = nullptr);

// "SQLSTATE: message" of a handle's first diagnostic record, or "no
// diagnostic" when it has none.
std::string diagnosticText(SQLSMALLINT type, SQLHANDLE handle);

}  // namespace acidkit
