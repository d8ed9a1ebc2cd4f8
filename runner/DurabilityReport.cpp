// The crash cycles told: a line per cycle, the figures over all of them, the
// Markdown section and the JSON object (report.schema.json, "durability").
#include <algorithm>
#include <nlohmann/json.hpp>

#include "Durability.h"
#include "Format.h"
#include "Report.h"

namespace acidkit {

namespace {

using nlohmann::json;

bool tableRead(const DurabilityCycle& c) {
  return c.verified && c.verify.tableFound;
}

// The best count there is: verify's table, else the run's own tally, else
// the journal's lines.
long long acknowledgedOf(const DurabilityCycle& c) {
  if (tableRead(c)) return total(c.verify).acknowledged;
  if (c.tally.acknowledgedFound) return c.tally.acknowledged;
  return c.journaled;
}

// The connections whose call was under way at the kill.
std::optional<long long> inFlightAtKill(const DurabilityCycle& c) {
  if (c.tally.inFlightFound) return c.tally.inFlight;
  if (tableRead(c)) return total(c.verify).inFlight;
  return std::nullopt;
}

struct Figures {
  int passed = 0;
  long long acknowledged = 0;
  long long missing = 0;
  bool missingKnown = false;  // some cycle's table was read
  std::optional<double> recovery, rate;
  std::string inFlight;  // "8, 8, 7" ("-" for a cycle without it)
};

Figures figuresOf(const DurabilityRun& run) {
  Figures f;
  std::vector<double> recoveries, rates;
  for (const DurabilityCycle& c : run.cycles) {
    f.passed += c.passed ? 1 : 0;
    f.acknowledged += acknowledgedOf(c);
    if (tableRead(c)) {
      f.missing += total(c.verify).missing;
      f.missingKnown = true;
    }
    if (c.recoverySeconds) recoveries.push_back(*c.recoverySeconds);
    if (c.tally.acknowledgedFound) rates.push_back(c.tally.perSecond);
    std::optional<long long> n = inFlightAtKill(c);
    f.inFlight += (f.inFlight.empty() ? "" : ", ") + (n ? std::to_string(*n) : std::string("-"));
  }
  f.recovery = median(recoveries);
  f.rate = median(rates);
  return f;
}

std::string seconds(const std::optional<double>& s) {
  return s ? format("%.1f s", *s) : "-";
}

json rowJson(const VerifyRow& r) {
  return {{"acknowledged", r.acknowledged},
          {"found", r.found},
          {"missing", r.missing},
          {"inFlight", r.inFlight},
          {"inFlightCommitted", r.inFlightCommitted}};
}

template <typename T>
json orNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

const char* cycleVerdictName(const DurabilityCycle& c) {
  return c.verified ? verdictName(c.verify.verdict) : "not verified";
}

// Verify's Missing lines kept in report.json; verify.log has them all.
constexpr size_t kMissingLinesKept = 100;

json cycleJson(const DurabilityCycle& c) {
  const bool table = tableRead(c);
  const VerifyRow t = total(c.verify);
  std::vector<std::string> missing(
      c.verify.missing.begin(),
      c.verify.missing.begin() + std::min(c.verify.missing.size(), kMissingLinesKept));
  return {{"cycle", c.number},
          {"folder", c.folder},
          {"passed", c.passed},
          {"verdict", cycleVerdictName(c)},
          {"reasons", c.reasons},
          {"notes", c.notes},
          {"acknowledged", acknowledgedOf(c)},
          {"journaled", c.journaled},
          {"found", table ? json(t.found) : json(nullptr)},
          {"missing", table ? json(t.missing) : json(nullptr)},
          {"inFlight", orNull(inFlightAtKill(c))},
          {"inFlightCommitted", table ? json(t.inFlightCommitted) : json(nullptr)},
          {"newOrder", table ? rowJson(c.verify.newOrder) : json(nullptr)},
          {"payment", table ? rowJson(c.verify.payment) : json(nullptr)},
          {"missingLines", missing},
          {"crashed", c.crashed},
          {"recoverySeconds", orNull(c.recoverySeconds)},
          {"recoveryMeasuredBy",
           c.recoverySeconds ? json(c.recoveryMeasured ? "acidkit" : "refdb") : json(nullptr)},
          {"commitsPerSecond", c.tally.acknowledgedFound ? json(c.tally.perSecond) : json(nullptr)},
          {"runSeconds", c.tally.acknowledgedFound ? json(c.tally.seconds) : json(nullptr)}};
}

}  // namespace

std::string crashCycles(int count) {
  return format("%d crash cycle%s", count, count == 1 ? "" : "s");
}

std::string durabilityResultSentence(const DurabilityRun& run) {
  const int requested = run.options.cycles;
  if (allPassed(run)) {
    return requested == 1 ? "The durability cycle passed."
                          : format("All %d durability cycles passed.", requested);
  }
  std::string failed, notRun;
  for (const DurabilityCycle& c : run.cycles) {
    if (!c.passed) failed += (failed.empty() ? "" : ", ") + std::to_string(c.number);
  }
  for (int n = static_cast<int>(run.cycles.size()) + 1; n <= requested; ++n) {
    notRun += (notRun.empty() ? "" : ", ") + std::to_string(n);
  }
  std::string text =
      format("FAILED: %d of %d durability cycles passed (", figuresOf(run).passed, requested);
  if (!failed.empty()) text += "failed: " + failed;
  if (!notRun.empty()) text += (failed.empty() ? "" : "; ") + std::string("not run: ") + notRun;
  text += ").";
  if (run.interrupted) text += " The run was stopped before its end.";
  return text;
}

bool allPassed(const DurabilityRun& run) {
  if (run.interrupted || !run.stoppedBecause.empty() ||
      static_cast<int>(run.cycles.size()) != run.options.cycles || run.cycles.empty()) {
    return false;
  }
  return std::all_of(run.cycles.begin(), run.cycles.end(),
                     [](const DurabilityCycle& c) { return c.passed; });
}

std::optional<double> median(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string cycleText(const DurabilityCycle& c) {
  std::string text = format("cycle %d: %-6s  %lld acknowledged", c.number,
                            c.passed ? "passed" : "FAILED", acknowledgedOf(c));
  std::optional<long long> inFlight = inFlightAtKill(c);
  if (tableRead(c)) {
    const VerifyRow t = total(c.verify);
    text += format(", %lld missing, %lld in flight (%lld committed)", t.missing,
                   inFlight.value_or(t.inFlight), t.inFlightCommitted);
  } else if (inFlight) {
    text += format(", %lld in flight", *inFlight);
  }
  if (c.recoverySeconds) {
    text +=
        format(", recovery %.1f s%s", *c.recoverySeconds, c.recoveryMeasured ? " (measured)" : "");
  }
  if (c.tally.acknowledgedFound) text += format(", %.0f commits/s", c.tally.perSecond);
  text += "\n";
  for (const std::string& reason : c.reasons) text += "  " + reason + "\n";
  for (const std::string& note : c.notes) text += "  note: " + note + "\n";
  return text;
}

std::string durabilitySummary(const DurabilityRun& run) {
  const Figures f = figuresOf(run);
  std::string out;
  out += format("Cycles passed:          %d of %d\n", f.passed, run.options.cycles);
  out += format("Acknowledged commits:   %lld", f.acknowledged);
  out += f.missingKnown ? format(", %lld missing\n", f.missing) : ", missing unknown\n";
  out += "Median recovery time:   " + seconds(f.recovery) + "\n";
  out += "Median commit rate:     " + (f.rate ? format("%.1f per second", *f.rate) : "-") + "\n";
  out += format("In flight at the kill:  %s (of %d connections)\n",
                f.inFlight.empty() ? "-" : f.inFlight.c_str(), run.options.connections);
  out += durabilityResultSentence(run) + "\n";
  if (!run.stoppedBecause.empty()) out += run.stoppedBecause + "\n";
  return out;
}

std::string durabilityMarkdown(const DurabilityRun& run, const std::string& level,
                               const std::string& linkPrefix) {
  const Figures f = figuresOf(run);
  const DurabilityOptions& o = run.options;
  std::string md = level + " Durability\n\n";
  md += "**" + markdownCell(durabilityResultSentence(run)) + "**\n\n";
  if (!run.stoppedBecause.empty()) md += markdownCell(run.stoppedBecause) + "\n\n";
  md += format(
      "%s on the reference database: `durability run` from %d connections, the "
      "server killed (`refdb crash`) 0 to %.0f s after the journal held %lld acknowledged "
      "commits, started again (`refdb start`), and every journaled commit checked "
      "(`durability verify`).\n\n",
      crashCycles(o.cycles).c_str(), o.connections, o.maxExtraSeconds, o.minCommits);
  md +=
      "| Cycle | Result | Acknowledged | Found | Missing | In flight | In flight committed | "
      "Recovery | Commits/s | Logs |\n";
  md += "|---:|---|---:|---:|---:|---:|---:|---:|---:|---|\n";
  for (const DurabilityCycle& c : run.cycles) {
    const bool table = tableRead(c);
    const VerifyRow t = total(c.verify);
    std::optional<long long> inFlight = inFlightAtKill(c);
    auto number = [table](long long n) { return table ? std::to_string(n) : std::string("-"); };
    std::string logs;
    for (const char* log : {"run", "crash", "start", "verify"}) {
      logs += (logs.empty() ? "" : ", ") +
              format("[%s](%s%s/%s.log)", log, linkPrefix.c_str(), c.folder.c_str(), log);
    }
    md += format("| %d | %s | %lld | %s | %s | %s | %s | %s%s | %s | %s |\n", c.number,
                 c.passed ? "passed" : "**FAILED**", acknowledgedOf(c), number(t.found).c_str(),
                 number(t.missing).c_str(), inFlight ? std::to_string(*inFlight).c_str() : "-",
                 number(t.inFlightCommitted).c_str(), seconds(c.recoverySeconds).c_str(),
                 c.recoveryMeasured ? " (measured)" : "",
                 c.tally.acknowledgedFound ? format("%.1f", c.tally.perSecond).c_str() : "-",
                 logs.c_str());
  }
  md += "\n| | |\n|---|---|\n";
  md += format("| Cycles passed | %d of %d |\n", f.passed, o.cycles);
  md += format("| Acknowledged commits | %lld |\n", f.acknowledged);
  md += "| Missing commits | " + (f.missingKnown ? std::to_string(f.missing) : "unknown") + " |\n";
  md += "| Median recovery time | " + seconds(f.recovery) + " |\n";
  md += "| Median commit rate | " + (f.rate ? format("%.1f per second", *f.rate) : "-") + " |\n";
  md += format("| In flight at the kill | %s (of %d connections) |\n",
               f.inFlight.empty() ? "-" : f.inFlight.c_str(), o.connections);
  md += "\n";
  std::string why;
  for (const DurabilityCycle& c : run.cycles) {
    for (const std::string& r : c.reasons) {
      why += format("- cycle %d: ", c.number) + markdownCell(r) + "\n";
    }
    for (const std::string& n : c.notes) {
      why += format("- cycle %d (note): ", c.number) + markdownCell(n) + "\n";
    }
  }
  if (!why.empty())
    md += "Why cycles failed, and what went otherwise than planned:\n\n" + why + "\n";
  return md;
}

json durabilityJson(const DurabilityRun& run) {
  const Figures f = figuresOf(run);
  json cycles = json::array();
  std::vector<json> inFlight;
  for (const DurabilityCycle& c : run.cycles) {
    cycles.push_back(cycleJson(c));
    inFlight.push_back(orNull(inFlightAtKill(c)));
  }
  return {{"cyclesRequested", run.options.cycles},
          {"connections", run.options.connections},
          {"minCommits", run.options.minCommits},
          {"folder", run.folder},
          {"seconds", run.seconds},
          {"passed", allPassed(run)},
          {"interrupted", run.interrupted},
          {"stoppedBecause", run.stoppedBecause},
          {"cyclesPassed", f.passed},
          {"acknowledgedTotal", f.acknowledged},
          {"missingTotal", f.missingKnown ? json(f.missing) : json(nullptr)},
          {"medianRecoverySeconds", orNull(f.recovery)},
          {"medianCommitsPerSecond", orNull(f.rate)},
          {"inFlightAtKill", inFlight},
          {"cycles", cycles}};
}

}  // namespace acidkit
