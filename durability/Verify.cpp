// `durability verify`: after the database came back, every commit the
// journal acknowledged must be there, the new rows must number no fewer than
// those commits and no more than those plus the calls in flight, and
// consistency conditions 1 to 4 must hold.
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <tuple>

#include "ConsistencyCheck.h"
#include "DatabaseState.h"
#include "Durability.h"
#include "Journal.h"
#include "Judgement.h"
#include "Odbc.h"
#include "OutputLines.h"
#include "config.h"

namespace acidkit {

namespace {

constexpr char kOrderQuery[] =
    "SELECT O_C_ID, O_OL_CNT, "
    "(SELECT COUNT(*) FROM ORDER_LINE WHERE OL_W_ID = O_W_ID AND OL_D_ID = O_D_ID AND OL_O_ID = "
    "O_ID), "
    "(SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = O_W_ID AND NO_D_ID = O_D_ID AND NO_O_ID = "
    "O_ID) "
    "FROM ORDERS WHERE O_W_ID = ? AND O_D_ID = ? AND O_ID = ?";

// A Payment's HISTORY row, told by what the journal knows of it.
constexpr char kPaymentQuery[] =
    "SELECT COUNT(*) FROM HISTORY WHERE H_C_W_ID = ? AND H_C_D_ID = ? AND H_C_ID = ? AND H_W_ID = "
    "? AND H_D_ID = ? AND H_AMOUNT = ? AND H_DATE = ?";

// At most this many missing commits are listed one by one.
constexpr size_t kMissingListed = 100;

std::string orderName(const JournaledOrder& o) {
  char name[96];
  snprintf(name, sizeof name,
           "New-Order W_ID=%" PRId32 " D_ID=%" PRId32 " O_ID=%" PRId32 " C_ID=%" PRId32, o.w, o.d,
           o.o, o.c);
  return name;
}

// Checks each journaled order; false with *error when a read fails.
bool findOrders(SQLHDBC connection, const Journal& journal, Observed* seen, std::string* error) {
  RowQuery q;
  int32_t w = 0, d = 0, o = 0;
  if (!q.prepare(connection, kOrderQuery) || !q.bindInt(1, &w) || !q.bindInt(2, &d) ||
      !q.bindInt(3, &o)) {
    *error = q.error();
    return false;
  }
  for (const JournaledOrder& order : journal.orders) {
    w = order.w;
    d = order.d;
    o = order.o;
    long long row[4] = {};
    bool found = false;
    if (!q.run(row, 4, &found)) {
      *error = q.error();
      return false;
    }
    char why[160] = {};
    if (!found) {
      snprintf(why, sizeof why, "not in ORDERS");
    } else if (row[0] != order.c || row[1] != order.lines) {
      snprintf(why, sizeof why,
               "ORDERS has O_C_ID=%lld O_OL_CNT=%lld, the journal C_ID=%" PRId32
               " O_OL_CNT=%" PRId32,
               row[0], row[1], order.c, order.lines);
    } else if (row[2] != order.lines) {
      snprintf(why, sizeof why, "%lld of its %" PRId32 " ORDER_LINE rows", row[2], order.lines);
    } else if (row[3] != 1) {
      snprintf(why, sizeof why, "no NEW_ORDER row");
    }
    if (why[0] == '\0') {
      ++seen->ordersFound;
    } else {
      seen->missing.push_back(orderName(order) + ": " + why);
    }
  }
  return true;
}

// Checks each journaled payment. Two payments alike in every journaled field
// need two HISTORY rows: the journal's payments are counted per kind.
bool findPayments(SQLHDBC connection, const Journal& journal, Observed* seen, std::string* error) {
  using Key = std::tuple<int32_t, int32_t, int32_t, long long, std::string>;
  std::map<Key, long long> journaled;
  for (const JournaledPayment& p : journal.payments) ++journaled[{p.w, p.d, p.c, p.cents, p.date}];

  RowQuery q;
  int32_t w = 0, d = 0, c = 0;
  char amount[24] = {};
  SQL_TIMESTAMP_STRUCT date{};
  if (!q.prepare(connection, kPaymentQuery) || !q.bindInt(1, &w) || !q.bindInt(2, &d) ||
      !q.bindInt(3, &c) || !q.bindInt(4, &w) || !q.bindInt(5, &d) ||
      !q.bindText(6, SQL_DECIMAL, 6, 2, amount) || !q.bindTimestamp(7, &date)) {
    *error = q.error();
    return false;
  }
  for (const auto& [key, count] : journaled) {
    const auto& [kw, kd, kc, cents, text] = key;
    w = kw;
    d = kd;
    c = kc;
    snprintf(amount, sizeof amount, "%lld.%02lld", cents / 100, cents % 100);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second);
    date = {static_cast<SQLSMALLINT>(year),
            static_cast<SQLUSMALLINT>(month),
            static_cast<SQLUSMALLINT>(day),
            static_cast<SQLUSMALLINT>(hour),
            static_cast<SQLUSMALLINT>(minute),
            static_cast<SQLUSMALLINT>(second),
            0};
    long long rows = 0;
    bool found = false;
    if (!q.run(&rows, 1, &found)) {
      *error = q.error();
      return false;
    }
    seen->paymentsFound += std::min(rows, count);
    if (rows < count) {
      char line[200];
      snprintf(line, sizeof line,
               "Payment W_ID=%" PRId32 " D_ID=%" PRId32 " C_ID=%" PRId32
               " H_AMOUNT=%s H_DATE=%s: %lld of %lld HISTORY rows",
               kw, kd, kc, amount, text.c_str(), rows, count);
      seen->missing.push_back(line);
    }
  }
  return true;
}

void checkConditions(SQLHDBC connection, int32_t warehouses, Observed* seen) {
  CheckRequest request;
  request.conditions = {1, 2, 3, 4};
  request.firstWarehouse = 1;
  request.lastWarehouse = warehouses;
  CheckResult result = checkConsistency(connection, request);
  if (!result.completed) {
    seen->consistencyError = result.error;
    return;
  }
  for (const ConditionResult& c : result.conditions) {
    if (c.status == ConditionStatus::kViolated) seen->conditionsViolated.push_back(c.number);
    if (c.status == ConditionStatus::kError) {
      seen->consistencyError = "condition " + std::to_string(c.number) + ": " + c.note;
    }
  }
  printf("%s", formatCheckResult(result).c_str());
}

int cannot(const std::string& why) {
  fprintf(stderr, "durability: %s\n", why.c_str());
  return 1;
}

}  // namespace

