#include "Suite.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "Check.h"
#include "DbInfo.h"
#include "Durability.h"
#include "Files.h"
#include "Parse.h"
#include "Process.h"
#include "Report.h"
#include "Schedule.h"
#include "Svg.h"
#include "config.h"

namespace acidkit {

namespace {

// The running program on standard output: a progress line rewritten in
// place on a terminal, a few plain lines otherwise.
class Progress {
 public:
  Progress() : terminal_(isatty(STDOUT_FILENO) == 1) {}
  double tickSeconds() const { return 1; }

  void start(size_t index, size_t total, const ProgramRun& run) {
    snprintf(prefix_, sizeof prefix_, "[%2zu/%zu] %-13s", index, total, run.label.c_str());
    expected_ = run.expectedSeconds;
    minutesReported_ = 0;
    if (!terminal_) {
      printf("%s started: expected about %.0f s, stopped after %.0f s\n", prefix_, expected_,
             run.limitSeconds);
      fflush(stdout);
    } else {
      tick(0);
    }
  }

  void tick(double elapsed) {
    if (terminal_) {
      constexpr int kWidth = 24;
      int filled = expected_ > 0 ? static_cast<int>(kWidth * elapsed / expected_) : kWidth;
      if (filled > kWidth) filled = kWidth;
      std::string bar(filled, '#');
      bar.resize(kWidth, '.');
      printf("\r\033[K%s %5.0f s of about %.0f s [%s]%s", prefix_, elapsed, expected_, bar.c_str(),
             elapsed > expected_ ? " running longer than expected" : "");
      fflush(stdout);
    } else if (static_cast<int>(elapsed / 60) > minutesReported_) {
      minutesReported_ = static_cast<int>(elapsed / 60);
      printf("%s still running: %.0f s\n", prefix_, elapsed);
      fflush(stdout);
    }
  }

  void finish(const ProgramRun& run) {
    if (terminal_) printf("\r\033[K");
    printf("%s %-10s %6.1f s  exit %s  %s\n", prefix_, outcomeText(run).c_str(), run.wallSeconds,
           exitText(run).c_str(),
           run.ran
               ? (run.verdict.headline.empty() ? "(no verdict line)" : run.verdict.headline.c_str())
               : run.error.c_str());
    fflush(stdout);
  }

 private:
  bool terminal_;
  char prefix_[64] = {};
  double expected_ = 0;
  int minutesReported_ = 0;
};

bool selected(const SuiteOptions& options, const char* label) {
  if (options.only.empty()) return true;
  for (const std::string& name : options.only) {
    if (name == label) return true;
  }
  return false;
}

}  // namespace

namespace {

// The run's folder, and what the programs will meet: printed before they run.
bool openSuite(const SuiteOptions& options, SuiteRun* suite) {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char startedAt[32];
  strftime(startedAt, sizeof startedAt, "%Y-%m-%d %H:%M:%S", &local);
  suite->startedAt = startedAt;
  suite->commandLine = options.commandLine;
  suite->warehouses = kWarehouses;
  const char* odbcIni = getenv("ODBCINI");
  const char* odbcSysIni = getenv("ODBCSYSINI");
  suite->odbcIni = odbcIni != nullptr ? odbcIni : "";
  suite->odbcSysIni = odbcSysIni != nullptr ? odbcSysIni : "";

  std::string error;
  if (!options.intoDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options.intoDir, ec);
    if (ec) {
      fprintf(stderr, "acidkit: cannot create %s: %s\n", options.intoDir.c_str(),
              ec.message().c_str());
      return false;
    }
    suite->resultsDir = options.intoDir;
  } else if (!makeStampedFolder(options.resultsDir, "", local, &suite->resultsDir, &error)) {
    fprintf(stderr, "acidkit: %s\nChoose another folder with --results DIR.\n", error.c_str());
    return false;
  }
  printf("Results folder: %s\n", suite->resultsDir.c_str());

