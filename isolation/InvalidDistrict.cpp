#include "InvalidDistrict.h"

#include "IsolationFrame.h"
#include "SideStatements.h"

using namespace acidkit;

namespace {

int bindInt(SideConnection& c, SQLUSMALLINT n, int32_t* value) {
  return c.check(SQLBindParameter(c.stmt(), n, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                  value, 0, nullptr));
}

// One update of NEW_ORDER with two integer parameters, committed. An update
// that matches no row fails (SQL_NO_DATA).
int moveRows(const char* text, int32_t* first, int32_t* second) {
  SideConnection c;
  if (c.open() != 0) return 1;
  if (bindInt(c, 1, first) != 0 || bindInt(c, 2, second) != 0 ||
      c.check(SQLExecDirect(c.stmt(), (SQLCHAR*)text, SQL_NTS)) != 0 || c.commit() != 0) {
    return 1;
  }
  return c.close();
}

// First column of the one row of a counting query with up to three integer
// parameters; -1 on failure.
int32_t count(const char* text, std::initializer_list<int32_t*> params) {
  int32_t n = -1;
  SideConnection c;
  if (c.open() != 0) return -1;
  SQLUSMALLINT i = 0;
  for (int32_t* p : params) {
    if (bindInt(c, ++i, p) != 0) return -1;
  }
  if (c.check(SQLExecDirect(c.stmt(), (SQLCHAR*)text, SQL_NTS)) != 0 ||
      c.check(SQLBindCol(c.stmt(), 1, SQL_C_SLONG, &n, 0, nullptr)) != 0 ||
      c.check(SQLFetch(c.stmt())) != 0 || c.check(SQLCloseCursor(c.stmt())) != 0 ||
      c.close() != 0) {
    return -1;
  }
  return n;
}

}  // namespace

int setInvalidDistrictID() {
  return moveRows(kSetInvalidDistrict, &gW_ID, &gD_ID);
}

int resotreDistrictID() {
  return moveRows(kRestoreDistrict, &gD_ID, &gW_ID);
}

int32_t acidkit::countInvalidDistrictRows() {
  return count("SELECT COUNT(*) FROM NEW_ORDER WHERE NO_W_ID = ? AND NO_D_ID = 255", {&gW_ID});
}

int32_t acidkit::countMisfits(int32_t d) {
  return count(
      "SELECT COUNT(*) FROM NEW_ORDER N WHERE N.NO_W_ID = ? AND N.NO_D_ID = 255"
      " AND (EXISTS (SELECT 1 FROM NEW_ORDER X WHERE X.NO_W_ID = N.NO_W_ID AND X.NO_D_ID = ?"
      " AND X.NO_O_ID = N.NO_O_ID)"
      " OR NOT EXISTS (SELECT 1 FROM ORDERS O WHERE O.O_W_ID = N.NO_W_ID AND O.O_D_ID = ?"
      " AND O.O_ID = N.NO_O_ID))",
      {&gW_ID, &d, &d});
}
