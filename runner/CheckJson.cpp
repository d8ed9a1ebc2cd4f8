// The consistency check as JSON: `acidkit check --json` prints it, and
// report.json carries it as "consistency". Field names are part of the
// schema (README.md, "Results: report.json").
#include "CheckJson.h"

#include <nlohmann/json.hpp>

#include "Check.h"

namespace acidkit {

namespace {

using nlohmann::json;

// Keys are numbers; values stay the database's exact text (decimals), null
// for SQL NULL.
json fieldsJson(const std::vector<Field>& fields, bool numbers) {
  json object = json::object();
  for (const Field& f : fields) {
    if (f.isNull) {
      object[f.name] = nullptr;
    } else if (numbers) {
      object[f.name] = std::stoll(f.value);
    } else {
      object[f.name] = f.value;
    }
  }
  return object;
}

}  // namespace

nlohmann::json checkJson(const CheckResult& result) {
  json conditions = json::array();
  for (const ConditionResult& r : result.conditions) {
    json violations = json::array();
    for (const Violation& v : r.violations) {
      violations.push_back(
          {{"key", fieldsJson(v.key, true)}, {"values", fieldsJson(v.values, false)}});
    }
    conditions.push_back({{"number", r.number},
                          {"rule", r.rule},
                          {"scope", r.scope},
                          {"status", statusName(r.status)},
                          {"violationCount", r.violationCount},
                          {"violations", violations},
                          {"note", r.note},
                          {"seconds", r.seconds}});
  }
  return {{"completed", result.completed},
          {"error", result.error},
          {"firstWarehouse", result.completed ? json(result.firstWarehouse) : json(nullptr)},
          {"lastWarehouse", result.completed ? json(result.lastWarehouse) : json(nullptr)},
          {"snapshots", result.snapshots},
          {"seconds", result.seconds},
          {"holds", result.completed && countStatus(result, ConditionStatus::kViolated) == 0 &&
                        countStatus(result, ConditionStatus::kError) == 0},
          {"exitStatus", checkExitStatus(result)},
          {"conditions", conditions}};
}

std::string checkJsonText(const CheckResult& result) {
  return checkJson(result).dump(2) + "\n";
}

}  // namespace acidkit
