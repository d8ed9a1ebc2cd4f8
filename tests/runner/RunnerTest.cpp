// The runner without a database: its reading of real program output, the
// timeline pictures, the summary and report, and how it runs, times and
// stops programs (shell scripts standing in for the programs).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "OutputLines.h"
#include "Parse.h"
#include "Process.h"
#include "Report.h"
#include "Schedule.h"
#include "Selfcheck.h"
#include "Svg.h"
#include "TestDb.h"
#include "XmlCheck.h"

using namespace acidkit;

namespace {

using acidkit_test::readFile;

std::string sample(const std::string& name) {
  std::string text = readFile(std::string(RUNNER_SAMPLES) + "/" + name);
  EXPECT_FALSE(text.empty()) << "missing sample " << name;
  return text;
}

// "T1 start, T1 pause, ..." for comparing event sequences at a glance.
std::string sequence(const Timeline& t) {
  std::string out;
  for (const LaneEvent& e : t.events) {
    if (!out.empty()) out += ", ";
    out += e.lane + (e.mark == Mark::kStart   ? " start"
                     : e.mark == Mark::kPause ? " pause"
                                              : " end");
  }
  return out;
}

const LaneEvent* find(const Timeline& t, const std::string& lane, Mark mark) {
  for (const LaneEvent& e : t.events) {
    if (e.lane == lane && e.mark == mark) return &e;
  }
  return nullptr;
}

// A fresh directory under the build tree for one test.
std::string scratchDir(const std::string& name) {
  std::string dir = std::filesystem::temp_directory_path().string() + "/acidkit-runner-test-" +
                    std::to_string(getpid()) + "-" + name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

void writeScript(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  chmod(path.c_str(), 0755);
}

}  // namespace

// --- verdicts ---------------------------------------------------------------

struct VerdictCase {
  const char* what;
  const char* program;
  std::string output;
  Verdict verdict;
  const char* headline;
  size_t lines;  // verdict-related lines found
};

TEST(FindVerdict, RealAndFailingOutputs) {
  std::string iso5 = sample("isolation5.log");
  std::string iso5Failed = iso5.substr(0, iso5.find("\nIsolation test 5 passed")) +
                           "Customer balance incorrect\n\nIsolation test 5 failed\n";
  std::string atom = sample("atom.log");
  std::string atomFailed = atom;
  atomFailed.replace(atomFailed.find("Test passed"), 11, "TEST FAILED");
  atomFailed.replace(atomFailed.find("All atomicity tests passed"), 26,
                     "AT LEAST ONE ATOMICITY TEST FAILED!");
  std::string consist = sample("consist.log");
  std::string consistFailed = consist;
  consistFailed.replace(consistFailed.find("\nConsistency Test #2 Passed"), 27,
                        "\nFailed consistency condition 2\n\nFailed consistency condition 2");
  consistFailed.replace(consistFailed.find("All consistency tests passed"), 28,
                        "AT LEAST ONE CONSISTENCY TEST FAILED");

  const std::vector<VerdictCase> cases = {
      {"consist real", "consist", consist, Verdict::kPassed, "All consistency tests passed", 5},
      {"consist after real", "consist", sample("consist-after.log"), Verdict::kPassed,
       "All consistency tests passed", 5},
      {"atom real", "atom", atom, Verdict::kPassed, "All atomicity tests passed", 3},
      {"isolation1 real", "isolation1", sample("isolation1.log"), Verdict::kPassed,
       "Isolation test 1 passed", 1},
      {"isolation2 real", "isolation2", sample("isolation2.log"), Verdict::kPassed,
       "Isolation test 2 passed", 1},
      {"isolation3 real", "isolation3", sample("isolation3.log"), Verdict::kPassed,
       "Isolation test 3 passed", 1},
      {"isolation4 real", "isolation4", sample("isolation4.log"), Verdict::kPassed,
       "Isolation test 4 passed", 1},
      {"isolation5 real", "isolation5", iso5, Verdict::kPassed, "Isolation test 5 passed", 1},
      {"isolation6 real", "isolation6", sample("isolation6.log"), Verdict::kPassed,
       "Isolation test 6 passed", 1},
      {"isolation7 real", "isolation7", sample("isolation7.log"), Verdict::kPassed,
       "Isolation test 7 passed", 1},
      {"isolation8 real", "isolation8", sample("isolation8.log"), Verdict::kPassed,
       "Isolation test 8 passed", 1},
      {"isolation9 real", "isolation9", sample("isolation9.log"), Verdict::kPassed,
       "Isolation test 9 passed", 1},
      {"lost update", "isolation5", iso5Failed, Verdict::kFailed, "Isolation test 5 failed", 2},
      {"price changed under New-Order", "isolation7",
       "\nPrices included in order:\n[    5] : 10.00\n\nNew prices\n[    5] : 11.00\n"
       "Price does not match original price\n\nIsolation test 7 failed\n",
       Verdict::kFailed, "Isolation test 7 failed", 2},
      {"one atomicity test failed", "atom", atomFailed, Verdict::kFailed,
       "AT LEAST ONE ATOMICITY TEST FAILED!", 3},
      {"atom cannot connect", "atom",
       "\n=============================================\nSQL_DIAG_SQLSTATE     : IM002\n"
       "SQL_DIAG_NATIVE       : 0\nSQL_DIAG_MESSAGE_TEXT : [unixODBC][Driver Manager]Data "
       "source name not found and no default driver specified\n"
       "=============================================\n======> ATOMICITY TEST FAILED!\n",
       Verdict::kFailed, "======> ATOMICITY TEST FAILED!", 1},
      {"condition 2 violated twice", "consist", consistFailed, Verdict::kFailed,
       "AT LEAST ONE CONSISTENCY TEST FAILED", 6},
      {"consist set-up failed", "consist", "CONSISTENCY TEST FAILED!\nCONSISTENCY TEST FAILED!\n",
       Verdict::kFailed, "CONSISTENCY TEST FAILED!", 2},
      // Cut off before its verdict (stopped, crashed): no verdict counts as failed.
      {"no verdict", "isolation3", iso5.substr(0, iso5.find("Using customer")), Verdict::kMissing,
       "", 0},
      {"another test's verdict", "isolation3", "\nIsolation test 4 passed\n", Verdict::kMissing, "",
       0},
      {"verdict with extra text", "isolation3", "\nIsolation test 3 passed!\n", Verdict::kMissing,
       "", 0},
      {"verdict without final line break", "isolation3", "x\n\nIsolation test 3 passed",
       Verdict::kPassed, "Isolation test 3 passed", 1},
      // T1 never connected: both its order numbers stay 0 and compare equal.
      {"transaction error beside a passed verdict", "isolation9",
       "[2026-01-07 09:00:00.000000] T1(Order-Status) start\n\n[unixODBC]Can't connect\n"
       "Error Order Status Transaction!\n[2026-01-07 09:00:00.100000] T1(Order-Status) end\n"
       "\nOrder status results\nT1 Order ID: 0 -> 0\n\nIsolation test 9 passed\n",
       Verdict::kFailed, "Error Order Status Transaction!", 2},
      {"missing row of the district", "isolation8",
       "W_ID : 1\nD_ID : 8\nC_ID : 7\n\n\n\nError remove all rows(NEW-ORDER)\n", Verdict::kFailed,
       "Error remove all rows(NEW-ORDER)", 1},
      {"passed and failed together", "isolation9",
       "\nIsolation test 9 passed\n\nIsolation test 9 failed\n", Verdict::kFailed,
       "Isolation test 9 failed", 2},
      {"not a program of the suite", "isolation10", "\nIsolation test 1 passed\n",
       Verdict::kMissing, "", 0},
      {"empty output", "consist", "", Verdict::kMissing, "", 0},
  };
  for (const VerdictCase& c : cases) {
    VerdictResult r = findVerdict(c.program, c.output);
    EXPECT_EQ(r.verdict, c.verdict) << c.what;
    EXPECT_EQ(r.headline, c.headline) << c.what;
    EXPECT_EQ(r.lines.size(), c.lines) << c.what;
  }
}

TEST(FindVerdict, ReasonLinesSayWhyAndOutweighAPassedLine) {
  VerdictResult iso5 = findVerdict("isolation5", sample("isolation5-nontransactional.log"));
  EXPECT_EQ(iso5.verdict, Verdict::kFailed);
  EXPECT_EQ(iso5.headline, "Isolation test 5 failed");
  EXPECT_EQ(iso5.reasons,
            (std::vector<std::string>{
                "T2 did not wait for T1: it returned 20.01 s before T1's pause ended"}));
  EXPECT_EQ(iso5.lines.front(), "Reason: " + iso5.reasons.front());

  VerdictResult atom = findVerdict("atom", sample("atom-autocommit.log"));
  EXPECT_EQ(atom.verdict, Verdict::kFailed);
  ASSERT_EQ(atom.reasons.size(), 1u);
  EXPECT_EQ(atom.reasons[0].rfind("the rolled-back Payment left changes behind: customer amount 1 "
                                  "-10.00 -> -1009.99",
                                  0),
            0u)
      << atom.reasons[0];
  EXPECT_EQ(atom.failures, (std::vector<std::string>{"TEST FAILED"}));

  // The programs never print both: together they mean the output cannot be trusted.
  VerdictResult both = findVerdict("isolation3", "Reason: something\n\nIsolation test 3 passed\n");
  EXPECT_EQ(both.verdict, Verdict::kFailed);
  EXPECT_EQ(both.headline, "Reason: something");
}

// Every verdict and failure line the programs print comes from
// OutputLines.h: the parser must know each one, so that a new failure line
// in a program can never be passed over by the runner.
TEST(FindVerdict, KnowsEveryLineOfOutputLines) {
  struct Line {
    std::string program, text;
    Verdict verdict;  // what the line alone makes of the run
  };
  std::vector<Line> all = {
      {"atom", kAllAtomicityTestsPassed, Verdict::kPassed},
      {"atom", kAtomicityTestsFailed, Verdict::kFailed},
      {"atom", kAtomicityTestFailed, Verdict::kFailed},
      {"atom", kAtomicityStepFailed, Verdict::kFailed},
      {"consist", kAllConsistencyTestsPassed, Verdict::kPassed},
      {"consist", kConsistencyTestsFailed, Verdict::kFailed},
      {"consist", kConsistencyStepFailed, Verdict::kFailed},
      {"isolation8", std::string(kDistrict255ReadErrorPrefix) + "2", Verdict::kFailed},
      {"isolation8", std::string(kDistrict255HoldsRowsPrefix) + "2 holds 3 NEW_ORDER rows",
       Verdict::kFailed},
      {"isolation4", std::string(kReasonPrefix) + "why", Verdict::kFailed},
  };
  for (int k = 1; k <= kConsistencyConditions; ++k) {
    all.push_back({"consist", consistencyConditionFailedLine(k), Verdict::kFailed});
  }
  for (int n = 1; n <= 9; ++n) {
    const std::string program = "isolation" + std::to_string(n);
    all.push_back({program, isolationVerdictLine(n, true), Verdict::kPassed});
    all.push_back({program, isolationVerdictLine(n, false), Verdict::kFailed});
    for (const char* failure : kIsolationFailureLines) {
      all.push_back({program, failure, Verdict::kFailed});
    }
  }
  for (const Line& line : all) {
    VerdictResult r = findVerdict(line.program, line.text + "\n");
    EXPECT_EQ(r.verdict, line.verdict) << line.program << ": " << line.text;
    EXPECT_EQ(r.lines, std::vector<std::string>{line.text}) << line.program << ": " << line.text;
  }
  // The partial passes are shown, not deciding.
  VerdictResult partial = findVerdict("consist", consistencyTestPassedLine(3) + "\n");
  EXPECT_EQ(partial.verdict, Verdict::kMissing);
  EXPECT_EQ(partial.lines.size(), 1u);
}

// --- timestamped lines and timelines ------------------------------------------

TEST(ParseStamped, AcceptsOnlyTheTimestampFormat) {
  struct Case {
    const char* line;
    bool ok;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"[2026-01-07 09:05:03.000042] T1(New-Order) start", true, "T1(New-Order) start"},
      {"[2026-12-31 23:59:60.999999] - T1 paused prior to commit", true,
       "- T1 paused prior to commit"},
      {"[81762] : 22.44", false, ""},  // isolation7's price lines
      {"[ 1] : 2101", false, ""},      // isolation8's district lines
      {"2026-01-07 09:05:03.000042 T1(New-Order) start", false, ""},
      {"[2026-01-07 09:05:03.42] T1(New-Order) start", false, ""},
      {"[2026-13-07 09:05:03.000042] T1(New-Order) start", false, ""},
      {"[2026-01-07 24:05:03.000042] T1(New-Order) start", false, ""},
      {"[2026-01-07 09:05:03.00004x] T1(New-Order) start", false, ""},
      {"[2026-01-07 09:05:03.000042]T1(New-Order) start", false, ""},
      {"[2026-01-07 09:05:03.000042]", false, ""},
  };
  for (const Case& c : cases) {
    std::optional<Stamped> s = parseStamped(c.line);
    EXPECT_EQ(s.has_value(), c.ok) << c.line;
    if (s && c.ok) {
      EXPECT_EQ(s->text, c.text) << c.line;
    }
  }
  // Differences are exact to the microsecond, across midnight and a month's end.
  auto a = parseStamped("[2026-01-31 23:59:59.900000] a");
  auto b = parseStamped("[2026-02-01 00:00:00.100001] b");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b->micros - a->micros, 200001);
}

