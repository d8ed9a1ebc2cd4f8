#include "Reliability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace acidkit_test {

namespace fs = std::filesystem;

namespace {

const std::string kBinary = ACIDKIT_BINARY_DIR;
const std::string kAsanBuild = ACIDKIT_ASAN_BUILD_DIR;
const std::string kHere = ACIDKIT_RELIABILITY_SOURCE_DIR;

// "ODBCSYSINI=... ODBCINI=... " for data source files in dir.
std::string odbcEnv(const std::string& dir) {
  return "ODBCSYSINI=" + dir + " ODBCINI=" + dir + "/odbc.ini ";
}

bool lineMatches(const std::string& line, const std::string& expected) {
  if (!expected.empty() && expected[0] == '~') {
    static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}\] )");
    std::regex re(expected.substr(1));
    return std::regex_match(line, re) || std::regex_match(std::regex_replace(line, stamp, ""), re);
  }
  return line == expected || isTimestampedLine(line, expected);
}

}  // namespace

std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

const std::vector<std::string>& allPrograms() {
  static const std::vector<std::string> programs = {
      "isolation1", "isolation2", "isolation3", "isolation4", "isolation5", "isolation6",
      "isolation7", "isolation8", "isolation9", "atom",       "consist"};
  return programs;
}

const std::vector<std::string>& pausingPrograms() {
  static const std::vector<std::string> programs(allPrograms().begin(), allPrograms().begin() + 9);
  return programs;
}

Server Server::privateInstance() {
  return {ACIDKIT_PRIVATE_STATE, ACIDKIT_PRIVATE_PORT};
}

std::string Server::env() const {
  std::string text = "env ACIDKIT_BUILD=" + kBinary + " ";
  if (!state.empty()) {
    // Small: the private server holds a few test databases only.
    text += "ACIDKIT_STATE=" + state + " ACIDKIT_PORT=" + std::to_string(port) +
            " ACIDKIT_ODBC_SYSTEM=0 ACIDKIT_BUFFER_POOL=256M ";
  }
  return text;
}

RunResult Server::refdb(const std::string& args) const {
  return acidkit_test::run(env() + sourcePath("db/refdb") + " " + args);
}

RunResult Server::loadTemplate() const {
  return acidkit_test::run(env() + kHere + "/clone-db template " + std::to_string(kWarehouses));
}

int Server::pid() const {
  // The pid file of db/refdb's server, checked against the process. (Not
  // db/refdb status: it also queries every database, and once failed while
  // other tests copied and dropped theirs.)
  std::string dir = state;
  if (dir.empty()) {
    const char* shared = getenv("ACIDKIT_STATE");
    dir = shared != nullptr && *shared != '\0' ? shared : "/var/lib/acidkit";
  }
  const int pid = std::atoi(readFile(dir + "/run/mysqld.pid").c_str());
  if (pid <= 0) return -1;
  std::string cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
  return cmdline.find("mariadbd") != std::string::npos ? pid : -1;
}

const char* checkerName(Checker checker) {
  return checker == Checker::kSanitized ? "sanitized" : "valgrind";
}

long Ledger::count(const std::string& key) const {
  auto it = fields.find(key);
  return it == fields.end() ? -1 : std::atol(it->second.c_str());
}

CheckedDatabase::~CheckedDatabase() {
  if (copied_ && !testing::Test::HasFailure()) server_.refdb("drop-db " + name_);
}

bool CheckedDatabase::create(const std::string& name, const Server& server, bool copy) {
  name_ = "acidkit_rel_" + name;
  server_ = server;
  dir_ = kBinary + "/tests/reliability/odbc/" + name_ +
         (server.state.empty() ? "" : "-" + std::to_string(server.port));
  if (copy) {
    RunResult r = acidkit_test::run(server.env() + kHere + "/clone-db copy " + name_);
    if (r.status != 0) {
      ADD_FAILURE() << "clone-db copy " << name_ << " failed (" << r.status << "):\n" << r.output;
      return false;
    }
    copied_ = true;
  }
  // The checked programs load the checked build's adapter; this process (not
  // sanitized) and valgrind's programs the normal one.
  RunResult plain = server.refdb("odbcini " + name_ + " " + plainIniDir());
  RunResult checked =
      acidkit_test::run(server.env() + "ACIDKIT_BUILD=" + kAsanBuild + " " +
                        sourcePath("db/refdb") + " odbcini " + name_ + " " + checkedIniDir());
  if (plain.status != 0 || checked.status != 0) {
    ADD_FAILURE() << "db/refdb odbcini failed:\n" << plain.output << checked.output;
    return false;
  }
  // Readable by the unprivileged users that some cases run the programs as.
  acidkit_test::run("chmod -R a+rX " + dir_);
  return true;
}

