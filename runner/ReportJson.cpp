// report.json: what report.md says, for a machine. Field names are part of
// the schema (README.md, "report.json"); a change that a reader could trip on
// raises kReportVersion.
#include <nlohmann/json.hpp>

#include "CheckJson.h"
#include "Report.h"

namespace acidkit {

namespace {

using nlohmann::json;

const char* markName(Mark m) {
  switch (m) {
    case Mark::kStart:
      return "start";
    case Mark::kPause:
      return "pause";
    case Mark::kEnd:
      break;
  }
  return "end";
}

json timelineJson(const Timeline& t) {
  json events = json::array();
  for (const LaneEvent& e : t.events) {
    events.push_back({{"lane", e.lane},
                      {"mark", markName(e.mark)},
                      {"seconds", e.seconds},
                      {"transaction", e.name},
                      {"line", e.text}});
  }
  return {{"origin", t.origin}, {"events", events}};
}

json programJson(const ProgramRun& run) {
  json p = {{"label", run.label},
            {"program", run.program},
            {"isolationTest", run.isolationTest},
            {"ran", run.ran},
            {"outcome", outcomeText(run)},
            {"passed", passed(run)},
            {"verdict", verdictName(run.verdict.verdict)},
            {"headline", run.verdict.headline},
            {"reasons", run.verdict.reasons},
            {"failureLines", run.verdict.failures},
            {"verdictLines", run.verdict.lines},
            {"whyNotPassed", whyNotPassed(run)},
            {"exitStatus", run.ran && run.signal == 0 ? json(run.exitStatus) : json(nullptr)},
            {"signal", run.signal != 0 ? json(run.signal) : json(nullptr)},
            {"timedOut", run.timedOut},
            {"interrupted", run.interrupted},
            {"error", run.error},
            {"wallSeconds", run.wallSeconds},
            {"mandatedSeconds", run.mandatedSeconds},
            {"limitSeconds", run.limitSeconds},
            {"log", run.logFile}};
  if (run.isolationTest != 0 && run.ran) p["timeline"] = timelineJson(run.timeline);
  return p;
}

}  // namespace

std::string reportJson(const SuiteRun& suite) {
  json programs = json::array();
  for (const ProgramRun& run : suite.runs) programs.push_back(programJson(run));
  const int mandated = mandatedTotal(suite);
  json report = {
      {"version", kReportVersion},
      {"startedAt", suite.startedAt},
      {"commandLine", suite.commandLine},
      {"dataSource",
       {{"name", "TESTDB"},
        {"description", suite.db.description},
        {"connected", suite.db.ok},
        {"error", suite.db.error},
        {"dbmsName", suite.db.dbmsName},
        {"dbmsVersion", suite.db.dbmsVersion},
        {"driverName", suite.db.driverName},
        {"driverVersion", suite.db.driverVersion},
        {"odbcIni", suite.odbcIni},
        {"odbcSysIni", suite.odbcSysIni}}},
      {"warehouses", suite.warehouses},
      {"wallSeconds", suite.wallSeconds},
      {"mandatedSeconds", mandated},
      {"overheadPercent",
       mandated > 0 ? json((suite.wallSeconds - mandated) * 100.0 / mandated) : json(nullptr)},
      {"interrupted", suite.interrupted},
      {"passed", allPassed(suite)},
      {"programs", programs},
      {"consistency", suite.consistencyChecked ? checkJson(suite.consistency) : json(nullptr)}};
  // Only with --durability: a run without it reports as before.
  if (suite.durabilityRan) report["durability"] = durabilityJson(suite.durability);
  return report.dump(2) + "\n";
}

}  // namespace acidkit