TEST(ParseTimeline, RealOutputsGiveEachTransactionItsMarks) {
  struct Case {
    const char* sample;
    const char* sequence;
  };
  const std::vector<Case> cases = {
      {"isolation1.log", "T1 start, T1 pause, T2 start, T1 end, T2 end, T3 start, T3 end"},
      {"isolation2.log",
       "T0 start, T0 end, T1 start, T1 pause, T2 start, T1 end, T2 end, T3 start, T3 end"},
      {"isolation3.log", "T1 start, T1 pause, T2 start, T1 end, T2 end"},
      {"isolation4.log", "T1 start, T1 pause, T2 start, T1 end, T2 end"},
      {"isolation5.log", "T1 start, T1 pause, T2 start, T1 end, T2 end"},
      {"isolation6.log", "T1 start, T1 pause, T2 start, T1 end, T2 end"},
      {"isolation7.log",
       "T1 start, T1 end, T2 start, T2 pause, T3 start, T2 end, T3 end, T4 start, T4 end"},
      {"isolation8.log", "T1 start, T1 pause, T2 start, T1 end, T2 end"},
      {"isolation9.log", "T1 start, T1 pause, T2 start, T1 end, T2 end"},
      {"atom.log", ""},
  };
  for (const Case& c : cases) {
    Timeline t = parseTimeline(sample(c.sample));
    EXPECT_EQ(sequence(t), c.sequence) << c.sample;
  }

  // What the picture is drawn from: names, times from the first line, the
  // pause's own text, and the waiting transaction ending after the holder.
  Timeline t = parseTimeline(sample("isolation3.log"));
  ASSERT_EQ(t.events.size(), 5u);
  EXPECT_EQ(t.events[0].seconds, 0.0);
  EXPECT_EQ(t.events[0].name, "New-Order");
  EXPECT_EQ(t.origin.size(), 26u);
  const LaneEvent* pause = find(t, "T1", Mark::kPause);
  ASSERT_NE(pause, nullptr);
  EXPECT_NE(pause->text.find("- T1 paused prior to commit"), std::string::npos);
  EXPECT_NEAR(find(t, "T2", Mark::kStart)->seconds, 10.0, 0.5);
  EXPECT_GE(find(t, "T1", Mark::kEnd)->seconds - pause->seconds, 30.0);
  EXPECT_GE(find(t, "T2", Mark::kEnd)->seconds, find(t, "T1", Mark::kEnd)->seconds);
  EXPECT_EQ(t.lastSeconds, find(t, "T2", Mark::kEnd)->seconds);

  Timeline t7 = parseTimeline(sample("isolation7.log"));
  EXPECT_EQ(find(t7, "T3", Mark::kStart)->name, "Increase the price of items");
  EXPECT_EQ(find(t7, "T1", Mark::kEnd)->name, "Query I_PRICE from items x and y");
}

