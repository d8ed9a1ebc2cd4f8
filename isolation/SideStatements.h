// The isolation programs' own statements outside the transactions: reads and
// updates on short connections of their own. The texts the programs send and
// the adapter's contract test checks, fixed byte for byte: a database under
// test must accept exactly these.
#pragma once

// clang-format off
// isolation3 and isolation4
inline constexpr char kGetNextDistrictOrderID[] = "call getNextDistrictOrderID(?,?,?)";
// isolation5 and isolation6
inline constexpr char kGetOrderCustomerIDByNO[] = "call getOrderCustomerIDByNO(?,?,?)";
inline constexpr char kGetCustBalance[] = "call getCustBalance(?,?,?,?)";
// isolation7: T1 and T4, then T3
inline constexpr char kGetItemPrice[] = "call getItemPrice(?,?)";
inline constexpr char kIncreasePrice[] = "UPDATE ITEM    SET I_PRICE = I_PRICE * 1.10  WHERE I_ID = ? ";
// isolation8: the district's rows to district 255 and back
inline constexpr char kSetInvalidDistrict[] = "UPDATE NEW_ORDER   SET NO_D_ID = 255 WHERE NO_W_ID = ?   AND NO_D_ID = ? ";
inline constexpr char kRestoreDistrict[] = "UPDATE NEW_ORDER   SET NO_D_ID = ? WHERE NO_W_ID = ?   AND NO_D_ID = 255 ";
// clang-format on
