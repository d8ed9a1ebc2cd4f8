// `acidkit check` against real databases: a fresh load, where all twelve
// conditions hold; one copy of it per condition, broken by one statement so
// that exactly that condition fails; a hand-made Delivery, after which
// condition 11 no longer applies; and the ways it cannot check.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "TestDb.h"

using namespace acidkit_test;
using nlohmann::json;

namespace {

// The tables the conditions read; ITEM and STOCK stay out of the copies.
const char* const kTables[] = {"WAREHOUSE", "DISTRICT",  "CUSTOMER",  "HISTORY",
                               "ORDERS",    "NEW_ORDER", "ORDER_LINE"};

struct Case {
  const char* name;               // the copy is acidkit_check_<name>
  const char* statements;         // what breaks it, run in the copy
  int condition;                  // the one condition it breaks, 0: none
  std::vector<std::string> keys;  // the keys listed for it, "1/2/3"
};

// Each statement keeps every other condition intact: the initial population
// gives the lines of orders 1 to 2100 an amount of 0, so their lines and
// orders can change without touching a balance, and one HISTORY row per
// customer lets a statement pick a row by its customer.
const Case kCases[] = {
    // A payment's HISTORY row moved to a district that does not exist, its
    // district's D_YTD lowered by as much: W_YTD = sum(H_AMOUNT) and each
    // D_YTD = its rows still hold, but W_YTD > sum(D_YTD).
    {"c1",
     "UPDATE DISTRICT D JOIN HISTORY H ON H.H_W_ID = D.D_W_ID AND H.H_D_ID = D.D_ID"
     " SET D.D_YTD = D.D_YTD - H.H_AMOUNT, H.H_D_ID = 11"
     " WHERE D.D_W_ID = 1 AND D.D_ID = 1 AND H.H_C_W_ID = 1 AND H.H_C_D_ID = 1 AND H.H_C_ID = 1",
     1,
     {"1"}},
    {"c2",
     "UPDATE DISTRICT SET D_NEXT_O_ID = D_NEXT_O_ID + 1 WHERE D_W_ID = 1 AND D_ID = 2",
     2,
     {"1/2"}},
    // An undelivered order vanishes whole, from the middle of NEW_ORDER.
    {"c3",
     "DELETE O, N, L FROM ORDERS O"
     " JOIN NEW_ORDER N ON N.NO_W_ID = O.O_W_ID AND N.NO_D_ID = O.O_D_ID AND N.NO_O_ID = O.O_ID"
     " JOIN ORDER_LINE L ON L.OL_W_ID = O.O_W_ID AND L.OL_D_ID = O.O_D_ID AND L.OL_O_ID = O.O_ID"
     " WHERE O.O_W_ID = 1 AND O.O_D_ID = 3 AND O.O_ID = 2500",
     3,
     {"1/3"}},
    // A line moves to an order that does not exist, and its order's count
    // follows: every order agrees with its lines, the district does not.
    {"c4",
     "UPDATE ORDERS O"
     " JOIN ORDER_LINE L ON L.OL_W_ID = O.O_W_ID AND L.OL_D_ID = O.O_D_ID AND L.OL_O_ID = O.O_ID"
     " SET O.O_OL_CNT = O.O_OL_CNT - 1, L.OL_O_ID = 9999"
     " WHERE O.O_W_ID = 1 AND O.O_D_ID = 4 AND O.O_ID = 5 AND L.OL_NUMBER = 1",
     4,
     {"1/4"}},
    // A delivered order (and its lines) made undelivered, without a NEW_ORDER row.
    {"c5",
     "UPDATE ORDERS O"
     " JOIN ORDER_LINE L ON L.OL_W_ID = O.O_W_ID AND L.OL_D_ID = O.O_D_ID AND L.OL_O_ID = O.O_ID"
     " SET O.O_CARRIER_ID = NULL, L.OL_DELIVERY_D = NULL"
     " WHERE O.O_W_ID = 1 AND O.O_D_ID = 5 AND O.O_ID = 2000",
     5,
     {"1/5/2000"}},
    // One line count up, the next one down: the district's sum stays.
    {"c6",
     "UPDATE ORDERS SET O_OL_CNT = O_OL_CNT + CASE O_ID WHEN 10 THEN 1 ELSE -1 END"
     " WHERE O_W_ID = 1 AND O_D_ID = 6 AND O_ID IN (10, 11)",
     6,
     {"1/6/10", "1/6/11"}},
    {"c7",
     "UPDATE ORDER_LINE SET OL_DELIVERY_D = NULL"
     " WHERE OL_W_ID = 1 AND OL_D_ID = 7 AND OL_O_ID = 100 AND OL_NUMBER = 1",
     7,
     {"1/7/100"}},
    // As c1, and W_YTD lowered too: sum(D_YTD) agrees, sum(H_AMOUNT) does not.
    {"c8",
     "UPDATE WAREHOUSE W JOIN DISTRICT D ON D.D_W_ID = W.W_ID"
     " JOIN HISTORY H ON H.H_W_ID = D.D_W_ID AND H.H_D_ID = D.D_ID"
     " SET W.W_YTD = W.W_YTD - H.H_AMOUNT, D.D_YTD = D.D_YTD - H.H_AMOUNT, H.H_D_ID = 11"
     " WHERE W.W_ID = 1 AND D.D_ID = 1 AND H.H_C_W_ID = 1 AND H.H_C_D_ID = 1 AND H.H_C_ID = 2",
     8,
     {"1"}},
    {"c9",
     "UPDATE HISTORY SET H_D_ID = 2 WHERE H_W_ID = 1 AND H_D_ID = 1"
     " AND H_C_W_ID = 1 AND H_C_D_ID = 1 AND H_C_ID = 3",
     9,
     {"1/1", "1/2"}},
    // One customer's payment booked to the next customer.
    {"c10",
     "UPDATE HISTORY SET H_C_ID = 5 WHERE H_C_W_ID = 1 AND H_C_D_ID = 1 AND H_C_ID = 4",
     10,
     {"1/1/4", "1/1/5"}},
    // A delivered order vanishes whole.
    {"c11",
     "DELETE O, L FROM ORDERS O"
     " JOIN ORDER_LINE L ON L.OL_W_ID = O.O_W_ID AND L.OL_D_ID = O.O_D_ID AND L.OL_O_ID = O.O_ID"
     " WHERE O.O_W_ID = 1 AND O.O_D_ID = 8 AND O.O_ID = 1000",
     11,
     {"1/8"}},
    {"c12",
     "UPDATE CUSTOMER SET C_YTD_PAYMENT = C_YTD_PAYMENT + 1"
     " WHERE C_W_ID = 1 AND C_D_ID = 9 AND C_ID = 6",
     12,
     {"1/9/6"}},
};

// The base: one warehouse, loaded once for all cases.
class ConsistencyCheck : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = new TestDatabase;
    loaded_ = base_->load("check", 1);
  }
  static void TearDownTestSuite() {
    delete base_;
    base_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(loaded_) << "the base database could not be loaded"; }

  // acidkit_check_<name>: the base's tables, then `statements`; TESTDB points at it.
  void copy(const std::string& name, const std::string& statements) {
    const std::string db = "acidkit_check_" + name;
    std::string sql =
        "DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db + "; USE " + db + ";\n";
    for (const char* t : kTables) {
      sql += "CREATE TABLE " + std::string(t) + " LIKE acidkit_check." + t + "; INSERT INTO " + t +
             " SELECT * FROM acidkit_check." + t + ";\n";
    }
    sql += statements + ";\n";
    std::string output;
    ASSERT_TRUE(base_->admin(sql, &output)) << output;
    copies_.push_back(db);
    TestDatabase view;
    ASSERT_TRUE(view.use("check_" + name));
  }

  void TearDown() override {
    if (HasFailure()) return;  // a failed case's copy stays for a look
    for (const std::string& db : copies_) refdb("drop-db " + db);
  }

  static json checkJson(const std::string& options, int* status) {
    // Standard output alone: the JSON.
    RunResult r =
        run("(" + std::string(ACIDKIT_RUNNER) + " check --json " + options + " 2>/dev/null)");
    *status = r.status;
    json j = json::parse(r.output, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.output;
    return j;
  }

  static std::string keyText(const json& key) {
    std::string text;
    for (const char* name : {"W_ID", "D_ID", "C_ID", "O_ID"}) {
      if (key.contains(name))
        text += (text.empty() ? "" : "/") + std::to_string(key[name].get<int>());
    }
    return text;
  }

  static TestDatabase* base_;
  static bool loaded_;
  std::vector<std::string> copies_;
};

