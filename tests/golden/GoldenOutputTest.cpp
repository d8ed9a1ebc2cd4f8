// Every program's whole output, run with a fixed seed on freshly loaded
// databases of fixed data, against the capture in this folder: the text a
// program prints must not change unless its capture changes with it. Times
// and dates are masked; the lines of concurrent threads that may come in
// either order are compared as a set. ACIDKIT_GOLDEN_UPDATE=1 rewrites the
// captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "TestDb.h"

using namespace acidkit_test;

namespace {

constexpr char kSeed[] = "20261210";
constexpr char kLoadSeed[] = "7";

// Timestamps of printWithTime and dates the database returns become fixed
// text; each run of consecutive timestamped lines is sorted, since two
// threads may print them in either order.
std::string masked(const std::string& output) {
  static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}\] )");
  static const std::regex date(R"(\d{4}-\d{2}-\d{2}( \d{2}:\d{2}:\d{2})?)");
  std::vector<std::string> out;
  std::vector<std::string> block;
  auto flush = [&] {
    std::sort(block.begin(), block.end());
    out.insert(out.end(), block.begin(), block.end());
    block.clear();
  };
  for (const std::string& line : lines(output)) {
    if (std::regex_search(line, stamp)) {
      block.push_back("[time] " + std::regex_replace(line, stamp, ""));
      continue;
    }
    flush();
    out.push_back(std::regex_replace(line, date, "<date>"));
  }
  flush();
  std::string text;
  for (const std::string& line : out) text += line + "\n";
  return text;
}

class GoldenOutput : public testing::TestWithParam<std::string> {};

TEST_P(GoldenOutput, SameAsTheCapture) {
  if (kWarehouses != 2) GTEST_SKIP() << "the captures are of a build for 2 warehouses";
  const std::string program = GetParam();
  std::string name = "golden_" + program;
  TestDatabase db;
  ASSERT_TRUE(refdb("drop-db acidkit_" + name));
  ASSERT_TRUE(refdb("load 2 --db acidkit_" + name + " --replace --seed " + kLoadSeed));
  ASSERT_TRUE(db.use(name));
  RunResult r = db.runProgram(
      program, "",
      "LD_PRELOAD=" + std::string(ACIDKIT_FIXED_SEED_LIBRARY) + " ACIDKIT_FIXED_SEED=" + kSeed);
  EXPECT_EQ(r.status, 0) << r.output;
  const std::string file = std::string(ACIDKIT_GOLDEN_DIR) + "/" + program + ".out";
  const std::string actual = masked(r.output);
  if (const char* update = getenv("ACIDKIT_GOLDEN_UPDATE"); update && std::string(update) == "1") {
    std::ofstream(file) << actual;
  }
  EXPECT_EQ(actual, readFile(file)) << program << ": the output differs from " << file;
  refdb("drop-db acidkit_" + name);
}

INSTANTIATE_TEST_SUITE_P(Programs, GoldenOutput,
                         testing::Values("atom", "consist", "isolation1", "isolation2",
                                         "isolation3", "isolation4", "isolation5", "isolation6",
                                         "isolation7", "isolation8", "isolation9"),
                         [](const auto& info) { return info.param; });

}  // namespace
