// The crash cycles without a database: the reading of what durability run,
// durability verify and refdb start print, and whole cycles against bash
// stand-ins for durability and refdb.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Cli.h"
#include "Durability.h"
#include "OutputLines.h"
#include "TestDb.h"

using namespace acidkit;
using acidkit_test::readFile;

// --- reading the programs' output -----------------------------------------------

TEST(DurabilityOutput, RunTallyFromTheLastLines) {
  const std::string ack =
      "Acknowledged commits: 1234 (New-Order 620, Payment 614) in 5.2 s, 237.3 per second\n";
  const std::string flight = "In flight when the connections broke: 8 (New-Order 4, Payment 4)\n";
  const struct {
    const char* what;
    std::string output;
    bool acknowledged, inFlight;
  } cases[] = {
      {"both lines after progress", "connected 8\n1000 commits\n" + ack + flight, true, true},
      {"rewritten progress of a terminal",
       "900 commits\r\033[K1000 commits\r\033[K" + ack.substr(0, ack.size() - 1) + "\r\n" + flight,
       true, true},
      {"cut off before the in-flight line", ack, true, false},
      {"nothing but progress", "connected 8\n", false, false},
      {"a word more", ack.substr(0, ack.size() - 1) + " (estimated)\n" + flight, false, true},
      {"no figures", "Acknowledged commits: many (New-Order x, Payment y) in 5 s, 1 per second\n",
       false, false},
  };
  for (const auto& c : cases) {
    RunTally t = parseRunTally(c.output);
    EXPECT_EQ(t.acknowledgedFound, c.acknowledged) << c.what;
    EXPECT_EQ(t.inFlightFound, c.inFlight) << c.what;
    if (t.acknowledgedFound) {
      EXPECT_EQ(t.acknowledged, 1234) << c.what;
      EXPECT_EQ(t.acknowledgedNewOrder, 620) << c.what;
      EXPECT_EQ(t.acknowledgedPayment, 614) << c.what;
      EXPECT_DOUBLE_EQ(t.seconds, 5.2) << c.what;
      EXPECT_DOUBLE_EQ(t.perSecond, 237.3) << c.what;
    }
    if (t.inFlightFound) {
      EXPECT_EQ(t.inFlight, 8) << c.what;
      EXPECT_EQ(t.inFlightNewOrder, 4) << c.what;
      EXPECT_EQ(t.inFlightPayment, 4) << c.what;
    }
  }
}

namespace {

const char kHeader[] =
    "               acknowledged      found    missing  in flight  in flight committed\n";

std::string table(const std::string& newOrder, const std::string& payment) {
  return std::string(kHeader) + "New-Order " + newOrder + "\nPayment   " + payment + "\n";
}

}  // namespace