TestDatabase* ConsistencyCheck::base_ = nullptr;
bool ConsistencyCheck::loaded_ = false;

TEST_F(ConsistencyCheck, FreshLoadHoldsAllTwelve) {
  ASSERT_TRUE(base_->use("check"));
  RunResult r = run(std::string(ACIDKIT_RUNNER) + " check");
  EXPECT_EQ(r.status, 0) << r.output;
  for (int n = 1; n <= 12; ++n) {
    char line[32];
    snprintf(line, sizeof line, "Condition %2d holds", n);
    EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
  }
  EXPECT_NE(r.output.find("All 12 conditions checked hold"), std::string::npos) << r.output;
}

TEST_F(ConsistencyCheck, EachFixtureBreaksExactlyItsCondition) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    copy(c.name, c.statements);
    int status = -1;
    json j = checkJson("", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(j.value("exitStatus", -1), 1);
    ASSERT_EQ(j["conditions"].size(), 12u) << j.dump(2);
    for (const json& r : j["conditions"]) {
      const int n = r["number"];
      if (n != c.condition) {
        EXPECT_EQ(r["status"], "holds") << "condition " << n << ": " << r.dump(2);
        continue;
      }
      EXPECT_EQ(r["status"], "violated") << r.dump(2);
      std::vector<std::string> keys;
      for (const json& v : r["violations"]) {
        keys.push_back(keyText(v["key"]));
        EXPECT_FALSE(v["values"].empty()) << v.dump();
      }
      EXPECT_EQ(keys, c.keys) << r.dump(2);
      EXPECT_EQ(r["violationCount"], c.keys.size());
    }
  }
}

