// acidkit-load against the reference server: one 1-warehouse load into a
// database of its own, checked row by row, then reloaded with another thread
// count for the same seed, and the loads that it must refuse.
#include <gtest/gtest.h>
#include <mysql.h>

#include <cstdlib>
#include <string>

#include "TestDb.h"

namespace {

using acidkit_test::run;
using acidkit_test::RunResult;

const char kDb[] = "acidkit_loader_test";

std::string socketPath() {
  const char* state = std::getenv("ACIDKIT_STATE");
  return std::string(state != nullptr && *state != '\0' ? state : "/var/lib/acidkit") +
         "/run/mysqld.sock";
}

RunResult load(const std::string& args) {
  return run(acidkit_test::programPath("acidkit-load") + " --database " + kDb + " --socket " +
             socketPath() + " --user root " + args);
}

// Root over the server's socket, for reading what the loader left.
class Db {
 public:
  Db() {
    mysql_ = mysql_init(nullptr);
    if (mysql_real_connect(mysql_, nullptr, "root", nullptr, nullptr, 0, socketPath().c_str(), 0) ==
        nullptr) {
      ADD_FAILURE() << "cannot reach the reference server (db/refdb start): "
                    << mysql_error(mysql_);
      mysql_close(mysql_);
      mysql_ = nullptr;
    }
  }
  ~Db() {
    if (mysql_ != nullptr) mysql_close(mysql_);
  }
  bool ok() const { return mysql_ != nullptr; }
  // First column of the first row as text; "<error>" when the query fails.
  std::string text(const std::string& sql) {
    if (mysql_ == nullptr || mysql_query(mysql_, sql.c_str()) != 0) {
      ADD_FAILURE() << sql << ": " << (mysql_ ? mysql_error(mysql_) : "no connection");
      return "<error>";
    }
    MYSQL_RES* res = mysql_store_result(mysql_);
    std::string value = "<no row>";
    if (res != nullptr) {
      MYSQL_ROW row = mysql_fetch_row(res);
      if (row != nullptr) value = row[0] != nullptr ? row[0] : "NULL";
      mysql_free_result(res);
    }
    return value;
  }
  double number(const std::string& sql) { return std::atof(text(sql).c_str()); }
  void exec(const std::string& sql) {
    if (mysql_ == nullptr || mysql_query(mysql_, sql.c_str()) != 0) {
      ADD_FAILURE() << sql << ": " << (mysql_ ? mysql_error(mysql_) : "no connection");
    }
  }

 private:
  MYSQL* mysql_ = nullptr;
};

// Per table, a checksum of every column but the load's timestamps.
std::string digest(Db& db) {
  const char* tables[][2] = {
      {"ITEM", "I_ID, I_IM_ID, I_NAME, I_PRICE, I_DATA"},
      {"WAREHOUSE", "W_ID, W_NAME, W_STREET_1, W_STREET_2, W_CITY, W_STATE, W_ZIP, W_TAX, W_YTD"},
      {"DISTRICT", "D_ID, D_W_ID, D_NAME, D_CITY, D_ZIP, D_TAX, D_YTD, D_NEXT_O_ID"},
      {"CUSTOMER",
       "C_ID, C_D_ID, C_FIRST, C_LAST, C_STREET_1, C_PHONE, C_CREDIT, C_DISCOUNT, C_DATA"},
      {"HISTORY", "H_C_ID, H_C_D_ID, H_AMOUNT, H_DATA"},
      {"ORDERS", "O_ID, O_D_ID, O_C_ID, COALESCE(O_CARRIER_ID, 0), O_OL_CNT"},
      {"NEW_ORDER", "NO_O_ID, NO_D_ID, NO_W_ID"},
      {"ORDER_LINE", "OL_O_ID, OL_D_ID, OL_NUMBER, OL_I_ID, OL_AMOUNT, OL_DIST_INFO"},
      {"STOCK", "S_I_ID, S_QUANTITY, S_DIST_01, S_DIST_05, S_DIST_10, S_DATA"},
  };
  std::string all;
  for (const auto& t : tables) {
    all += std::string(t[0]) + "=" +
           db.text(std::string("SELECT CONCAT(COUNT(*), ':', SUM(CRC32(CONCAT_WS('|', ") + t[1] +
                   ")))) FROM " + kDb + "." + t[0]) +
           " ";
  }
  return all;
}

class LoaderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    first_ = new RunResult(load("--warehouses 1 --seed 7 --threads 2 --replace"));
  }
  static void TearDownTestSuite() {
    Db db;
    if (db.ok()) db.exec(std::string("DROP DATABASE IF EXISTS ") + kDb);
    delete first_;
  }
  void SetUp() override {
    ASSERT_EQ(first_->status, 0) << first_->output;
    ASSERT_TRUE(db_.ok());
  }
  static RunResult* first_;
  Db db_;
};
RunResult* LoaderTest::first_ = nullptr;

