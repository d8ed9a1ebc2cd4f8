// What the tests share: running commands and the built programs, databases
// of the reference server loaded for one test, and SQL through TESTDB.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "config.h"

namespace acidkit_test {

std::string sourcePath(const std::string& relative);  // in the checkout
std::string programPath(const std::string& program);  // in the build's bin/

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string output;
};
// Runs a shell command with stdout and stderr captured together.
RunResult run(const std::string& command);

// True when the tests run against the PostgreSQL reference server
// (ACIDKIT_TEST_ENGINE=postgresql), whose commands are `db/refdb pg ...`.
bool onPostgreSQL();
// The reference server's command line for ARGS, on the engine under test.
std::string refdbCommand(const std::string& args);
// Runs `db/refdb ARGS`; fails the current test with its output when it does.
bool refdb(const std::string& args, std::string* output = nullptr);

// A database of the reference server of its own for one test, loaded with
// the build's warehouse count, and TESTDB pointed at it for this process and
// every program it starts (through the driver manager's ODBCINI/ODBCSYSINI).
class TestDatabase {
 public:
  TestDatabase() = default;
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;
  // Drops a database this object loaded once its test has passed (a failed
  // test's database stays for a look).
  ~TestDatabase();
  // name: suffix of acidkit_<name>. Loads it anew; false (with the reason
  // recorded as a test failure) when the reference server is not there.
  bool load(const std::string& name, int warehouses);
  // Points TESTDB at an existing database without loading it.
  bool use(const std::string& name);
  // Points TESTDB at a port where no server listens. Each caller names its
  // own data source files: tests run side by side, and one rewriting the
  // files of another would point it at the live server.
  bool useUnreachable(const std::string& name);
  // Installs the test-only fault points (table acidkit_fault) in this database.
  bool enableFaults();
  // Appends a line to the TESTDB entry of this database's data source file.
  void addDataSourceLine(const std::string& line) const;
  const std::string& name() const { return name_; }
  // Runs a built program against this database; environment: "NAME=value ..."
  // set for the program alone.
  RunResult runProgram(const std::string& program, const std::string& redirect = "",
                       const std::string& environment = "") const;
  // SQL run by the server's administrator on this database.
  bool admin(const std::string& sql, std::string* output = nullptr) const;

 private:
  std::string name_;
  std::string iniDir_;
  bool loaded_ = false;
};

// One connection through TESTDB as the kit's user, autocommit on.
class Sql {
 public:
  Sql();
  ~Sql();
  bool ok() const { return dbc_ != SQL_NULL_HDBC; }
  bool exec(const std::string& text);
  // First column of the first row, or the fallback when there is none.
  long long integer(const std::string& query, long long fallback = -1);
  double number(const std::string& query, double fallback = -1);
  std::string text(const std::string& query);
  std::string lastError() const { return error_; }
  SQLHDBC dbc() const { return dbc_; }

 private:
  bool fetchFirst(const std::string& query, SQLSMALLINT cType, void* value, SQLLEN size);
  // The statement's first diagnostic message becomes lastError().
  void keepError(SQLHSTMT s);
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  std::string error_;
};

std::vector<std::string> lines(const std::string& output);
// The whole file, or "" when it cannot be read.
std::string readFile(const std::string& path);
// "[YYYY-MM-DD HH:MM:SS.uuuuuu] message": true when `line` is such a line
// carrying `message`.
bool isTimestampedLine(const std::string& line, const std::string& message);
// Index of the first line equal to `text` (or timestamped with it) from
// `from` on, or -1.
int findLine(const std::vector<std::string>& all, const std::string& text, int from = 0);
// Seconds (local time, with microseconds) of a timestamped line; -1 if none.
double timestampOf(const std::string& line);
// Integer after "<prefix>" on the first line that starts with it; -1 if none.
long long valueAfter(const std::vector<std::string>& all, const std::string& prefix);

}  // namespace acidkit_test