TEST_F(ConsistencyCheck, TextNamesTheKeysAndValuesThatDisagree) {
  copy("text", kCases[1].statements);  // D_NEXT_O_ID of district 2 one too high
  RunResult r = run(std::string(ACIDKIT_RUNNER) + " check --conditions 1-4");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Condition  2 VIOLATED"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("W_ID=1 D_ID=2: D_NEXT_O_ID=3002 MAX_O_ID=3000 MAX_NO_O_ID=3000"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("FAILED: 1 of 4 conditions violated."), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("Condition  5"), std::string::npos) << r.output;
}

// A Delivery of one order, as the transaction does it: condition 11 stops
// applying, and the delivered amount keeps the balances' conditions holding.
TEST_F(ConsistencyCheck, AfterADeliveryConditionElevenIsNotApplicable) {
  copy("delivered",
       "DELETE FROM NEW_ORDER WHERE NO_W_ID = 1 AND NO_D_ID = 10 AND NO_O_ID = 2101;"
       "UPDATE ORDERS SET O_CARRIER_ID = 4 WHERE O_W_ID = 1 AND O_D_ID = 10 AND O_ID = 2101;"
       "UPDATE ORDER_LINE SET OL_DELIVERY_D = NOW()"
       " WHERE OL_W_ID = 1 AND OL_D_ID = 10 AND OL_O_ID = 2101;"
       "UPDATE CUSTOMER C JOIN ORDERS O ON O.O_W_ID = C.C_W_ID AND O.O_D_ID = C.C_D_ID"
       " AND O.O_C_ID = C.C_ID"
       " SET C.C_BALANCE = C.C_BALANCE + (SELECT SUM(OL_AMOUNT) FROM ORDER_LINE"
       " WHERE OL_W_ID = 1 AND OL_D_ID = 10 AND OL_O_ID = 2101),"
       " C.C_DELIVERY_CNT = C.C_DELIVERY_CNT + 1"
       " WHERE O.O_W_ID = 1 AND O.O_D_ID = 10 AND O.O_ID = 2101");
  int status = -1;
  json j = checkJson("", &status);
  EXPECT_EQ(status, 0) << j.dump(2);
  for (const json& r : j["conditions"]) {
    EXPECT_EQ(r["status"], r["number"] == 11 ? "not-applicable" : "holds") << r.dump(2);
  }
  const std::string note = j["conditions"][10]["note"];
  EXPECT_NE(note.find("O_ID=2101 has a carrier"), std::string::npos) << note;
}

TEST_F(ConsistencyCheck, SaysWhyItCannotCheck) {
  ASSERT_TRUE(base_->use("check"));
  int status = -1;
  json j = checkJson("--warehouses 5-6", &status);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(j["completed"], false);
  EXPECT_EQ(j["error"], "WAREHOUSE has no warehouse in the range 5-6");
  EXPECT_TRUE(j["conditions"].empty()) << j.dump(2);

  copy("notables", "DROP TABLE HISTORY");
  j = checkJson("--conditions 7-9", &status);
  EXPECT_EQ(status, 3) << j.dump(2);
  EXPECT_EQ(j["conditions"][0]["status"], "holds");
  for (int i : {1, 2}) {
    EXPECT_EQ(j["conditions"][i]["status"], "error");
    EXPECT_NE(j["conditions"][i]["note"].get<std::string>().find("HISTORY"), std::string::npos);
  }

  TestDatabase nowhere;
  ASSERT_TRUE(nowhere.useUnreachable("check"));
  RunResult r = run(std::string(ACIDKIT_RUNNER) + " check");
  EXPECT_EQ(r.status, 3) << r.output;
  EXPECT_NE(r.output.find("acidkit check: cannot connect to data source TESTDB"), std::string::npos)
      << r.output;
}

}  // namespace
