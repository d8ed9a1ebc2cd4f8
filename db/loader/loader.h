// Pieces of acidkit-load shared between its sources.
#pragma once

#include <atomic>
#include <cstdint>

#include "check.h"
#include "generate.h"
#include "session.h"

struct LoaderOptions {
  int warehouses = 0;
  const char* database = nullptr;
  uint64_t seed = 0;
  bool seedGiven = false;
  bool replace = false;
  int threads = 0;
  bool checkOnly = false;
  bool rowByRow = false;
};
extern LoaderOptions gOptions;

// Per-table progress, written by the loading threads and read by the progress line.
struct TableProgress {
  std::atomic<int64_t> rows{0};
  int64_t expected = 0;
  std::atomic<int> state{0};  // 0 waiting, 1 loading, 2 done
  double started = 0;         // seconds since the load began
  double busy = 0;            // seconds that statements spent on it, summed over threads
};
extern TableProgress gProgress[kTableCount];

// Seconds on a monotonic clock.
double nowSeconds();

// Streams every table into database: parallel LOAD DATA LOCAL, or one prepared
// INSERT per row (rowByRow, the baseline that the benchmark compares against).
int loadTables(const LoadParams* params, const char* database, bool rowByRow);
