#include "Check.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "Odbc.h"

namespace acidkit {

bool parseWarehouseRange(const std::string& text, CheckRequest* request, std::string* error) {
  int first = 0;
  int last = 0;
  int consumed = 0;
  if (text.find_first_not_of("0123456789-") != std::string::npos ||
      sscanf(text.c_str(), "%d-%d%n", &first, &last, &consumed) != 2 ||
      consumed != static_cast<int>(text.size()) || first < 1 || last < first) {
    *error = "--warehouses: '" + text + "' is not a range A-B of warehouse numbers, 1 <= A <= B";
    return false;
  }
  request->firstWarehouse = first;
  request->lastWarehouse = last;
  return true;
}

struct CheckConnections::Owners {
  OdbcEnvironment env;
  std::vector<std::unique_ptr<OdbcConnection>> connections;
};

CheckConnections::CheckConnections() : owners_(new Owners) {}

CheckConnections::~CheckConnections() {
  // Connections before the environment they come from.
  owners_->connections.clear();
  delete owners_;
}

bool CheckConnections::open(int count, std::string* error) {
  if (!owners_->env.allocate(SQL_NULL_HANDLE)) {
    *error = "cannot allocate an ODBC environment";
    return false;
  }
  if (!succeeded(
          SQLSetEnvAttr(owners_->env.get(), SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0))) {
    *error = "cannot ask for ODBC 3: " + diagnosticText(SQL_HANDLE_ENV, owners_->env.get());
    return false;
  }
  for (int i = 0; i < count; ++i) {
    auto c = std::make_unique<OdbcConnection>();
    if (!c->allocate(owners_->env.get())) {
      *error =
          "cannot allocate a connection: " + diagnosticText(SQL_HANDLE_ENV, owners_->env.get());
      return false;
    }
    if (!c->connect()) {
      *error = "cannot connect to data source TESTDB: " + diagnosticText(SQL_HANDLE_DBC, c->get());
      return false;
    }
    handles_.push_back(c->get());
    owners_->connections.push_back(std::move(c));
  }
  return true;
}

CheckResult checkTestDb(const CheckRequest& request, int connections) {
  CheckConnections open;
  CheckResult result;
  if (!open.open(connections, &result.error)) {
    result.error +=
        "\nCheck that the database is running and that ODBCINI/ODBCSYSINI point at "
        "the ini files that define TESTDB.";
    return result;
  }
  return checkConsistency(open.handles(), request);
}

int checkExitStatus(const CheckResult& result) {
  if (!result.completed) return 3;
  if (countStatus(result, ConditionStatus::kViolated) > 0) return 1;
  return countStatus(result, ConditionStatus::kError) > 0 ? 3 : 0;
}

int runCheck(const CheckOptions& options) {
  CheckResult result = checkTestDb(options.request, options.connections);
  if (options.json) {
    fputs(checkJsonText(result).c_str(), stdout);
    if (!result.completed) fprintf(stderr, "acidkit check: %s\n", result.error.c_str());
  } else if (!result.completed) {
    fprintf(stderr, "acidkit check: %s\n", result.error.c_str());
  } else {
    printf("Consistency conditions on TESTDB, warehouses %d to %d, %d snapshot%s, %.1f s:\n",
           result.firstWarehouse, result.lastWarehouse, result.snapshots,
           result.snapshots == 1 ? "" : "s (one per connection)", result.seconds);
    fputs(formatCheckResult(result).c_str(), stdout);
    const int violated = countStatus(result, ConditionStatus::kViolated);
    const int errors = countStatus(result, ConditionStatus::kError);
    if (violated > 0) {
      printf("FAILED: %d of %zu conditions violated.\n", violated, result.conditions.size());
    } else if (errors > 0) {
      printf("INCOMPLETE: %d of %zu conditions could not be checked.\n", errors,
             result.conditions.size());
    } else {
      printf("All %zu conditions checked hold (or do not apply).\n", result.conditions.size());
    }
  }
  fflush(stdout);
  return checkExitStatus(result);
}

}  // namespace acidkit
