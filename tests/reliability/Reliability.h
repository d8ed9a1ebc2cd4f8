// What the reliability tests share: databases copied from a template on the
// shared reference server or on a private server of their own, and the kit's
// programs run checked (sanitizer build or valgrind) with the handle ledger,
// so that every run also proves it freed its ODBC handles and used none after
// releasing it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "TestDb.h"

namespace acidkit_test {

// The eleven programs.
const std::vector<std::string>& allPrograms();
// The nine that pause inside a transaction (the isolation programs).
const std::vector<std::string>& pausingPrograms();

// A reference server, as db/refdb selects it from the environment: the
// shared one, or a private instance of the reliability tests.
struct Server {
  std::string state;  // empty: the shared server
  int port = 0;

  static Server shared() { return {}; }
  static Server privateInstance();
  // "env ACIDKIT_...=... " in front of a db/refdb command.
  std::string env() const;
  RunResult refdb(const std::string& args) const;
  // Loads the template that test databases are copied from, unless present.
  RunResult loadTemplate() const;
  int pid() const;  // -1 when it does not run
};

// How a program is run.
enum class Checker {
  kSanitized,  // the build with AddressSanitizer and UBSan, its own adapter
  kValgrind,   // the normal build under valgrind memcheck
};
const char* checkerName(Checker checker);

// What the handle ledger saw at the program's exit.
struct Ledger {
  bool found = false;
  std::map<std::string, std::string> fields;  // allocated, env, dbc, stmt, ...
  long count(const std::string& key) const;
  std::string text;
};

// A run of a checked program: what every run shows, and what the checks saw.
struct CheckedRun : ProgramRun {
  Ledger ledger;
  std::string findings;      // sanitizer or valgrind reports, empty when clean
  bool valgrindRan = false;  // its log file exists
};

struct RunOptions {
  // Put between the environment and the program (a user or limit switch
  // that ends in exec).
  std::string wrapper;
  // LeakSanitizer at exit; off where a thread may still run at exit, or
  // where it could not start its own thread.
  bool detectLeaks = true;
  // The program's command line after its name (the kit's own tools take one).
  std::string arguments;
};

// A test database copied from the server's template, with data source files
// for the checked programs and for this process.
class CheckedDatabase {
 public:
  CheckedDatabase() = default;
  CheckedDatabase(const CheckedDatabase&) = delete;
  CheckedDatabase& operator=(const CheckedDatabase&) = delete;
  // Drops the database, unless the test failed (it stays for a look).
  ~CheckedDatabase();
  // name: suffix of acidkit_rel_<name>. Replaces it when it exists; with
  // copy false, only the data source files are written (for a database that
  // the test never reaches).
  bool create(const std::string& name, const Server& server = Server::shared(), bool copy = true);
  const std::string& name() const { return name_; }
  const Server& server() const { return server_; }
  // Points TESTDB of this process (the Sql class) at the database.
  void useHere() const;
  bool admin(const std::string& sql, std::string* output = nullptr) const;
  bool enableFaults() const;
  // Appends a line to the [TESTDB] entry of both data source files.
  void addDataSourceLine(const std::string& line) const;
  // Sets a key of the [TESTDB] entry in both data source files.
  void setDataSourceValue(const std::string& key, const std::string& value) const;
  // Points both data source files at a port where no server listens.
  void makeUnreachable() const;
  // CHECKSUM TABLE of each TPC-C table, by table name.
  std::map<std::string, std::string> checksums() const;
  // Runs a program to its end, killed after `limit` seconds (status 124).
  CheckedRun run(const std::string& program, Checker checker = Checker::kSanitized, int limit = 300,
                 const RunOptions& options = {}) const;
  // The same command, for a caller that starts it itself.
  std::string command(const std::string& program, Checker checker, const std::string& runDir,
                      const RunOptions& options = {}) const;
  // Reads back a run started with command().
  CheckedRun collect(const std::string& runDir, int status, std::string output) const;
  std::string plainIniDir() const { return dir_ + "/plain"; }
  std::string checkedIniDir() const { return dir_ + "/checked"; }

 private:
  std::string name_;
  std::string dir_;
  Server server_;
  bool copied_ = false;
};

// text quoted for sh.
std::string shellQuote(const std::string& text);

// A fresh, empty directory for one run's files, open to every user.
std::string freshRunDir(const std::string& label);

// The checks every run makes: no sanitizer or valgrind report, a ledger that
// saw the program's handles, and none held or used stale at exit.
void expectClean(const CheckedRun& run, const std::string& what);
void expectNoHandlesHeld(const CheckedRun& run, const std::string& what);

// The first diagnostic record that SQLConnect leaves for TESTDB as this
// process sees it (used to expect the programs' exact lines).
struct Diagnostic {
  std::string state;
  long native = 0;
  std::string message;
};
Diagnostic connectError();
// What the connector puts before a message of the server ("[ma-...][...]").
std::string serverMessagePrefix();
// A regular expression matching text literally.
std::string literal(const std::string& text);

// The output must hold these lines in this order, each exactly (a
// timestamped line matches its message, an expected line "~RE" matches the
// regular expression RE); other lines may come between.
void expectLinesInOrder(const CheckedRun& run, const std::vector<std::string>& expected,
                        const std::string& what);
// The whole output must be exactly these lines (timestamps aside).
void expectExactLines(const CheckedRun& run, const std::vector<std::string>& expected,
                      const std::string& what);

}  // namespace acidkit_test
