#include "Selfcheck.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "Files.h"
#include "Format.h"
#include "Process.h"
#include "Schedule.h"
#include "config.h"

namespace acidkit {

namespace {

using nlohmann::json;

// The unbroken database run beside the broken ones: every program must pass
// on it, or the matrix proves nothing about the breakages.
constexpr char kControl[] = "control";

// Every field, the empty ones included.
std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
    fields.push_back(line.substr(from, tab - from));
  }
  fields.push_back(line.substr(from));
  return fields;
}

bool isSuiteLabel(const std::string& label) {
  return std::any_of(kSuite.begin(), kSuite.end(),
                     [&](const SuiteEntry& e) { return label == e.label; });
}

// Isolation tests and atom give a reason line with every failed verdict.
bool needsReasonLine(const std::string& label) {
  return label == "atom" || label.starts_with("isolation");
}

}  // namespace

bool parseExpectations(const std::string& text, std::vector<Expectation>* into,
                       std::string* error) {
  into->clear();
  std::stringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = fieldsOf(line);
    const std::string where = "line " + std::to_string(number) + ": ";
    if (f.size() != 4) {
      *error = where + "expected 4 tab-separated fields (breakage, program, verdict, why), got " +
               std::to_string(f.size());
      return false;
    }
    Expectation e{f[0], f[1], f[2], f[3]};
    if (e.breakage.empty() || e.breakage == kControl) {
      *error = where + "'" + e.breakage + "' cannot name a breakage";
      return false;
    }
    if (!isSuiteLabel(e.program)) {
      *error = where + "'" + e.program + "' is no program of the suite";
      return false;
    }
    if (e.verdict != "passed" && e.verdict != "failed") {
      *error = where + "the verdict must be passed or failed, not '" + e.verdict + "'";
      return false;
    }
    if (e.why.empty()) {
      *error = where + "every cell needs its why";
      return false;
    }
    for (const Expectation& seen : *into) {
      if (seen.breakage == e.breakage && seen.program == e.program) {
        *error = where + e.breakage + " / " + e.program + " is named twice";
        return false;
      }
    }
    into->push_back(e);
  }
  for (const std::string& breakage : breakagesOf(*into)) {
    for (const SuiteEntry& entry : kSuite) {
      bool named = std::any_of(into->begin(), into->end(), [&](const Expectation& e) {
        return e.breakage == breakage && e.program == entry.label;
      });
      if (!named) {
        *error = "breakage " + breakage + " names no verdict for " + entry.label;
        return false;
      }
    }
  }
  if (into->empty()) {
    *error = "no expectation in it";
    return false;
  }
  return true;
}

std::vector<std::string> breakagesOf(const std::vector<Expectation>& expected) {
  std::vector<std::string> names;
  for (const Expectation& e : expected) {
    if (std::find(names.begin(), names.end(), e.breakage) == names.end()) {
      names.push_back(e.breakage);
    }
  }
  return names;
}

std::string expectedMarkdown(const std::vector<Expectation>& expected) {
  const std::vector<std::string> breakages = breakagesOf(expected);
  auto find = [&](const std::string& b, const std::string& p) -> const Expectation& {
    return *std::find_if(expected.begin(), expected.end(),
                         [&](const Expectation& e) { return e.breakage == b && e.program == p; });
  };
  std::string md = "| program |";
  for (const std::string& b : breakages) md += " " + b + " |";
  md += "\n|---|";
  for (size_t i = 0; i < breakages.size(); ++i) md += "---|";
  md += "\n";
  for (const SuiteEntry& entry : kSuite) {
    md += std::string("| ") + entry.label + " |";
    for (const std::string& b : breakages) {
      const Expectation& e = find(b, entry.label);
      md += e.verdict == "failed" ? " **failed** |" : " passed |";
    }
    md += "\n";
  }
  for (const std::string& b : breakages) {
    md += "\n" + b + ":\n\n";
    for (const SuiteEntry& entry : kSuite) {
      const Expectation& e = find(b, entry.label);
      md += "- " + std::string(entry.label) + " " + e.verdict + ": " + e.why + "\n";
    }
  }
  return md;
}

