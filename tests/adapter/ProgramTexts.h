// The statement texts the kit's programs send through TESTDB, byte for byte,
// for the adapter's tests. kInsertTempWFormat is a printf format.
#pragma once

namespace acidkit_test::texts {

// clang-format off
inline constexpr const char* kNewOrder1 =
    "CALL getSysDate(?)";
inline constexpr const char* kNewOrder2 =
    "CALL getWarehouseCustomer(?,?,?,?,?,?,?)";
inline constexpr const char* kNewOrder3 =
    "CALL updateDistrictGetOrderline(?,?,?,?)";
inline constexpr const char* kNewOrder4 =
    "INSERT INTO ORDERS (O_ID                   , O_D_ID                   , O_W_ID                   , O_C_ID                   , O_ENTRY_D                   , O_OL_CNT                   , O_ALL_LOCAL) VALUES (?, ?, ?, ?, TO_DATE(?,'YYYY-MM-DD HH24:MI:SS'), ?, ?) ";
inline constexpr const char* kNewOrder5 =
    "INSERT INTO NEW_ORDER (NO_O_ID                      , NO_D_ID                      , NO_W_ID) VALUES (?, ?, ?) ";
inline constexpr const char* kNewOrder6 =
    "CALL getItemData(?,?,?,?)";
inline constexpr const char* kNewOrder7 =
    "SELECT S_DATA, S_QUANTITY FROM STOCK WHERE S_I_ID = ?AND S_W_ID = ? FOR UPDATE; CALL getStockData(?,?,?,?,?,?)";
inline constexpr const char* kNewOrder8 =
    "UPDATE STOCK    SET S_QUANTITY   = ?      , S_YTD        = S_YTD + ?      , S_ORDER_CNT  = S_ORDER_CNT + 1      , S_REMOTE_CNT = S_REMOTE_CNT + ?  WHERE S_I_ID = ?    AND S_W_ID = ? ";
inline constexpr const char* kNewOrder9 =
    "INSERT INTO ORDER_LINE (OL_O_ID                       , OL_D_ID                       , OL_W_ID                       , OL_NUMBER                      , OL_I_ID                       , OL_SUPPLY_W_ID                       , OL_QUANTITY                       , OL_AMOUNT                       , OL_DIST_INFO) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";
inline constexpr const char* kPayment1 =
    "call getSysDate(?)";
inline constexpr const char* kPayment2 =
    "CALL updateWarehouseYTD(?,?,?,?,?,?,?,?)";
inline constexpr const char* kPayment3 =
    "CALL updateDistrictYTD(?,?,?,?,?,?,?,?,?)";
inline constexpr const char* kPayment4 =
    "CALL getCustAll(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
inline constexpr const char* kPayment5 =
    "CALL updateCustomerData(?,?,?,?,?)";
inline constexpr const char* kPayment6 =
    "UPDATE CUSTOMER    SET C_BALANCE = C_BALANCE - ?      , C_YTD_PAYMENT = C_YTD_PAYMENT + ?      , C_PAYMENT_CNT = C_PAYMENT_CNT + 1  WHERE C_W_ID = ?    AND C_D_ID = ?    AND C_ID   = ? ";
inline constexpr const char* kPayment7 =
    "INSERT   INTO HISTORY (H_C_D_ID               , H_C_W_ID               , H_C_ID               , H_D_ID               , H_W_ID               , H_DATE               , H_AMOUNT               , H_DATA ) VALUES (?, ?, ?, ?, ?, SUBSTR(CAST(? AS VARCHAR), 1, 19), ?, ? || '    ' || ?) ";
inline constexpr const char* kDelivery1 =
    "call getOrderID(?,?,?)";
inline constexpr const char* kDelivery2 =
    "DELETE   FROM NEW_ORDER  WHERE NO_O_ID = ?    AND NO_D_ID = ?    AND NO_W_ID = ? ";
inline constexpr const char* kDelivery3 =
    "call getOrderCustomerID(?,?,?,?)";
inline constexpr const char* kDelivery4 =
    "UPDATE ORDERS    SET O_CARRIER_ID = ?  WHERE O_ID   = ?    AND O_D_ID = ?    AND O_W_ID = ?";
inline constexpr const char* kDelivery5 =
    "UPDATE ORDER_LINE    SET OL_DELIVERY_D = SYSDATE  WHERE OL_O_ID   = ?    AND OL_D_ID = ?    AND OL_W_ID = ?";
inline constexpr const char* kDelivery6 =
    "call getOrderlineAmount(?,?,?,?)";
inline constexpr const char* kDelivery7 =
    "UPDATE CUSTOMER    SET C_BALANCE = C_BALANCE + ?      , C_DELIVERY_CNT = C_DELIVERY_CNT + 1  WHERE C_ID   = ?    AND C_D_ID = ?    AND C_W_ID = ? ";
inline constexpr const char* kOrderStatus1 =
    "call getCustBalanceName(?,?,?,?,?,?,?)";
inline constexpr const char* kOrderStatus2 =
    "call getOrderCarrierEntry(?,?,?,?,?,?)";
inline constexpr const char* kOrderStatus3 =
    "SELECT OL_I_ID      , OL_SUPPLY_W_ID      , CAST(OL_QUANTITY as INTEGER) as OL_QUANTITY      , OL_AMOUNT      , SUBSTR(NVL2(OL_DELIVERY_D, CAST(OL_DELIVERY_D AS VARCHAR), ''), 1, 10)  FROM ORDER_LINE  WHERE OL_O_ID = ?    AND OL_D_ID = ?    AND OL_W_ID = ? ";
inline constexpr const char* kGetNextDistrictOrderID =
    "call getNextDistrictOrderID(?,?,?)";
inline constexpr const char* kGetOrderCustomerIDByNO =
    "call getOrderCustomerIDByNO(?,?,?)";
inline constexpr const char* kGetCustBalance =
    "call getCustBalance(?,?,?,?)";
inline constexpr const char* kGetItemPrice =
    "call getItemPrice(?,?)";
inline constexpr const char* kIncreasePrice =
    "UPDATE ITEM    SET I_PRICE = I_PRICE * 1.10  WHERE I_ID = ? ";
inline constexpr const char* kSetInvalidDistrict =
    "UPDATE NEW_ORDER   SET NO_D_ID = 255 WHERE NO_W_ID = ?   AND NO_D_ID = ? ";
inline constexpr const char* kRestoreDistrict =
    "UPDATE NEW_ORDER   SET NO_D_ID = ? WHERE NO_W_ID = ?   AND NO_D_ID = 255 ";
inline constexpr const char* kGetCustomerID =
    "call getCustomerID(?,?,?,?,?,?,?,?,?)";
inline constexpr const char* kGetDistrictID =
    "call getDistrictID(?,?,?,?,?)";
inline constexpr const char* kGetWarehouseID =
    "call getWarehouseID(?,?,?)";
inline constexpr const char* kGetSysDate =
    "call getSysDate(?)";
inline constexpr const char* kGetMinWarehouseID =
    "call getMinWarehouseID(?)";
inline constexpr const char* kGetMaxWarehouseID =
    "call getMaxWarehouseID(?)";
inline constexpr const char* kDropTempW =
    "DROP TABLE IF EXISTS TEMP_W";
inline constexpr const char* kCreateTempW =
    "CREATE TABLE TEMP_W( T_W_ID INTEGER )";
inline constexpr const char* kInsertTempWFormat =
    "INSERT INTO TEMP_W VALUES (%d), \n                          (%d), (%d), (%d), (%d), (%d), \n                          (%d), (%d), (%d), (%d), (%d) \n";
inline constexpr const char* kSelectTempW =
    "SELECT * FROM TEMP_W";
inline constexpr const char* kCondition1 =
    "SELECT D_W_ID \n     , (W_YTD - SUM(D_YTD)) DIFF \n  FROM WAREHOUSE \n     , DISTRICT \n WHERE D_W_ID = W_ID \n GROUP BY D_W_ID \n        , W_YTD \nHAVING (W_YTD - SUM(D_YTD)) != 0 \n";
inline constexpr const char* kCondition2a =
    "SELECT * \n  FROM (SELECT D_W_ID \n             , D_ID \n             , (D_NEXT_O_ID - 1) AS ONEXT \n             , MAX(O_ID) AS OMAX \n          FROM DISTRICT \n             , ORDERS \n         WHERE D_W_ID = O_W_ID \n           AND D_ID = O_D_ID \n           AND D_W_ID IN (SELECT T_W_ID FROM TEMP_W) \n         GROUP BY D_W_ID \n                , D_ID \n                , D_NEXT_O_ID \n       ) DT \n WHERE DT.ONEXT != DT.OMAX \n";
inline constexpr const char* kCondition2b =
    "SELECT * \n  FROM (SELECT D_W_ID \n             , D_ID \n             , (D_NEXT_O_ID - 1) AS ONEXT \n             , MAX(NO_O_ID) AS OMAX \n          FROM DISTRICT \n             , NEW_ORDER \n         WHERE D_W_ID = NO_W_ID \n           AND D_ID = NO_D_ID \n           AND D_W_ID IN (SELECT T_W_ID FROM TEMP_W) \n         GROUP BY D_W_ID \n                , D_ID \n                , D_NEXT_O_ID \n       ) DT \n WHERE DT.ONEXT != DT.OMAX \n";
inline constexpr const char* kCondition3 =
    "SELECT * \n  FROM (SELECT COUNT(*) AS NOCOUNT \n             , (MAX(NO_O_ID) - MIN(NO_O_ID) + 1) AS TOTAL \n          FROM NEW_ORDER \n         GROUP BY NO_W_ID \n                , NO_D_ID \n       ) DT \n WHERE NOCOUNT != TOTAL \n";
inline constexpr const char* kCondition4 =
    "SELECT * \n  FROM (SELECT O_W_ID \n             , O_D_ID \n             , SUM(O_OL_CNT) AS OL_SUM \n          FROM ORDERS \n             , TEMP_W \n         WHERE O_W_ID = T_W_ID \n         GROUP BY O_W_ID \n                , O_D_ID \n       ) CONSIST1, \n       (SELECT OL_W_ID \n             , OL_D_ID \n             , COUNT(*) AS OL_COUNT \n          FROM ORDER_LINE \n             , TEMP_W \n         WHERE OL_W_ID = T_W_ID \n         GROUP BY OL_W_ID \n                , OL_D_ID \n       ) CONSIST2 \n WHERE O_W_ID = OL_W_ID \n   AND O_D_ID = OL_D_ID \n   AND OL_SUM != OL_COUNT \n";
// clang-format on

}  // namespace acidkit_test::texts
