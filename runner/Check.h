// `acidkit check`: the twelve consistency conditions on TESTDB, for a person
// or (--json) for a machine.
#pragma once

#include <string>
#include <vector>

#include "ConsistencyCheck.h"

namespace acidkit {

struct CheckOptions {
  CheckRequest request;
  int connections = 1;
  bool json = false;
};

// Parses "A-B" (1 <= A <= B) into the request's range; false with *error.
bool parseWarehouseRange(const std::string& text, CheckRequest* request, std::string* error);

// Connects to TESTDB with the kit's login, once per connection asked for.
// *error says why when it returns false; the connections are closed again
// by the owner's end.
class CheckConnections {
 public:
  CheckConnections();
  ~CheckConnections();
  CheckConnections(const CheckConnections&) = delete;
  CheckConnections& operator=(const CheckConnections&) = delete;
  bool open(int count, std::string* error);
  const std::vector<SQLHDBC>& handles() const { return handles_; }

 private:
  struct Owners;
  Owners* owners_;
  std::vector<SQLHDBC> handles_;
};

// Checks the conditions on TESTDB: result, or why it could not run.
CheckResult checkTestDb(const CheckRequest& request, int connections);

// The exit status of `acidkit check` for a result: 0 every condition holds
// or does not apply, 1 a condition is violated, 3 the check could not run or
// a condition's query failed (and none is violated).
int checkExitStatus(const CheckResult& result);

// The result as JSON (CheckJson.cpp), also part of report.json.
std::string checkJsonText(const CheckResult& result);

int runCheck(const CheckOptions& options);

}  // namespace acidkit
