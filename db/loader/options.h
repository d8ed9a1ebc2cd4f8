// The command line the two loaders share (acidkit-load, acidkit-load-pg),
// read with getopt_long: the same options, checks and messages in both.
#pragma once

#include <cstdint>
#include <string>

// Warehouses either loader loads at most.
inline constexpr int kMaxLoadWarehouses = 10000;

// The options only acidkit-load has.
struct LoaderExtras {
  bool socket = false;     // --socket PATH
  bool checkOnly = false;  // --check-only (then --warehouses is optional)
  bool rowByRow = false;   // --row-by-row
};

struct LoadCommandLine {
  int warehouses = 0;  // 0 with --check-only and no --warehouses
  std::string database;
  std::string socket;  // given with --socket; empty otherwise
  std::string host;
  int port = 0;  // 0: not given
  std::string user;
  std::string password;
  bool userGiven = false;
  bool passwordGiven = false;
  uint64_t seed = 0;
  bool seedGiven = false;
  bool replace = false;
  int threads = 0;  // 0: one per core
  bool checkOnly = false;
  bool rowByRow = false;
};

enum class LoadCommand { kLoad, kHelp, kError };

// Reads argv into *line. kError comes with the message to print after
// "<program>: " in *error.
LoadCommand parseLoadCommandLine(int argc, char** argv, const LoaderExtras& extras,
                                 LoadCommandLine* line, std::string* error);