TEST(ParseTimeline, StrayAndCutOffLines) {
  Timeline t = parseTimeline(
      "W_ID : 1\n"
      "[2026-01-07 09:00:00.000000] T1(New-Order) start\n"
      "[2026-01-07 09:00:00.500000] something else\n"
      "[2026-01-07 09:00:01.000000] - T1 paused prior to commit\n"
      "Error New Order Transaction!\n"
      "[2026-01-07 09:00:10.000000] T2(New-Order) start\n"
      "[2026-01-07 09:00:11.000000] T12(X) started\n"
      "[2026-01-07 09:00:12.000000] X1(New-Order) start\n"
      "[2026-01-07 09:00:12.500000] T2(New-Order) start");  // cut mid-run, no line end
  EXPECT_EQ(sequence(t), "T1 start, T1 pause, T2 start, T2 start");
  EXPECT_DOUBLE_EQ(t.lastSeconds, 12.5);
  EXPECT_EQ(t.origin, "2026-01-07 09:00:00.000000");
}

// --- timeline pictures ----------------------------------------------------------

TEST(TimelineSvg, WellFormedForEveryRealOutputAndHostileText) {
  for (int n = 1; n <= 9; ++n) {
    std::string name = "isolation" + std::to_string(n);
    Timeline t = parseTimeline(sample(name + ".log"));
    std::string svg = timelineSvg(name + ": Isolation test passed", t, 30);
    EXPECT_EQ(xmlProblem(svg), "") << name;
    // Every transaction has its lane label, and the pause its exact line.
    for (const LaneEvent& e : t.events) {
      EXPECT_NE(svg.find(">" + e.lane + "</text>"), std::string::npos) << name << " " << e.lane;
      if (e.mark == Mark::kPause) {
        EXPECT_NE(svg.find(xmlEscape(e.text)), std::string::npos) << name;
      }
    }
  }
  Timeline hostile = parseTimeline(
      "[2026-01-07 09:00:00.000000] T1(<New & \"Order\" 'x'>) start\n"
      "[2026-01-07 09:00:01.000000] - T1 paused <&>\x01\n");
  std::string svg = timelineSvg("a <b> & \"c\"\x02", hostile, 30);
  EXPECT_EQ(xmlProblem(svg), "");
  EXPECT_NE(svg.find("&lt;New &amp; &quot;Order&quot; &apos;x&apos;&gt;"), std::string::npos);
  EXPECT_NE(svg.find("no end line"), std::string::npos);  // T1 never ended

  std::string empty = timelineSvg("isolation3: no verdict", parseTimeline("W_ID : 1\n"), 30);
  EXPECT_EQ(xmlProblem(empty), "");
  EXPECT_NE(empty.find("No transaction start, pause or end line"), std::string::npos);
}

