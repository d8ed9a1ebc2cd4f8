// The adapter's text layer without a server: what each statement text of the
// programs becomes, and how a text of several statements is cut and its
// parameter markers numbered.
#include <gtest/gtest.h>

#include "AtomStatements.h"
#include "ConsistStatements.h"
#include "DeliveryStatements.h"
#include "NewOrderStatements.h"
#include "OrderStatusStatements.h"
#include "PaymentStatements.h"
#include "SideStatements.h"
#include "connstr.h"
#include "sqltext.h"

using namespace acidkit::odbc;

namespace {

struct RewriteCase {
  const char* in;
  const char* out;  // nullptr: unchanged
};

// Every text of the programs that the server would not take as it stands.
const RewriteCase kProgramRewrites[] = {
    {kNewOrderStatements[6],
     "SELECT S_DATA, S_QUANTITY FROM STOCK WHERE S_I_ID = ? AND S_W_ID = ? FOR UPDATE; "
     "CALL getStockData(?,?,?,?,?,?)"},
    {kPaymentStatements[6],
     "INSERT   INTO HISTORY (H_C_D_ID               , H_C_W_ID               , H_C_ID           "
     "    , H_D_ID               , H_W_ID               , H_DATE               , H_AMOUNT      "
     "         , H_DATA ) VALUES (?, ?, ?, ?, ?, SUBSTR(CAST(? AS CHAR), 1, 19), ?, ? || '    ' "
     "|| ?) "},
    {kDeliveryStatements[4],
     "UPDATE ORDER_LINE    SET OL_DELIVERY_D = SYSDATE()  WHERE OL_O_ID   = ?    AND OL_D_ID = ? "
     "   AND OL_W_ID = ?"},
    {kOrderStatusStatements[2],
     "SELECT OL_I_ID      , OL_SUPPLY_W_ID      , CAST(OL_QUANTITY as INTEGER) as OL_QUANTITY      "
     ", OL_AMOUNT      , SUBSTR(NVL2(OL_DELIVERY_D, CAST(OL_DELIVERY_D AS CHAR), ''), 1, 10)  FROM "
     "ORDER_LINE  WHERE OL_O_ID = ?    AND OL_D_ID = ?    AND OL_W_ID = ? "},
};

// The rest go through untouched.
const char* const kProgramUnchanged[] = {
    kNewOrderStatements[0],
    kNewOrderStatements[1],
    kNewOrderStatements[2],
    kNewOrderStatements[3],
    kNewOrderStatements[4],
    kNewOrderStatements[5],
    kNewOrderStatements[7],
    kNewOrderStatements[8],
    kPaymentStatements[0],
    kPaymentStatements[1],
    kPaymentStatements[2],
    kPaymentStatements[3],
    kPaymentStatements[4],
    kPaymentStatements[5],
    kDeliveryStatements[0],
    kDeliveryStatements[1],
    kDeliveryStatements[2],
    kDeliveryStatements[3],
    kDeliveryStatements[5],
    kDeliveryStatements[6],
    kOrderStatusStatements[0],
    kOrderStatusStatements[1],
    kGetNextDistrictOrderID,
    kGetOrderCustomerIDByNO,
    kGetCustBalance,
    kGetItemPrice,
    kIncreasePrice,
    kSetInvalidDistrict,
    kRestoreDistrict,
    kGetCustomerID,
    kGetDistrictID,
    kGetWarehouseID,
    kGetSysDate,
    kGetMinWarehouseID,
    kGetMaxWarehouseID,
    kDropTempW,
    kCreateTempW,
    kInsertTempWFormat,
    kSelectTempW,
    kCondition1,
    kCondition2Orders,
    kCondition2NewOrders,
    kCondition3,
    kCondition4,
};

// Where each rule applies and where it must not: quotes, comments, names.
const RewriteCase kEdgeRewrites[] = {
    {"SELECT 1 WHERE a = ?AND b = ?OR c = ?1", "SELECT 1 WHERE a = ? AND b = ? OR c = ? 1"},
    {"SELECT ?, (?), ?+1, ??, ?)", nullptr},
    {"SELECT '?AND', \"?OR\", `?x` FROM t", nullptr},
    {"SELECT 'it''s ?AND' , 'a\\'?b' , ?X", "SELECT 'it''s ?AND' , 'a\\'?b' , ? X"},
    {"SELECT 1 -- ?AND SYSDATE\n, ?AND /* SYSDATE ?OR */ #?X\n",
     "SELECT 1 -- ?AND SYSDATE\n, ? AND /* SYSDATE ?OR */ #?X\n"},
    {"SELECT CAST(x AS varchar), CAST(y  AS  VARCHAR  )",
     "SELECT CAST(x AS CHAR), CAST(y  AS  CHAR  )"},
    {"SELECT CAST(x AS VARCHAR(10)), CAST(x AS CHAR), v VARCHAR)", nullptr},
    {"SELECT CAST(x AS VARCHAR /* c */ )", "SELECT CAST(x AS CHAR /* c */ )"},
    {"SELECT sysdate, SYSDATE(), SYSDATE (), t.SYSDATE, 1 AS SYSDATE, 'SYSDATE', XSYSDATE",
     "SELECT sysdate(), SYSDATE(), SYSDATE (), t.SYSDATE, 1 AS SYSDATE, 'SYSDATE', XSYSDATE"},
    {"SELECT SYSDATE", "SELECT SYSDATE()"},
    // Column names are the schema's business: a wrong one must fail, not be mended.
    {"SELECT SQUANTITY FROM STOCK", nullptr},
    {"SELECT 'unclosed ?AND", nullptr},
    {"", nullptr},
};

void expectRewrites(const RewriteCase& c, Dialect dialect = Dialect::MariaDB) {
  EXPECT_EQ(rewriteSql(c.in, dialect), c.out == nullptr ? c.in : c.out) << "text: " << c.in;
}

// The PostgreSQL dialect: the texts it changes, and where its rules must not
// apply. Every other text of the programs goes through untouched: CAST(? AS
// VARCHAR) needs no length there, and NVL2 is a function of the database.
const RewriteCase kPostgreSQLRewrites[] = {
    {kNewOrderStatements[6],
     "SELECT S_DATA, S_QUANTITY FROM STOCK WHERE S_I_ID = ? AND S_W_ID = ? FOR UPDATE; "
     "CALL getStockData(?,?,?,?,?,?)"},
    {kNewOrderStatements[3],
     "INSERT INTO ORDERS (O_ID                   , O_D_ID                   , O_W_ID            "
     "       , O_C_ID                   , O_ENTRY_D                   , O_OL_CNT               "
     "    , O_ALL_LOCAL) VALUES (?, ?, ?, ?, TO_TIMESTAMP(?,'YYYY-MM-DD HH24:MI:SS'), ?, ?) "},
    {kDeliveryStatements[4],
     "UPDATE ORDER_LINE    SET OL_DELIVERY_D = LOCALTIMESTAMP(0)  WHERE OL_O_ID   = ?    AND "
     "OL_D_ID = ?    AND OL_W_ID = ?"},
    {kPaymentStatements[6], nullptr},
    {kOrderStatusStatements[2], nullptr},
    {"SELECT sysdate, SYSDATE(), t.SYSDATE, 1 AS SYSDATE, 'SYSDATE' -- SYSDATE\n",
     "SELECT LOCALTIMESTAMP(0), SYSDATE(), t.SYSDATE, 1 AS SYSDATE, 'SYSDATE' -- SYSDATE\n"},
    {"SELECT to_date (?, 'f'), s.TO_DATE(x), TO_DATE, 'TO_DATE(' /* TO_DATE( */",
     "SELECT TO_TIMESTAMP (?, 'f'), s.TO_DATE(x), TO_DATE, 'TO_DATE(' /* TO_DATE( */"},
    {"SELECT CAST(x AS VARCHAR), ?AND", "SELECT CAST(x AS VARCHAR), ? AND"},
};

TEST(AdapterText, ProgramTextsBecomeWhatTheServerAccepts) {
  for (const RewriteCase& c : kProgramRewrites) expectRewrites(c);
  for (const char* text : kProgramUnchanged) expectRewrites({text, nullptr});
}

TEST(AdapterText, PostgreSQLDialectRewritesItsOwnRules) {
  for (const RewriteCase& c : kPostgreSQLRewrites) expectRewrites(c, Dialect::PostgreSQL);
  for (const char* text : kProgramUnchanged) {
    if (text != kNewOrderStatements[3]) expectRewrites({text, nullptr}, Dialect::PostgreSQL);
  }
}

TEST(AdapterText, RewritesOnlyCodeOutsideQuotesAndComments) {
  for (const RewriteCase& c : kEdgeRewrites) expectRewrites(c);
}

TEST(AdapterText, LexerLosesNoByte) {
  for (const RewriteCase& c : kEdgeRewrites) {
    std::string joined;
    for (const Token& token : lexSql(c.in)) joined += token.text;
    EXPECT_EQ(joined, c.in);
  }
}

struct PartExpected {
  const char* text;
  int firstMarker;
  int markers;
  StatementKind kind;
};

struct SplitCase {
  const char* in;
  std::vector<PartExpected> parts;
};

TEST(AdapterText, SplitsAtSemicolonsAndNumbersMarkersAcrossParts) {
  const SplitCase cases[] = {
      {"SELECT S_DATA, S_QUANTITY FROM STOCK WHERE S_I_ID = ? AND S_W_ID = ? FOR UPDATE; "
       "CALL getStockData(?,?,?,?,?,?)",
       {{"SELECT S_DATA, S_QUANTITY FROM STOCK WHERE S_I_ID = ? AND S_W_ID = ? FOR UPDATE", 0, 2,
         StatementKind::Select},
        {"CALL getStockData(?,?,?,?,?,?)", 2, 6, StatementKind::Call}}},
      {kNewOrderStatements[7],
       {{"UPDATE STOCK    SET S_QUANTITY   = ?      , S_YTD        = S_YTD + ?      "
         ", S_ORDER_CNT  = S_ORDER_CNT + 1      , S_REMOTE_CNT = S_REMOTE_CNT + ?  "
         "WHERE S_I_ID = ?    AND S_W_ID = ?",
         0, 5, StatementKind::Update}}},
      {"SELECT 1;", {{"SELECT 1", 0, 0, StatementKind::Select}}},
      {" ; ;", {}},
      {"SELECT ';?' ; /* ; ? */ ; DELETE FROM t WHERE a = ? -- ;\n; update t set a=?",
       {{"SELECT ';?'", 0, 0, StatementKind::Select},
        {"DELETE FROM t WHERE a = ? -- ;", 0, 1, StatementKind::Delete},
        {"update t set a=?", 1, 1, StatementKind::Update}}},
      {"INSERT INTO t VALUES (?, ?);CALL p(?);{call q(?, ?)};{? = call f(?)};SELECT ?",
       {{"INSERT INTO t VALUES (?, ?)", 0, 2, StatementKind::Other},
        {"CALL p(?)", 2, 1, StatementKind::Call},
        {"{call q(?, ?)}", 3, 2, StatementKind::Call},
        {"{? = call f(?)}", 5, 2, StatementKind::Call},
        {"SELECT ?", 7, 1, StatementKind::Select}}},
  };
  for (const SplitCase& c : cases) {
    const std::vector<StatementPart> parts = splitSql(c.in);
    ASSERT_EQ(parts.size(), c.parts.size()) << c.in;
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].text, c.parts[i].text) << c.in;
      EXPECT_EQ(parts[i].firstMarker, c.parts[i].firstMarker) << c.parts[i].text;
      EXPECT_EQ(parts[i].markers, c.parts[i].markers) << c.parts[i].text;
      EXPECT_EQ(parts[i].kind, c.parts[i].kind) << c.parts[i].text;
    }
  }
}

TEST(AdapterText, ConnectionAlwaysAsksForFoundRows) {
  const struct {
    const char* set;
    const char* expected;
  } options[] = {{"", "2"}, {"0", "2"}, {"2", "2"}, {"3", "3"}, {"67108864", "67108866"}};
  for (const auto& o : options) EXPECT_EQ(withRequiredOptions(o.set), o.expected) << o.set;

  ConnectionAttributes a = parseConnectionString("DSN=TESTDB;UID=acidtest;PWD={a;b}}c};option=8");
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(*findAttribute(a, "pwd"), "a;b}c");
  setAttribute(a, "OPTION", withRequiredOptions(*findAttribute(a, "OPTION")));
  EXPECT_EQ(buildConnectionString(a), "DSN=TESTDB;UID=acidtest;PWD={a;b}}c};option=10");
  EXPECT_EQ(findAttribute(parseConnectionString("DSN=x;;junk;"), "junk"), nullptr);
}

}  // namespace