TEST(DurabilityOutput, VerifyTableReasonsAndVerdict) {
  const std::string passed = std::string(kDurabilityTestPassed) + "\n";
  const std::string failed = std::string(kDurabilityTestFailed) + "\n";
  const std::string good = table("620 620 0 4 2", "614 614 0 4 3");
  const struct {
    const char* what;
    std::string output;
    Verdict verdict;
    bool table;
    std::vector<std::string> reasons, missing;
    const char* problem;  // the start of the first problem, "" for none
  } cases[] = {
      {"passed", "Checking 1234 commits\n" + good + passed, Verdict::kPassed, true, {}, {}, ""},
      {"lost commits",
       table("620 618 2 4 2", "614 614 0 4 3") +
           "Missing: New-Order W_ID=1 D_ID=3 O_ID=3001\nMissing: New-Order W_ID=2 D_ID=7 "
           "O_ID=3010\nReason: 2 acknowledged New-Orders are not in the database\n" +
           failed,
       Verdict::kFailed,
       true,
       {"2 acknowledged New-Orders are not in the database"},
       {"New-Order W_ID=1 D_ID=3 O_ID=3001", "New-Order W_ID=2 D_ID=7 O_ID=3010"},
       ""},
      {"no verdict line", good, Verdict::kMissing, true, {}, {}, ""},
      {"no table", passed, Verdict::kPassed, false, {}, {}, ""},
      {"a row cut short",
       table("620 620 0 4", "614 614 0 4 3") + passed,
       Verdict::kPassed,
       false,
       {},
       {},
       "the New-Order row of the table does not hold"},
      {"a negative figure",
       table("620 620 0 4 2", "614 614 0 -4 3") + passed,
       Verdict::kPassed,
       false,
       {},
       {},
       "the Payment row of the table does not hold"},
      {"a row that does not add up",
       table("620 600 0 4 2", "614 614 0 4 3") + passed,
       Verdict::kPassed,
       true,
       {},
       {},
       "the New-Order row does not add up"},
      {"two rows of a kind",
       good + "Payment 1 1 0 0 0\n" + passed,
       Verdict::kPassed,
       true,
       {},
       {},
       "the table has two Payment rows"},
      {"passed beside lost commits",
       table("620 618 2 4 2", "614 614 0 4 3") + passed,
       Verdict::kPassed,
       true,
       {},
       {},
       "it passed, yet"},
      {"both verdicts",
       good + passed + failed,
       Verdict::kFailed,
       true,
       {},
       {},
       "it printed both verdict lines"},
      {"prose naming a transaction is no row",
       "Payment rows are read by customer\n" + good + passed,
       Verdict::kPassed,
       true,
       {},
       {},
       ""},
  };
  for (const auto& c : cases) {
    VerifyReport r = parseVerifyReport(c.output);
    EXPECT_EQ(r.verdict, c.verdict) << c.what;
    EXPECT_EQ(r.tableFound, c.table) << c.what;
    EXPECT_EQ(r.reasons, c.reasons) << c.what;
    EXPECT_EQ(r.missing, c.missing) << c.what;
    if (*c.problem == '\0') {
      EXPECT_TRUE(r.problems.empty()) << c.what << ": " << r.problems.front();
    } else {
      ASSERT_FALSE(r.problems.empty()) << c.what;
      EXPECT_EQ(r.problems.front().rfind(c.problem, 0), 0u) << c.what << ": " << r.problems[0];
    }
  }
  VerifyReport lost = parseVerifyReport(cases[1].output);
  EXPECT_EQ(lost.newOrder.found, 618);
  EXPECT_EQ(lost.payment.inFlightCommitted, 3);
  const VerifyRow sum = total(lost);
  EXPECT_EQ(sum.acknowledged, 1234);
  EXPECT_EQ(sum.missing, 2);
  EXPECT_EQ(sum.inFlight, 8);
  EXPECT_EQ(sum.inFlightCommitted, 5);
}