TEST(XmlCheck, FindsWhatBreaksWellFormedness) {
  EXPECT_EQ(xmlProblem("<?xml version=\"1.0\"?>\n<a x='1'><b/>t &amp; &#x41;</a>\n"), "");
  for (const char* bad :
       {"<a><b></a></b>", "<a>", "<a x=1/>", "<a x='1' x='2'/>", "<a>&nbsp;</a>", "<a>& b</a>",
        "<a x='<'/>", "<a/><b/>", "text", "<a>\x01</a>", "<a x='1'y='2'/>"}) {
    EXPECT_NE(xmlProblem(bad), "") << bad;
  }
}

// --- summary and report -----------------------------------------------------------

namespace {

ProgramRun passedRun(const std::string& label, int mandated) {
  ProgramRun r;
  r.label = label;
  r.program = label;
  r.mandatedSeconds = mandated;
  r.ran = true;
  r.exitStatus = 0;
  r.wallSeconds = mandated + 0.5;
  r.verdict.verdict = Verdict::kPassed;
  r.verdict.headline = "passed line";
  r.verdict.lines = {"passed line"};
  r.logFile = label + ".log";
  return r;
}

SuiteRun suiteOf(std::vector<ProgramRun> runs, double wall) {
  SuiteRun s;
  s.startedAt = "2026-01-07 09:00:00";
  s.warehouses = 2;
  s.wallSeconds = wall;
  s.db.ok = true;
  s.db.dbmsName = "MariaDB";
  s.db.dbmsVersion = "10.11";
  s.db.driverName = "drv";
  s.db.driverVersion = "1.0";
  s.runs = std::move(runs);
  return s;
}

}  // namespace

TEST(Report, EveryKindOfFailureFailsTheSuite) {
  ProgramRun ok = passedRun("isolation3", 30);
  EXPECT_TRUE(passed(ok));
  EXPECT_TRUE(allPassed(suiteOf({ok}, 31)));

  ProgramRun missing = ok;
  missing.verdict = VerdictResult{};
  ProgramRun exit1 = ok;
  exit1.exitStatus = 1;
  ProgramRun timedOut = ok;
  timedOut.timedOut = true;
  timedOut.signal = 9;
  timedOut.exitStatus = -1;
  timedOut.limitSeconds = 120;
  ProgramRun notFound = ProgramRun{};
  notFound.label = "isolation8";
  notFound.error = "not found or not executable: /x/isolation8";
  for (const ProgramRun& bad : {missing, exit1, timedOut, notFound}) {
    EXPECT_FALSE(passed(bad));
    SuiteRun s = suiteOf({ok, bad}, 61);
    EXPECT_FALSE(allPassed(s));
    std::string table = summaryTable(s);
    EXPECT_NE(table.find("FAILED: 1 of 2 programs did not pass (" + bad.label + ")"),
              std::string::npos)
        << table;
    EXPECT_NE(reportMarkdown(s).find("FAILED: 1 of 2"), std::string::npos);
  }
  EXPECT_EQ(outcomeText(missing), "FAILED");
  EXPECT_NE(summaryTable(suiteOf({missing}, 31)).find("(no verdict line)"), std::string::npos);
  EXPECT_EQ(outcomeText(timedOut), "TIMED OUT");
  EXPECT_EQ(exitText(timedOut), "SIGKILL at limit 120 s");
  EXPECT_EQ(outcomeText(notFound), "CANNOT RUN");
  EXPECT_FALSE(allPassed(suiteOf({}, 0)));  // nothing ran: nothing passed

  SuiteRun stopped = suiteOf({ok}, 31);
  stopped.interrupted = true;
  EXPECT_FALSE(allPassed(stopped));
  EXPECT_NE(summaryTable(stopped).find("stopped before its end"), std::string::npos);
}

TEST(Report, OverheadAgainstTheMandatedSchedules) {
  std::vector<ProgramRun> runs = {passedRun("consist", 0)};
  for (int n = 1; n <= 9; ++n) runs.push_back(passedRun("isolation" + std::to_string(n), 30));
  EXPECT_EQ(mandatedTotal(suiteOf(runs, 283.5)), 270);
  EXPECT_EQ(overheadText(suiteOf(runs, 283.5)),
            "Wall time 283.5 s for 270 s of mandated schedules: overhead +5.0 %.");
  EXPECT_NE(overheadText(suiteOf({passedRun("atom", 0)}, 2)).find("no program of this run"),
            std::string::npos);
  runs[3].ran = false;  // stopped before it: its schedule is not in the wall time
  EXPECT_EQ(mandatedTotal(suiteOf(runs, 250)), 240);
}

