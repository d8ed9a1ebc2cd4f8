#include "Judgement.h"

#include <algorithm>

#include "Format.h"

namespace acidkit {

namespace {

// Fills a row and judges the count of new rows since the start (`added`:
// orders by the districts' next order numbers, payments by HISTORY's rows),
// which must lie between the acknowledged commits and those plus the calls
// in flight.
void judgeRow(DurabilityRow* row, long long found, long long added, bool ended, const char* rows,
              DurabilityJudgement* j) {
  row->found = found;
  row->missing = row->acknowledged - found;
  row->inFlightCommitted = std::max(0LL, added - found);
  if (row->missing > 0) {
    j->reasons.push_back(
        format("%lld of %lld acknowledged %s commits are missing after the restart", row->missing,
               row->acknowledged, row->transaction));
  }
  if (added < row->acknowledged) {
    j->reasons.push_back(
        format("the database holds %lld %s since the run started, fewer than the "
               "%lld acknowledged %s commits",
               added, rows, row->acknowledged, row->transaction));
  } else if (ended && added > row->acknowledged + row->inFlight) {
    j->reasons.push_back(
        format("the database holds %lld %s since the run started, more than the "
               "%lld acknowledged plus %lld in flight: did another client write?",
               added, rows, row->acknowledged, row->inFlight));
  }
}

}  // namespace

DurabilityJudgement judgeDurability(const Journal& journal, const Observed& observed) {
  DurabilityJudgement j;
  j.newOrder.transaction = "New-Order";
  j.payment.transaction = "Payment";
  j.newOrder.acknowledged = static_cast<long long>(journal.orders.size());
  j.payment.acknowledged = static_cast<long long>(journal.payments.size());
  j.newOrder.inFlight = journal.end.newOrderInFlight;
  j.payment.inFlight = journal.end.paymentInFlight;

  // An empty journal proves nothing: a database that refused every commit,
  // or a stream that never reached it, must not pass.
  if (journal.orders.empty() && journal.payments.empty()) {
    j.reasons.push_back("the journal holds no acknowledged commit: nothing was put to the test");
  }
  if (!journal.ended) {
    j.notes.push_back(
        "the journal has no end line (the run itself was stopped): the calls in flight are not "
        "known, so the counts are not checked against an upper bound");
  }
  judgeRow(&j.newOrder, observed.ordersFound,
           observed.nextOrderIdSum - journal.start.nextOrderIdSum, journal.ended,
           "new orders (by the districts' next order numbers)", &j);
  judgeRow(&j.payment, observed.paymentsFound, observed.historyRows - journal.start.historyRows,
           journal.ended, "new HISTORY rows", &j);

  if (!observed.consistencyError.empty()) {
    j.reasons.push_back("consistency conditions 1-4 could not be checked: " +
                        observed.consistencyError);
  } else if (!observed.conditionsViolated.empty()) {
    std::string list;
    for (int n : observed.conditionsViolated)
      list += (list.empty() ? "" : ", ") + std::to_string(n);
    j.reasons.push_back(format("consistency condition%s %s violated",
                               observed.conditionsViolated.size() > 1 ? "s" : "", list.c_str()));
  }
  return j;
}

std::string formatDurabilityTable(const DurabilityJudgement& j) {
  std::string table = format("%-12s %12s %10s %10s %10s %20s\n", "", "acknowledged", "found",
                             "missing", "in flight", "in flight committed");
  for (const DurabilityRow* row : {&j.newOrder, &j.payment}) {
    table +=
        format("%-12s %12lld %10lld %10lld %10lld %20lld\n", row->transaction, row->acknowledged,
               row->found, row->missing, row->inFlight, row->inFlightCommitted);
  }
  return table;
}

}  // namespace acidkit