TEST(DurabilityOutput, RecoveryTimeOfRefdbStart) {
  const struct {
    const char* output;
    std::optional<double> seconds;
  } cases[] = {
      {"refdb: starting\nrefdb: recovered from the crash in 4.1 s (from the kill to the first "
       "connection)\nrefdb: up\n",
       4.1},
      {"refdb: recovered from the crash in 12 s\n", 12},
      {"refdb: started\n", std::nullopt},
      {"refdb: recovered from the crash in s\n", std::nullopt},
      {"refdb: recovered from the crash in 4.1 ms\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseRecoverySeconds(c.output), c.seconds) << c.output;
}

TEST(DurabilityOutput, JournalCountsOnlyWholeCommitLines) {
  const std::string path = testing::TempDir() + "durability-journal-" + std::to_string(getpid());
  JournalCounter counter(path);
  EXPECT_EQ(counter.update(), 0);  // not there yet
  std::ofstream out(path);
  out << "acidkit durability journal 1\nstart warehouses=2\nNO 1 2 3001 5 10\nP 1 2 5 1"
      << std::flush;
  EXPECT_EQ(counter.update(), 1);  // the Payment is still being written
  out << "00 2026-01-01 00:00:00\nNOT a commit\nNO 1 2 3002 5 10\n" << std::flush;
  EXPECT_EQ(counter.update(), 3);
  out << "end new_order_in_flight=1 payment_in_flight=0 seconds=1.00\n" << std::flush;
  EXPECT_EQ(counter.update(), 3);
  std::filesystem::remove(path);
}

TEST(CommandLine, DurabilityAndRunWithDurability) {
  const Defaults defaults{"/b", "/src/db/refdb", "/src/db/selfcheck.tsv"};
  CommandLine c = parseCommandLine({"durability"}, defaults);
  ASSERT_EQ(c.command, Command::kDurability) << c.error;
  EXPECT_EQ(c.durability.cycles, 5);
  EXPECT_EQ(c.durability.connections, 8);
  EXPECT_EQ(c.durability.minCommits, 1000);
  EXPECT_EQ(c.durability.binDir, "/b");
  EXPECT_EQ(c.durability.refdb, "/src/db/refdb");
  EXPECT_EQ(c.durability.resultsDir, "results");
  c = parseCommandLine({"durability", "--cycles", "2", "--connections=16", "--min-commits", "50",
                        "--into", "/i", "--bin", "/x", "--refdb", "/r"},
                       defaults);
  ASSERT_EQ(c.command, Command::kDurability) << c.error;
  EXPECT_EQ(c.durability.cycles, 2);
  EXPECT_EQ(c.durability.connections, 16);
  EXPECT_EQ(c.durability.minCommits, 50);
  EXPECT_EQ(c.durability.intoDir, "/i");
  EXPECT_EQ(c.durability.binDir, "/x");
  EXPECT_EQ(c.durability.refdb, "/r");

  c = parseCommandLine({"run"}, defaults);
  EXPECT_EQ(c.suite.durabilityCycles, 0);  // none unless asked for
  c = parseCommandLine({"run", "--durability", "3", "--refdb", "/r"}, defaults);
  ASSERT_EQ(c.command, Command::kRun) << c.error;
  EXPECT_EQ(c.suite.durabilityCycles, 3);
  EXPECT_EQ(c.suite.refdb, "/r");

  const struct {
    std::vector<std::string> args;
    const char* error;
  } bad[] = {
      {{"durability", "--cycles", "0"}, "--cycles: '0' is not a whole number from 1"},
      {{"durability", "--min-commits", "1k"}, "--min-commits: '1k' is not a whole number"},
      {{"durability", "--connections"}, "--connections needs a value"},
      {{"durability", "--only", "atom"}, "unknown option '--only'"},
      {{"run", "--durability", "-1"}, "--durability: '-1' is not a whole number"},
  };
  for (const auto& b : bad) {
    CommandLine r = parseCommandLine(b.args, defaults);
    EXPECT_EQ(r.command, Command::kError) << b.error;
    EXPECT_EQ(r.error.rfind(b.error, 0), 0u) << r.error;
  }
}

// --- whole cycles against stand-ins -------------------------------------------------

namespace {

// `durability run` journals ten New-Orders and ten Payments a round until
// refdb's crash leaves the flag "crashed"; `verify` counts the journal's
// New-Orders. Flag files in their folder choose how each misbehaves.
const char kDurabilityStandIn[] = R"(#!/bin/bash
here=$(dirname "$0")
case $1 in
run)
  journal=$7
  printf 'acidkit durability journal 1\nstart warehouses=2 connections=8\n' >"$journal"
  n=0
  while [[ ! -e $here/crashed ]]; do
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      n=$((n + 1))
      printf 'NO 1 1 %d 1 5\nP 1 1 1 100 2026-01-01 00:00:00\n' "$n" >>"$journal"
    done
    echo "$((2 * n)) commits acknowledged"
    if [[ -e $here/run-exits-early ]]; then
      echo "durability: lost TESTDB: [unixODBC] server has gone away"
      exit 1
    fi
    sleep 0.01
  done
  if [[ -e $here/run-ignores-the-kill ]]; then
    exec sleep 60
  fi
  echo 'end new_order_in_flight=4 payment_in_flight=4 seconds=1.00' >>"$journal"
  echo "Acknowledged commits: $((2 * n)) (New-Order $n, Payment $n) in 1.0 s, 250.0 per second"
  echo 'In flight when the connections broke: 8 (New-Order 4, Payment 4)'
  ;;
verify)
  n=$(grep -c '^NO ' "$3")
  lost=0
  [[ -e $here/verify-loses-two ]] && lost=2
  echo '               acknowledged      found    missing  in flight  in flight committed'
  printf 'New-Order %16d %10d %10d %10d %20d\n' "$n" $((n - lost)) "$lost" 4 3
  printf 'Payment   %16d %10d %10d %10d %20d\n' "$n" "$n" 0 4 4
  if ((lost > 0)); then
    echo 'Missing: New-Order W_ID=1 D_ID=1 O_ID=1'
    echo 'Missing: New-Order W_ID=1 D_ID=1 O_ID=2'
    echo 'Reason: 2 acknowledged New-Orders are not in the database'
    echo 'Durability test failed'
  else
    echo 'Durability test passed'
  fi
  ;;
esac
)";

