// The diagnostics printer on handles of the real driver manager.
#include <gtest/gtest.h>
#include <sqlext.h>

#include <string>

#include "PrintDiagnosticRecord.h"

namespace {

const std::string kRule(45, '=');

std::string printed(SQLSMALLINT type, SQLHANDLE handle) {
  testing::internal::CaptureStdout();
  PrintDiagnosticRecord(type, handle);
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

class PrintDiagnosticRecordTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  }
  void TearDown() override {
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
};

TEST_F(PrintDiagnosticRecordTest, PrintsARecordAsItsBlock) {
  ASSERT_EQ(SQLConnect(dbc, (SQLCHAR*)"NO_SUCH_DATA_SOURCE", SQL_NTS, (SQLCHAR*)"u", SQL_NTS,
                       (SQLCHAR*)"p", SQL_NTS),
            SQL_ERROR);
  EXPECT_EQ(printed(SQL_HANDLE_DBC, dbc),
            "\n" + kRule +
                "\n"
                "SQL_DIAG_SQLSTATE     : IM002\n"
                "SQL_DIAG_NATIVE       : 0\n"
                "SQL_DIAG_MESSAGE_TEXT : [unixODBC][Driver Manager]Data source name not found and "
                "no default driver specified\n" +
                kRule + "\n");
  // Reading the records does not use them up.
  EXPECT_EQ(printed(SQL_HANDLE_DBC, dbc), printed(SQL_HANDLE_DBC, dbc));
}

TEST_F(PrintDiagnosticRecordTest, HandleWithoutRecordsPrintsNothing) {
  EXPECT_EQ(printed(SQL_HANDLE_ENV, env), "");
  EXPECT_EQ(printed(SQL_HANDLE_DBC, dbc), "");
}

TEST_F(PrintDiagnosticRecordTest, FailedRequestPrintsItsLine) {
  // The driver manager checks every handle against the type it is said to be.
  // (Not a freed handle: a request on one may be answered with anything.)
  struct Case {
    const char* what;
    SQLSMALLINT type;
    SQLHANDLE handle;
  };
  for (const Case& c : {Case{"null handle", SQL_HANDLE_STMT, SQL_NULL_HANDLE},
                        Case{"connection named a statement", SQL_HANDLE_STMT, dbc},
                        Case{"connection named an environment", SQL_HANDLE_ENV, dbc}}) {
    EXPECT_EQ(printed(c.type, c.handle), "SQLGetDiagRec failure.\n") << c.what;
  }
}

}  // namespace