void CheckedDatabase::useHere() const {
  setenv("ODBCSYSINI", plainIniDir().c_str(), 1);
  setenv("ODBCINI", (plainIniDir() + "/odbc.ini").c_str(), 1);
}

bool CheckedDatabase::admin(const std::string& sql, std::string* output) const {
  std::string file = dir_ + "/admin.sql";
  std::ofstream(file) << sql;
  RunResult r = server_.refdb("sql --db " + name_ + " < " + file);
  if (output != nullptr) *output = r.output;
  if (r.status != 0) ADD_FAILURE() << "SQL on " << name_ << " failed:\n" << sql << "\n" << r.output;
  return r.status == 0;
}

bool CheckedDatabase::enableFaults() const {
  RunResult r = server_.refdb("faults on --db " + name_);
  if (r.status != 0) ADD_FAILURE() << "db/refdb faults on failed:\n" << r.output;
  return r.status == 0;
}

void CheckedDatabase::addDataSourceLine(const std::string& line) const {
  for (const std::string& dir : {plainIniDir(), checkedIniDir()}) {
    std::ofstream(dir + "/odbc.ini", std::ios::app) << line << "\n";
  }
}

void CheckedDatabase::setDataSourceValue(const std::string& key, const std::string& value) const {
  for (const std::string& dir : {plainIniDir(), checkedIniDir()}) {
    const std::string file = dir + "/odbc.ini";
    // The entry is the file's only section: drop the key, then append it.
    acidkit_test::run("sed -i '/^" + key + " *=/d' " + file);
    std::ofstream(file, std::ios::app) << key << " = " << value << "\n";
  }
}

void CheckedDatabase::makeUnreachable() const {
  // Port 1 is reserved; nothing of ours listens there.
  setDataSourceValue("Port", "1");
}

std::map<std::string, std::string> CheckedDatabase::checksums() const {
  std::string output;
  admin(
      "CHECKSUM TABLE WAREHOUSE, DISTRICT, CUSTOMER, HISTORY, NEW_ORDER, ORDERS, ORDER_LINE, "
      "ITEM, STOCK",
      &output);
  std::map<std::string, std::string> sums;
  for (const std::string& line : lines(output)) {
    std::istringstream words(line);
    std::string table, sum;
    if (!(words >> table >> sum) || table == "Table") continue;
    sums[table.substr(table.find('.') + 1)] = sum;
  }
  return sums;
}

std::string CheckedDatabase::command(const std::string& program, Checker checker,
                                     const std::string& runDir, const RunOptions& options) const {
  const std::string& wrapper = options.wrapper;
  const std::string ledger = "ACIDKIT_HANDLE_LEDGER=" + runDir +
                             "/ledger LD_PRELOAD=" + std::string(ACIDKIT_LEDGER_LIBRARY) + " ";
  std::string text = "cd " + runDir + " && env ";
  if (checker == Checker::kSanitized) {
    // The ledger is not instrumented and comes first; the runtime copes.
    const std::string common = "exitcode=86:log_path=" + runDir + "/";
    text += odbcEnv(checkedIniDir()) + ledger + "ASAN_OPTIONS=" + common +
            "asan:verify_asan_link_order=0:strict_string_checks=1:detect_leaks=" +
            (options.detectLeaks ? "1" : "0") +
            ":detect_stack_use_after_return=1:check_initialization_order=1 "
            "LSAN_OPTIONS=suppressions=" +
            kHere + "/lsan.supp:print_suppressions=0 UBSAN_OPTIONS=" + common +
            "ubsan:print_stacktrace=1:halt_on_error=1 " + wrapper + " " + kAsanBuild + "/bin/" +
            program + " " + options.arguments;
  } else {
    text += odbcEnv(plainIniDir()) + ledger + wrapper +
            " valgrind --tool=memcheck -q --error-exitcode=86 --leak-check=full"
            " --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect"
            " --num-callers=40 --suppressions=" +
            kHere + "/valgrind.supp --log-file=" + runDir + "/valgrind.%p " + kBinary + "/bin/" +
            program + " " + options.arguments;
  }
  return text;
}

