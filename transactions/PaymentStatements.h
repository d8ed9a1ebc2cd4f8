// The seven statements of Payment, in the order of its statement handles:
// the texts the program sends and the adapter's contract test checks, fixed
// byte for byte ("call" of the first in lower case): a database under test
// must accept exactly these.
#pragma once

// clang-format off
inline constexpr const char* kPaymentStatements[] = {
    "call getSysDate(?)",
    "CALL updateWarehouseYTD(?,?,?,?,?,?,?,?)",
    "CALL updateDistrictYTD(?,?,?,?,?,?,?,?,?)",
    "CALL getCustAll(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
    "CALL updateCustomerData(?,?,?,?,?)",
    "UPDATE CUSTOMER    SET C_BALANCE = C_BALANCE - ?      , C_YTD_PAYMENT = C_YTD_PAYMENT + ?      , C_PAYMENT_CNT = C_PAYMENT_CNT + 1  WHERE C_W_ID = ?    AND C_D_ID = ?    AND C_ID   = ? ",
    "INSERT   INTO HISTORY (H_C_D_ID               , H_C_W_ID               , H_C_ID               , H_D_ID               , H_W_ID               , H_DATE               , H_AMOUNT               , H_DATA ) VALUES (?, ?, ?, ?, ?, SUBSTR(CAST(? AS VARCHAR), 1, 19), ?, ? || '    ' || ?) ",
};
// clang-format on
