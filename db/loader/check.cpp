// Post-load checks: row counts and TPC-C consistency conditions 1 to 4, each
// counted as the number of warehouses or districts that break it.
#include "check.h"

#include <cstdio>

#include "generate.h"

namespace {

struct Condition {
  const char* text;
  const char* sql;  // counts the violations
};

const Condition kConditions[] = {
    {"1: W_YTD = sum(D_YTD)",
     "SELECT COUNT(*) FROM WAREHOUSE w LEFT JOIN (SELECT D_W_ID, SUM(D_YTD) s FROM DISTRICT "
     "GROUP BY D_W_ID) d ON d.D_W_ID = w.W_ID WHERE d.s IS NULL OR w.W_YTD <> d.s"},
    {"2: D_NEXT_O_ID - 1 = max(O_ID) = max(NO_O_ID)",
     "SELECT COUNT(*) FROM DISTRICT d "
     "LEFT JOIN (SELECT O_W_ID, O_D_ID, MAX(O_ID) m FROM ORDERS GROUP BY O_W_ID, O_D_ID) o "
     "ON o.O_W_ID = d.D_W_ID AND o.O_D_ID = d.D_ID "
     "LEFT JOIN (SELECT NO_W_ID, NO_D_ID, MAX(NO_O_ID) m FROM NEW_ORDER "
     "GROUP BY NO_W_ID, NO_D_ID) n ON n.NO_W_ID = d.D_W_ID AND n.NO_D_ID = d.D_ID "
     "WHERE o.m IS NULL OR n.m IS NULL OR d.D_NEXT_O_ID - 1 <> o.m OR o.m <> n.m"},
    {"3: count(NEW_ORDER) = max(NO_O_ID) - min(NO_O_ID) + 1",
     "SELECT COUNT(*) FROM (SELECT COUNT(*) c, MAX(NO_O_ID) mx, MIN(NO_O_ID) mn FROM NEW_ORDER "
     "GROUP BY NO_W_ID, NO_D_ID) t WHERE c <> mx - mn + 1"},
    {"4: sum(O_OL_CNT) = count(ORDER_LINE)",
     "SELECT COUNT(*) FROM (SELECT O_W_ID, O_D_ID, SUM(O_OL_CNT) s FROM ORDERS "
     "GROUP BY O_W_ID, O_D_ID) o LEFT JOIN (SELECT OL_W_ID, OL_D_ID, COUNT(*) c FROM ORDER_LINE "
     "GROUP BY OL_W_ID, OL_D_ID) l ON l.OL_W_ID = o.O_W_ID AND l.OL_D_ID = o.O_D_ID "
     "WHERE l.c IS NULL OR o.s <> l.c"},
};

// Tables that the kit's transactions never add rows to or remove rows from.
bool fixedSize(LoadTable t) {
  return t == kItem || t == kWarehouse || t == kDistrict || t == kCustomer || t == kStock;
}

}  // namespace

int checkDatabase(const QueryInt& queryInt, int warehouses, int64_t orderLines, bool fresh) {
  int failures = 0;
  std::printf("Row counts (%s):\n",
              fresh ? "exact" : "exact for fixed tables, minimum for the rest");
  for (int t = 0; t < kTableCount; ++t) {
    const LoadTable table = static_cast<LoadTable>(t);
    const int64_t expected = table == kOrderLine
                                 ? orderLines
                                 : gTables[t].fixedRows + gTables[t].rowsPerWarehouse * warehouses;
    char sql[100];
    std::snprintf(sql, sizeof sql, "SELECT COUNT(*) FROM %s", gTables[t].name);
    int64_t rows = 0;
    if (queryInt(sql, &rows) != 0) return 1;
    // NEW_ORDER shrinks with deliveries, so only a fresh load pins its count.
    const bool ok =
        fresh || fixedSize(table) ? rows == expected : table == kNewOrder || rows >= expected;
    const bool atLeast = !fresh && !fixedSize(table);
    std::printf("  %-10s %12lld  %s\n", gTables[t].name, static_cast<long long>(rows),
                ok ? "ok" : "WRONG");
    if (!ok) {
      std::printf("  %-10s expected %s%lld\n", "", atLeast ? "at least " : "",
                  static_cast<long long>(expected));
    }
    failures += ok ? 0 : 1;
  }
  char sql[200];
  std::snprintf(sql, sizeof sql, "SELECT COUNT(*) FROM WAREHOUSE WHERE W_ID < 1 OR W_ID > %d",
                warehouses);
  int64_t outside = 0;
  if (queryInt(sql, &outside) != 0) return 1;
  if (outside != 0) {
    std::printf("  WAREHOUSE ids outside 1..%d: %lld\n", warehouses,
                static_cast<long long>(outside));
    ++failures;
  }
  std::printf("Consistency conditions:\n");
  for (const Condition& c : kConditions) {
    int64_t violations = 0;
    if (queryInt(c.sql, &violations) != 0) return 1;
    std::printf("  %-55s %s", c.text, violations == 0 ? "holds\n" : "VIOLATED in ");
    if (violations != 0)
      std::printf("%lld warehouses/districts\n", static_cast<long long>(violations));
    failures += violations == 0 ? 0 : 1;
  }
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