TEST_F(LoaderTest, ReportsItsSeedChecksAndCompletion) {
  const std::string& out = first_->output;
  EXPECT_NE(out.find("seed 7,"), std::string::npos) << out;
  EXPECT_NE(out.find("Row counts (exact):"), std::string::npos) << out;
  EXPECT_EQ(out.find("WRONG"), std::string::npos) << out;
  EXPECT_NE(out.find("Load complete: database acidkit_loader_test, 1 warehouses, seed 7"),
            std::string::npos)
      << out;
  EXPECT_EQ(
      db_.text(std::string("SELECT CONCAT(WAREHOUSES, ' ', SEED) FROM ") + kDb + ".LOAD_COMPLETE"),
      "1 7");
}

TEST_F(LoaderTest, HoldsTheInitialPopulation) {
  const std::string use = std::string(kDb) + ".";
  const struct {
    const char* what;
    std::string sql;
    const char* expected;
  } cases[] = {
      {"ITEM rows", "SELECT COUNT(*) FROM " + use + "ITEM", "100000"},
      {"WAREHOUSE rows", "SELECT COUNT(*) FROM " + use + "WAREHOUSE WHERE W_ID = 1", "1"},
      {"DISTRICT rows", "SELECT COUNT(*) FROM " + use + "DISTRICT", "10"},
      {"CUSTOMER rows", "SELECT COUNT(*) FROM " + use + "CUSTOMER", "30000"},
      {"HISTORY rows", "SELECT COUNT(*) FROM " + use + "HISTORY", "30000"},
      {"ORDERS rows", "SELECT COUNT(*) FROM " + use + "ORDERS", "30000"},
      {"NEW_ORDER rows 2101..3000",
       "SELECT CONCAT(COUNT(*), ' ', MIN(NO_O_ID), ' ', MAX(NO_O_ID)) FROM " + use + "NEW_ORDER",
       "9000 2101 3000"},
      {"STOCK rows", "SELECT COUNT(*) FROM " + use + "STOCK", "100000"},
      {"ORDER_LINE rows = sum(O_OL_CNT)",
       "SELECT (SELECT COUNT(*) FROM " + use + "ORDER_LINE) = (SELECT SUM(O_OL_CNT) FROM " + use +
           "ORDERS)",
       "1"},
      {"W_YTD", "SELECT W_YTD FROM " + use + "WAREHOUSE", "300000.00"},
      {"district fixed values",
       "SELECT COUNT(*) FROM " + use + "DISTRICT WHERE D_YTD <> 30000 OR D_NEXT_O_ID <> 3001", "0"},
      {"customer fixed values",
       "SELECT COUNT(*) FROM " + use +
           "CUSTOMER WHERE C_BALANCE <> -10 OR C_YTD_PAYMENT <> 10 OR C_PAYMENT_CNT <> 1 OR "
           "C_DELIVERY_CNT <> 0 OR C_CREDIT_LIM <> 50000 OR C_MIDDLE <> 'OE' OR C_CREDIT NOT IN "
           "('GC', 'BC') OR C_DISCOUNT NOT BETWEEN 0 AND 0.5 OR LENGTH(C_DATA) NOT BETWEEN 300 "
           "AND 500",
       "0"},
      {"C_LAST of the first 1000 customers",
       "SELECT CONCAT(C_LAST, ' ', (SELECT C_LAST FROM " + use +
           "CUSTOMER WHERE C_W_ID = 1 AND C_D_ID = 9 AND C_ID = 1000)) FROM " + use +
           "CUSTOMER WHERE C_W_ID = 1 AND C_D_ID = 2 AND C_ID = 372",
       "PRICALLYOUGHT EINGEINGEING"},
      {"history", "SELECT COUNT(*) FROM " + use + "HISTORY WHERE H_AMOUNT <> 10", "0"},
      {"O_CARRIER_ID set below 2101, NULL from 2101",
       "SELECT COUNT(*) FROM " + use +
           "ORDERS WHERE (O_ID < 2101) <> (O_CARRIER_ID IS NOT NULL) OR O_CARRIER_ID NOT BETWEEN "
           "1 AND 10 OR O_OL_CNT NOT BETWEEN 5 AND 15 OR O_ALL_LOCAL <> 1",
       "0"},
      {"O_C_ID a permutation of 1..3000 in every district",
       "SELECT COUNT(*) FROM (SELECT O_D_ID FROM " + use +
           "ORDERS GROUP BY O_D_ID HAVING COUNT(DISTINCT O_C_ID) <> 3000 OR MIN(O_C_ID) <> 1 OR "
           "MAX(O_C_ID) <> 3000) t",
       "0"},
      {"order lines: delivered dated with 0.00, the others NULL with an amount",
       "SELECT COUNT(*) FROM " + use + "ORDER_LINE l JOIN " + use +
           "ORDERS o ON o.O_W_ID = l.OL_W_ID AND o.O_D_ID = l.OL_D_ID AND o.O_ID = l.OL_O_ID "
           "WHERE IF(l.OL_O_ID < 2101, NOT (l.OL_DELIVERY_D <=> o.O_ENTRY_D) OR l.OL_AMOUNT <> 0, "
           "l.OL_DELIVERY_D IS NOT NULL OR l.OL_AMOUNT NOT BETWEEN 0.01 AND 9999.99) OR "
           "l.OL_QUANTITY <> 5 OR l.OL_SUPPLY_W_ID <> l.OL_W_ID OR l.OL_NUMBER > o.O_OL_CNT",
       "0"},
      {"stock fixed values",
       "SELECT COUNT(*) FROM " + use +
           "STOCK WHERE S_YTD <> 0 OR S_ORDER_CNT <> 0 OR S_REMOTE_CNT <> 0 OR S_QUANTITY NOT "
           "BETWEEN 10 AND 100",
       "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(db_.text(c.sql), c.expected) << c.what;
}

TEST_F(LoaderTest, MarksOneRowInTenWithLowerCaseOriginal) {
  const struct {
    const char* what;
    const char* sql;
  } cases[] = {
      {"I_DATA", "SELECT AVG(I_DATA LIKE BINARY '%original%') FROM acidkit_loader_test.ITEM"},
      {"S_DATA", "SELECT AVG(S_DATA LIKE BINARY '%original%') FROM acidkit_loader_test.STOCK"},
      {"C_CREDIT BC", "SELECT AVG(C_CREDIT = 'BC') FROM acidkit_loader_test.CUSTOMER"},
  };
  for (const auto& c : cases) {
    const double share = db_.number(c.sql);
    EXPECT_GT(share, 0.09) << c.what;
    EXPECT_LT(share, 0.11) << c.what;
  }
}

TEST_F(LoaderTest, SameSeedGivesTheSameDataWithOtherThreadCounts) {
  const std::string before = digest(db_);
  const RunResult again = load("--warehouses 1 --seed 7 --threads 1 --replace");
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(digest(db_), before);
  const RunResult check = load("--check-only");
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("Check passed"), std::string::npos) << check.output;
}

TEST_F(LoaderTest, RefusesAndLeavesTheLoadedDatabaseAlone) {
  const struct {
    const char* what;
    std::string command;
    const char* message;
  } cases[] = {
      {"already loaded", "--warehouses 1", "is already loaded (1 warehouses, seed 7)"},
      {"W = 0", "--warehouses 0", "--warehouses must be a whole number from 1 to"},
      {"W too large", "--warehouses 10001", "--warehouses must be a whole number from 1 to"},
      {"disk too small", "--warehouses 10000 --replace", "not enough disk for 10000 warehouses"},
      {"server down",
       acidkit_test::programPath("acidkit-load") +
           " --database acidkit_loader_test --socket /nonexistent/mysqld.sock --warehouses 1",
       "cannot reach the database server at socket /nonexistent/mysqld.sock"},
  };
  for (const auto& c : cases) {
    const RunResult r = c.command.rfind("/", 0) == 0 ? run(c.command) : load(c.command);
    EXPECT_EQ(r.status, 1) << c.what << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.what << "\n" << r.output;
  }
  EXPECT_EQ(db_.text("SELECT WAREHOUSES FROM acidkit_loader_test.LOAD_COMPLETE"), "1");
  EXPECT_EQ(db_.text("SELECT COUNT(*) FROM acidkit_loader_test.WAREHOUSE"), "1");
}

TEST(LoaderReplace, ReloadsADatabaseWithTheLongestNameWhole) {
  // 64 characters, the server's limit: every table name of the DROP list
  // must reach the server whole.
  const std::string name = "acidkit_loader_test_" + std::string(44, 'x');
  const std::string load = acidkit_test::programPath("acidkit-load") + " --database " + name +
                           " --socket " + socketPath() + " --user root --warehouses 1 --seed 3 ";
  for (int round = 1; round <= 2; ++round) {
    const RunResult r = run(load + (round == 2 ? "--replace" : ""));
    EXPECT_EQ(r.status, 0) << "load " << round << "\n" << r.output;
  }
  Db db;
  EXPECT_EQ(db.text("SELECT COUNT(*) FROM " + name + ".WAREHOUSE"), "1");
  db.exec("DROP DATABASE IF EXISTS " + name);
}

// Last: it takes the completion mark away.
TEST_F(LoaderTest, DatabaseWithoutTheCompletionMarkIsNotLoaded) {
  db_.exec("DROP TABLE acidkit_loader_test.LOAD_COMPLETE");
  const RunResult check = load("--check-only");
  EXPECT_EQ(check.status, 1) << check.output;
  EXPECT_NE(check.output.find("holds no completed load"), std::string::npos) << check.output;
  const RunResult reload = load("--warehouses 1");
  EXPECT_EQ(reload.status, 1) << reload.output;
  EXPECT_NE(reload.output.find("no completed load"), std::string::npos) << reload.output;
}

}  // namespace
