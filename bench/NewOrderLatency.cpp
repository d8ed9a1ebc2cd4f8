// Time of one New-Order outside any pause: connect, prepare, five lines,
// commit, release. Runs N orders one after the other against TESTDB and
// prints the median and the 90th percentile.
//   new-order-latency [N]        (default 200)
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "NewOrder.h"
#include "Odbc.h"
#include "config.h"

int main(int argc, char** argv) {
  int n = argc > 1 ? atoi(argv[1]) : 200;
  if (n < 1) {
    fprintf(stderr, "usage: new-order-latency [N]   N: orders to time, >= 1\n");
    return 2;
  }
  acidkit::OdbcEnvironment env(&gEnv);
  if (!env.allocate(SQL_NULL_HANDLE) ||
      !acidkit::succeeded(
          SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0))) {
    fprintf(stderr, "new-order-latency: cannot set up the ODBC environment\n");
    return 1;
  }
  srand(1);
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    NewOrderArg arg{};
    strcpy(arg.label, "B");
    arg.W_ID = rand() % kWarehouses + 1;
    arg.D_ID = rand() % kDistricts + 1;
    arg.C_ID = rand() % kCustomers + 1;
    arg.O_OL_CNT = 5;
    arg.O_ALL_LOCAL = 1;
    for (int k = 0; k < 5; ++k) {
      arg.orderLines[k].OL_SUPPLY_W_ID = arg.W_ID;
      arg.orderLines[k].OL_I_ID = rand() % kItems + 1;
      arg.orderLines[k].OL_QUANTITY = k + 1;
    }
    auto start = std::chrono::steady_clock::now();
    if (NewOrder(&arg, 0, 0) != 0) {
      fprintf(stderr, "new-order-latency: New-Order %d failed\n", i + 1);
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  printf("New-Order (5 lines, own connection, commit): %d orders, median %.2f ms, p90 %.2f ms\n", n,
         ms[ms.size() / 2], ms[ms.size() * 9 / 10]);
  return 0;
}
