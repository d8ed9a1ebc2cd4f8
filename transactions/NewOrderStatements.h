// The nine statements of New-Order, in the order of its statement handles:
// the texts the program sends and the adapter's contract test checks. Fixed
// byte for byte, runs of blanks and "?AND" included, since a database under
// test must accept exactly these; the
// stock SELECT names S_QUANTITY, the schema's column (its rows are never
// fetched: the statement is there for its row lock).
#pragma once

// clang-format off
inline constexpr const char* kNewOrderStatements[] = {
    "CALL getSysDate(?)",
    "CALL getWarehouseCustomer(?,?,?,?,?,?,?)",
    "CALL updateDistrictGetOrderline(?,?,?,?)",
    "INSERT INTO ORDERS (O_ID                   , O_D_ID                   , O_W_ID                   , O_C_ID                   , O_ENTRY_D                   , O_OL_CNT                   , O_ALL_LOCAL) VALUES (?, ?, ?, ?, TO_DATE(?,'YYYY-MM-DD HH24:MI:SS'), ?, ?) ",
    "INSERT INTO NEW_ORDER (NO_O_ID                      , NO_D_ID                      , NO_W_ID) VALUES (?, ?, ?) ",
    "CALL getItemData(?,?,?,?)",
    "SELECT S_DATA, S_QUANTITY FROM STOCK WHERE S_I_ID = ?AND S_W_ID = ? FOR UPDATE; CALL getStockData(?,?,?,?,?,?)",
    "UPDATE STOCK    SET S_QUANTITY   = ?      , S_YTD        = S_YTD + ?      , S_ORDER_CNT  = S_ORDER_CNT + 1      , S_REMOTE_CNT = S_REMOTE_CNT + ?  WHERE S_I_ID = ?    AND S_W_ID = ? ",
    "INSERT INTO ORDER_LINE (OL_O_ID                       , OL_D_ID                       , OL_W_ID                       , OL_NUMBER                      , OL_I_ID                       , OL_SUPPLY_W_ID                       , OL_QUANTITY                       , OL_AMOUNT                       , OL_DIST_INFO) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
};
// clang-format on
