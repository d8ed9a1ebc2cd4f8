// TPC-C consistency conditions 1 to 4, each checked by queries that return
// the rows breaking it: conditions 1 and 3 over the whole database, 2 and 4
// over a sample of eleven warehouses kept in TEMP_W.
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "PrintDiagnosticRecord.h"
#include "ProgramFrame.h"
#include "TransactionFrame.h"
#include "WarehouseSample.h"

SQLHENV gEnv = SQL_NULL_HENV;
SQLHDBC gDbc = SQL_NULL_HDBC;

namespace {

constexpr char kFailed[] = "CONSISTENCY TEST FAILED!";

constexpr char kCondition1[] =
    "SELECT D_W_ID \n"
    "     , (W_YTD - SUM(D_YTD)) DIFF \n"
    "  FROM WAREHOUSE \n"
    "     , DISTRICT \n"
    " WHERE D_W_ID = W_ID \n"
    " GROUP BY D_W_ID \n"
    "        , W_YTD \n"
    "HAVING (W_YTD - SUM(D_YTD)) != 0 \n";
constexpr char kCondition2Orders[] =
    "SELECT * \n"
    "  FROM (SELECT D_W_ID \n"
    "             , D_ID \n"
    "             , (D_NEXT_O_ID - 1) AS ONEXT \n"
    "             , MAX(O_ID) AS OMAX \n"
    "          FROM DISTRICT \n"
    "             , ORDERS \n"
    "         WHERE D_W_ID = O_W_ID \n"
    "           AND D_ID = O_D_ID \n"
    "           AND D_W_ID IN (SELECT T_W_ID FROM TEMP_W) \n"
    "         GROUP BY D_W_ID \n"
    "                , D_ID \n"
    "                , D_NEXT_O_ID \n"
    "       ) DT \n"
    " WHERE DT.ONEXT != DT.OMAX \n";
constexpr char kCondition2NewOrders[] =
    "SELECT * \n"
    "  FROM (SELECT D_W_ID \n"
    "             , D_ID \n"
    "             , (D_NEXT_O_ID - 1) AS ONEXT \n"
    "             , MAX(NO_O_ID) AS OMAX \n"
    "          FROM DISTRICT \n"
    "             , NEW_ORDER \n"
    "         WHERE D_W_ID = NO_W_ID \n"
    "           AND D_ID = NO_D_ID \n"
    "           AND D_W_ID IN (SELECT T_W_ID FROM TEMP_W) \n"
    "         GROUP BY D_W_ID \n"
    "                , D_ID \n"
    "                , D_NEXT_O_ID \n"
    "       ) DT \n"
    " WHERE DT.ONEXT != DT.OMAX \n";
constexpr char kCondition3[] =
    "SELECT * \n"
    "  FROM (SELECT COUNT(*) AS NOCOUNT \n"
    "             , (MAX(NO_O_ID) - MIN(NO_O_ID) + 1) AS TOTAL \n"
    "          FROM NEW_ORDER \n"
    "         GROUP BY NO_W_ID \n"
    "                , NO_D_ID \n"
    "       ) DT \n"
    " WHERE NOCOUNT != TOTAL \n";
constexpr char kCondition4[] =
    "SELECT * \n"
    "  FROM (SELECT O_W_ID \n"
    "             , O_D_ID \n"
    "             , SUM(O_OL_CNT) AS OL_SUM \n"
    "          FROM ORDERS \n"
    "             , TEMP_W \n"
    "         WHERE O_W_ID = T_W_ID \n"
    "         GROUP BY O_W_ID \n"
    "                , O_D_ID \n"
    "       ) CONSIST1, \n"
    "       (SELECT OL_W_ID \n"
    "             , OL_D_ID \n"
    "             , COUNT(*) AS OL_COUNT \n"
    "          FROM ORDER_LINE \n"
    "             , TEMP_W \n"
    "         WHERE OL_W_ID = T_W_ID \n"
    "         GROUP BY OL_W_ID \n"
    "                , OL_D_ID \n"
    "       ) CONSIST2 \n"
    " WHERE O_W_ID = OL_W_ID \n"
    "   AND O_D_ID = OL_D_ID \n"
    "   AND OL_SUM != OL_COUNT \n";

// The one statement of initTest or of a condition, with their exit path.
class Statement {
 public:
  SQLHSTMT handle = SQL_NULL_HSTMT;

