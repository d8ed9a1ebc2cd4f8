// The seven statements of Delivery, in the order of its statement handles:
// the texts the program sends and the adapter's contract test checks, fixed
// byte for byte (bare SYSDATE included): a database under test must accept
// exactly these.
#pragma once

// clang-format off
inline constexpr const char* kDeliveryStatements[] = {
    "call getOrderID(?,?,?)",
    "DELETE   FROM NEW_ORDER  WHERE NO_O_ID = ?    AND NO_D_ID = ?    AND NO_W_ID = ? ",
    "call getOrderCustomerID(?,?,?,?)",
    "UPDATE ORDERS    SET O_CARRIER_ID = ?  WHERE O_ID   = ?    AND O_D_ID = ?    AND O_W_ID = ?",
    "UPDATE ORDER_LINE    SET OL_DELIVERY_D = SYSDATE  WHERE OL_O_ID   = ?    AND OL_D_ID = ?    AND OL_W_ID = ?",
    "call getOrderlineAmount(?,?,?,?)",
    "UPDATE CUSTOMER    SET C_BALANCE = C_BALANCE + ?      , C_DELIVERY_CNT = C_DELIVERY_CNT + 1  WHERE C_ID   = ?    AND C_D_ID = ?    AND C_W_ID = ? ",
};
// clang-format on
