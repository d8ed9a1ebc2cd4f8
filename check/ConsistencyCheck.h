// The twelve TPC-C consistency conditions, checked on connections to the
// database under test. The one implementation of them in the kit: `acidkit
// check`, the runner after its suite, the loader's check (through `acidkit
// check`) and the durability verification all call checkConsistency.
//
// Every condition is a query that returns the keys breaking it (warehouse,
// district, customer or order) with the values that disagree, in key order,
// over a range of warehouses. A connection runs its queries in one
// REPEATABLE READ transaction with autocommit off, so that they all read one
// snapshot (taken at its first read); the transaction only reads and is
// rolled back at its end.
#pragma once

#include <sql.h>

#include <cstddef>
#include <string>
#include <vector>

namespace acidkit {

inline constexpr int kConditionCount = 12;

enum class ConditionStatus {
  kHolds,
  kViolated,
  // Condition 11 once an order has been delivered since the load.
  kNotApplicable,
  // Its query failed; `note` says how. Neither holds nor is violated.
  kError,
};

// "holds", "violated", "not-applicable", "error".
const char* statusName(ConditionStatus status);

// One column of a violation: its name and the value as the database gave it
// in text (decimals exact); SQL NULL is isNull with an empty value.
struct Field {
  std::string name;
  std::string value;
  bool isNull = false;
};

// A key that breaks a condition: W_ID, D_ID, then C_ID or O_ID as the
// condition's scope has them, and the values that disagree.
struct Violation {
  std::vector<Field> key;
  std::vector<Field> values;
};

struct ConditionResult {
  int number = 0;
  const char* rule = "";   // e.g. "W_YTD = sum(D_YTD)"
  const char* scope = "";  // "per warehouse", "per district", "per customer", "per order"
  ConditionStatus status = ConditionStatus::kError;
  // All keys found breaking it; `violations` holds the first of them in key
  // order, at most the request's maxViolations.
  long long violationCount = 0;
  std::vector<Violation> violations;
  // kNotApplicable: how that was decided; kError: what failed.
  std::string note;
  double seconds = 0;  // time its queries took, summed over connections
};

struct CheckRequest {
  std::vector<int> conditions;  // 1..12, each once; empty: all twelve in order
  // Warehouses to check; 0 and 0: every warehouse in WAREHOUSE (its smallest
  // to its largest W_ID).
  int firstWarehouse = 0;
  int lastWarehouse = 0;
  std::size_t maxViolations = 10;
  // The range is checked this many warehouses at a time, every condition on
  // one slice before the next, so that a slice's rows are read from disk once
  // for all conditions. 0: the whole range at once. Conditions 8 and 9 always
  // take the whole range: they read little but HISTORY, which has no index to
  // read a slice of it by.
  int sliceWarehouses = 10;
};

struct CheckResult {
  // False when no condition could be checked (no connection, no warehouse,
  // a range outside the database); `error` says why. Conditions whose own
  // query failed have status kError with `completed` still true.
  bool completed = false;
  std::string error;
  int firstWarehouse = 0;  // the range checked
  int lastWarehouse = 0;
  int snapshots = 0;  // connections that took part, each with its snapshot
  double seconds = 0;
  std::vector<ConditionResult> conditions;  // in the request's order; none unless completed
};

// Checks on one connection to the database under test. The connection must
// be connected and have no transaction open; it is left with autocommit on
// and its isolation level as it was.
CheckResult checkConsistency(SQLHDBC connection, const CheckRequest& request);

// The same work shared among several connections, one thread and one
// snapshot each: slices go to whichever connection is free. Each key is
// checked entirely within one snapshot, and every committed state satisfies
// the conditions, so a violation found in any snapshot is real; the
// snapshots may differ from each other when the database is being written.
CheckResult checkConsistency(const std::vector<SQLHDBC>& connections, const CheckRequest& request);

// Parses "1,2,5-8" (numbers and ranges of 1..12, no repeats) into *conditions;
// false with *error otherwise.
bool parseConditionList(const std::string& text, std::vector<int>* conditions, std::string* error);

// Counts over a result: conditions violated, in error.
int countStatus(const CheckResult& result, ConditionStatus status);

// The result as text for a person, a line per condition and a line per listed
// violation, e.g.
//   "Condition  1 holds      W_YTD = sum(D_YTD) (per warehouse)"
//   "Condition  2 VIOLATED   ... : 3 districts"
//   "    W_ID=1 D_ID=4: D_NEXT_O_ID=3001 MAX_O_ID=3002 MAX_NO_O_ID=3002"
std::string formatCheckResult(const CheckResult& result);

}  // namespace acidkit
