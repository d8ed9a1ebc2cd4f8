// Isolation tests 1 and 2: Order-Status transactions around a New-Order for
// the same customer. T1's New-Order holds its order open for 30 s before it
// ends; T2's Order-Status starts 10 s after T1 and must not see the order
// before T1 ends. T3 (and in test 2 T0, before everything) read the settled
// state on the main thread.
// The gOrderStatusByIdArg globals keep their fixed names; the rest is the
// kit's own.
#pragma once

#include <array>
#include <cstdint>

#include "IsolationFrame.h"
#include "OrderStatus.h"

extern OrderStatusByIdArg gOrderStatusByIdArg0;  // test 2 only
extern OrderStatusByIdArg gOrderStatusByIdArg2;
extern OrderStatusByIdArg gOrderStatusByIdArg3;

// Draws and prints the ids, sets up the environment, runs T0 when asked, T1
// with the given items and T2, joins both and runs T3; T1's record is
// gNewOrderArg1. 0 when the report can follow; otherwise the failure has
// been printed and the environment released: exit with 1.
namespace acidkit {

extern TransactionRun gNewOrderRun;     // T1
extern TransactionRun gOrderStatusRun;  // T2

int runOrderStatusAroundNewOrder(bool withT0, const std::array<int32_t, 5>& itemsT1);

// Last names, order numbers and line counts of all transactions, each block
// opened by T0's line when there is a T0.
void printOrderStatusReport(bool withT0);

}  // namespace acidkit
