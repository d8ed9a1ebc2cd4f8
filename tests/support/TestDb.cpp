#include "TestDb.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

namespace acidkit_test {

std::string sourcePath(const std::string& relative) {
  return std::string(ACIDKIT_SOURCE_DIR) + "/" + relative;
}

std::string programPath(const std::string& program) {
  return std::string(ACIDKIT_BINARY_DIR) + "/bin/" + program;
}

RunResult run(const std::string& command) {
  RunResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = pclose(pipe);
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = 128 + WTERMSIG(status);
  }
  return result;
}

bool onPostgreSQL() {
  const char* engine = std::getenv("ACIDKIT_TEST_ENGINE");
  return engine != nullptr && std::string(engine) == "postgresql";
}

std::string refdbCommand(const std::string& args) {
  // The private data source names this build's adapter driver; the tests'
  // PostgreSQL server has a state and port of its own.
  const std::string build = "ACIDKIT_BUILD=" + std::string(ACIDKIT_BINARY_DIR) + " ";
  if (onPostgreSQL()) {
    return build + "ACIDKIT_PG_STATE=" + ACIDKIT_PG_TEST_STATE +
           " ACIDKIT_PG_PORT=" + std::to_string(ACIDKIT_PG_TEST_PORT) + " " +
           sourcePath("db/refdb") + " pg " + args;
  }
  return build + sourcePath("db/refdb") + " " + args;
}

bool refdb(const std::string& args, std::string* output) {
  RunResult r = run(refdbCommand(args));
  if (output != nullptr) *output = r.output;
  if (r.status != 0) {
    const std::string pg = onPostgreSQL() ? "pg " : "";
    ADD_FAILURE() << "db/refdb " << pg << args << " failed (" << r.status << "):\n"
                  << r.output << "\nIs the reference server running? Start it with: db/refdb " << pg
                  << "start";
    return false;
  }
  return true;
}

bool TestDatabase::use(const std::string& name) {
  name_ = "acidkit_" + name;
  // Per engine: a test of the same name may run against the other server at
  // the same time, and must not rewrite this one's files.
  iniDir_ =
      std::string(ACIDKIT_BINARY_DIR) + "/tests/odbc/" + (onPostgreSQL() ? "pg/" : "") + name_;
  if (!refdb("odbcini " + name_ + " " + iniDir_)) return false;
  // Read by the driver manager at every connect, here and in the programs.
  setenv("ODBCSYSINI", iniDir_.c_str(), 1);
  setenv("ODBCINI", (iniDir_ + "/odbc.ini").c_str(), 1);
  return true;
}

bool TestDatabase::useUnreachable(const std::string& name) {
  if (!use("unreachable_" + name)) return false;
  // Port 1 is reserved and nothing of ours listens there.
  return run("sed -i 's/^\\(Port *= *\\).*/\\11/' " + iniDir_ + "/odbc.ini").status == 0;
}

void TestDatabase::addDataSourceLine(const std::string& line) const {
  std::ofstream(iniDir_ + "/odbc.ini", std::ios::app) << line << "\n";
}

bool TestDatabase::enableFaults() {
  return refdb("faults on --db " + name_);
}

bool TestDatabase::load(const std::string& name, int warehouses) {
  // A failed run keeps its database for a look, fault points and armed
  // faults included, which a reload of the TPC-C tables alone would leave.
  if (!refdb("drop-db acidkit_" + name)) return false;
  loaded_ = refdb("load " + std::to_string(warehouses) + " --db acidkit_" + name + " --replace");
  return loaded_ && use(name);
}

TestDatabase::~TestDatabase() {
  if (loaded_ && !testing::Test::HasFailure()) {
    run(refdbCommand("drop-db " + name_));
  }
}

RunResult TestDatabase::runProgram(const std::string& program, const std::string& redirect,
                                   const std::string& environment) const {
  return run((environment.empty() ? "" : "env " + environment + " ") + programPath(program) + " " +
             redirect);
}

bool TestDatabase::admin(const std::string& sql, std::string* output) const {
  std::string file = iniDir_ + "/admin.sql";
  FILE* f = fopen(file.c_str(), "w");
  if (f == nullptr) return false;
  fputs(sql.c_str(), f);
  fclose(f);
  return refdb("sql --db " + name_ + " < " + file, output);
}

Sql::Sql() {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  SQLRETURN rc = SQLConnect(dbc_, (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                            (SQLCHAR*)kPassword, SQL_NTS);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
    char message[512] = {};
    SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, nullptr, nullptr, (SQLCHAR*)message, sizeof message,
                  nullptr);
    error_ = message;
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
  }
}

Sql::~Sql() {
  if (dbc_ != SQL_NULL_HDBC) {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void Sql::keepError(SQLHSTMT s) {
  char message[512] = {};
  SQLGetDiagRec(SQL_HANDLE_STMT, s, 1, nullptr, nullptr, (SQLCHAR*)message, sizeof message,
                nullptr);
  error_ = message;
}

bool Sql::exec(const std::string& text) {
  SQLHSTMT s;
  if (SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s) != SQL_SUCCESS) return false;
  SQLRETURN rc = SQLExecDirect(s, (SQLCHAR*)text.c_str(), SQL_NTS);
  bool ok = rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA;
  if (!ok) keepError(s);
  SQLFreeHandle(SQL_HANDLE_STMT, s);
  return ok;
}

bool Sql::fetchFirst(const std::string& query, SQLSMALLINT cType, void* value, SQLLEN size) {
  SQLHSTMT s;
  if (SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s) != SQL_SUCCESS) return false;
  SQLLEN indicator = 0;
  bool ok = false;
  SQLRETURN rc = SQLExecDirect(s, (SQLCHAR*)query.c_str(), SQL_NTS);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    SQLBindCol(s, 1, cType, value, size, &indicator);
    rc = SQLFetch(s);
    ok = (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && indicator != SQL_NULL_DATA;
  } else {
    keepError(s);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, s);
  return ok;
}

long long Sql::integer(const std::string& query, long long fallback) {
  long long v = 0;
  return fetchFirst(query, SQL_C_SBIGINT, &v, 0) ? v : fallback;
}

double Sql::number(const std::string& query, double fallback) {
  double v = 0;
  return fetchFirst(query, SQL_C_DOUBLE, &v, 0) ? v : fallback;
}

std::string Sql::text(const std::string& query) {
  char v[1024] = {};
  return fetchFirst(query, SQL_C_CHAR, v, sizeof v) ? std::string(v) : std::string();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& output) {
  std::vector<std::string> all;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

bool isTimestampedLine(const std::string& line, const std::string& message) {
  static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}\] )");
  std::smatch m;
  return std::regex_search(line, m, stamp) && line.substr(m.length()) == message;
}

int findLine(const std::vector<std::string>& all, const std::string& text, int from) {
  for (int i = from; i < static_cast<int>(all.size()); ++i) {
    if (all[i] == text || isTimestampedLine(all[i], text)) return i;
  }
  return -1;
}

double timestampOf(const std::string& line) {
  tm t{};
  long micros = 0;
  if (sscanf(line.c_str(), "[%d-%d-%d %d:%d:%d.%ld]", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
             &t.tm_min, &t.tm_sec, &micros) != 7) {
    return -1;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  return static_cast<double>(mktime(&t)) + micros / 1e6;
}

long long valueAfter(const std::vector<std::string>& all, const std::string& prefix) {
  for (const std::string& line : all) {
    if (line.rfind(prefix, 0) == 0) return std::atoll(line.c_str() + prefix.size());
  }
  return -1;
}

}  // namespace acidkit_test
