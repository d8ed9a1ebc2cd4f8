// consist's statements: the texts the program sends (and prints) and the
// adapter's contract test checks, fixed byte for byte: a database under test
// must accept exactly these.
// kInsertTempWFormat is a printf format for the eleven sampled warehouses.
#pragma once

// clang-format off
inline constexpr char kGetSysDate[] = "call getSysDate(?)";
inline constexpr char kGetMinWarehouseID[] = "call getMinWarehouseID(?)";
inline constexpr char kGetMaxWarehouseID[] = "call getMaxWarehouseID(?)";
inline constexpr char kDropTempW[] = "DROP TABLE IF EXISTS TEMP_W";
inline constexpr char kCreateTempW[] = "CREATE TABLE TEMP_W( T_W_ID INTEGER )";
inline constexpr char kInsertTempWFormat[] = "INSERT INTO TEMP_W VALUES (%d), \n                          (%d), (%d), (%d), (%d), (%d), \n                          (%d), (%d), (%d), (%d), (%d) \n";
inline constexpr char kSelectTempW[] = "SELECT * FROM TEMP_W";
// The queries of consistency conditions 1 to 4; each returns the rows that break it.
inline constexpr char kCondition1[] = "SELECT D_W_ID \n     , (W_YTD - SUM(D_YTD)) DIFF \n  FROM WAREHOUSE \n     , DISTRICT \n WHERE D_W_ID = W_ID \n GROUP BY D_W_ID \n        , W_YTD \nHAVING (W_YTD - SUM(D_YTD)) != 0 \n";
inline constexpr char kCondition2Orders[] = "SELECT * \n  FROM (SELECT D_W_ID \n             , D_ID \n             , (D_NEXT_O_ID - 1) AS ONEXT \n             , MAX(O_ID) AS OMAX \n          FROM DISTRICT \n             , ORDERS \n         WHERE D_W_ID = O_W_ID \n           AND D_ID = O_D_ID \n           AND D_W_ID IN (SELECT T_W_ID FROM TEMP_W) \n         GROUP BY D_W_ID \n                , D_ID \n                , D_NEXT_O_ID \n       ) DT \n WHERE DT.ONEXT != DT.OMAX \n";
inline constexpr char kCondition2NewOrders[] = "SELECT * \n  FROM (SELECT D_W_ID \n             , D_ID \n             , (D_NEXT_O_ID - 1) AS ONEXT \n             , MAX(NO_O_ID) AS OMAX \n          FROM DISTRICT \n             , NEW_ORDER \n         WHERE D_W_ID = NO_W_ID \n           AND D_ID = NO_D_ID \n           AND D_W_ID IN (SELECT T_W_ID FROM TEMP_W) \n         GROUP BY D_W_ID \n                , D_ID \n                , D_NEXT_O_ID \n       ) DT \n WHERE DT.ONEXT != DT.OMAX \n";
inline constexpr char kCondition3[] = "SELECT * \n  FROM (SELECT COUNT(*) AS NOCOUNT \n             , (MAX(NO_O_ID) - MIN(NO_O_ID) + 1) AS TOTAL \n          FROM NEW_ORDER \n         GROUP BY NO_W_ID \n                , NO_D_ID \n       ) DT \n WHERE NOCOUNT != TOTAL \n";
inline constexpr char kCondition4[] = "SELECT * \n  FROM (SELECT O_W_ID \n             , O_D_ID \n             , SUM(O_OL_CNT) AS OL_SUM \n          FROM ORDERS \n             , TEMP_W \n         WHERE O_W_ID = T_W_ID \n         GROUP BY O_W_ID \n                , O_D_ID \n       ) CONSIST1, \n       (SELECT OL_W_ID \n             , OL_D_ID \n             , COUNT(*) AS OL_COUNT \n          FROM ORDER_LINE \n             , TEMP_W \n         WHERE OL_W_ID = T_W_ID \n         GROUP BY OL_W_ID \n                , OL_D_ID \n       ) CONSIST2 \n WHERE O_W_ID = OL_W_ID \n   AND O_D_ID = OL_D_ID \n   AND OL_SUM != OL_COUNT \n";
// clang-format on