namespace {

// One program's verdict on one database.
struct Cell {
  bool ran = false;
  bool passed = false;
  std::vector<std::string> reasons;  // its "Reason: " lines
  std::vector<std::string> why;      // why it did not pass, as the runner tells it
};

// One database of the matrix: its preparation, its suite and what came of it.
struct Column {
  std::string name;  // kControl or a breakage
  std::string database;
  std::string folder;
  std::string failure;  // why no verdict came from it (load, break or suite)
  std::map<std::string, Cell> cells;
  double seconds = 0;
};

class Log {
 public:
  void line(const std::string& column, const std::string& text) {
    std::lock_guard lock(mutex_);
    printf("[%s] %s\n", column.c_str(), text.c_str());
    fflush(stdout);
  }

 private:
  std::mutex mutex_;
};

ProcessSpec command(const std::string& path, std::vector<std::string> args,
                    std::vector<std::string> environment, const std::string& log,
                    double limitSeconds, double graceSeconds) {
  ProcessSpec spec;
  spec.path = path;
  spec.args = std::move(args);
  spec.environment = std::move(environment);
  spec.logPath = log;
  spec.limitSeconds = limitSeconds;
  spec.graceSeconds = graceSeconds;
  return spec;
}

// Runs a step of one column; false (and column.failure) when it did not end
// with exit status 0.
bool step(Column& column, Log& log, const std::string& what, ProcessSpec spec) {
  spec.tickSeconds = 60;
  ProcessResult r = runProcess(spec);
  if (endedWell(r)) return true;
  const std::string why = howItEnded(r, spec.limitSeconds);
  // The step's last line usually says what went wrong.
  std::string last;
  for (std::stringstream in(r.output); std::getline(in, last);) {
  }
  column.failure = what + " failed (" + why + "), see " + spec.logPath;
  log.line(column.name, column.failure + (last.empty() ? "" : ": " + last));
  return false;
}

void readVerdicts(Column& column, Log& log) {
  std::string text;
  const std::string path = column.folder + "/suite/report.json";
  if (!readTextFile(path, &text)) {
    column.failure = "the suite wrote no " + path;
    log.line(column.name, column.failure);
    return;
  }
  json report = json::parse(text, nullptr, false);
  if (report.is_discarded() || !report.contains("programs")) {
    column.failure = path + " is not a report of the suite";
    log.line(column.name, column.failure);
    return;
  }
  for (const json& p : report["programs"]) {
    Cell cell;
    cell.ran = p.value("ran", false);
    cell.passed = p.value("passed", false);
    cell.reasons = p.value("reasons", std::vector<std::string>{});
    cell.why = p.value("whyNotPassed", std::vector<std::string>{});
    column.cells[p.value("label", "")] = cell;
  }
}

void runColumn(Column& column, const SelfcheckOptions& options, Log& log) {
  const double began = monotonicSeconds();
  std::error_code ec;
  std::filesystem::create_directories(column.folder, ec);
  const std::string w = std::to_string(kWarehouses);
  log.line(column.name, "loading " + w + " warehouses into " + column.database);
  const double prepareLimit = 600 + 60.0 * kWarehouses;
  ProcessSpec load = command(options.refdb, {"load", w, "--db", column.database, "--replace"}, {},
                             column.folder + "/load.log", prepareLimit, 30);
  if (!step(column, log, "loading " + column.database, load)) return;

  const std::string odbc = column.folder + "/odbc";
  const std::string kind = column.name == kControl ? "none" : column.name;
  ProcessSpec breakIt =
      command(options.refdb, {"break", kind, "--db", column.database, "--odbc", odbc}, {},
              column.folder + "/break.log", prepareLimit, 30);
  if (!step(column, log, "breaking " + column.database, breakIt)) return;

  log.line(column.name, "running the suite");
  // No limit of its own: the suite stops each of its programs at theirs.
  ProcessSpec suite = command(options.binDir + "/acidkit",
                              {"run", "--into", column.folder + "/suite", "--bin", options.binDir,
                               "--timeout-factor", format("%g", options.timeoutFactor)},
                              {"ODBCSYSINI=" + odbc, "ODBCINI=" + odbc + "/odbc.ini"},
                              column.folder + "/suite.log", 0, 60);
  // The suite's exit status says whether everything passed; only its
  // report counts here.
  ProcessResult r = runProcess(suite);
  if (!r.started || r.interrupted) {
    column.failure = "the suite did not run: " + (r.started ? "stopped on request" : r.error);
    log.line(column.name, column.failure);
    return;
  }
  readVerdicts(column, log);
  column.seconds = monotonicSeconds() - began;
  size_t passedCount = 0;
  for (const auto& [label, cell] : column.cells) passedCount += cell.passed ? 1 : 0;
  log.line(column.name, format("suite done: %zu of %zu programs passed (%.0f s in all)",
                               passedCount, column.cells.size(), column.seconds));
  if (!options.keep) {
    step(column, log, "dropping " + column.database,
         command(options.refdb, {"drop-db", column.database}, {}, column.folder + "/drop.log", 300,
                 10));
    column.failure.clear();  // a database left behind changes no verdict
  }
}

// What a cell shows, and whether it is what was expected.
struct Judged {
  std::string shown;  // "passed", "failed", "not run"
  bool matches = false;
  std::string note;  // why it does not match, beyond the verdict
};

Judged judge(const Column& column, const std::string& label, const std::string& expected) {
  Judged j;
  auto it = column.cells.find(label);
  if (!column.failure.empty() || it == column.cells.end() || !it->second.ran) {
    j.shown = "not run";
    j.note = column.failure.empty() ? "the program did not run" : column.failure;
    return j;
  }
  const Cell& cell = it->second;
  j.shown = cell.passed ? "passed" : "failed";
  j.matches = j.shown == expected;
  if (j.matches && !cell.passed && needsReasonLine(label) && cell.reasons.empty()) {
    j.matches = false;
    j.note = "failed without a reason line";
  }
  return j;
}

std::string firstWhy(const Column& column, const std::string& label) {
  auto it = column.cells.find(label);
  if (it == column.cells.end() || it->second.why.empty()) return "";
  std::string why = it->second.why.front();
  if (it->second.why.size() > 1) why += format(" (+%zu more)", it->second.why.size() - 1);
  return why;
}

}  // namespace

