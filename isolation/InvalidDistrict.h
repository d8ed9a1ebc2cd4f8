// Parking a district's NEW_ORDER rows in district 255, which no TPC-C
// district has, so that the district looks empty to a Delivery; and the way
// back. Used by isolation8 and by repair-new-order, which moves the rows
// back after a run that could not (killed, power loss). setInvalidDistrictID
// and resotreDistrictID keep their fixed names (spelling included); the
// rest is the kit's own.
#pragma once

#include <cstdint>

// Moves every NEW_ORDER row of gW_ID, gD_ID to district 255 (autocommit
// connection of its own); 0 or 1.
int setInvalidDistrictID();
// Moves every NEW_ORDER row of gW_ID, district 255, back to gD_ID; 0 or 1.
int resotreDistrictID();

namespace acidkit {

inline constexpr int32_t kInvalidDistrict = 255;

// NEW_ORDER rows of gW_ID in district 255, or -1 on failure (printed).
int32_t countInvalidDistrictRows();
// Rows of gW_ID in district 255 that cannot belong to district d: an order
// of that number already waits there, or the district has no such order.
// -1 on failure (printed).
int32_t countMisfits(int32_t d);

}  // namespace acidkit
