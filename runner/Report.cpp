#include "Report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Format.h"
#include "Process.h"

namespace acidkit {

bool passed(const ProgramRun& run) {
  return run.ran && !run.timedOut && !run.interrupted && run.signal == 0 && run.exitStatus == 0 &&
         run.verdict.verdict == Verdict::kPassed;
}

std::string outcomeText(const ProgramRun& run) {
  if (!run.ran) return run.error.empty() ? "NOT RUN" : "CANNOT RUN";
  if (run.timedOut) return "TIMED OUT";
  if (run.interrupted) return "STOPPED";
  return passed(run) ? "passed" : "FAILED";
}

std::string exitText(const ProgramRun& run) {
  if (!run.ran) return "-";
  std::string text = run.signal == 0 ? std::to_string(run.exitStatus) : signalName(run.signal);
  if (run.timedOut) text += format(" at limit %.0f s", run.limitSeconds);
  if (run.interrupted) text += " on request";
  return text;
}

std::vector<std::string> whyNotPassed(const ProgramRun& run) {
  if (passed(run)) return {};
  if (!run.verdict.reasons.empty()) return run.verdict.reasons;
  std::vector<std::string> why = run.verdict.failures;
  if (!run.ran) {
    why.push_back(run.error.empty() ? "not run: the suite was stopped before it" : run.error);
  } else if (run.timedOut) {
    why.push_back(format("stopped at its time limit of %.0f s", run.limitSeconds));
  } else if (run.verdict.verdict == Verdict::kMissing) {
    why.push_back(
        format("no verdict line; it ended with exit %s (see its log)", exitText(run).c_str()));
  } else if (run.exitStatus != 0) {
    why.push_back("exit status " + exitText(run));
  }
  return why;
}

bool consistencyPassed(const SuiteRun& suite) {
  if (!suite.consistencyChecked) return true;
  return suite.consistency.completed &&
         countStatus(suite.consistency, ConditionStatus::kViolated) == 0 &&
         countStatus(suite.consistency, ConditionStatus::kError) == 0;
}

bool allPassed(const SuiteRun& suite) {
  if (suite.interrupted || suite.runs.empty() || !consistencyPassed(suite)) return false;
  if (suite.durabilityRan && !allPassed(suite.durability)) return false;
  for (const ProgramRun& run : suite.runs) {
    if (!passed(run)) return false;
  }
  return true;
}

int mandatedTotal(const SuiteRun& suite) {
  int total = 0;
  for (const ProgramRun& run : suite.runs) total += run.ran ? run.mandatedSeconds : 0;
  return total;
}

std::string overheadText(const SuiteRun& suite) {
  int mandated = mandatedTotal(suite);
  if (mandated == 0) {
    return format("Wall time %.1f s; no program of this run has a mandated schedule.",
                  suite.wallSeconds);
  }
  double overhead = (suite.wallSeconds - mandated) * 100.0 / mandated;
  return format("Wall time %.1f s for %d s of mandated schedules: overhead %+.1f %%.",
                suite.wallSeconds, mandated, overhead);
}

namespace {

std::string verdictHeadline(const ProgramRun& run) {
  if (!run.ran) return run.error.empty() ? "(not run)" : "(" + run.error + ")";
  return run.verdict.headline.empty() ? "(no verdict line)" : run.verdict.headline;
}

std::string verdictOneLine(const ProgramRun& run) {
  std::string text = verdictHeadline(run);
  // The table stays one line per program; the report has every line.
  return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

size_t countPassed(const SuiteRun& suite) {
  size_t n = 0;
  for (const ProgramRun& run : suite.runs) n += passed(run) ? 1 : 0;
  return n;
}

std::string failedLabels(const SuiteRun& suite) {
  std::string names;
  for (const ProgramRun& run : suite.runs) {
    if (passed(run)) continue;
    if (!names.empty()) names += ", ";
    names += run.label;
  }
  return names;
}

// "12 consistency conditions: 11 hold, 1 not applicable" and the like.
std::string consistencySentence(const CheckResult& c) {
  if (!c.completed) return "Consistency conditions could not be checked: " + c.error;
  std::string text = format("%zu consistency conditions checked:", c.conditions.size());
  const char* sep = " ";
  for (ConditionStatus s : {ConditionStatus::kHolds, ConditionStatus::kViolated,
                            ConditionStatus::kNotApplicable, ConditionStatus::kError}) {
    if (int n = countStatus(c, s); n > 0) {
      text += format("%s%d %s", sep, n, s == ConditionStatus::kHolds ? "hold" : statusName(s));
      sep = ", ";
    }
  }
  return text + ".";
}

std::string resultSentence(const SuiteRun& suite) {
  const std::string durability =
      suite.durabilityRan ? " " + durabilityResultSentence(suite.durability) : "";
  if (allPassed(suite)) return format("All %zu programs passed.", suite.runs.size()) + durability;
  std::string text;
  if (countPassed(suite) == suite.runs.size() && !suite.interrupted && consistencyPassed(suite)) {
    text = format("FAILED: all %zu programs passed, but not every durability cycle.",
                  suite.runs.size()) +
           durability;
  } else if (countPassed(suite) == suite.runs.size() && !suite.interrupted) {
    text = format("FAILED: all %zu programs passed, but the consistency check did not.",
                  suite.runs.size()) +
           durability;
  } else {
    text = format("FAILED: %zu of %zu programs did not pass (%s).",
                  suite.runs.size() - countPassed(suite), suite.runs.size(),
                  failedLabels(suite).c_str()) +
           durability;
  }
  if (suite.interrupted) text += " The run was stopped before its end.";
  return text;
}

}  // namespace

std::string summaryTable(const SuiteRun& suite) {
  std::string out;
  out += format("%-14s %-10s %-40s %-22s %8s %9s\n", "program", "result", "verdict", "exit status",
                "wall", "mandated");
  out += std::string(108, '-') + "\n";
  for (const ProgramRun& run : suite.runs) {
    out += format("%-14s %-10s %-40s %-22s %6.1f s %7d s\n", run.label.c_str(),
                  outcomeText(run).c_str(), verdictOneLine(run).c_str(), exitText(run).c_str(),
                  run.wallSeconds, run.mandatedSeconds);
  }
  out += std::string(108, '-') + "\n";
  out += overheadText(suite) + "\n";
  out += resultSentence(suite) + "\n";
  if (suite.consistencyChecked) out += consistencySentence(suite.consistency) + "\n";
  for (const ProgramRun& run : suite.runs) {
    std::vector<std::string> why = whyNotPassed(run);
    if (why.empty()) continue;
    out += run.label + ":\n";
    for (const std::string& line : why) out += "  " + line + "\n";
  }
  if (suite.consistencyChecked && !consistencyPassed(suite)) {
    out += "consistency conditions:\n";
    for (std::string_view line : splitLines(formatCheckResult(suite.consistency))) {
      out += "  " + std::string(line) + "\n";
    }
  }
  if (suite.durabilityRan) {
    out += "\nDurability (" + suite.durability.folder + "):\n";
    for (const DurabilityCycle& c : suite.durability.cycles) out += cycleText(c);
    out += durabilitySummary(suite.durability);
  }
  return out;
}

namespace {

// Text inside a Markdown table cell: no column breaks, no HTML.
std::string cell(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '|':
        out += "\\|";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '\n':
        out += ' ';
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string orUnknown(const std::string& s) {
  return s.empty() ? "(not set)" : s;
}

}  // namespace

std::string markdownCell(std::string_view text) {
  return cell(text);
}

std::string reportMarkdown(const SuiteRun& suite) {
  std::string md;
  md += "# ACID suite run of " + suite.startedAt + "\n\n";
  md += "**" + cell(resultSentence(suite)) + "**\n\n";
  md += cell(overheadText(suite)) + "\n\n";

  md += "## Database under test\n\n";
  md += "| | |\n|---|---|\n";
  md += "| Data source | TESTDB" +
        (suite.db.description.empty() ? std::string() : ": " + cell(suite.db.description)) + " |\n";
  if (suite.db.ok) {
    md += "| Database | " + cell(suite.db.dbmsName) + " " + cell(suite.db.dbmsVersion) + " |\n";
    md += "| ODBC driver | " + cell(suite.db.driverName) + " " + cell(suite.db.driverVersion) +
          " |\n";
  } else {
    md += "| Database and driver | unknown: cannot connect (" + cell(suite.db.error) + ") |\n";
  }
  md += "| ODBCINI | " + cell(orUnknown(suite.odbcIni)) + " |\n";
  md += "| ODBCSYSINI | " + cell(orUnknown(suite.odbcSysIni)) + " |\n";
  md += format("| Warehouses the programs draw from (build) | 1 to %d |\n", suite.warehouses);
  md += "| Command | `" + cell(suite.commandLine) + "` |\n\n";

  md += "## Programs\n\n";
  md += "| Program | Result | Verdict lines | Exit status | Wall time | Mandated | Output |\n";
  md += "|---|---|---|---|---:|---:|---|\n";
  for (const ProgramRun& run : suite.runs) {
    std::string verdicts;
    if (!run.ran || run.verdict.lines.empty()) {
      verdicts = cell(verdictHeadline(run));
    } else {
      for (const std::string& line : run.verdict.lines) {
        if (!verdicts.empty()) verdicts += "<br>";
        verdicts += cell(line);
      }
    }
    std::string links = run.ran ? "[log](" + run.logFile + ")" : "-";
    if (!run.svgFile.empty()) links += ", [timeline](" + run.svgFile + ")";
    md += "| " + cell(run.label) + " | " + outcomeText(run) + " | " + verdicts + " | " +
          cell(exitText(run)) +
          format(" | %.1f s | %d s | ", run.wallSeconds, run.mandatedSeconds) + links + " |\n";
  }
  md += "\n";

  if (suite.consistencyChecked) {
    const CheckResult& c = suite.consistency;
    md += "## Consistency conditions\n\n";
    md += cell(consistencySentence(c)) + "\n\n";
    if (c.completed) {
      md += format(
          "Checked after the suite (`acidkit check`) over warehouses %d to %d in one "
          "snapshot, %.1f s.\n\n",
          c.firstWarehouse, c.lastWarehouse, c.seconds);
      md += "| Condition | Rule | Scope | Result | Keys that break it (first 10) |\n";
      md += "|---:|---|---|---|---|\n";
      for (const ConditionResult& r : c.conditions) {
        std::string detail;
        for (const Violation& v : r.violations) {
          std::string key;
          for (const Field& f : v.key) key += (key.empty() ? "" : " ") + f.name + "=" + f.value;
          std::string values;
          for (const Field& f : v.values) {
            values += (values.empty() ? "" : " ") + f.name + "=" + (f.isNull ? "NULL" : f.value);
          }
          detail += (detail.empty() ? "" : "<br>") + cell(key + ": " + values);
        }
        if (r.violationCount > static_cast<long long>(r.violations.size())) {
          detail += format("<br>(%lld in all)", r.violationCount);
        }
        if (!r.note.empty()) detail += (detail.empty() ? "" : "<br>") + cell(r.note);
        md += format("| %d | ", r.number) + cell(r.rule) + " | " + r.scope + " | " +
              (r.status == ConditionStatus::kHolds
                   ? "holds"
                   : "**" + std::string(statusName(r.status)) + "**") +
              " | " + (detail.empty() ? "-" : detail) + " |\n";
      }
      md += "\n";
    }
  }

  if (suite.durabilityRan) md += durabilityMarkdown(suite.durability, "##", "durability/");

  bool anyTimeline = false;
  for (const ProgramRun& run : suite.runs) anyTimeline |= !run.svgFile.empty();
  if (anyTimeline) {
    md += "## Timelines of the isolation tests\n\n";
    md +=
        "One lane per transaction, from its start line to its end line; the shaded part is its "
        "pause, during which it holds its locks. A transaction that ends right after another "
        "one's end was waiting for it.\n\n";
    for (const ProgramRun& run : suite.runs) {
      if (run.svgFile.empty()) continue;
      md += "### " + run.label + "\n\n";
      md += "![" + run.label + " timeline](" + run.svgFile + ")\n\n";
    }
  }
  return md;
}

}  // namespace acidkit