TEST(Report, MarkdownCarriesDatabaseTimelinesAndEscapedCells) {
  ProgramRun iso = passedRun("isolation3", 30);
  iso.svgFile = "isolation3.svg";
  ProgramRun weird = passedRun("consist", 0);
  weird.verdict.lines = {"a | b <c>", "d"};
  SuiteRun s = suiteOf({weird, iso}, 31);
  std::string md = reportMarkdown(s);
  EXPECT_NE(md.find("| Database | MariaDB 10.11 |"), std::string::npos) << md;
  EXPECT_NE(md.find("| ODBC driver | drv 1.0 |"), std::string::npos);
  EXPECT_NE(md.find("1 to 2"), std::string::npos);
  EXPECT_NE(md.find("![isolation3 timeline](isolation3.svg)"), std::string::npos);
  EXPECT_NE(md.find("a \\| b &lt;c&gt;<br>d"), std::string::npos);
  EXPECT_NE(md.find("[log](consist.log)"), std::string::npos);

  s.db = DbInfo{};
  s.db.error = "IM002: Data source name not found";
  EXPECT_NE(reportMarkdown(s).find("unknown: cannot connect (IM002: Data source name not found)"),
            std::string::npos);
}

TEST(Report, SummarySaysWhyEachFailedProgramFailed) {
  ProgramRun ok = passedRun("isolation3", 30);
  ProgramRun lostUpdate = passedRun("isolation5", 30);
  lostUpdate.verdict = findVerdict("isolation5", sample("isolation5-nontransactional.log"));
  ProgramRun condition = passedRun("consist-after", 0);
  condition.verdict = findVerdict(
      "consist", "\nFailed consistency condition 4\nAT LEAST ONE CONSISTENCY TEST FAILED\n");
  ProgramRun cannotRun;
  cannotRun.label = "isolation8";
  cannotRun.error = "not found or not executable: /x/isolation8";
  ProgramRun crashed = passedRun("isolation9", 30);
  crashed.verdict = VerdictResult{};
  crashed.signal = 11;
  crashed.exitStatus = -1;
  std::string table = summaryTable(suiteOf({ok, lostUpdate, condition, cannotRun, crashed}, 100));
  for (const char* why :
       {"isolation5:\n  T2 did not wait for T1: it returned 20.01 s before T1's pause ended\n",
        "consist-after:\n  Failed consistency condition 4\n",
        "isolation8:\n  not found or not executable: /x/isolation8\n",
        "isolation9:\n  no verdict line; it ended with exit SIGSEGV (see its log)\n"}) {
    EXPECT_NE(table.find(why), std::string::npos) << why << "\n" << table;
  }
  EXPECT_EQ(table.find("isolation3:"), std::string::npos) << table;
  EXPECT_TRUE(whyNotPassed(ok).empty());
}

TEST(Report, JsonCarriesEveryProgramsVerdictReasonsAndTimeline) {
  ProgramRun iso5 = passedRun("isolation5", 30);
  const std::string log = sample("isolation5-nontransactional.log");
  iso5.isolationTest = 5;
  iso5.verdict = findVerdict("isolation5", log);
  iso5.timeline = parseTimeline(log);
  ProgramRun timedOut = passedRun("isolation8", 30);
  timedOut.timedOut = true;
  timedOut.signal = 9;
  SuiteRun s = suiteOf({passedRun("consist", 0), iso5, timedOut}, 62.5);
  s.db.description = "a cluster, \"multi-writer\"";
  nlohmann::json j = nlohmann::json::parse(reportJson(s));

  EXPECT_EQ(j["version"], kReportVersion);
  EXPECT_EQ(j["passed"], false);
  EXPECT_EQ(j["mandatedSeconds"], 60);
  EXPECT_EQ(j["wallSeconds"], 62.5);
  EXPECT_EQ(j["dataSource"]["description"], "a cluster, \"multi-writer\"");
  EXPECT_EQ(j["dataSource"]["dbmsName"], "MariaDB");
  EXPECT_EQ(j["warehouses"], 2);
  ASSERT_EQ(j["programs"].size(), 3u);
  const nlohmann::json& p = j["programs"][1];
  EXPECT_EQ(p["label"], "isolation5");
  EXPECT_EQ(p["verdict"], "failed");
  EXPECT_EQ(p["passed"], false);
  EXPECT_EQ(p["exitStatus"], 0);
  EXPECT_TRUE(p["signal"].is_null());
  EXPECT_EQ(p["reasons"][0], "T2 did not wait for T1: it returned 20.01 s before T1's pause ended");
  EXPECT_EQ(p["mandatedSeconds"], 30);
  const nlohmann::json& events = p["timeline"]["events"];
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[1]["lane"], "T1");
  EXPECT_EQ(events[1]["mark"], "pause");
  EXPECT_EQ(events[3]["transaction"], "Payment");
  EXPECT_NEAR(events[3]["seconds"].get<double>(), 10.004462, 1e-9);
  EXPECT_EQ(j["programs"][2]["timedOut"], true);
  EXPECT_TRUE(j["programs"][2]["exitStatus"].is_null());
  EXPECT_EQ(j["programs"][2]["signal"], 9);
  EXPECT_FALSE(j["programs"][0].contains("timeline"));  // not an isolation test
}

