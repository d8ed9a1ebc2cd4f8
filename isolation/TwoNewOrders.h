// Isolation tests 3 and 4: two New-Orders for one district. T1 holds the
// district for 30 s before it ends; T2 starts 10 s after T1 and must wait.
// The g-globals but gNewOrderRun1/2 keep their fixed names; the rest is the
// kit's own.
#pragma once

#include <array>
#include <cstdint>

#include "IsolationFrame.h"
#include "NewOrder.h"

extern NewOrderArg gNewOrderArg2;
extern int32_t gD_NEXT_O_ID1;  // before the threads start
extern int32_t gD_NEXT_O_ID2;  // after both ended

// Draws and prints the ids, reads the next order number, runs T1 (pause of
// 30 s before its end) and T2 with the given items, joins both and reads the
// next order number again. 0 when the report can follow; otherwise the
// failure has been printed and the environment released: exit with 1.
namespace acidkit {

extern TransactionRun gNewOrderRun1;
extern TransactionRun gNewOrderRun2;

int runTwoNewOrders(const std::array<int32_t, 5>& itemsT1, const std::array<int32_t, 5>& itemsT2);

class Verdict;
// What both tests require besides T2's order number: the district's next
// order number right after T2's, and T2 having waited for T1, whose change
// of the district row it overwrote.
void requireT2AfterT1(Verdict* verdict);

}  // namespace acidkit