  bool allocate() {
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, gDbc, &handle))) {
      handle = SQL_NULL_HSTMT;
      return false;
    }
    freeable_ = true;
    return true;
  }
  // A handle whose freeing failed keeps its diagnostics for fail().
  bool release() {
    freeable_ = false;
    if (!succeeded(SQLFreeHandle(SQL_HANDLE_STMT, handle))) return false;
    handle = SQL_NULL_HSTMT;
    return true;
  }
  bool execute(const char* text) {
    return succeeded(SQLExecDirect(handle, (SQLCHAR*)text, SQL_NTS));
  }
  bool bindOutput(SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, void* value,
                  SQLLEN bufferLength) {
    return succeeded(SQLBindParameter(handle, 1, SQL_PARAM_OUTPUT, cType, sqlType, size, 0, value,
                                      bufferLength, nullptr));
  }
  int fail() {
    if (handle != SQL_NULL_HSTMT) PrintDiagnosticRecord(SQL_HANDLE_STMT, handle);
    if (freeable_) SQLFreeHandle(SQL_HANDLE_STMT, handle);
    freeable_ = false;
    puts(kFailed);
    return 1;
  }

 private:
  bool freeable_ = false;
};

// Time line, TEMP_W filled with the warehouse sample, and its listing.
int initTest() {
  Statement s;
  char now[22] = {};
  int64_t minW_ID = 0;
  int64_t maxW_ID = 0;
  int64_t row = 0;

  if (!s.allocate()) return s.fail();
  if (!s.bindOutput(SQL_C_CHAR, SQL_VARCHAR, 19, now, sizeof now) ||
      !s.execute("call getSysDate(?)")) {
    return s.fail();
  }
  printf("\nConsistency test: current time: %s\n", now);
  if (!s.execute("DROP TABLE IF EXISTS TEMP_W") ||
      !s.execute("CREATE TABLE TEMP_W( T_W_ID INTEGER )") ||
      !s.bindOutput(SQL_C_SBIGINT, SQL_BIGINT, 0, &minW_ID, 0) ||
      !s.execute("call getMinWarehouseID(?)") ||
      !s.bindOutput(SQL_C_SBIGINT, SQL_BIGINT, 0, &maxW_ID, 0) ||
      !s.execute("call getMaxWarehouseID(?)")) {
    return s.fail();
  }
  char insert[kSampleInsertSize];
  formatSampleInsert(warehouseSample(static_cast<int32_t>(minW_ID), static_cast<int32_t>(maxW_ID)),
                     insert);
  if (!s.execute(insert)) return s.fail();

  printf("\n");
  printUnderlined("Warehouses on which consistency check has been run");
  if (!succeeded(SQLBindCol(s.handle, 1, SQL_C_SBIGINT, &row, 0, nullptr))) return s.fail();
  puts("SELECT * FROM TEMP_W");
  if (!s.execute("SELECT * FROM TEMP_W")) return s.fail();
  for (;;) {
    SQLRETURN rc = SQLFetch(s.handle);
    if (rc == SQL_NO_DATA) break;
    if (!succeeded(rc)) return s.fail();
    printf("%d\n", static_cast<int32_t>(row));
  }
  if (!succeeded(SQLCloseCursor(s.handle))) return s.fail();
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
    if (SQLFetch(s.handle) != SQL_NO_DATA) {
      printf("\nFailed consistency condition %d\n", condition);
      broken = true;
    }
    if (!succeeded(SQLCloseCursor(s.handle))) return s.fail();
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
  if (openProgramConnection(gEnv, gDbc, kFailed) != 0) return 1;
  if (initTest() != 0) return failProgram(gEnv, gDbc, ProgramHeld::connection, kFailed);
  int (*const conditions[])() = {doTest1, doTest2, doTest3, doTest4};
  bool allPassed = true;
  for (int n = 1; n <= 4; ++n) {
    if (conditions[n - 1]() == 0) {
      printf("\nConsistency Test #%d Passed\n", n);
    } else {
      allPassed = false;
    }
  }
  puts(allPassed ? "All consistency tests passed" : "AT LEAST ONE CONSISTENCY TEST FAILED");
  return closeProgramConnection(gEnv, gDbc, kFailed);
}
