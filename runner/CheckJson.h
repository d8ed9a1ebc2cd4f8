// The consistency check's JSON object, for report.json and `acidkit check --json`.
#pragma once

#include <nlohmann/json.hpp>

#include "ConsistencyCheck.h"

namespace acidkit {

nlohmann::json checkJson(const CheckResult& result);

}  // namespace acidkit
