// `acidkit durability`: crash cycles on the reference database. Each cycle
// runs `durability run` under load, kills the server at a random moment,
// starts it again and lets `durability verify` check every acknowledged
// commit against what the database kept.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Parse.h"

namespace acidkit {

// --- what the programs print (pure functions of their output) ---------------

// A line as a terminal shows it, without surrounding blanks: the programs
// run on one, and a progress display rewrites its line with carriage
// returns and erase sequences.
std::string terminalLine(std::string_view line);

// The last two lines of `durability run`:
//   Acknowledged commits: 1234 (New-Order 620, Payment 614) in 5.2 s, 237.3 per second
//   In flight when the connections broke: 8 (New-Order 4, Payment 4)
struct RunTally {
  bool acknowledgedFound = false;
  long long acknowledged = 0, acknowledgedNewOrder = 0, acknowledgedPayment = 0;
  double seconds = 0, perSecond = 0;
  bool inFlightFound = false;
  long long inFlight = 0, inFlightNewOrder = 0, inFlightPayment = 0;
};
RunTally parseRunTally(std::string_view output);

// One row of `durability verify`'s table.
struct VerifyRow {
  long long acknowledged = 0, found = 0, missing = 0, inFlight = 0, inFlightCommitted = 0;
};

// `durability verify`'s table (rows New-Order and Payment), its "Missing: "
// and "Reason: " lines and its verdict line.
struct VerifyReport {
  bool tableFound = false;  // both rows, each with its five numbers
  VerifyRow newOrder, payment;
  std::vector<std::string> missing;  // text after "Missing: "
  std::vector<std::string> reasons;  // text after "Reason: "
  Verdict verdict = Verdict::kMissing;
  // What is wrong with the output itself: a row without its five numbers,
  // both verdict lines, a passed verdict beside missing commits.
  std::vector<std::string> problems;
};
VerifyReport parseVerifyReport(std::string_view output);
VerifyRow total(const VerifyReport& report);

// "refdb: recovered from the crash in 4.1 s (...)" from `refdb start`.
std::optional<double> parseRecoverySeconds(std::string_view output);

// Counts the acknowledged-commit lines ("NO ...", "P ...") of a journal as
// it grows; only whole lines count.
class JournalCounter {
 public:
  explicit JournalCounter(std::string path) : path_(std::move(path)) {}
  // Reads what was appended since the last call; the count so far.
  long long update();
  long long count() const { return count_; }

 private:
  std::string path_;
  long long offset_ = 0;
  std::string partial_;  // an unfinished last line
  long long count_ = 0;
};

// --- the cycles --------------------------------------------------------------

struct DurabilityOptions {
  int cycles = 5;
  int connections = 8;
  long long minCommits = 1000;
  std::string binDir;      // `durability`, beside acidkit
  std::string resultsDir;  // a folder durability-YYYYmmdd-HHMMSS is made in it
  std::string intoDir;     // else: this very folder holds the cycles
  std::string refdb;       // the reference database's script
  std::string commandLine;
  // How long each step may take; the tests shorten them.
  double reachSeconds = 300;    // until the journal holds minCommits
  double endSeconds = 60;       // for `durability run` to notice the crash
  double startSeconds = 900;    // `refdb start`, recovery included
  double verifySeconds = 1800;  // `durability verify`
  double crashSeconds = 60;     // `refdb crash`
  double graceSeconds = 10;     // between SIGTERM and SIGKILL
  double maxExtraSeconds = 2;   // the random wait past minCommits
};

struct DurabilityCycle {
  int number = 0;
  std::string folder;  // cycle-N, inside the durability folder
  bool passed = false;
  std::vector<std::string> reasons;  // why it failed
  std::vector<std::string> notes;    // what went otherwise than planned, verdict unchanged
  long long journaled = 0;           // acknowledged-commit lines in the journal
  RunTally tally;                    // from run.log
  bool crashed = false;              // the server was killed
  std::optional<double> recoverySeconds;
  bool recoveryMeasured = false;  // by acidkit: start printed no recovery time
  bool verified = false;          // verify reached its verdict
  VerifyReport verify;
};

struct DurabilityRun {
  DurabilityOptions options;
  std::string startedAt;  // local "YYYY-mm-dd HH:MM:SS"
  std::string folder;
  std::vector<DurabilityCycle> cycles;
  std::string stoppedBecause;  // why cycles were left out
  bool interrupted = false;
  double seconds = 0;
};

bool allPassed(const DurabilityRun& run);
std::optional<double> median(std::vector<double> values);

// "cycle 1: passed  1234 acknowledged, 0 missing, 8 in flight (3 committed),
// recovery 4.1 s, 260 commits/s", each reason beneath on a line of its own.
std::string cycleText(const DurabilityCycle& cycle);
// "1 crash cycle", "5 crash cycles".
std::string crashCycles(int count);
// "All 5 durability cycles passed." (one: "The durability cycle passed.") or
// "FAILED: 3 of 5 durability cycles passed (failed: 2; not run: 5)."
std::string durabilityResultSentence(const DurabilityRun& run);
// The figures over every cycle and the result sentence.
std::string durabilitySummary(const DurabilityRun& run);
// The cycle table and the figures under a heading of `level` ("#", "##");
// the logs linked as <linkPrefix>cycle-N/<step>.log.
std::string durabilityMarkdown(const DurabilityRun& run, const std::string& level,
                               const std::string& linkPrefix);
nlohmann::json durabilityJson(const DurabilityRun& run);

// Why the cycles cannot run at all (no durability program, no refdb
// script), or "".
std::string durabilityCannotRun(const DurabilityOptions& options);

// Runs the cycles into run->folder (made by the caller), printing a line per
// cycle as it ends; stops early when the server cannot be brought back or
// the runner is asked to stop.
void runDurabilityCycles(DurabilityRun* run);

// report.md and report.json in run.folder; false with *error.
bool writeDurabilityReports(const DurabilityRun& run, std::string* error);

// `acidkit durability`: the folder, the cycles, report.md and report.json;
// 0 every cycle passed, 1 any did not or could not run, 130 stopped on request.
int runDurability(const DurabilityOptions& options);

}  // namespace acidkit
