// Post-load checks: the row count of every table. The consistency conditions
// are the kit's one implementation's (`acidkit check`, which `db/refdb load`
// runs once the load is complete): the loaders speak each server's own
// protocol, the conditions run through ODBC.
#include "check.h"

#include <cstdio>

#include "generate.h"

namespace {

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
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
