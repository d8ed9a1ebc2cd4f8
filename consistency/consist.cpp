// TPC-C consistency conditions 1 to 4, each checked by queries that return
// the rows breaking it: conditions 1 and 3 over the whole database, 2 and 4
// over a sample of eleven warehouses kept in TEMP_W.
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "ConsistStatements.h"
#include "Odbc.h"
#include "OutputLines.h"
#include "PrintDiagnosticRecord.h"
#include "ProgramFrame.h"
#include "WarehouseSample.h"

namespace {

using namespace acidkit;

constexpr const char* kFailed = kConsistencyStepFailed;

// The one statement of initTest or of a condition, with their exit path.
class Statement {
 public:
  SQLHSTMT handle() const { return stmt_.get(); }
  bool allocate() { return stmt_.allocate(gDbc); }
  // A handle whose freeing failed keeps its diagnostics for fail().
  bool release() { return stmt_.release(); }
  bool execute(const char* text) {
    return succeeded(SQLExecDirect(handle(), (SQLCHAR*)text, SQL_NTS));
  }
  bool bindOutput(SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, void* value,
                  SQLLEN bufferLength) {
    return succeeded(SQLBindParameter(handle(), 1, SQL_PARAM_OUTPUT, cType, sqlType, size, 0, value,
                                      bufferLength, nullptr));
  }
  int fail() {
    if (handle() != SQL_NULL_HSTMT) PrintDiagnosticRecord(SQL_HANDLE_STMT, handle());
    stmt_.release();
    puts(kFailed);
    return 1;
  }

 private:
  OdbcStatement stmt_;
};

// Time line, TEMP_W filled with the warehouse sample, and its listing.
int initTest() {
  Statement s;
  char now[22] = {};
  int64_t minW_ID = 0;
  int64_t maxW_ID = 0;
  int64_t row = 0;

  if (!s.allocate()) return s.fail();
  if (!s.bindOutput(SQL_C_CHAR, SQL_VARCHAR, 19, now, sizeof now) || !s.execute(kGetSysDate)) {
    return s.fail();
  }
  printf("\nConsistency test: current time: %s\n", now);
  if (!s.execute(kDropTempW) || !s.execute(kCreateTempW) ||
      !s.bindOutput(SQL_C_SBIGINT, SQL_BIGINT, 0, &minW_ID, 0) || !s.execute(kGetMinWarehouseID) ||
      !s.bindOutput(SQL_C_SBIGINT, SQL_BIGINT, 0, &maxW_ID, 0) || !s.execute(kGetMaxWarehouseID)) {
    return s.fail();
  }
  char insert[kSampleInsertSize];
  formatSampleInsert(warehouseSample(static_cast<int32_t>(minW_ID), static_cast<int32_t>(maxW_ID)),
                     insert);
  if (!s.execute(insert)) return s.fail();

  printf("\n");
  printUnderlined("Warehouses on which consistency check has been run");
  if (!succeeded(SQLBindCol(s.handle(), 1, SQL_C_SBIGINT, &row, 0, nullptr))) return s.fail();
  puts(kSelectTempW);
  if (!s.execute(kSelectTempW)) return s.fail();
  for (;;) {
    SQLRETURN rc = SQLFetch(s.handle());
    if (rc == SQL_NO_DATA) break;
    if (!succeeded(rc)) return s.fail();
    printf("%d\n", static_cast<int32_t>(row));
  }
  if (!succeeded(SQLCloseCursor(s.handle()))) return s.fail();
  printf("\n");
  if (!s.release()) return s.fail();
  return 0;
}

// Runs a condition's queries, fetching once from each: any row (or a fetch
// error) breaks the condition. 0 when it holds, 1 when broken or a step failed.
int checkCondition(int condition, std::initializer_list<const char*> queries,
                   bool textAfterRun = false) {
  Statement s;
  if (!s.allocate()) return s.fail();
  char heading[40];
  snprintf(heading, sizeof heading, "Results of consistency condition %d", condition);
  printUnderlined(heading);
  bool broken = false;
  for (const char* query : queries) {
    if (!textAfterRun) puts(query);
    if (!s.execute(query)) return s.fail();
    if (textAfterRun) puts(query);
    if (SQLFetch(s.handle()) != SQL_NO_DATA) {
      printf("\n%s\n", consistencyConditionFailedLine(condition).c_str());
      broken = true;
    }
    if (!succeeded(SQLCloseCursor(s.handle()))) return s.fail();
  }
  if (!s.release()) return s.fail();
  return broken ? 1 : 0;
}

int doTest1() {
  return checkCondition(1, {kCondition1});
}
int doTest2() {
  return checkCondition(2, {kCondition2Orders, kCondition2NewOrders});
}
int doTest3() {
  return checkCondition(3, {kCondition3});
}
// Its text is printed only once the query has run.
int doTest4() {
  return checkCondition(4, {kCondition4}, true);
}

}  // namespace

int main() {
  ProgramConnection program(kFailed);
  if (program.open() != 0) return 1;
  if (initTest() != 0) return program.fail();
  int (*const conditions[])() = {doTest1, doTest2, doTest3, doTest4};
  bool allPassed = true;
  for (int n = 1; n <= 4; ++n) {
    if (conditions[n - 1]() == 0) {
      printf("\n%s\n", consistencyTestPassedLine(n).c_str());
    } else {
      allPassed = false;
    }
  }
  puts(allPassed ? kAllConsistencyTestsPassed : kConsistencyTestsFailed);
  return program.close();
}