const char kRefdbStandIn[] = R"(#!/bin/bash
here=$(dirname "$0")
case $1 in
crash)
  if [[ -e $here/crash-refused ]]; then
    echo 'refdb: no server runs'
    exit 1
  fi
  touch "$here/crashed"
  ;;
start)
  if [[ -e $here/start-fails ]]; then
    echo 'refdb: the server did not start: see its error log'
    exit 1
  fi
  rm -f "$here/crashed"
  if [[ ! -e $here/start-is-quiet ]]; then
    echo 'refdb: recovered from the crash in 4.1 s (from the kill to the first connection)'
  fi
  ;;
esac
)";

struct StandIns {
  std::string dir, bin, refdb;

  StandIns(const std::string& name, const std::vector<std::string>& flags) {
    dir = testing::TempDir() + "durability-" + std::to_string(getpid()) + "-" + name;
    std::filesystem::remove_all(dir);
    bin = dir + "/bin";
    refdb = bin + "/refdb";
    std::filesystem::create_directories(bin);
    write(bin + "/durability", kDurabilityStandIn);
    write(refdb, kRefdbStandIn);
    for (const std::string& flag : flags) std::ofstream(bin + "/" + flag) << "";
  }
  ~StandIns() { std::filesystem::remove_all(dir); }

  static void write(const std::string& path, const char* text) {
    std::ofstream(path) << text;
    chmod(path.c_str(), 0755);
  }
};

// "" when the file matches the schema's `ref` (a JSON pointer into
// runner/report.schema.json), else what jsonschema says.
std::string schemaProblem(const std::string& file, const std::string& ref) {
  const std::string command =
      "python3 -c 'import json, sys, jsonschema; s = json.load(open(sys.argv[1])); "
      "jsonschema.validate(json.load(open(sys.argv[2])), "
      "{\"$ref\": sys.argv[3], \"definitions\": s[\"definitions\"]} if sys.argv[3] else s)' " +
      acidkit_test::sourcePath("runner/report.schema.json") + " '" + file + "' '" + ref + "' 2>&1";
  acidkit_test::RunResult r = acidkit_test::run(command);
  return r.status == 0
             ? ""
             : "does not match the schema (is python3-jsonschema installed?):\n" + r.output;
}

std::string onlyFolderIn(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(dir)) found.push_back(e.path());
  return found.size() == 1 ? found[0] : "";
}

}  // namespace

