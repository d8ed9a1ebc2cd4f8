// The driver's entry points. Handles are the connector's own, so most calls
// go straight through; the others live next to what they change
// (statement.cpp, connect.cpp, diag.cpp, txnguard.cpp).
#include <string>

#include "connector.h"
#include "misconfig.h"
#include "sqltext.h"
#include "statement.h"

using namespace acidkit::odbc;

#define ACIDKIT_FORWARD(name, params, args) \
  SQLRETURN SQL_API name params {           \
    return gConnector.name args;            \
  }

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  if (loadConnector() != 0) return SQL_ERROR;
  SQLRETURN rc = gConnector.SQLAllocHandle(type, input, output);
  if (type == SQL_HANDLE_STMT && SQL_SUCCEEDED(rc)) registerStatement(*output, input);
  return rc;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  if (type == SQL_HANDLE_STMT) forgetStatement(handle);
  if (type == SQL_HANDLE_DBC) {
    forgetConnection(handle);
    forgetMisconfiguration(handle);
  }
  clearOwnDiag(handle);
  return gConnector.SQLFreeHandle(type, handle);
}

// Shows the text as the adapter sends it to the server.
SQLRETURN SQL_API SQLNativeSql(SQLHDBC dbc, SQLCHAR* in, SQLINTEGER inLength, SQLCHAR* out,
                               SQLINTEGER outMax, SQLINTEGER* outLength) {
  if (in == nullptr) return gConnector.SQLNativeSql(dbc, in, inLength, out, outMax, outLength);
  const char* text = reinterpret_cast<const char*>(in);
  std::string sql =
      rewriteSql(inLength == SQL_NTS ? std::string_view(text)
                                     : std::string_view(text, inLength < 0 ? 0 : inLength),
                 gDialect);
  return gConnector.SQLNativeSql(dbc, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS, out, outMax,
                                 outLength);
}

ACIDKIT_FORWARD(SQLBindCol,
                (SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT type, SQLPOINTER value, SQLLEN length,
                 SQLLEN* indicator),
                (h, column, type, value, length, indicator))
ACIDKIT_FORWARD(SQLBrowseConnect,
                (SQLHDBC h, SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out, SQLSMALLINT outMax,
                 SQLSMALLINT* outLength),
                (h, in, inLength, out, outMax, outLength))
ACIDKIT_FORWARD(SQLBulkOperations, (SQLHSTMT h, SQLSMALLINT operation), (h, operation))
ACIDKIT_FORWARD(SQLColAttribute,
                (SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                 SQLSMALLINT length, SQLSMALLINT* textLength, SQLLEN* number),
                (h, column, field, text, length, textLength, number))
ACIDKIT_FORWARD(SQLColumnPrivileges,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* t,
                 SQLSMALLINT tl, SQLCHAR* n, SQLSMALLINT nl),
                (h, c, cl, s, sl, t, tl, n, nl))
ACIDKIT_FORWARD(SQLColumns,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* t,
                 SQLSMALLINT tl, SQLCHAR* n, SQLSMALLINT nl),
                (h, c, cl, s, sl, t, tl, n, nl))
ACIDKIT_FORWARD(SQLCopyDesc, (SQLHDESC from, SQLHDESC to), (from, to))
ACIDKIT_FORWARD(SQLDescribeCol,
                (SQLHSTMT h, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT length,
                 SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                 SQLSMALLINT* nullable),
                (h, column, name, length, nameLength, type, size, digits, nullable))
ACIDKIT_FORWARD(SQLFetch, (SQLHSTMT h), (h))
ACIDKIT_FORWARD(SQLFetchScroll, (SQLHSTMT h, SQLSMALLINT orientation, SQLLEN offset),
                (h, orientation, offset))
ACIDKIT_FORWARD(SQLForeignKeys,
                (SQLHSTMT h, SQLCHAR* pc, SQLSMALLINT pcl, SQLCHAR* ps, SQLSMALLINT psl,
                 SQLCHAR* pt, SQLSMALLINT ptl, SQLCHAR* fc, SQLSMALLINT fcl, SQLCHAR* fs,
                 SQLSMALLINT fsl, SQLCHAR* ft, SQLSMALLINT ftl),
                (h, pc, pcl, ps, psl, pt, ptl, fc, fcl, fs, fsl, ft, ftl))
ACIDKIT_FORWARD(SQLGetConnectAttr,
                (SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length,
                 SQLINTEGER* valueLength),
                (h, attribute, value, length, valueLength))
ACIDKIT_FORWARD(SQLGetCursorName,
                (SQLHSTMT h, SQLCHAR* name, SQLSMALLINT length, SQLSMALLINT* nameLength),
                (h, name, length, nameLength))