// A report with every kind of consistency result, valid against the schema
// that README.md describes (python3-jsonschema, which scripts/test installs).
TEST(Report, JsonMatchesItsSchemaWithTheConsistencyResults) {
  ProgramRun iso5 = passedRun("isolation5", 30);
  iso5.isolationTest = 5;
  iso5.timeline = parseTimeline(sample("isolation5-nontransactional.log"));
  ProgramRun notRun;
  notRun.label = notRun.program = "atom";
  notRun.error = "cannot start";
  SuiteRun s = suiteOf({passedRun("consist", 0), iso5, notRun}, 40);
  s.consistencyChecked = true;
  CheckResult& c = s.consistency;
  c.completed = true;
  c.firstWarehouse = 1;
  c.lastWarehouse = 2;
  c.snapshots = 1;
  for (ConditionStatus status : {ConditionStatus::kHolds, ConditionStatus::kViolated,
                                 ConditionStatus::kNotApplicable, ConditionStatus::kError}) {
    ConditionResult r;
    r.number = static_cast<int>(c.conditions.size()) + 1;
    r.rule = "a rule";
    r.scope = "per district";
    r.status = status;
    if (status == ConditionStatus::kViolated) {
      r.violationCount = 12;
      r.violations.push_back(
          {{{"W_ID", "1"}, {"D_ID", "2"}}, {{"D_NEXT_O_ID", "3002"}, {"MAX_NO_O_ID", "", true}}});
    }
    if (status != ConditionStatus::kHolds) r.note = "why";
    c.conditions.push_back(r);
  }
  const std::string report = reportJson(s);
  nlohmann::json j = nlohmann::json::parse(report);
  EXPECT_EQ(j["passed"], false);
  EXPECT_EQ(j["consistency"]["exitStatus"], 1);
  const nlohmann::json& v = j["consistency"]["conditions"][1]["violations"][0];
  EXPECT_EQ(v["key"]["D_ID"], 2);
  EXPECT_EQ(v["values"]["D_NEXT_O_ID"], "3002");
  EXPECT_TRUE(v["values"]["MAX_NO_O_ID"].is_null());

  const std::string dir = testing::TempDir() + "report-schema";
  std::filesystem::create_directories(dir);
  SuiteRun unchecked = suiteOf({passedRun("consist", 0)}, 1);
  CheckResult failed;
  failed.error = "cannot connect";
  SuiteRun notConnected = unchecked;
  notConnected.consistencyChecked = true;
  notConnected.consistency = failed;
  int n = 0;
  for (const std::string& text : {report, reportJson(unchecked), reportJson(notConnected)}) {
    const std::string file = dir + "/report" + std::to_string(++n) + ".json";
    std::ofstream(file) << text;
    const std::string command =
        "python3 -c 'import json, sys, jsonschema; "
        "jsonschema.validate(json.load(open(sys.argv[2])), "
        "json.load(open(sys.argv[1])))' " ACIDKIT_SOURCE_DIR "/runner/report.schema.json " +
        file + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t got; p != nullptr && (got = fread(buffer, 1, sizeof buffer, p)) > 0;) {
      out.append(buffer, got);
    }
    const int status = p != nullptr ? pclose(p) : -1;
    EXPECT_EQ(status, 0) << file << " does not match runner/report.schema.json (is "
                         << "python3-jsonschema installed?):\n"
                         << out;
  }
}

// --- the selfcheck's expected matrix -----------------------------------------------

TEST(SelfcheckExpectations, TheReadmeShowsTheExpectedMatrix) {
  std::string tsv = readFile(std::string(ACIDKIT_SOURCE_DIR) + "/db/selfcheck.tsv");
  std::vector<Expectation> expected;
  std::string error;
  ASSERT_TRUE(parseExpectations(tsv, &expected, &error)) << error;
  EXPECT_EQ(breakagesOf(expected),
            (std::vector<std::string>{"nontransactional", "nonlocking", "read-uncommitted",
                                      "read-committed", "autocommit"}));
  std::string readme = readFile(std::string(ACIDKIT_SOURCE_DIR) + "/db/README.md");
  const std::string begin = "<!-- selfcheck matrix: begin -->\n";
  size_t from = readme.find(begin), to = readme.find("<!-- selfcheck matrix: end -->");
  ASSERT_NE(from, std::string::npos);
  ASSERT_NE(to, std::string::npos);
  EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()),
            expectedMarkdown(expected))
      << "db/README.md's matrix differs from db/selfcheck.tsv: paste the output of acidkit "
         "selfcheck --print-expected between its markers";
  // Each breakage must make the kit fail somewhere, or it shows nothing.
  for (const std::string& b : breakagesOf(expected)) {
    EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const Expectation& e) {
      return e.breakage == b && e.verdict == "failed";
    })) << b;
  }
}

TEST(SelfcheckExpectations, MalformedFilesAreRefusedWithTheirLine) {
  std::string all;
  for (const SuiteEntry& e : kSuite) all += std::string("b\t") + e.label + "\tpassed\twhy\n";
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"b\tatom\tpassed\n", "line 1: expected 4 tab-separated fields"},
      {"# comment\nb\tisolation10\tpassed\twhy\n", "line 2: 'isolation10' is no program"},
      {"b\tatom\tfails\twhy\n", "line 1: the verdict must be passed or failed"},
      {"b\tatom\tfailed\t\n", "line 1: every cell needs its why"},
      {"control\tatom\tpassed\twhy\n", "line 1: 'control' cannot name a breakage"},
      {all + "b\tatom\tfailed\twhy\n", "line 13: b / atom is named twice"},
      {"b\tatom\tpassed\twhy\n", "breakage b names no verdict for consist"},
      {"# only a comment\n", "no expectation in it"},
  };
  for (const auto& c : cases) {
    std::vector<Expectation> expected;
    std::string error;
    EXPECT_FALSE(parseExpectations(c.text, &expected, &error)) << c.error;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
  std::vector<Expectation> expected;
  std::string error;
  EXPECT_TRUE(parseExpectations(all, &expected, &error)) << error;
  EXPECT_EQ(expected.size(), kSuite.size());
}

// --- command line -------------------------------------------------------------------