TEST(AcidkitDurability, CyclesAgainstStandIns) {
  const struct {
    const char* name;
    std::vector<std::string> flags;
    int cycles;
    long long minCommits;
    int status;
    std::vector<std::string> lines;  // in this order in the output
  } cases[] = {
      {"passing",
       {},
       2,
       40,
       0,
       {"cycle 1: passed  ",
        " acknowledged, 0 missing, 8 in flight (7 committed), recovery 4.1 s, "
        "250 commits/s\n",
        "cycle 2: passed  ", "Cycles passed:          2 of 2\n",
        "Median recovery time:   4.1 s\nMedian commit rate:     250.0 per second\n"
        "In flight at the kill:  8, 8 (of 8 connections)\nAll 2 durability cycles passed.\n"}},
      {"verify-fails",
       {"verify-loses-two"},
       1,
       40,
       1,
       {"cycle 1: FAILED  ", ", 2 missing, 8 in flight (7 committed), recovery 4.1 s",
        "\n  2 acknowledged New-Orders are not in the database\n",
        "FAILED: 0 of 1 durability cycles passed (failed: 1).\n"}},
      {"start-fails",
       {"start-fails"},
       2,
       40,
       1,
       {"cycle 1: FAILED  ",
        "\n  refdb start failed (exit status 1), see cycle-1/start.log: refdb: the server did "
        "not start: see its error log\n",
        "FAILED: 0 of 2 durability cycles passed (failed: 1; not run: 2).\n",
        "The reference server did not come back after the kill of cycle 1 (see "
        "cycle-1/start.log)"}},
      {"crash-refused",
       {"crash-refused"},
       1,
       40,
       1,
       {"cycle 1: FAILED  ",
        "\n  refdb crash failed (exit status 1), see cycle-1/crash.log: refdb: no server runs\n"}},
      {"run-exits-early",
       {"run-exits-early"},
       1,
       40,
       1,
       {"cycle 1: FAILED  20 acknowledged\n  durability run ended before the kill with 20 of the "
        "40 acknowledged commits asked for (exit status 1), see cycle-1/run.log: durability: "
        "lost TESTDB: [unixODBC] server has gone away\n"}},
      {"too-slow",
       {},
       1,
       100000000,
       1,
       {"cycle 1: FAILED  ", " acknowledged\n  the journal held ",
        " of the 100000000 acknowledged commits asked for after 1 s"}},
      // The cycle still passes: the journal was read whole; only the
      // figures that run.log and start.log lack are missing or measured.
      {"run-ignores-the-kill",
       {"run-ignores-the-kill", "start-is-quiet"},
       1,
       40,
       0,
       {"cycle 1: passed  ", "(measured)\n",
        "  note: durability run had not ended 1 s after the kill: stopped it (SIGTERM)\n",
        "  note: refdb start printed no 'recovered from the crash in X s' line"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StandIns s(c.name, c.flags);
    DurabilityOptions o;
    o.cycles = c.cycles;
    o.minCommits = c.minCommits;
    o.binDir = s.bin;
    o.refdb = s.refdb;
    o.resultsDir = s.dir + "/results";
    o.reachSeconds = 1;
    o.endSeconds = 1;
    o.graceSeconds = 1;
    o.maxExtraSeconds = 0.2;
    testing::internal::CaptureStdout();
    const int status = runDurability(o);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, c.status) << out;
    size_t at = 0;
    for (const std::string& line : c.lines) {
      size_t found = out.find(line, at);
      EXPECT_NE(found, std::string::npos) << "'" << line << "' not in order in:\n" << out;
      if (found != std::string::npos) at = found + line.size();
    }
    const std::string folder = onlyFolderIn(o.resultsDir);
    ASSERT_NE(folder, "") << out;
    EXPECT_EQ(folder.rfind(o.resultsDir + "/durability-", 0), 0u) << folder;
    EXPECT_EQ(schemaProblem(folder + "/report.json", "#/definitions/durability"), "") << c.name;
    nlohmann::json j = nlohmann::json::parse(readFile(folder + "/report.json"), nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["passed"], c.status == 0);
    EXPECT_NE(readFile(folder + "/report.md").find("## Durability"), std::string::npos);
  }
}

// `acidkit run --durability 1` with a stand-in atom: the cycle after the
// suite, in its summary and reports, and its failure fails the run.
TEST(AcidkitDurability, RunWithDurabilityFailsOnALostCommit) {
  StandIns s("suite", {"verify-loses-two"});
  StandIns::write(s.bin + "/atom",
                  ("#!/bin/sh\ncat '" + std::string(RUNNER_SAMPLES) + "/atom.log'\n").c_str());
  std::filesystem::create_directories(s.dir + "/odbc");
  acidkit_test::RunResult r = acidkit_test::run(
      "cd '" + s.dir + "' && ODBCSYSINI='" + s.dir + "/odbc' ODBCINI='" + s.dir +
      "/odbc/odbc.ini' '" + ACIDKIT_RUNNER + "' run --only atom --durability 1 --bin '" + s.bin +
      "' --refdb '" + s.refdb + "' --results out");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("FAILED: all 1 programs passed, but not every durability cycle. "
                          "FAILED: 0 of 1 durability cycles passed (failed: 1)."),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("cycle 1: FAILED  "), std::string::npos) << r.output;
  const std::string folder = onlyFolderIn(s.dir + "/out");
  ASSERT_NE(folder, "");
  EXPECT_EQ(schemaProblem(folder + "/report.json", ""), "");
  nlohmann::json j = nlohmann::json::parse(readFile(folder + "/report.json"), nullptr, false);
  ASSERT_FALSE(j.is_discarded());
  EXPECT_EQ(j["passed"], false);
  EXPECT_EQ(j["durability"]["missingTotal"], 2);
  EXPECT_EQ(j["durability"]["cycles"][0]["reasons"][0],
            "2 acknowledged New-Orders are not in the database");
  const std::string md = readFile(folder + "/report.md");
  EXPECT_NE(md.find("## Durability"), std::string::npos) << md;
  EXPECT_NE(md.find("[verify](durability/cycle-1/verify.log)"), std::string::npos) << md;
  EXPECT_FALSE(readFile(folder + "/durability/cycle-1/journal").empty());
}