int runVerify(const VerifyOptions& options) {
  std::ifstream in(options.journal);
  if (!in) return cannot("cannot open the journal " + options.journal);
  Journal journal;
  std::string error;
  if (!parseJournal(in, &journal, &error)) {
    return cannot("cannot read the journal " + options.journal + ": " + error);
  }

  OdbcEnvironment env{&gEnv};
  if (!env.allocate(SQL_NULL_HANDLE) ||
      !succeeded(SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0))) {
    return cannot("cannot set up ODBC (no environment handle)");
  }
  OdbcConnection connection;
  if (!openConnection(&connection, &error)) {
    return cannot(std::string("cannot connect to ") + kDataSource + ": " + error +
                  "; is the database back up?");
  }
  const int32_t w = journal.start.warehouses;
  printf(
      "Durability verification of %s: %zu New-Order and %zu Payment commits acknowledged by "
      "%d connections on warehouses 1 to %d\n",
      options.journal.c_str(), journal.orders.size(), journal.payments.size(),
      journal.start.connections, w);
  fflush(stdout);

  Observed seen;
  DatabaseCounts now;
  if (!readCounts(connection.get(), w, &now, &error) ||
      !findOrders(connection.get(), journal, &seen, &error) ||
      !findPayments(connection.get(), journal, &seen, &error)) {
    return cannot("a read failed: " + error);
  }
  seen.nextOrderIdSum = now.nextOrderIdSum;
  seen.historyRows = now.historyRows;
  checkConditions(connection.get(), w, &seen);

  DurabilityJudgement judgement = judgeDurability(journal, seen);
  printf("\n%s", formatDurabilityTable(judgement).c_str());
  for (size_t i = 0; i < seen.missing.size() && i < kMissingListed; ++i) {
    printf("%s%s\n", kMissingCommitPrefix, seen.missing[i].c_str());
  }
  if (seen.missing.size() > kMissingListed) {
    printf("%s... and %zu more\n", kMissingCommitPrefix, seen.missing.size() - kMissingListed);
  }
  for (const std::string& note : judgement.notes) printf("Note: %s\n", note.c_str());
  printf("\n");
  for (const std::string& reason : judgement.reasons) {
    printf("%s%s\n", kReasonPrefix, reason.c_str());
  }
  puts(judgement.passed() ? kDurabilityTestPassed : kDurabilityTestFailed);
  return 0;
}

}  // namespace acidkit
