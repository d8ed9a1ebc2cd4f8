// What a suite run found, and the two ways it is told: the summary table on
// standard output and report.md in the results folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ConsistencyCheck.h"
#include "DbInfo.h"
#include "Durability.h"
#include "Parse.h"

namespace acidkit {

struct ProgramRun {
  std::string label;    // "consist", "atom", "isolation1".., "consist-after"
  std::string program;  // executable name
  int isolationTest = 0;
  int mandatedSeconds = 0;
  double expectedSeconds = 0;
  double limitSeconds = 0;
  bool ran = false;          // false: never started (see error, or the suite was stopped)
  std::string error;         // why it could not run, or its log is incomplete
  int exitStatus = -1;       // when it exited
  int signal = 0;            // when a signal ended it
  bool timedOut = false;     // stopped by the time limit
  bool interrupted = false;  // stopped because the runner was asked to stop
  double wallSeconds = 0;
  VerdictResult verdict;
  std::string logFile;  // file name in the results folder
  std::string svgFile;  // timeline picture, isolation tests only
  Timeline timeline;    // isolation tests only
};

// Exited 0 with its passed verdict and no failure line, within its limit.
bool passed(const ProgramRun& run);
// "passed", "FAILED", "TIMED OUT", "NOT RUN", ...
std::string outcomeText(const ProgramRun& run);
// Why a run did not pass, one text a line: its reason lines, else its
// failure lines, else what kept it from running or ending. Empty when it
// passed.
std::vector<std::string> whyNotPassed(const ProgramRun& run);
// "0", "1", "SIGKILL", "SIGTERM at limit 120 s", "SIGTERM on request", ...
std::string exitText(const ProgramRun& run);

struct SuiteRun {
  std::string startedAt;   // local "YYYY-mm-dd HH:MM:SS"
  std::string resultsDir;  // this run's folder
  std::string commandLine;
  std::string odbcIni, odbcSysIni;  // the environment the programs saw
  DbInfo db;
  int warehouses = 0;  // what the programs were built to draw from
  double wallSeconds = 0;
  bool interrupted = false;
  std::vector<ProgramRun> runs;
  // The twelve consistency conditions, checked after the programs when the
  // suite ran consist-after.
  bool consistencyChecked = false;
  CheckResult consistency;
  // The crash cycles after them (run --durability K), in durability/.
  bool durabilityRan = false;
  DurabilityRun durability;
};

// Every program passed and, when they were checked, no consistency condition
// was violated or could not be checked, and every durability cycle passed.
bool allPassed(const SuiteRun& suite);
// The check after the suite found nothing wrong (true when it did not run).
bool consistencyPassed(const SuiteRun& suite);
// Sum of the mandated schedules of the programs that ran.
int mandatedTotal(const SuiteRun& suite);
// "Wall time 281.6 s for 270 s of mandated schedules: overhead +4.3 %."
std::string overheadText(const SuiteRun& suite);

// Text inside a Markdown table cell: no column breaks, no HTML.
std::string markdownCell(std::string_view text);

std::string summaryTable(const SuiteRun& suite);
std::string reportMarkdown(const SuiteRun& suite);
// report.json: the same facts for a machine; its schema is versioned
// (kReportVersion) and described in the README.
inline constexpr int kReportVersion = 1;
std::string reportJson(const SuiteRun& suite);

}  // namespace acidkit