ACIDKIT_FORWARD(SQLGetData,
                (SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT type, SQLPOINTER value, SQLLEN length,
                 SQLLEN* indicator),
                (h, column, type, value, length, indicator))
ACIDKIT_FORWARD(SQLGetDescField,
                (SQLHDESC h, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                 SQLINTEGER length, SQLINTEGER* valueLength),
                (h, record, field, value, length, valueLength))
ACIDKIT_FORWARD(SQLGetDescRec,
                (SQLHDESC h, SQLSMALLINT record, SQLCHAR* name, SQLSMALLINT length,
                 SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLSMALLINT* subType, SQLLEN* size,
                 SQLSMALLINT* precision, SQLSMALLINT* scale, SQLSMALLINT* nullable),
                (h, record, name, length, nameLength, type, subType, size, precision, scale,
                 nullable))
ACIDKIT_FORWARD(SQLGetEnvAttr,
                (SQLHENV h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length,
                 SQLINTEGER* valueLength),
                (h, attribute, value, length, valueLength))
ACIDKIT_FORWARD(SQLGetFunctions, (SQLHDBC h, SQLUSMALLINT function, SQLUSMALLINT* supported),
                (h, function, supported))
ACIDKIT_FORWARD(SQLGetInfo,
                (SQLHDBC h, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT length,
                 SQLSMALLINT* valueLength),
                (h, type, value, length, valueLength))
ACIDKIT_FORWARD(SQLGetStmtAttr,
                (SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length,
                 SQLINTEGER* valueLength),
                (h, attribute, value, length, valueLength))
ACIDKIT_FORWARD(SQLGetTypeInfo, (SQLHSTMT h, SQLSMALLINT type), (h, type))
ACIDKIT_FORWARD(SQLMoreResults, (SQLHSTMT h), (h))
ACIDKIT_FORWARD(SQLPrimaryKeys,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* t,
                 SQLSMALLINT tl),
                (h, c, cl, s, sl, t, tl))
ACIDKIT_FORWARD(SQLProcedureColumns,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* p,
                 SQLSMALLINT pl, SQLCHAR* n, SQLSMALLINT nl),
                (h, c, cl, s, sl, p, pl, n, nl))
ACIDKIT_FORWARD(SQLProcedures,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* p,
                 SQLSMALLINT pl),
                (h, c, cl, s, sl, p, pl))
ACIDKIT_FORWARD(SQLPutData, (SQLHSTMT h, SQLPOINTER data, SQLLEN length), (h, data, length))
ACIDKIT_FORWARD(SQLSetCursorName, (SQLHSTMT h, SQLCHAR* name, SQLSMALLINT length),
                (h, name, length))
ACIDKIT_FORWARD(SQLSetDescField,
                (SQLHDESC h, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                 SQLINTEGER length),
                (h, record, field, value, length))
ACIDKIT_FORWARD(SQLSetDescRec,
                (SQLHDESC h, SQLSMALLINT record, SQLSMALLINT type, SQLSMALLINT subType,
                 SQLLEN length, SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data,
                 SQLLEN* dataLength, SQLLEN* indicator),
                (h, record, type, subType, length, precision, scale, data, dataLength, indicator))
ACIDKIT_FORWARD(SQLSetEnvAttr,
                (SQLHENV h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
                (h, attribute, value, length))
ACIDKIT_FORWARD(SQLSetPos,
                (SQLHSTMT h, SQLSETPOSIROW row, SQLUSMALLINT operation, SQLUSMALLINT lock),
                (h, row, operation, lock))
// Statement-level isolation (attribute 108) is refused by the connector with
// HY024; passed through like every other statement attribute.
ACIDKIT_FORWARD(SQLSetStmtAttr,
                (SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
                (h, attribute, value, length))
ACIDKIT_FORWARD(SQLSpecialColumns,
                (SQLHSTMT h, SQLUSMALLINT type, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                 SQLSMALLINT sl, SQLCHAR* t, SQLSMALLINT tl, SQLUSMALLINT scope,
                 SQLUSMALLINT nullable),
                (h, type, c, cl, s, sl, t, tl, scope, nullable))
ACIDKIT_FORWARD(SQLStatistics,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* t,
                 SQLSMALLINT tl, SQLUSMALLINT unique, SQLUSMALLINT reserved),
                (h, c, cl, s, sl, t, tl, unique, reserved))
ACIDKIT_FORWARD(SQLTablePrivileges,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* t,
                 SQLSMALLINT tl),
                (h, c, cl, s, sl, t, tl))
ACIDKIT_FORWARD(SQLTables,
                (SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* t,
                 SQLSMALLINT tl, SQLCHAR* type, SQLSMALLINT typeLength),
                (h, c, cl, s, sl, t, tl, type, typeLength))

}  // extern "C"