TEST(CommandLine, OptionsAndTheirErrors) {
  const Defaults defaults{"/b", "/src/db/refdb", "/src/db/selfcheck.tsv"};
  CommandLine c = parseCommandLine({"run"}, defaults);
  EXPECT_EQ(c.command, Command::kRun);
  EXPECT_EQ(c.suite.binDir, "/b");
  EXPECT_EQ(c.suite.resultsDir, "results");
  EXPECT_EQ(c.suite.intoDir, "");
  EXPECT_EQ(c.suite.timeoutFactor, 3.0);
  EXPECT_TRUE(c.suite.only.empty());

  c = parseCommandLine({"run", "--bin", "/x", "--results=/r", "--only", "isolation3,consist-after",
                        "--timeout-factor", "0.5", "--into", "/i"},
                       defaults);
  EXPECT_EQ(c.command, Command::kRun);
  EXPECT_EQ(c.suite.binDir, "/x");
  EXPECT_EQ(c.suite.resultsDir, "/r");
  EXPECT_EQ(c.suite.intoDir, "/i");
  EXPECT_EQ(c.suite.only, (std::vector<std::string>{"isolation3", "consist-after"}));
  EXPECT_EQ(c.suite.timeoutFactor, 0.5);

  c = parseCommandLine({"selfcheck"}, defaults);
  EXPECT_EQ(c.command, Command::kSelfcheck);
  EXPECT_EQ(c.selfcheck.refdb, "/src/db/refdb");
  EXPECT_EQ(c.selfcheck.expectedFile, "/src/db/selfcheck.tsv");
  EXPECT_FALSE(c.selfcheck.keep);
  c = parseCommandLine({"selfcheck", "--keep", "--only=autocommit,nonlocking", "--refdb", "/r",
                        "--expected", "/e", "--results", "/out"},
                       defaults);
  EXPECT_EQ(c.command, Command::kSelfcheck);
  EXPECT_TRUE(c.selfcheck.keep);
  EXPECT_EQ(c.selfcheck.only, (std::vector<std::string>{"autocommit", "nonlocking"}));
  EXPECT_EQ(c.selfcheck.refdb, "/r");
  EXPECT_EQ(c.selfcheck.expectedFile, "/e");
  EXPECT_EQ(c.selfcheck.resultsDir, "/out");

  EXPECT_EQ(parseCommandLine({"--help"}, defaults).command, Command::kHelp);
  EXPECT_EQ(parseCommandLine({"run", "--help"}, defaults).command, Command::kHelp);
  EXPECT_EQ(parseCommandLine({"selfcheck", "-h"}, defaults).command, Command::kHelp);

  c = parseCommandLine({"check"}, defaults);
  EXPECT_EQ(c.command, Command::kCheck);
  EXPECT_TRUE(c.check.request.conditions.empty());
  EXPECT_EQ(c.check.request.firstWarehouse, 0);
  EXPECT_EQ(c.check.connections, 1);
  EXPECT_FALSE(c.check.json);
  c = parseCommandLine({"check", "--conditions", "12,1-3,7", "--warehouses=4-9", "--json",
                        "--connections", "2", "--slice", "0"},
                       defaults);
  EXPECT_EQ(c.command, Command::kCheck);
  EXPECT_EQ(c.check.request.conditions, (std::vector<int>{12, 1, 2, 3, 7}));
  EXPECT_EQ(c.check.request.firstWarehouse, 4);
  EXPECT_EQ(c.check.request.lastWarehouse, 9);
  EXPECT_TRUE(c.check.json);
  EXPECT_EQ(c.check.connections, 2);
  EXPECT_EQ(c.check.request.sliceWarehouses, 0);
  struct Bad {
    std::vector<std::string> args;
    const char* error;
  };
  const std::vector<Bad> bad = {
      {{}, "no command given"},
      {{"walk"}, "unknown command 'walk'"},
      {{"run", "--fast"}, "unknown option '--fast'"},
      {{"run", "--keep"}, "unknown option '--keep'"},
      {{"run", "--bin"}, "--bin needs a value"},
      {{"run", "--only="}, "--only needs a value"},
      {{"run", "--only", "isolation10"}, "--only: unknown program 'isolation10'"},
      {{"run", "--only", "atom,"}, "--only: unknown program ''"},
      {{"run", "--timeout-factor", "0"}, "--timeout-factor: '0' is not a number greater than 0"},
      {{"run", "--timeout-factor", "2x"}, "--timeout-factor: '2x' is not"},
      {{"run", "--timeout-factor", "nan"}, "--timeout-factor: 'nan' is not"},
      {{"selfcheck", "--keep=yes"}, "--keep takes no value"},
      {{"selfcheck", "--into", "/x"}, "unknown option '--into'"},
      {{"selfcheck", "--expected"}, "--expected needs a value"},
      {{"check", "--conditions", "0"}, "--conditions: '0' is not a condition number"},
      {{"check", "--conditions", "13"}, "--conditions: '13' is not a condition number"},
      {{"check", "--conditions", "4-2"}, "--conditions: '4-2' is not"},
      {{"check", "--conditions", "1,,2"}, "--conditions: '' is not"},
      {{"check", "--conditions", "1-3,2"}, "--conditions: condition 2 is listed twice"},
      {{"check", "--conditions", "1x"}, "--conditions: '1x' is not"},
      {{"check", "--warehouses", "3"}, "--warehouses: '3' is not a range A-B"},
      {{"check", "--warehouses", "3-2"}, "--warehouses: '3-2' is not"},
      {{"check", "--warehouses", "0-2"}, "--warehouses: '0-2' is not"},
      {{"check", "--connections", "0"}, "--connections: '0' is not a whole number from 1 to 64"},
      {{"check", "--json=yes"}, "--json takes no value"},
  };
  for (const Bad& b : bad) {
    CommandLine r = parseCommandLine(b.args, defaults);
    EXPECT_EQ(r.command, Command::kError) << b.error;
    EXPECT_EQ(r.error.rfind(b.error, 0), 0u) << r.error;
  }
}

// --- running programs -----------------------------------------------------------------

TEST(RunProcess, OutputIsKeptVerbatimInTheLog) {
  std::string dir = scratchDir("verbatim");
  writeScript(dir + "/prog",
              "printf 'out 1\\n'\nprintf 'err\\n' >&2\nprintf 'no line end'\nexit 3\n");
  ProcessSpec spec;
  spec.path = dir + "/prog";
  spec.logPath = dir + "/prog.log";
  spec.limitSeconds = 30;
  ProcessResult r = runProcess(spec);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.output, "out 1\nerr\nno line end");
  EXPECT_EQ(readFile(spec.logPath), r.output);
  std::filesystem::remove_all(dir);
}

TEST(RunProcess, ArgumentsAndEnvironmentOnTopOfTheRunners) {
  std::string dir = scratchDir("args");
  writeScript(dir + "/prog", "printf '%s|%s|%s|%s\\n' \"$1\" \"$2\" \"$ACIDKIT_X\" \"$HOME\"\n");
  setenv("ACIDKIT_X", "runner's", 1);
  ProcessSpec spec;
  spec.path = dir + "/prog";
  spec.args = {"a b", ""};
  spec.environment = {"ACIDKIT_X=child's"};
  spec.logPath = dir + "/prog.log";
  spec.limitSeconds = 30;
  ProcessResult r = runProcess(spec);
  unsetenv("ACIDKIT_X");
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.output, std::string("a b||child's|") + getenv("HOME") + "\n");
  std::filesystem::remove_all(dir);
}