int runSelfcheck(const SelfcheckOptions& options) {
  installStopSignalHandlers();

  std::string text, error;
  if (!readTextFile(options.expectedFile, &text)) {
    fprintf(stderr, "acidkit selfcheck: cannot read the expected matrix %s: %s\n",
            options.expectedFile.c_str(), strerror(errno));
    return 1;
  }
  std::vector<Expectation> expected;
  if (!parseExpectations(text, &expected, &error)) {
    fprintf(stderr, "acidkit selfcheck: %s: %s\n", options.expectedFile.c_str(), error.c_str());
    return 1;
  }
  if (options.printExpected) {
    fputs(expectedMarkdown(expected).c_str(), stdout);
    return 0;
  }
  if (kWarehouses > kSelfcheckMaxWarehouses) {
    fprintf(stderr,
            "acidkit selfcheck: the programs were built for %d warehouses; the selfcheck loads "
            "%d databases of that size, and its expected matrix holds for %d warehouses at "
            "most. Build the kit with -DACIDKIT_WAREHOUSES=%d (or fewer) for the selfcheck.\n",
            kWarehouses, static_cast<int>(breakagesOf(expected).size()) + 1,
            kSelfcheckMaxWarehouses, kSelfcheckMaxWarehouses);
    return 1;
  }
  std::vector<std::string> breakages = breakagesOf(expected);
  for (const std::string& only : options.only) {
    if (std::find(breakages.begin(), breakages.end(), only) == breakages.end()) {
      fprintf(stderr, "acidkit selfcheck: --only: no breakage '%s' in %s\n", only.c_str(),
              options.expectedFile.c_str());
      return 2;
    }
  }
  if (!options.only.empty()) breakages = options.only;
  if (access(options.refdb.c_str(), X_OK) != 0) {
    fprintf(stderr,
            "acidkit selfcheck: cannot run the reference database's script %s: %s\n"
            "Name it with --refdb PATH (db/refdb of the kit's sources).\n",
            options.refdb.c_str(), strerror(errno));
    return 1;
  }

  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  std::string folder;
  if (!makeStampedFolder(options.resultsDir, "selfcheck-", local, &folder, &error)) {
    fprintf(stderr, "acidkit selfcheck: %s\n", error.c_str());
    return 1;
  }
  printf(
      "Selfcheck in %s: %zu databases of %d warehouses each (the control and %zu broken ones, "
      "about %.1f GB together), the whole suite against each, side by side\n",
      folder.c_str(), breakages.size() + 1, kWarehouses, breakages.size(),
      (breakages.size() + 1) * kWarehouses * 0.1);
  fflush(stdout);

  const double began = monotonicSeconds();
  std::vector<Column> columns(breakages.size() + 1);
  for (size_t i = 0; i < columns.size(); ++i) {
    Column& c = columns[i];
    c.name = i == 0 ? kControl : breakages[i - 1];
    c.database = "acidkit_selfcheck_" + c.name;
    std::replace(c.database.begin(), c.database.end(), '-', '_');
    c.folder = folder + "/" + c.name;
  }
  Log log;
  std::vector<std::thread> threads;
  for (Column& c : columns) {
    threads.emplace_back([&c, &options, &log] { runColumn(c, options, log); });
  }
  for (std::thread& t : threads) t.join();
  const double seconds = monotonicSeconds() - began;

  // The matrix, on the terminal and as files.
  auto expectedOf = [&](const std::string& breakage, const std::string& label) {
    if (breakage == kControl) return std::string("passed");
    for (const Expectation& e : expected) {
      if (e.breakage == breakage && e.program == label) return e.verdict;
    }
    return std::string("passed");
  };
  size_t cells = 0, matching = 0;
  std::string table = format("%-14s", "program");
  for (const Column& c : columns)
    table += format(" %-*s", std::max<int>(c.name.size(), 8), c.name.c_str());
  table += "\n";
  std::string notes;
  json matrix = json::array();
  for (const SuiteEntry& entry : kSuite) {
    table += format("%-14s", entry.label);
    for (const Column& c : columns) {
      const std::string want = expectedOf(c.name, entry.label);
      Judged j = judge(c, entry.label, want);
      ++cells;
      matching += j.matches ? 1 : 0;
      table += format(" %-*s", std::max<int>(c.name.size(), 8),
                      (j.shown + (j.matches ? "" : "!")).c_str());
      std::string why = firstWhy(c, entry.label);
      if (!j.matches) {
        notes += format("  %s / %s: %s, expected %s%s%s\n", c.name.c_str(), entry.label,
                        j.shown.c_str(), want.c_str(), j.note.empty() ? "" : ": ", j.note.c_str());
      }
      json reasons = json::array();
      auto it = c.cells.find(entry.label);
      if (it != c.cells.end()) reasons = it->second.why;
      matrix.push_back({{"breakage", c.name},
                        {"program", entry.label},
                        {"expected", want},
                        {"observed", j.shown},
                        {"matches", j.matches},
                        {"note", j.note},
                        {"reasons", reasons}});
    }
    table += "\n";
  }

  std::string out =
      "\nVerdict of each program on each database ('!': not what db/selfcheck.tsv expects)\n\n" +
      table;
  out += "\nWhy each program failed where it did:\n";
  for (const Column& c : columns) {
    for (const SuiteEntry& entry : kSuite) {
      std::string why = firstWhy(c, entry.label);
      if (!why.empty()) out += format("  %s / %s: %s\n", c.name.c_str(), entry.label, why.c_str());
    }
  }
  if (!notes.empty()) out += "\nCells that differ from the expected matrix:\n" + notes;
  out += format("\n%zu of %zu cells as expected; %.0f s in all.\n", matching, cells, seconds);
  fputs(out.c_str(), stdout);

  bool written = writeTextFile(folder + "/matrix.txt", out, &error) &&
                 writeTextFile(folder + "/matrix.json",
                               json({{"version", 1},
                                     {"warehouses", kWarehouses},
                                     {"seconds", seconds},
                                     {"commandLine", options.commandLine},
                                     {"cellsMatching", matching},
                                     {"cells", cells},
                                     {"matrix", matrix}})
                                       .dump(2) +
                                   "\n",
                               &error);
  if (!written) fprintf(stderr, "acidkit selfcheck: %s\n", error.c_str());
  printf("Matrix: %s/matrix.txt (and matrix.json); each database's logs and report in %s/<name>\n",
         folder.c_str(), folder.c_str());
  fflush(stdout);
  if (gStopRequested) return 130;
  return matching == cells && written ? 0 : 1;
}

}  // namespace acidkit
