// The journal as durability run writes it and durability verify reads it,
// and the verdict over every way of losing work; no database.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "Journal.h"
#include "Judgement.h"
#include "OutputLines.h"

using namespace acidkit;

namespace {

const JournalStart kStart{2, 60020, 60000, 8};

std::string written(bool withEnd) {
  std::string text = std::string(kJournalHeader) + "\n" + journalStartLine(kStart) +
                     journalOrderLine({2, 7, 3225, 12, 5}) +
                     journalPaymentLine({1, 3, 2456, 123456, "2026-12-11 12:00:00"}) +
                     journalOrderLine({1, 1, 3001, 1, 15});
  if (withEnd) text += journalEndLine({4, 3, 5.2});
  return text;
}

bool parse(const std::string& text, Journal* journal, std::string* error) {
  std::istringstream in(text);
  return parseJournal(in, journal, error);
}

TEST(Journal, ReadsBackWhatWasWritten) {
  Journal j;
  std::string error;
  ASSERT_TRUE(parse(written(true), &j, &error)) << error;
  EXPECT_EQ(j.start.warehouses, 2);
  EXPECT_EQ(j.start.nextOrderIdSum, 60020);
  EXPECT_EQ(j.start.historyRows, 60000);
  EXPECT_EQ(j.start.connections, 8);
  ASSERT_EQ(j.orders.size(), 2u);
  EXPECT_EQ(j.orders[0].w, 2);
  EXPECT_EQ(j.orders[0].d, 7);
  EXPECT_EQ(j.orders[0].o, 3225);
  EXPECT_EQ(j.orders[0].c, 12);
  EXPECT_EQ(j.orders[0].lines, 5);
  ASSERT_EQ(j.payments.size(), 1u);
  EXPECT_EQ(j.payments[0].c, 2456);
  EXPECT_EQ(j.payments[0].cents, 123456);
  EXPECT_EQ(j.payments[0].date, "2026-12-11 12:00:00");
  EXPECT_TRUE(j.ended);
  EXPECT_EQ(j.end.newOrderInFlight, 4);
  EXPECT_EQ(j.end.paymentInFlight, 3);
}

// A run that was itself killed leaves no end line; its commits still count.
TEST(Journal, WithoutItsEndLineReadsAsNotEnded) {
  Journal j;
  std::string error;
  ASSERT_TRUE(parse(written(false), &j, &error)) << error;
  EXPECT_FALSE(j.ended);
  EXPECT_EQ(j.orders.size(), 2u);
}

TEST(Journal, RefusesWhatItCannotRead) {
  const std::string head = std::string(kJournalHeader) + "\n";
  const std::string start = journalStartLine(kStart);
  struct Case {
    std::string text;
    const char* error;  // part of the message
  } cases[] = {
      {"", "empty"},
      {"some other file\n", "line 1: not a durability journal"},
      {head, "no start line"},
      {head + "NO 1 1 1 1 5\n", "line 2: no start line before it"},
      {head + "start warehouses=0 next_o_id_sum=1 history_rows=1 connections=1\n",
       "line 2: a start line"},
      {head + start + start, "line 3: a second start line"},
      {head + start + "NO 1 1 x 1 5\n", "line 3: a New-Order line"},
      {head + start + "NO 1 1 1 1 5 9\n", "line 3: a New-Order line"},
      {head + start + "P 1 1 1 100 2026-12-11\n", "line 3: a Payment line"},
      {head + start + "P 1 1 1 100 2026-13-1x 12:00:00\n", "line 3: a Payment line"},
      {head + start + "end new_order_in_flight=1\n", "line 3: an end line"},
      {head + start + journalEndLine({}) + "NO 1 1 1 1 5\n", "line 4: a line after the end line"},
      {head + start + "DELETE everything\n", "line 3: not a line of a durability journal"},
  };
  for (const Case& c : cases) {
    Journal j;
    std::string error;
    EXPECT_FALSE(parse(c.text, &j, &error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << "\n-> " << error;
  }
}

// A journal of 10 New-Orders and 10 Payments, 2 and 3 in flight at its end.
Journal tenAndTen(bool ended = true) {
  Journal j;
  j.start = kStart;
  for (int i = 0; i < 10; ++i) {
    j.orders.push_back({1, 1, 3001 + i, 1, 5});
    j.payments.push_back({1, 1, 1, 100 + i, "2026-12-11 12:00:00"});
  }
  j.ended = ended;
  j.end = {2, 3, 1.0};
  return j;
}

// What the database shows: found of each, and new rows since the start.
Observed seen(long long ordersFound, long long newOrders, long long paymentsFound,
              long long newHistory) {
  Observed o;
  o.ordersFound = ordersFound;
  o.paymentsFound = paymentsFound;
  o.nextOrderIdSum = kStart.nextOrderIdSum + newOrders;
  o.historyRows = kStart.historyRows + newHistory;
  for (long long i = ordersFound; i < 10; ++i) o.missing.push_back("an order");
  for (long long i = paymentsFound; i < 10; ++i) o.missing.push_back("a payment");
  return o;
}

TEST(DurabilityVerdict, EveryWayOfLosingWorkFailsWithItsReason) {
  struct Case {
    const char* name;
    Journal journal;
    Observed observed;
    std::vector<std::string> reasons;  // each part of one reason line, in order; none: passes
  } cases[] = {
      {"everything there", tenAndTen(), seen(10, 10, 10, 10), {}},
      {"in flight committed, within bounds", tenAndTen(), seen(10, 12, 10, 13), {}},
      {"an acknowledged order lost",
       tenAndTen(),
       seen(9, 9, 10, 10),
       {"1 of 10 acknowledged New-Order commits are missing",
        "holds 9 new orders (by the districts' next order numbers) since the run started, fewer "
        "than the 10 acknowledged"}},
      // The order number was used again by an in-flight order: the count
      // looks right, the acknowledged order is not there.
      {"an acknowledged order replaced",
       tenAndTen(),
       seen(9, 10, 10, 10),
       {"1 of 10 acknowledged New-Order commits are missing"}},
      {"acknowledged payments lost",
       tenAndTen(),
       seen(10, 10, 7, 7),
       {"3 of 10 acknowledged Payment commits are missing",
        "holds 7 new HISTORY rows since the run started, fewer than the 10 acknowledged"}},
      {"more rows than acknowledged plus in flight",
       tenAndTen(),
       seen(10, 13, 10, 10),
       {"13 new orders (by the districts' next order numbers) since the run started, more than "
        "the 10 acknowledged plus 2 in flight"}},
      {"no end line: no upper bound", tenAndTen(false), seen(10, 13, 10, 14), {}},
      {"no acknowledged commit",
       Journal{kStart, {}, {}, true, {1, 1, 1.0}},
       seen(10, 0, 10, 0),
       {"no acknowledged commit"}},
  };
  for (Case& c : cases) {
    DurabilityJudgement j = judgeDurability(c.journal, c.observed);
    ASSERT_EQ(j.reasons.size(), c.reasons.size())
        << c.name << ": " << testing::PrintToString(j.reasons);
    for (size_t i = 0; i < c.reasons.size(); ++i) {
      EXPECT_NE(j.reasons[i].find(c.reasons[i]), std::string::npos)
          << c.name << ": " << j.reasons[i];
    }
    EXPECT_EQ(j.passed(), c.reasons.empty()) << c.name;
  }
}

TEST(DurabilityVerdict, ConsistencyBreaksOrCannotBeChecked) {
  Observed violated = seen(10, 10, 10, 10);
  violated.conditionsViolated = {2, 3};
  DurabilityJudgement j = judgeDurability(tenAndTen(), violated);
  ASSERT_EQ(j.reasons.size(), 1u);
  EXPECT_EQ(j.reasons[0], "consistency conditions 2, 3 violated");

  Observed unknown = seen(10, 10, 10, 10);
  unknown.consistencyError = "condition 4: lost connection";
  j = judgeDurability(tenAndTen(), unknown);
  ASSERT_EQ(j.reasons.size(), 1u);
  EXPECT_EQ(j.reasons[0],
            "consistency conditions 1-4 could not be checked: condition 4: lost connection");
}

TEST(DurabilityVerdict, TableCountsFoundMissingAndInFlightCommitted) {
  DurabilityJudgement j = judgeDurability(tenAndTen(), seen(9, 10, 10, 12));
  EXPECT_EQ(formatDurabilityTable(j),
            "             acknowledged      found    missing  in flight  in flight committed\n"
            "New-Order              10          9          1          2                    1\n"
            "Payment                10         10          0          3                    2\n");
}

}  // namespace
