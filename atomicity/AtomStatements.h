// atom's reads of the customer, district and warehouse rows: the texts the
// program sends and the adapter's contract test checks, fixed byte for byte:
// a database under test must accept exactly these.
#pragma once

// clang-format off
inline constexpr char kGetCustomerID[] = "call getCustomerID(?,?,?,?,?,?,?,?,?)";
inline constexpr char kGetDistrictID[] = "call getDistrictID(?,?,?,?,?)";
inline constexpr char kGetWarehouseID[] = "call getWarehouseID(?,?,?)";
// clang-format on
