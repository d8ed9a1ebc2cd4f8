// atom's reads of the customer, district and warehouse rows: the texts the
// program sends and the adapter's contract test checks, from the
// specification, byte for byte.
#pragma once

// clang-format off
inline constexpr char kGetCustomerID[] = "call getCustomerID(?,?,?,?,?,?,?,?,?)";
inline constexpr char kGetDistrictID[] = "call getDistrictID(?,?,?,?,?)";
inline constexpr char kGetWarehouseID[] = "call getWarehouseID(?,?,?)";
// clang-format on
