// Rows of the TPC-C initial population as tab-separated text, ready for
// LOAD DATA: columns in schema order, "\N" for NULL, one row per line.
//
// Every (table, warehouse, district) unit draws from its own random stream,
// seeded from the load seed and the unit's ids, so the data depend only on
// the seed: not on how many threads generate it nor in which order.
#pragma once

#include <cstddef>
#include <cstdint>

enum LoadTable : int {
  kItem,
  kWarehouse,
  kDistrict,
  kCustomer,
  kHistory,
  kOrder,
  kNewOrder,
  kOrderLine,
  kStock,
  kTableCount
};

struct TableInfo {
  const char* name;
  int columns;
  int64_t fixedRows;          // rows that do not depend on the warehouses (ITEM)
  int64_t rowsPerWarehouse;   // ORDER_LINE: the mean, the exact count comes from the seed
  int64_t bytesPerWarehouse;  // rough InnoDB footprint, for the disk estimate
};
extern const TableInfo gTables[kTableCount];

constexpr int kItems = 100000;
constexpr int kDistrictsPerWarehouse = 10;
constexpr int kCustomersPerDistrict = 3000;
constexpr int kOrdersPerDistrict = 3000;
constexpr int kFirstNewOrder = 2101;  // orders from here on are undelivered
constexpr int kMaxRowBytes = 1024;    // longer than any generated row

// xoshiro256**: fast, good enough for test data, and cheap to seed per unit.
struct Rng {
  uint64_t s[4];
  void seed(uint64_t loadSeed, int table, int w, int d);
  uint64_t next() {
    const uint64_t result = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
  }
  // Uniform in [lo, hi] (multiply-shift; the bias is far below what matters here).
  int range(int lo, int hi) {
    return lo + static_cast<int>(((next() >> 32) * static_cast<uint64_t>(hi - lo + 1)) >> 32);
  }
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
};

struct LoadParams {
  uint64_t seed;
  int warehouses;
  int cLoad;           // the NURand constant C for C_LAST, drawn from the seed
  char timestamp[20];  // "YYYY-MM-DD HH:MM:SS": C_SINCE, H_DATE, O_ENTRY_D, OL_DELIVERY_D
};
// A seed drawn from the clock and the process id, for loads given none.
uint64_t clockSeed();

void initLoadParams(LoadParams* params, uint64_t seed, int warehouses, const char* timestamp);

// What the ORDERS rows of one district fix for its ORDER_LINE rows.
struct DistrictOrders {
  int16_t cId[kOrdersPerDistrict];  // a permutation of 1..3000
  int8_t carrier[kOrdersPerDistrict];
  int8_t olCnt[kOrdersPerDistrict];
};
void planDistrictOrders(uint64_t seed, int w, int d, DistrictOrders* plan);

// ORDER_LINE rows a load of the given seed and size writes.
int64_t expectedOrderLines(uint64_t seed, int warehouses);

// Writes the last name of customer number n (0..999) to out (at least 16 bytes + NUL).
int lastName(int n, char* out);

// Produces one table's rows for warehouses [wFirst, wLast], a buffer at a time.
class RowWriter {
 public:
  void start(LoadTable table, const LoadParams* params, int wFirst, int wLast);
  // Appends whole rows to buf while a longest row still fits; returns the
  // bytes written, 0 when the table's rows are all out.
  size_t fill(char* buf, size_t cap);
  int64_t rows() const { return mRows; }

 private:
  void beginUnit();
  char* writeRow(char* p);

  LoadTable mTable = kItem;
  const LoadParams* mParams = nullptr;
  int mWLast = 0;
  int mW = 0, mD = 0, mId = 0, mLine = 0;
  bool mDone = true;
  int64_t mRows = 0;
  Rng mRng{};
  DistrictOrders mPlan{};
};