  suite->db = readDbInfo();
  if (!suite->db.description.empty()) {
    printf("Data source TESTDB: %s\n", suite->db.description.c_str());
  }
  if (suite->db.ok) {
    printf("Database: %s %s, driver %s %s (data source TESTDB)\n", suite->db.dbmsName.c_str(),
           suite->db.dbmsVersion.c_str(), suite->db.driverName.c_str(),
           suite->db.driverVersion.c_str());
  } else {
    printf(
        "WARNING: cannot connect to TESTDB as %s: %s\n"
        "The programs will most likely fail too. Check that the database is running and that\n"
        "ODBCINI/ODBCSYSINI point at the ini files that define TESTDB.\n",
        kUser, suite->db.error.c_str());
  }
  printf("Programs built to draw from %d warehouses, run from %s\n\n", kWarehouses,
         options.binDir.c_str());
  fflush(stdout);
  return true;
}

ProgramRun plannedRun(const SuiteEntry& entry, const SuiteOptions& options) {
  ProgramRun run;
  run.label = entry.label;
  run.program = entry.program;
  run.isolationTest = entry.isolationTest;
  run.mandatedSeconds = entry.mandatedSeconds;
  run.expectedSeconds = entry.mandatedSeconds + entry.workSeconds;
  run.limitSeconds =
      options.timeoutFactor *
      (run.expectedSeconds > kLimitFloorSeconds ? run.expectedSeconds : kLimitFloorSeconds);
  return run;
}

// Runs one program into its log; its timeline picture for an isolation
// test. *writeFailed when a file of the run could not be written whole.
void runOne(const SuiteOptions& options, const SuiteRun& suite, Progress& progress, size_t index,
            size_t total, ProgramRun& run, bool* writeFailed) {
  run.logFile = run.label + ".log";
  progress.start(index, total, run);
  ProcessSpec spec;
  spec.path = options.binDir + "/" + run.program;
  spec.logPath = suite.resultsDir + "/" + run.logFile;
  spec.limitSeconds = run.limitSeconds;
  spec.graceSeconds = kGraceSeconds;
  spec.tickSeconds = progress.tickSeconds();
  spec.onTick = [&progress](double elapsed) { progress.tick(elapsed); };
  ProcessResult result = runProcess(spec);

  run.ran = result.started;
  run.error = result.error;
  run.exitStatus = result.exitStatus;
  run.signal = result.signal;
  run.timedOut = result.timedOut;
  run.interrupted = result.interrupted;
  run.wallSeconds = result.wallSeconds;
  run.verdict = findVerdict(run.program, result.output);
  if (run.ran && !run.error.empty()) *writeFailed = true;  // its log is incomplete
  if (run.ran && run.isolationTest != 0) {
    run.svgFile = run.label + ".svg";
    run.timeline = parseTimeline(result.output);
    std::string title =
        run.label + ": " + (run.verdict.headline.empty() ? outcomeText(run) : run.verdict.headline);
    std::string error;
    if (!writeTextFile(suite.resultsDir + "/" + run.svgFile,
                       timelineSvg(title, run.timeline, kPauseSeconds), &error)) {
      fprintf(stderr, "acidkit: %s\n", error.c_str());
      run.svgFile.clear();
      *writeFailed = true;
    }
  }
  progress.finish(run);
}

// The summary on standard output and in summary.txt, report.md and
// report.json; false when a file could not be written.
bool writeResults(const SuiteRun& suite) {
  std::string summary = summaryTable(suite);
  printf("\n%s", summary.c_str());
  std::string error;
  std::string reportPath = suite.resultsDir + "/report.md";
  bool written = writeTextFile(reportPath, reportMarkdown(suite), &error) &&
                 writeTextFile(suite.resultsDir + "/report.json", reportJson(suite), &error) &&
                 writeTextFile(suite.resultsDir + "/summary.txt", summary, &error);
  if (written) {
    printf("Report: %s\n", reportPath.c_str());
  } else {
    fprintf(stderr, "acidkit: %s\n", error.c_str());
  }
  fflush(stdout);
  return written;
}

// The crash cycles after the suite, into durability/ of the run's folder;
// their report.md and report.json there as well. *writeFailed when those
// could not be written.
void runDurabilityAfter(const SuiteOptions& options, SuiteRun* suite, bool* writeFailed) {
  DurabilityRun& d = suite->durability;
  suite->durabilityRan = true;
  d.options.cycles = options.durabilityCycles;
  d.options.binDir = options.binDir;
  d.options.refdb = options.refdb;
  d.options.commandLine = options.commandLine;
  d.startedAt = suite->startedAt;
  d.folder = suite->resultsDir + "/durability";
  printf("\nDurability: %s of the reference database (%s), into %s\n",
         crashCycles(d.options.cycles).c_str(), d.options.refdb.c_str(), d.folder.c_str());
  fflush(stdout);
  std::error_code ec;
  if (std::string why = durabilityCannotRun(d.options); !why.empty()) {
    d.stoppedBecause = "The durability cycles cannot run: " + why + ".";
  } else if (std::filesystem::create_directories(d.folder, ec); ec) {
    d.stoppedBecause =
        "The durability cycles cannot run: cannot create " + d.folder + ": " + ec.message() + ".";
  }
  if (!d.stoppedBecause.empty()) {
    printf("%s\n", d.stoppedBecause.c_str());
    return;
  }
  runDurabilityCycles(&d);
  std::string error;
  if (!writeDurabilityReports(d, &error)) {
    fprintf(stderr, "acidkit: %s\n", error.c_str());
    *writeFailed = true;
  }
}

}  // namespace

int runSuite(const SuiteOptions& options) {
  installStopSignalHandlers();
  double began = monotonicSeconds();
  SuiteRun suite;
  if (!openSuite(options, &suite)) return 1;

  size_t total = 0;
  for (const SuiteEntry& entry : kSuite) total += selected(options, entry.label) ? 1 : 0;
  Progress progress;
  bool writeFailed = false;
  size_t index = 0;
  for (const SuiteEntry& entry : kSuite) {
    if (!selected(options, entry.label)) continue;
    ProgramRun run = plannedRun(entry, options);
    ++index;
    // Once the suite is asked to stop, the rest are listed as not run.
    if (!gStopRequested) runOne(options, suite, progress, index, total, run, &writeFailed);
    suite.runs.push_back(run);
  }

  // The programs' time, against their mandated schedules: the check below
  // has its own.
  suite.wallSeconds = monotonicSeconds() - began;
  // All twelve conditions beside consist-after's four, once the programs
  // have left the database as it stays.
  if (!gStopRequested && selected(options, "consist-after")) {
    printf("\nChecking the twelve consistency conditions (acidkit check) ...\n");
    fflush(stdout);
    suite.consistencyChecked = true;
    suite.consistency = checkTestDb(CheckRequest{}, 1);
    fputs(formatCheckResult(suite.consistency).c_str(), stdout);
  }
  if (!gStopRequested && options.durabilityCycles > 0) {
    runDurabilityAfter(options, &suite, &writeFailed);
  }
  suite.interrupted = gStopRequested != 0;

  if (!writeResults(suite)) writeFailed = true;
  if (suite.interrupted) return 130;
  return allPassed(suite) && !writeFailed ? 0 : 1;
}

}  // namespace acidkit
