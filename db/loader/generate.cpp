#include "generate.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

// bytesPerWarehouse: InnoDB data + index size measured after loads of this generator.
const TableInfo gTables[kTableCount] = {
    {"ITEM", 5, kItems, 0, 0},
    {"WAREHOUSE", 9, 0, 1, 0},
    {"DISTRICT", 11, 0, kDistrictsPerWarehouse, 0},
    {"CUSTOMER", 21, 0, kDistrictsPerWarehouse* kCustomersPerDistrict, 22 << 20},
    {"HISTORY", 8, 0, kDistrictsPerWarehouse* kCustomersPerDistrict, 3 << 20},
    {"ORDERS", 8, 0, kDistrictsPerWarehouse* kOrdersPerDistrict, 3 << 20},
    {"NEW_ORDER", 3, 0, kDistrictsPerWarehouse*(kOrdersPerDistrict - kFirstNewOrder + 1), 1 << 19},
    {"ORDER_LINE", 10, 0, kDistrictsPerWarehouse* kOrdersPerDistrict * 10, 30 << 20},
    {"STOCK", 17, 0, kItems, 36 << 20},
};

namespace {

uint64_t splitmix64(uint64_t* state) {
  uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

const char kAlnum[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const char kSyllables[10][6] = {"BAR", "OUGHT", "ABLE",  "PRI",   "PRES",
                                "ESE", "ANTI",  "CALLY", "ATION", "EING"};
constexpr char kMarker[] = "original";
constexpr int kMarkerLen = sizeof(kMarker) - 1;
constexpr int kNurandSeedTable = 100;  // stream id for the run-wide constants

char* putStr(char* p, const char* s, size_t n) {
  std::memcpy(p, s, n);
  return p + n;
}
template <size_t N>
char* putLit(char* p, const char (&s)[N]) {
  return putStr(p, s, N - 1);
}
char* putUInt(char* p, uint32_t v) {
  char tmp[10];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = tmp[--n];
  return p;
}
char* tab(char* p) {
  *p = '\t';
  return p + 1;
}
char* putIntTab(char* p, uint32_t v) {
  return tab(putUInt(p, v));
}

// Money as a whole number of cents.
char* putCents(char* p, uint32_t cents) {
  p = putUInt(p, cents / 100);
  *p++ = '.';
  *p++ = static_cast<char>('0' + cents / 10 % 10);
  *p++ = static_cast<char>('0' + cents % 10);
  return p;
}
// DECIMAL(4,4) from a whole number of ten-thousandths (0..9999).
char* putFraction4(char* p, uint32_t v) {
  *p++ = '0';
  *p++ = '.';
  for (uint32_t div = 1000; div > 0; div /= 10) *p++ = static_cast<char>('0' + v / div % 10);
  return p;
}

// Random alphanumeric text, two characters per draw.
char* putAlnum(char* p, Rng& rng, int len) {
  for (int i = 0; i < len; i += 2) {
    const uint64_t r = rng.next();
    p[i] = kAlnum[((r & 0xffffffffu) * 62) >> 32];
    if (i + 1 < len) p[i + 1] = kAlnum[((r >> 32) * 62) >> 32];
  }
  return p + len;
}
char* putAlnum(char* p, Rng& rng, int lo, int hi) {
  return putAlnum(p, rng, rng.range(lo, hi));
}
char* putDigits(char* p, Rng& rng, int len) {
  for (int i = 0; i < len; ++i) p[i] = static_cast<char>('0' + rng.range(0, 9));
  return p + len;
}
char* putLetters(char* p, Rng& rng, int len) {
  for (int i = 0; i < len; ++i) p[i] = static_cast<char>('A' + rng.range(0, 25));
  return p + len;
}

// I_DATA / S_DATA: 26..50 characters, one row in ten holding the marker word.
char* putBrandData(char* p, Rng& rng) {
  const int len = rng.range(26, 50);
  putAlnum(p, rng, len);
  if (rng.range(1, 10) == 1) std::memcpy(p + rng.range(0, len - kMarkerLen), kMarker, kMarkerLen);
  return p + len;
}

// Street 1, street 2, city, state, zip: the address block of WAREHOUSE, DISTRICT, CUSTOMER.
char* putAddress(char* p, Rng& rng) {
  p = tab(putAlnum(p, rng, 10, 20));
  p = tab(putAlnum(p, rng, 10, 20));
  p = tab(putAlnum(p, rng, 10, 20));
  p = tab(putLetters(p, rng, 2));
  p = putDigits(p, rng, 4);
  return tab(putLit(p, "11111"));
}

char* putTimestamp(char* p, const LoadParams* params) {
  return putStr(p, params->timestamp, 19);
}

}  // namespace

void Rng::seed(uint64_t loadSeed, int table, int w, int d) {
  uint64_t key = (static_cast<uint64_t>(table) << 48) ^ (static_cast<uint64_t>(w) << 16) ^
                 static_cast<uint64_t>(d);
  uint64_t state = loadSeed ^ splitmix64(&key);
  for (uint64_t& word : s) word = splitmix64(&state);
}

uint64_t clockSeed() {
  const uint64_t t =
      static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  return (t ^ (static_cast<uint64_t>(getpid()) << 32)) % 1000000000000ULL;
}

void initLoadParams(LoadParams* params, uint64_t seed, int warehouses, const char* timestamp) {
  params->seed = seed;
  params->warehouses = warehouses;
  Rng rng;
  rng.seed(seed, kNurandSeedTable, 0, 0);
  params->cLoad = rng.range(0, 255);
  std::snprintf(params->timestamp, sizeof params->timestamp, "%s", timestamp);
}

int lastName(int n, char* out) {
  int len = 0;
  for (int div = 100; div > 0; div /= 10) {
    const char* syl = kSyllables[n / div % 10];
    const size_t sylLen = std::strlen(syl);
    std::memcpy(out + len, syl, sylLen);
    len += static_cast<int>(sylLen);
  }
  out[len] = '\0';
  return len;
}

void planDistrictOrders(uint64_t seed, int w, int d, DistrictOrders* plan) {
  Rng rng;
  rng.seed(seed, kOrder, w, d);
  for (int i = 0; i < kOrdersPerDistrict; ++i) plan->cId[i] = static_cast<int16_t>(i + 1);
  for (int i = kOrdersPerDistrict - 1; i > 0; --i) {
    const int j = rng.range(0, i);
    const int16_t t = plan->cId[i];
    plan->cId[i] = plan->cId[j];
    plan->cId[j] = t;
  }
  for (int i = 0; i < kOrdersPerDistrict; ++i) {
    plan->carrier[i] = static_cast<int8_t>(i + 1 < kFirstNewOrder ? rng.range(1, 10) : 0);
    plan->olCnt[i] = static_cast<int8_t>(rng.range(5, 15));
  }
}

int64_t expectedOrderLines(uint64_t seed, int warehouses) {
  DistrictOrders plan;
  int64_t total = 0;
  for (int w = 1; w <= warehouses; ++w) {
    for (int d = 1; d <= kDistrictsPerWarehouse; ++d) {
      planDistrictOrders(seed, w, d, &plan);
      for (int i = 0; i < kOrdersPerDistrict; ++i) total += plan.olCnt[i];
    }
  }
  return total;
}

void RowWriter::start(LoadTable table, const LoadParams* params, int wFirst, int wLast) {
  mTable = table;
  mParams = params;
  mW = table == kItem ? 0 : wFirst;
  mWLast = table == kItem ? 0 : wLast;
  mD = 1;
  mRows = 0;
  mDone = mW > mWLast;
  if (!mDone) beginUnit();
}

// A unit is one warehouse (STOCK, WAREHOUSE), one district (the rest) or the whole ITEM table.
void RowWriter::beginUnit() {
  const bool perDistrict = mTable != kItem && mTable != kWarehouse && mTable != kStock;
  mRng.seed(mParams->seed, mTable, mW, perDistrict ? mD : 0);
  mId = mTable == kNewOrder ? kFirstNewOrder : 1;
  mLine = 1;
  if (mTable == kOrder || mTable == kOrderLine) planDistrictOrders(mParams->seed, mW, mD, &mPlan);
}

size_t RowWriter::fill(char* buf, size_t cap) {
  char* p = buf;
  while (!mDone && static_cast<size_t>(p - buf) + kMaxRowBytes <= cap) {
    p = writeRow(p);
    ++mRows;
    // Advance to the next row: within the unit, else the next unit.
    int unitEnd;
    switch (mTable) {
      case kItem:
      case kStock:
        unitEnd = kItems;
        break;
      case kWarehouse:
      case kDistrict:
        unitEnd = 1;
        break;
      case kOrderLine:
        if (++mLine <= mPlan.olCnt[mId - 1]) continue;
        mLine = 1;
        unitEnd = kOrdersPerDistrict;
        break;
      default:
        unitEnd =
            kCustomersPerDistrict;  // == kOrdersPerDistrict: CUSTOMER, HISTORY, ORDERS, NEW_ORDER
        break;
    }
    if (++mId <= unitEnd) continue;
    const bool perWarehouse = mTable == kItem || mTable == kWarehouse || mTable == kStock;
    if (!perWarehouse && ++mD <= kDistrictsPerWarehouse) {
      beginUnit();
      continue;
    }
    mD = 1;
    if (++mW > mWLast) {
      mDone = true;
      break;
    }
    beginUnit();
  }
  return static_cast<size_t>(p - buf);
}

char* RowWriter::writeRow(char* p) {
  Rng& rng = mRng;
  const uint32_t w = static_cast<uint32_t>(mW), d = static_cast<uint32_t>(mD),
                 id = static_cast<uint32_t>(mId);
  switch (mTable) {
    case kItem:
      p = putIntTab(p, id);
      p = putIntTab(p, static_cast<uint32_t>(rng.range(1, 10000)));
      p = tab(putAlnum(p, rng, 14, 24));
      p = tab(putCents(p, static_cast<uint32_t>(rng.range(100, 10000))));
      p = putBrandData(p, rng);
      break;
    case kWarehouse:
      p = putIntTab(p, w);
      p = tab(putAlnum(p, rng, 6, 10));
      p = putAddress(p, rng);
      p = tab(putFraction4(p, static_cast<uint32_t>(rng.range(0, 2000))));
      p = putLit(p, "300000.00");
      break;
    case kDistrict:
      p = putIntTab(p, d);
      p = putIntTab(p, w);
      p = tab(putAlnum(p, rng, 6, 10));
      p = putAddress(p, rng);
      p = tab(putFraction4(p, static_cast<uint32_t>(rng.range(0, 2000))));
      p = putLit(p, "30000.00\t3001");
      break;
    case kCustomer: {
      p = putIntTab(p, id);
      p = putIntTab(p, d);
      p = putIntTab(p, w);
      p = tab(putAlnum(p, rng, 8, 16));
      p = putLit(p, "OE\t");
      const int n = id <= 1000 ? static_cast<int>(id) - 1
                               : ((rng.range(0, 255) | rng.range(0, 999)) + mParams->cLoad) % 1000;
      p = tab(p + lastName(n, p));
      p = putAddress(p, rng);
      p = tab(putDigits(p, rng, 16));
      p = tab(putTimestamp(p, mParams));
      p = putLit(p, rng.range(1, 10) == 1 ? "BC\t50000.00\t" : "GC\t50000.00\t");
      p = tab(putFraction4(p, static_cast<uint32_t>(rng.range(0, 5000))));
      p = putLit(p, "-10.00\t10.00\t1\t0\t");
      p = putAlnum(p, rng, 300, 500);
      break;
    }
    case kHistory:
      p = putIntTab(p, id);
      p = putIntTab(p, d);
      p = putIntTab(p, w);
      p = putIntTab(p, d);
      p = putIntTab(p, w);
      p = tab(putTimestamp(p, mParams));
      p = putLit(p, "10.00\t");
      p = putAlnum(p, rng, 12, 24);
      break;
    case kOrder: {
      const int i = mId - 1;
      p = putIntTab(p, id);
      p = putIntTab(p, d);
      p = putIntTab(p, w);
      p = putIntTab(p, static_cast<uint32_t>(mPlan.cId[i]));
      p = tab(putTimestamp(p, mParams));
      p = mPlan.carrier[i] != 0 ? putIntTab(p, static_cast<uint32_t>(mPlan.carrier[i]))
                                : putLit(p, "\\N\t");
      p = putIntTab(p, static_cast<uint32_t>(mPlan.olCnt[i]));
      *p++ = '1';
      break;
    }
    case kNewOrder:
      p = putIntTab(p, id);
      p = putIntTab(p, d);
      p = putUInt(p, w);
      break;
    case kOrderLine: {
      const bool delivered = mId < kFirstNewOrder;
      p = putIntTab(p, id);
      p = putIntTab(p, d);
      p = putIntTab(p, w);
      p = putIntTab(p, static_cast<uint32_t>(mLine));
      p = putIntTab(p, static_cast<uint32_t>(rng.range(1, kItems)));
      p = putIntTab(p, w);
      p = delivered ? tab(putTimestamp(p, mParams)) : putLit(p, "\\N\t");
      p = putLit(p, "5\t");
      p = tab(delivered ? putLit(p, "0.00")
                        : putCents(p, static_cast<uint32_t>(rng.range(1, 999999))));
      p = putAlnum(p, rng, 24);
      break;
    }
    case kStock:
      p = putIntTab(p, id);
      p = putIntTab(p, w);
      p = putIntTab(p, static_cast<uint32_t>(rng.range(10, 100)));
      for (int i = 0; i < kDistrictsPerWarehouse; ++i) p = tab(putAlnum(p, rng, 24));
      p = putLit(p, "0\t0\t0\t");
      p = putBrandData(p, rng);
      break;
    case kTableCount:
      break;
  }
  *p++ = '\n';
  return p;
}
