// T1's Delivery record in isolation tests 5, 6 and 8: the drawn warehouse,
// carrier 5, and the drawn district as the district of interest.
#pragma once

#include <cstdio>

#include "Delivery.h"
#include "IsolationFrame.h"

namespace acidkit {

inline void fillDeliveryArg(DeliveryArg* arg) {
  snprintf(arg->label, sizeof arg->label, "T1");
  arg->W_ID = gW_ID;
  arg->O_CARRIER_ID = 5;
  arg->selectedD_ID = gD_ID;
}

}  // namespace acidkit