TEST(RunProcess, MissingProgramAndUnwritableLog) {
  std::string dir = scratchDir("missing");
  ProcessSpec spec;
  spec.path = dir + "/isolation8";
  spec.logPath = dir + "/isolation8.log";
  ProcessResult r = runProcess(spec);
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.error.find("not found or not executable: " + spec.path), std::string::npos);

  writeScript(dir + "/prog", "exit 0\n");
  spec.path = dir + "/prog";
  spec.logPath = dir + "/no/such/folder/prog.log";
  r = runProcess(spec);
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.error.find("cannot write"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST(RunProcess, TimeLimitSendsTermThenKill) {
  std::string dir = scratchDir("limit");
  // Cleans up on SIGTERM, as isolation8 puts its rows back, and shows it in its log.
  writeScript(dir + "/polite",
              "trap 'echo cleaned up; exit 5' TERM\necho started\n"
              "while :; do sleep 0.1; done\n");
  // Ignores SIGTERM: only SIGKILL ends it.
  writeScript(dir + "/stubborn", "trap '' TERM\necho started\nwhile :; do sleep 0.1; done\n");
  ProcessSpec spec;
  spec.limitSeconds = 0.5;
  spec.graceSeconds = 0.5;

  spec.path = dir + "/polite";
  spec.logPath = dir + "/polite.log";
  ProcessResult r = runProcess(spec);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.exitStatus, 5);
  // The whole process group gets the signal: the shell also reports its
  // terminated sleep before it cleans up.
  EXPECT_EQ(r.output.rfind("started\n", 0), 0u) << r.output;
  EXPECT_TRUE(r.output.ends_with("cleaned up\n")) << r.output;
  EXPECT_LT(r.wallSeconds, 5);

  spec.path = dir + "/stubborn";
  spec.logPath = dir + "/stubborn.log";
  r = runProcess(spec);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_EQ(r.output, "started\n");  // line-buffered: what it wrote is there
  EXPECT_GE(r.wallSeconds, 1.0);
  EXPECT_LT(r.wallSeconds, 5);
  std::filesystem::remove_all(dir);
}

TEST(RunProcess, StopRequestTermsTheProgramAndSaysSo) {
  std::string dir = scratchDir("stop");
  writeScript(dir + "/prog", "echo started\nexec sleep 30\n");
  ProcessSpec spec;
  spec.path = dir + "/prog";
  spec.logPath = dir + "/prog.log";
  spec.limitSeconds = 60;
  spec.graceSeconds = 5;
  spec.tickSeconds = 0.1;
  spec.onTick = [](double elapsed) {
    if (elapsed > 0.3) gStopRequested = 1;
  };
  ProcessResult r = runProcess(spec);
  gStopRequested = 0;
  EXPECT_TRUE(r.interrupted);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_LT(r.wallSeconds, 5);
  std::filesystem::remove_all(dir);
}

// The whole command on stand-in programs that replay real output: logs,
// timelines, report, a hanging program stopped, and the exit status.
TEST(AcidkitRun, SuiteOfStandInsWithOneHanging) {
  std::string dir = scratchDir("suite");
  std::string bin = dir + "/bin";
  std::filesystem::create_directories(bin);
  for (const char* p : {"consist", "atom", "isolation1", "isolation2", "isolation3", "isolation4",
                        "isolation5", "isolation6", "isolation7", "isolation9"}) {
    writeScript(bin + "/" + p, std::string("cat '") + RUNNER_SAMPLES + "/" + p + ".log'\n");
  }
  writeScript(bin + "/isolation8",
              "head -7 '" + std::string(RUNNER_SAMPLES) + "/isolation8.log'\nexec sleep 60\n");
  // TESTDB is nowhere: the run warns and goes on.
  std::filesystem::create_directories(dir + "/odbc");
  std::string command = "cd '" + dir + "' && ODBCSYSINI='" + dir + "/odbc' ODBCINI='" + dir +
                        "/odbc/odbc.ini' '" + ACIDKIT_RUNNER + "' run --bin '" + bin +
                        "' --results out --timeout-factor 0.05 > stdout.txt 2>&1";
  int status = system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::string out = readFile(dir + "/stdout.txt");
  EXPECT_NE(out.find("WARNING: cannot connect to TESTDB"), std::string::npos) << out;
  EXPECT_NE(out.find("FAILED: 1 of 12 programs did not pass (isolation8)."), std::string::npos)
      << out;
  EXPECT_NE(out.find("isolation8     TIMED OUT"), std::string::npos) << out;

  std::vector<std::filesystem::path> runs;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/out")) runs.push_back(e.path());
  ASSERT_EQ(runs.size(), 1u);
  std::string folder = runs[0].string();
  EXPECT_EQ(readFile(folder + "/consist-after.log"), sample("consist.log"));  // consist again
  EXPECT_EQ(readFile(folder + "/isolation5.log"), sample("isolation5.log"));
  std::string md = readFile(folder + "/report.md");
  EXPECT_NE(md.find("| isolation8 | TIMED OUT |"), std::string::npos) << md;
  for (int n = 1; n <= 9; ++n) {
    std::string svg = readFile(folder + "/isolation" + std::to_string(n) + ".svg");
    EXPECT_EQ(xmlProblem(svg), "") << n;
    EXPECT_NE(md.find("(isolation" + std::to_string(n) + ".svg)"), std::string::npos);
  }
  // The stopped program's timeline shows how far it got: T1 paused, T2 waiting.
  EXPECT_NE(readFile(folder + "/isolation8.svg").find("no end line"), std::string::npos);
  EXPECT_EQ(readFile(folder + "/summary.txt").empty(), false);
  nlohmann::json report = nlohmann::json::parse(readFile(folder + "/report.json"), nullptr, false);
  ASSERT_FALSE(report.is_discarded());
  EXPECT_EQ(report["programs"].size(), 12u);
  EXPECT_EQ(report["programs"][9]["outcome"], "TIMED OUT");
  std::filesystem::remove_all(dir);
}
