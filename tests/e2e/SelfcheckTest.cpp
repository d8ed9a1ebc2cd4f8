// acidkit selfcheck end to end on the reference server: the whole suite
// against the control and against every database that db/refdb breaks on
// purpose, side by side; every cell of the matrix must be what
// db/selfcheck.tsv expects (every expected "failed" with its reason), and
// every program must pass on the control.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "TestDb.h"

using namespace acidkit_test;

namespace {

TEST(Selfcheck, EveryCellOfTheMatrixIsAsExpected) {
  const std::string results = std::string(ACIDKIT_BINARY_DIR) + "/tests/selfcheck";
  std::filesystem::remove_all(results);
  RunResult r = run("ACIDKIT_BUILD=" + std::string(ACIDKIT_BINARY_DIR) + " " +
                    programPath("acidkit") + " selfcheck --results " + results);
  std::cout << r.output;
  EXPECT_EQ(r.status, 0) << r.output;

  std::filesystem::path folder;
  for (const auto& e : std::filesystem::directory_iterator(results)) folder = e.path();
  nlohmann::json matrix =
      nlohmann::json::parse(readFile((folder / "matrix.json").string()), nullptr, false);
  ASSERT_FALSE(matrix.is_discarded()) << folder;
  // The control and five breakages, twelve programs each.
  EXPECT_EQ(matrix["cells"], 72);
  size_t failed = 0;
  for (const nlohmann::json& cell : matrix["matrix"]) {
    EXPECT_TRUE(cell["matches"].get<bool>()) << cell.dump();
    if (cell["observed"] == "failed") {
      ++failed;
      EXPECT_FALSE(cell["reasons"].empty()) << cell.dump();
    }
  }
  EXPECT_GT(failed, 0u);
}

}  // namespace
