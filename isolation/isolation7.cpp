// TPC-C isolation test 7: T2's New-Order reads the price of item x, pauses
// 30 s inside its transaction and then reads y and x again; 20 s after T2
// started, T3 raises both prices by 10 per cent. The order must use the
// prices that T1 read before, on all three lines.
#include <cstdio>
#include <cstdlib>

#include "IsolationFrame.h"
#include "ItemDraw.h"
#include "SideStatements.h"
#include "Verdict.h"

using namespace acidkit;

int32_t gItemX;
int32_t gItemY;
NewOrderArg gNewOrderArg;

namespace {

TransactionRun gNewOrderRun;
// T3 is no transaction of the library; its start, end and result are kept
// alike so that the verdict can tell when it ran.
TransactionRun gIncreasePriceRun;

void drawItems() {
  int drawX = rand();  // two calls, x first
  int drawY = rand();
  ItemPair items = itemsFromDraws(drawX, drawY);
  gItemX = items.x;
  gItemY = items.y;
}

// Prepares `text` once with the item number as parameter 1 (and, when prices
// are wanted, the price as output parameter 2) and executes it for x, then
// for y. 0 or 1; a failure has run the connection's failure exit.
int executeForBothItems(SideConnection& c, const char* text, double* priceX, double* priceY) {
  int32_t item = 0;
  double price = 0;
  SQLHSTMT s = c.stmt();
  if (c.check(SQLPrepare(s, (SQLCHAR*)text, SQL_NTS)) != 0 ||
      c.check(SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &item, 0,
                               nullptr)) != 0) {
    return 1;
  }
  if (priceX != nullptr && c.check(SQLBindParameter(s, 2, SQL_PARAM_OUTPUT, SQL_C_DOUBLE,
                                                    SQL_NUMERIC, 5, 2, &price, 0, nullptr)) != 0) {
    return 1;
  }
  item = gItemX;
  if (c.check(SQLExecute(s)) != 0) return 1;
  if (priceX != nullptr) *priceX = price;
  item = gItemY;
  if (c.check(SQLExecute(s)) != 0) return 1;
  if (priceY != nullptr) *priceY = price;
  return 0;
}

// T1 and T4: the committed prices of x and y. On failure the price of x may
// have been stored already.
int getI_PRICE(double* priceX, double* priceY) {
  SideConnection c;
  if (c.open() != 0 || executeForBothItems(c, kGetItemPrice, priceX, priceY) != 0) {
    return 1;
  }
  return c.close();
}

int queryPrices(const char* label, double* priceX, double* priceY) {
  char line[64];
  snprintf(line, sizeof line, "%s(Query I_PRICE from items x and y) start", label);
  printWithTime(line);
  if (getI_PRICE(priceX, priceY) != 0) {
    puts(kPriceError);
    return 1;
  }
  snprintf(line, sizeof line, "%s(Query I_PRICE from items x and y) end", label);
  printWithTime(line);
  return 0;
}

void* NewOrder_T2(void*) {
  NewOrderArg& a = gNewOrderArg;
  snprintf(a.label, sizeof a.label, "T2");
  a.W_ID = gW_ID;
  a.D_ID = gD_ID;
  a.C_ID = gC_ID;
  // The fourth line stays zero: item 0 does not exist, so the order rolls
  // back after reading the prices of its first three lines.
  a.O_OL_CNT = 4;
  a.O_ALL_LOCAL = 1;
  const int32_t items[] = {gItemX, gItemY, gItemX};
  for (int k = 1; k <= 3; ++k) {
    a.orderLines[k - 1].OL_SUPPLY_W_ID = gW_ID;
    a.orderLines[k - 1].OL_I_ID = items[k - 1];
    a.orderLines[k - 1].OL_QUANTITY = k;
  }
  gNewOrderRun = traced("T2(New-Order)", kNewOrderError,
                        [] { return NewOrder(&gNewOrderArg, kPauseSeconds, 0); });
  return nullptr;
}

void* IncreasePrice_T3(void*) {
  printWithTime("T3(Increase the price of items) start");
  gIncreasePriceRun.started = monotonicSeconds();
  SideConnection c;
  if (c.open() != 0 || executeForBothItems(c, kIncreasePrice, nullptr, nullptr) != 0 ||
      c.commit() != 0 || c.close() != 0) {
    puts(kIncreasePriceError);
    return nullptr;
  }
  gIncreasePriceRun.result = 0;
  gIncreasePriceRun.ended = monotonicSeconds();
  printWithTime("T3(Increase the price of items) end");
  return nullptr;
}

void printPrice(int32_t item, double price) {
  printf("[%5d] : %.2lf\n", item, price);
}

}  // namespace

int main() {
  drawIds();
  printIds();
  if (setUpEnvironment() != 0) return exitPath();
  drawItems();

  double oldX = 0, oldY = 0, newX = 0, newY = 0;
  if (queryPrices("T1", &oldX, &oldY) != 0) return exitPath();
  pthread_t t2, t3;
  if (startThread(&t2, NewOrder_T2) != 0) return exitPath();
  sleepSeconds(kLateThreadDelay);
  if (startThread(&t3, IncreasePrice_T3) != 0) return exitPath();
  joinThread(t2);
  joinThread(t3);
  if (queryPrices("T4", &newX, &newY) != 0) return exitPath();

  const NewOrderLine* ordered = gNewOrderArg.orderLines;
  printf("\nOld prices\n");
  printPrice(gItemX, oldX);
  printPrice(gItemY, oldY);
  printf("\nPrices included in order:\n");
  printPrice(gItemX, ordered[0].I_PRICE);
  printPrice(gItemY, ordered[1].I_PRICE);
  printPrice(gItemX, ordered[2].I_PRICE);
  printf("\nNew prices\n");
  printPrice(gItemX, newX);
  printPrice(gItemY, newY);

  bool pricesMatch =
      ordered[0].I_PRICE == oldX && ordered[1].I_PRICE == oldY && ordered[2].I_PRICE == oldX;
  if (!pricesMatch) puts(kPriceMismatch);

  // T2 must have rolled back at its empty fourth line as planned, and T3 must
  // have raised the prices while T2 paused: without either, nothing was tested.
  Verdict verdict;
  verdict.ranToItsEnd(gNewOrderRun, "T2(New-Order)");
  verdict.require(!gNewOrderRun.succeeded() || gNewOrderArg.rollbackFlag,
                  "T2(New-Order) did not roll back at its empty fourth line");
  verdict.require(gIncreasePriceRun.succeeded(),
                  "T3(Increase the price of items) failed, so the prices never changed");
  const int32_t items[] = {gItemX, gItemY, gItemX};
  const double oldPrices[] = {oldX, oldY, oldX};
  for (int k = 0; k < 3; ++k) {
    verdict.require(ordered[k].I_PRICE == oldPrices[k],
                    "line %d of T2's order has price %.2f for item %d; T1 read %.2f before T2 "
                    "started",
                    k + 1, ordered[k].I_PRICE, items[k], oldPrices[k]);
  }
  verdict.overlapped(gIncreasePriceRun, "T3", gNewOrderRun, "T2");
  verdict.noteRetries(gNewOrderRun, "T2(New-Order)");
  return finish(7, verdict);
}
