// The durability verdict, from the journal and what the database holds
// after its restart: a table of commits acknowledged, found, missing and in
// flight, and a reason for every check that fails.
#pragma once

#include <string>
#include <vector>

#include "Journal.h"

namespace acidkit {

// What verify read from the database.
struct Observed {
  long long ordersFound = 0;    // journaled New-Orders with their order, lines and NEW_ORDER row
  long long paymentsFound = 0;  // journaled Payments whose HISTORY row is there
  // One line per journaled commit not found, e.g. "New-Order W_ID=2 D_ID=7
  // O_ID=3225 C_ID=12: not in ORDERS".
  std::vector<std::string> missing;
  long long nextOrderIdSum = 0;  // as the journal's start line counts it
  long long historyRows = 0;
  // Conditions 1 to 4: numbers of those violated; `consistencyError` when
  // the check could not tell.
  std::vector<int> conditionsViolated;
  std::string consistencyError;
};

struct DurabilityRow {
  const char* transaction = "";
  long long acknowledged = 0;
  long long found = 0;
  long long missing = 0;
  long long inFlight = 0;           // outcome unknown when the stream ended
  long long inFlightCommitted = 0;  // of those, committed after all
};

struct DurabilityJudgement {
  DurabilityRow newOrder;
  DurabilityRow payment;
  std::vector<std::string> reasons;  // one per failed check; none: passed
  std::vector<std::string> notes;    // what could not be checked, and why
  bool passed() const { return reasons.empty(); }
};

DurabilityJudgement judgeDurability(const Journal& journal, const Observed& observed);

// The table, one header line and one line per transaction:
//                acknowledged      found    missing  in flight  in flight committed
//   New-Order             620        620          0          4                    2
std::string formatDurabilityTable(const DurabilityJudgement& judgement);

}  // namespace acidkit
