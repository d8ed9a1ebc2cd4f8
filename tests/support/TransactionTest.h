// What every test of a transaction against the reference database shares: a
// database of its own named after the test, TESTDB pointed at it, gEnv
// allocated for the transaction calls, each call run with its output
// captured and timed, and at the end the proof that the calls released every
// connection (freeing the environment fails while one is still allocated).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "Odbc.h"
#include "TestDb.h"

namespace acidkit_test {

class TransactionTest : public testing::Test {
 protected:
  // Loads acidkit_<name> (default: <prefix> and the test's name, cut to
  // `length` characters), connects `sql` to it and allocates gEnv.
  void loadDatabase(const std::string& prefix, size_t length = 16, std::string name = "") {
    if (name.empty()) {
      name = prefix + std::string(testing::UnitTest::GetInstance()->current_test_info()->name())
                          .substr(0, length);
    }
    ASSERT_TRUE(db.load(name, kWarehouses));
    sql = std::make_unique<Sql>();  // only now: the driver manager reads TESTDB once
    ASSERT_TRUE(sql->ok()) << sql->lastError();
    // The driver manager keeps a data source it read earlier in the process:
    // the tests run one per process, as ctest runs them.
    ASSERT_EQ(sql->text("SELECT DATABASE()"), db.name()) << "TESTDB names another database";
    ASSERT_TRUE(environment_.allocate(SQL_NULL_HANDLE));
    SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  }

  void TearDown() override {
    if (environment_.held()) {
      EXPECT_TRUE(environment_.release()) << "a handle was left allocated";
    }
  }

  // Runs a transaction call with its standard output in `output` and its
  // time in `seconds`; the call's result.
  template <class Call>
  int captured(Call call) {
    testing::internal::CaptureStdout();
    auto start = std::chrono::steady_clock::now();
    int result = call();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fflush(stdout);
    output = testing::internal::GetCapturedStdout();
    return result;
  }

  // Arms a fault point (db.enableFaults() first): its next `times`
  // executions fail with native `error`.
  bool arm(const std::string& point, int times, int error) {
    return sql->exec("INSERT INTO acidkit_fault (point, remaining, errno) VALUES ('" + point +
                     "', " + std::to_string(times) + ", " + std::to_string(error) + ")");
  }
  long long fired(const std::string& point) {
    return sql->integer("SELECT fired FROM acidkit_fault WHERE point = '" + point + "'", 0);
  }

  TestDatabase db;
  std::unique_ptr<Sql> sql;
  std::string output;
  double seconds = 0;

 private:
  acidkit::OdbcEnvironment environment_{&gEnv};
};

}  // namespace acidkit_test