CheckedRun CheckedDatabase::collect(const std::string& runDir, int status,
                                    std::string output) const {
  CheckedRun result;
  result.status = status;
  result.output = std::move(output);
  readOutput(&result);
  for (const std::string& line : lines(readFile(runDir + "/ledger"))) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      size_t eq = word.find('=');
      if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
    }
    // Helpers that exit normally (none should) report nothing allocated.
    if (std::atol(fields["allocated"].c_str()) == 0 && result.ledger.found) continue;
    result.ledger.found = true;
    result.ledger.fields = fields;
    result.ledger.text = line;
  }
  for (const auto& entry : fs::directory_iterator(runDir)) {
    std::string file = entry.path().filename();
    if (file.rfind("asan", 0) == 0 || file.rfind("ubsan", 0) == 0 ||
        file.rfind("valgrind", 0) == 0) {
      if (file.rfind("valgrind", 0) == 0) result.valgrindRan = true;
      std::string report = readFile(entry.path());
      if (!report.empty()) result.findings += "--- " + file + "\n" + report;
    }
  }
  return result;
}

CheckedRun CheckedDatabase::run(const std::string& program, Checker checker, int limit,
                                const RunOptions& options) const {
  std::string runDir = freshRunDir(name_ + "-" + program + "-" + checkerName(checker));
  auto start = std::chrono::steady_clock::now();
  // timeout: a program that hangs is killed and shows as status 124.
  RunResult r = acidkit_test::run("timeout -k 10 " + std::to_string(limit) + " sh -c " +
                                  shellQuote(command(program, checker, runDir, options)));
  CheckedRun result = collect(runDir, r.status, r.output);
  if (checker == Checker::kValgrind) {
    EXPECT_TRUE(result.valgrindRan) << program << ": valgrind did not run\n" << result.output;
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

std::string freshRunDir(const std::string& label) {
  std::string dir = kBinary + "/tests/reliability/runs/" + label;
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  return dir;
}

void expectClean(const CheckedRun& run, const std::string& what) {
  EXPECT_EQ(run.findings, "") << what << ": sanitizer/valgrind findings\n" << run.output;
  EXPECT_NE(run.status, 86) << what << ": the checker failed the run\n" << run.output;
  ASSERT_TRUE(run.ledger.found) << what << ": no handle ledger report\n" << run.output;
  EXPECT_GT(run.ledger.count("allocated"), 0) << what << ": " << run.ledger.text;
  EXPECT_EQ(run.ledger.count("stale"), 0)
      << what << ": a call with a handle already released: " << run.ledger.text;
}

void expectNoHandlesHeld(const CheckedRun& run, const std::string& what) {
  expectClean(run, what);
  for (const char* key : {"env", "dbc", "stmt", "desc", "connected"}) {
    EXPECT_EQ(run.ledger.count(key), 0)
        << what << ": " << key << " handles held at exit: " << run.ledger.text;
  }
}

Diagnostic connectError() {
  Diagnostic d;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLRETURN rc = SQLConnect(dbc, (SQLCHAR*)kDataSource, SQL_NTS, (SQLCHAR*)kUser, SQL_NTS,
                            (SQLCHAR*)kPassword, SQL_NTS);
  EXPECT_FALSE(SQL_SUCCEEDED(rc)) << "TESTDB was expected to be unreachable";
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[512] = {};
  SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, message, sizeof message, nullptr);
  if (SQL_SUCCEEDED(rc)) SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  d.state = reinterpret_cast<char*>(state);
  d.native = native;
  d.message = reinterpret_cast<char*>(message);
  return d;
}

std::string serverMessagePrefix() {
  Sql sql;
  EXPECT_TRUE(sql.ok()) << sql.lastError();
  EXPECT_FALSE(sql.exec("CALL acidkit_no_row('probe')"));
  std::string error = sql.lastError();
  size_t at = error.find("no row: probe");
  EXPECT_NE(at, std::string::npos) << error;
  return at == std::string::npos ? "" : error.substr(0, at);
}

std::string literal(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

void expectLinesInOrder(const CheckedRun& run, const std::vector<std::string>& expected,
                        const std::string& what) {
  size_t at = 0;
  for (const std::string& line : expected) {
    while (at < run.out.size() && !lineMatches(run.out[at], line)) ++at;
    if (at == run.out.size()) {
      ADD_FAILURE() << what << ": missing or out of order: \"" << line << "\"\n" << run.output;
      return;
    }
    ++at;
  }
}

void expectExactLines(const CheckedRun& run, const std::vector<std::string>& expected,
                      const std::string& what) {
  bool same = run.out.size() == expected.size();
  for (size_t i = 0; same && i < expected.size(); ++i) same = lineMatches(run.out[i], expected[i]);
  if (same) return;
  std::string want;
  for (const std::string& line : expected) want += line + "\n";
  ADD_FAILURE() << what << ": output differs\n--- expected\n" << want << "--- got\n" << run.output;
}

}  // namespace acidkit_test
