// The query of each consistency condition: standard SQL that any database
// honouring the kit's schema runs, returning the keys that break the
// condition (columns W_ID, D_ID, then C_ID or O_ID) and then the values that
// disagree, in key order. {A} and {B} stand for the first and the last
// warehouse of the range checked.
#pragma once

namespace acidkit {

struct ConditionQuery {
  int number;
  const char* rule;
  const char* scope;
  const char* unit;  // what a key is: "warehouse", "district", "customer", "order"
  int keyColumns;
  // One query for the whole range rather than one per slice: conditions 8
  // and 9 read little but HISTORY, which has no index by warehouse, so every
  // slice would scan all of it. Condition 10 reads HISTORY too, but its
  // per-customer sums of lines grow too large for memory over a whole
  // database: it scans HISTORY once per slice instead.
  bool wholeRange;
  const char* sql;
};

// The initial population delivered orders 1 to 2100 of each district; a
// carrier on any later order means a Delivery has run since the load.
inline constexpr char kDeliveredSinceLoad[] =
    "SELECT O_W_ID, O_D_ID, O_ID FROM ORDERS"
    " WHERE O_W_ID BETWEEN {A} AND {B} AND O_ID > 2100 AND O_CARRIER_ID IS NOT NULL";

inline constexpr char kWarehouseRange[] = "SELECT MIN(W_ID), MAX(W_ID) FROM WAREHOUSE";
inline constexpr char kWarehousesInRange[] =
    "SELECT COUNT(*) FROM WAREHOUSE WHERE W_ID BETWEEN {A} AND {B}";

// Conditions 10 and 12: each customer's delivered amount as L.DELIVERED_AMOUNT
// (none for a customer without a delivered line).
#define ACIDKIT_JOIN_DELIVERED_AMOUNT                                             \
  " LEFT JOIN (SELECT O_W_ID, O_D_ID, O_C_ID, SUM(OL_AMOUNT) AS DELIVERED_AMOUNT" \
  " FROM ORDERS"                                                                  \
  " JOIN ORDER_LINE ON OL_W_ID = O_W_ID AND OL_D_ID = O_D_ID AND OL_O_ID = O_ID"  \
  " WHERE O_W_ID BETWEEN {A} AND {B} AND OL_DELIVERY_D IS NOT NULL"               \
  " GROUP BY O_W_ID, O_D_ID, O_C_ID) L"                                           \
  " ON L.O_W_ID = C_W_ID AND L.O_D_ID = C_D_ID AND L.O_C_ID = C_ID"

inline constexpr ConditionQuery kConditionQueries[] = {
    {1, "W_YTD = sum(D_YTD)", "per warehouse", "warehouse", 1, false,
     "SELECT W_ID, W_YTD, D.SUM_D_YTD"
     " FROM WAREHOUSE"
     " LEFT JOIN (SELECT D_W_ID, SUM(D_YTD) AS SUM_D_YTD FROM DISTRICT"
     " WHERE D_W_ID BETWEEN {A} AND {B} GROUP BY D_W_ID) D ON D.D_W_ID = W_ID"
     " WHERE W_ID BETWEEN {A} AND {B}"
     " AND (D.SUM_D_YTD IS NULL OR W_YTD <> D.SUM_D_YTD)"
     " ORDER BY W_ID"},
    // A district whose new orders have all been delivered has no max(NO_O_ID)
    // to compare: only the orders' side is held to D_NEXT_O_ID there.
    {2, "D_NEXT_O_ID - 1 = max(O_ID) = max(NO_O_ID)", "per district", "district", 2, false,
     "SELECT D_W_ID AS W_ID, D_ID, D_NEXT_O_ID, O.MAX_O_ID, N.MAX_NO_O_ID"
     " FROM DISTRICT"
     " LEFT JOIN (SELECT O_W_ID, O_D_ID, MAX(O_ID) AS MAX_O_ID FROM ORDERS"
     " WHERE O_W_ID BETWEEN {A} AND {B} GROUP BY O_W_ID, O_D_ID) O"
     " ON O.O_W_ID = D_W_ID AND O.O_D_ID = D_ID"
     " LEFT JOIN (SELECT NO_W_ID, NO_D_ID, MAX(NO_O_ID) AS MAX_NO_O_ID FROM NEW_ORDER"
     " WHERE NO_W_ID BETWEEN {A} AND {B} GROUP BY NO_W_ID, NO_D_ID) N"
     " ON N.NO_W_ID = D_W_ID AND N.NO_D_ID = D_ID"
     " WHERE D_W_ID BETWEEN {A} AND {B}"
     " AND (O.MAX_O_ID IS NULL OR D_NEXT_O_ID - 1 <> O.MAX_O_ID"
     " OR N.MAX_NO_O_ID <> D_NEXT_O_ID - 1)"
     " ORDER BY D_W_ID, D_ID"},
    {3, "max(NO_O_ID) - min(NO_O_ID) + 1 = number of NEW_ORDER rows", "per district", "district", 2,
     false,
     "SELECT NO_W_ID AS W_ID, NO_D_ID AS D_ID, COUNT(*) AS NEW_ORDER_ROWS,"
     " MIN(NO_O_ID) AS MIN_NO_O_ID, MAX(NO_O_ID) AS MAX_NO_O_ID"
     " FROM NEW_ORDER"
     " WHERE NO_W_ID BETWEEN {A} AND {B}"
     " GROUP BY NO_W_ID, NO_D_ID"
     " HAVING COUNT(*) <> MAX(NO_O_ID) - MIN(NO_O_ID) + 1"
     " ORDER BY NO_W_ID, NO_D_ID"},
    {4, "sum(O_OL_CNT) = number of ORDER_LINE rows", "per district", "district", 2, false,
     "SELECT D_W_ID AS W_ID, D_ID, COALESCE(O.SUM_O_OL_CNT, 0) AS SUM_O_OL_CNT,"
     " COALESCE(L.ORDER_LINE_ROWS, 0) AS ORDER_LINE_ROWS"
     " FROM DISTRICT"
     " LEFT JOIN (SELECT O_W_ID, O_D_ID, SUM(O_OL_CNT) AS SUM_O_OL_CNT FROM ORDERS"
     " WHERE O_W_ID BETWEEN {A} AND {B} GROUP BY O_W_ID, O_D_ID) O"
     " ON O.O_W_ID = D_W_ID AND O.O_D_ID = D_ID"
     " LEFT JOIN (SELECT OL_W_ID, OL_D_ID, COUNT(*) AS ORDER_LINE_ROWS FROM ORDER_LINE"
     " WHERE OL_W_ID BETWEEN {A} AND {B} GROUP BY OL_W_ID, OL_D_ID) L"
     " ON L.OL_W_ID = D_W_ID AND L.OL_D_ID = D_ID"
     " WHERE D_W_ID BETWEEN {A} AND {B}"
     " AND COALESCE(O.SUM_O_OL_CNT, 0) <> COALESCE(L.ORDER_LINE_ROWS, 0)"
     " ORDER BY D_W_ID, D_ID"},
    // Both ways: an undelivered order without its NEW_ORDER row or a delivered
    // one with it, and a NEW_ORDER row without its order.
    {5, "O_CARRIER_ID is null exactly when the order has a NEW_ORDER row", "per order", "order", 3,
     false,
     "SELECT O_W_ID AS W_ID, O_D_ID AS D_ID, O_ID, O_CARRIER_ID,"
     " CASE WHEN NO_O_ID IS NULL THEN 'missing' ELSE 'present' END AS NEW_ORDER_ROW,"
     " 'present' AS ORDER_ROW"
     " FROM ORDERS"
     " LEFT JOIN NEW_ORDER ON NO_W_ID = O_W_ID AND NO_D_ID = O_D_ID AND NO_O_ID = O_ID"
     " WHERE O_W_ID BETWEEN {A} AND {B}"
     " AND ((O_CARRIER_ID IS NULL AND NO_O_ID IS NULL)"
     " OR (O_CARRIER_ID IS NOT NULL AND NO_O_ID IS NOT NULL))"
     " UNION ALL "
     "SELECT NO_W_ID, NO_D_ID, NO_O_ID, CAST(NULL AS INTEGER), 'present', 'missing'"
     " FROM NEW_ORDER"
     " LEFT JOIN ORDERS ON O_W_ID = NO_W_ID AND O_D_ID = NO_D_ID AND O_ID = NO_O_ID"
     " WHERE NO_W_ID BETWEEN {A} AND {B} AND O_ID IS NULL"
     " ORDER BY 1, 2, 3"},
    {6, "O_OL_CNT = number of ORDER_LINE rows of the order", "per order", "order", 3, false,
     "SELECT O_W_ID AS W_ID, O_D_ID AS D_ID, O_ID, MAX(O_OL_CNT) AS O_OL_CNT,"
     " COUNT(OL_O_ID) AS ORDER_LINE_ROWS"
     " FROM ORDERS"
     " LEFT JOIN ORDER_LINE ON OL_W_ID = O_W_ID AND OL_D_ID = O_D_ID AND OL_O_ID = O_ID"
     " WHERE O_W_ID BETWEEN {A} AND {B}"
     " GROUP BY O_W_ID, O_D_ID, O_ID"
     " HAVING MAX(O_OL_CNT) <> COUNT(OL_O_ID)"
     " ORDER BY O_W_ID, O_D_ID, O_ID"},
    // Told per order: its carrier and how many of its lines have a delivery
    // date and how many have none.
    {7, "OL_DELIVERY_D is null exactly when the order's O_CARRIER_ID is null", "per order", "order",
     3, false,
     "SELECT O_W_ID AS W_ID, O_D_ID AS D_ID, O_ID, MAX(O_CARRIER_ID) AS O_CARRIER_ID,"
     " COUNT(OL_DELIVERY_D) AS LINES_DELIVERED,"
     " COUNT(OL_O_ID) - COUNT(OL_DELIVERY_D) AS LINES_NOT_DELIVERED"
     " FROM ORDERS"
     " JOIN ORDER_LINE ON OL_W_ID = O_W_ID AND OL_D_ID = O_D_ID AND OL_O_ID = O_ID"
     " WHERE O_W_ID BETWEEN {A} AND {B}"
     " GROUP BY O_W_ID, O_D_ID, O_ID"
     " HAVING (MAX(O_CARRIER_ID) IS NULL AND COUNT(OL_DELIVERY_D) > 0)"
     " OR (MAX(O_CARRIER_ID) IS NOT NULL AND COUNT(OL_DELIVERY_D) < COUNT(OL_O_ID))"
     " ORDER BY O_W_ID, O_D_ID, O_ID"},
    {8, "W_YTD = sum(H_AMOUNT) of the warehouse's HISTORY rows (H_W_ID)", "per warehouse",
     "warehouse", 1, true,
     "SELECT W_ID, W_YTD, COALESCE(H.SUM_H_AMOUNT, 0) AS SUM_H_AMOUNT"
     " FROM WAREHOUSE"
     " LEFT JOIN (SELECT H_W_ID, SUM(H_AMOUNT) AS SUM_H_AMOUNT FROM HISTORY"
     " WHERE H_W_ID BETWEEN {A} AND {B} GROUP BY H_W_ID) H ON H.H_W_ID = W_ID"
     " WHERE W_ID BETWEEN {A} AND {B} AND W_YTD <> COALESCE(H.SUM_H_AMOUNT, 0)"
     " ORDER BY W_ID"},
    {9, "D_YTD = sum(H_AMOUNT) of the district's HISTORY rows (H_W_ID, H_D_ID)", "per district",
     "district", 2, true,
     "SELECT D_W_ID AS W_ID, D_ID, D_YTD, COALESCE(H.SUM_H_AMOUNT, 0) AS SUM_H_AMOUNT"
     " FROM DISTRICT"
     " LEFT JOIN (SELECT H_W_ID, H_D_ID, SUM(H_AMOUNT) AS SUM_H_AMOUNT FROM HISTORY"
     " WHERE H_W_ID BETWEEN {A} AND {B} GROUP BY H_W_ID, H_D_ID) H"
     " ON H.H_W_ID = D_W_ID AND H.H_D_ID = D_ID"
     " WHERE D_W_ID BETWEEN {A} AND {B} AND D_YTD <> COALESCE(H.SUM_H_AMOUNT, 0)"
     " ORDER BY D_W_ID, D_ID"},
    {10,
     "C_BALANCE = sum(OL_AMOUNT) of the customer's delivered lines - sum(H_AMOUNT) of the "
     "customer's HISTORY rows",
     "per customer", "customer", 3, false,
     "SELECT C_W_ID AS W_ID, C_D_ID AS D_ID, C_ID, C_BALANCE,"
     " COALESCE(L.DELIVERED_AMOUNT, 0) AS DELIVERED_AMOUNT,"
     " COALESCE(H.SUM_H_AMOUNT, 0) AS SUM_H_AMOUNT"
     " FROM CUSTOMER" ACIDKIT_JOIN_DELIVERED_AMOUNT
     " LEFT JOIN (SELECT H_C_W_ID, H_C_D_ID, H_C_ID, SUM(H_AMOUNT) AS SUM_H_AMOUNT FROM HISTORY"
     " WHERE H_C_W_ID BETWEEN {A} AND {B} GROUP BY H_C_W_ID, H_C_D_ID, H_C_ID) H"
     " ON H.H_C_W_ID = C_W_ID AND H.H_C_D_ID = C_D_ID AND H.H_C_ID = C_ID"
     " WHERE C_W_ID BETWEEN {A} AND {B}"
     " AND C_BALANCE <> COALESCE(L.DELIVERED_AMOUNT, 0) - COALESCE(H.SUM_H_AMOUNT, 0)"
     " ORDER BY C_W_ID, C_D_ID, C_ID"},
    {11, "number of ORDERS rows - number of NEW_ORDER rows = 2100", "per district", "district", 2,
     false,
     "SELECT D_W_ID AS W_ID, D_ID, COALESCE(O.ORDERS_ROWS, 0) AS ORDERS_ROWS,"
     " COALESCE(N.NEW_ORDER_ROWS, 0) AS NEW_ORDER_ROWS"
     " FROM DISTRICT"
     " LEFT JOIN (SELECT O_W_ID, O_D_ID, COUNT(*) AS ORDERS_ROWS FROM ORDERS"
     " WHERE O_W_ID BETWEEN {A} AND {B} GROUP BY O_W_ID, O_D_ID) O"
     " ON O.O_W_ID = D_W_ID AND O.O_D_ID = D_ID"
     " LEFT JOIN (SELECT NO_W_ID, NO_D_ID, COUNT(*) AS NEW_ORDER_ROWS FROM NEW_ORDER"
     " WHERE NO_W_ID BETWEEN {A} AND {B} GROUP BY NO_W_ID, NO_D_ID) N"
     " ON N.NO_W_ID = D_W_ID AND N.NO_D_ID = D_ID"
     " WHERE D_W_ID BETWEEN {A} AND {B}"
     " AND COALESCE(O.ORDERS_ROWS, 0) - COALESCE(N.NEW_ORDER_ROWS, 0) <> 2100"
     " ORDER BY D_W_ID, D_ID"},
    {12, "C_BALANCE + C_YTD_PAYMENT = sum(OL_AMOUNT) of the customer's delivered lines",
     "per customer", "customer", 3, false,
     "SELECT C_W_ID AS W_ID, C_D_ID AS D_ID, C_ID, C_BALANCE, C_YTD_PAYMENT,"
     " COALESCE(L.DELIVERED_AMOUNT, 0) AS DELIVERED_AMOUNT"
     " FROM CUSTOMER" ACIDKIT_JOIN_DELIVERED_AMOUNT " WHERE C_W_ID BETWEEN {A} AND {B}"
     " AND C_BALANCE + C_YTD_PAYMENT <> COALESCE(L.DELIVERED_AMOUNT, 0)"
     " ORDER BY C_W_ID, C_D_ID, C_ID"},
};

#undef ACIDKIT_JOIN_DELIVERED_AMOUNT

}  // namespace acidkit
