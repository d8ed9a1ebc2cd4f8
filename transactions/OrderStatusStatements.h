// The three statements of Order-Status, in the order of its statement
// handles: the texts the program sends and the adapter's contract test
// checks, fixed byte for byte: a database under test must accept exactly
// these.
#pragma once

// clang-format off
inline constexpr const char* kOrderStatusStatements[] = {
    "call getCustBalanceName(?,?,?,?,?,?,?)",
    "call getOrderCarrierEntry(?,?,?,?,?,?)",
    "SELECT OL_I_ID      , OL_SUPPLY_W_ID      , CAST(OL_QUANTITY as INTEGER) as OL_QUANTITY      , OL_AMOUNT      , SUBSTR(NVL2(OL_DELIVERY_D, CAST(OL_DELIVERY_D AS VARCHAR), ''), 1, 10)  FROM ORDER_LINE  WHERE OL_O_ID = ?    AND OL_D_ID = ?    AND OL_W_ID = ? ",
};
// clang-format on
