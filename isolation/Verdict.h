// The verdict of an isolation test: every condition the test requires, and
// for each one that does not hold, the reason. A failed verdict prints its
// reasons ("Reason: ...") right before its line; a passed one prints nothing
// more than the verdict line.
#pragma once

#include <string>
#include <vector>

#include "IsolationFrame.h"

namespace acidkit {

// A later transaction that waited for T1 returns after T1's pause ended:
// T1 sends its commit or rollback only after the pause, and the later one
// cannot pass T1's locks before that reaches the database. Both times come
// from one monotonic clock in one process; the slack only covers reading it.
inline constexpr double kWaitSlackSeconds = 0.1;

class Verdict {
 public:
  // Requires a condition; when it does not hold the reason (a printf format)
  // is kept.
  void require(bool holds, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Requires a transaction to have run to its end as planned: what a failed
  // one left in its record proves nothing. `name` as in its start line,
  // e.g. "T1(New-Order)".
  void ranToItsEnd(const TransactionRun& run, const char* name);
  // Requires `later` to have met `earlier` while `earlier` held its locks:
  // it must have started before the pause of `earlier` ended, or nothing was
  // tested.
  void overlapped(const TransactionRun& later, const char* laterLabel,
                  const TransactionRun& earlier, const char* earlierLabel);
  // Requires evidence that `later` neither read nor overwrote the
  // uncommitted work of `earlier`: it must have returned no earlier than
  // `earlier`'s last pause ended. Only judged when both ran to their end.
  void waitedFor(const TransactionRun& later, const char* laterLabel, const TransactionRun& earlier,
                 const char* earlierLabel);
  // A fact that explains a failure, printed only when the verdict fails
  // (a transaction that was rolled back and run again, for instance).
  void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Notes that a transaction was rolled back and run again, if it was.
  void noteRetries(const TransactionRun& run, const char* name);

  bool passed() const { return reasons_.empty(); }
  // "Reason: ..." lines: the failed conditions, then the notes. Nothing for
  // a passed verdict.
  void printReasons() const;
  const std::vector<std::string>& reasons() const { return reasons_; }

 private:
  std::vector<std::string> reasons_;
  std::vector<std::string> notes_;
};

}  // namespace acidkit
