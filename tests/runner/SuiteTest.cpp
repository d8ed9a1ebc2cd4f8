// `acidkit run` end to end: all eleven programs against a database of their
// own on the reference server, with their real sleeps and pauses (about five
// minutes).
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestDb.h"
#include "XmlCheck.h"

using namespace acidkit_test;

namespace {

const char* const kPrograms[] = {"consist",    "atom",       "isolation1", "isolation2",
                                 "isolation3", "isolation4", "isolation5", "isolation6",
                                 "isolation7", "isolation8", "isolation9"};

}  // namespace

TEST(AcidkitRun, WholeSuitePassesOnTheReferenceDatabase) {
  // Every program must be built: a suite with a missing program does not pass.
  for (const char* p : kPrograms) {
    ASSERT_TRUE(std::filesystem::exists(programPath(p))) << p << " is not built yet";
  }
  TestDatabase db;
  ASSERT_TRUE(db.load("e2e_runner", kWarehouses));
  std::string results = std::string(ACIDKIT_BINARY_DIR) + "/tests/runner/results";
  std::filesystem::remove_all(results);

  RunResult r = run(std::string(ACIDKIT_RUNNER) + " run --results " + results);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("All 12 programs passed."), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("of mandated schedules: overhead"), std::string::npos);
  EXPECT_EQ(r.output.find("WARNING"), std::string::npos) << r.output;

  std::vector<std::string> folders;
  for (const auto& e : std::filesystem::directory_iterator(results)) {
    folders.push_back(e.path().string());
  }
  ASSERT_EQ(folders.size(), 1u);
  const std::string& folder = folders[0];
  EXPECT_NE(r.output.find("Report: " + folder + "/report.md"), std::string::npos) << r.output;

  std::string md = readFile(folder + "/report.md");
  EXPECT_NE(md.find("**All 12 programs passed.**"), std::string::npos) << md;
  EXPECT_NE(md.find("| Database | MariaDB"), std::string::npos) << md;
  EXPECT_NE(md.find("1 to " + std::to_string(kWarehouses)), std::string::npos);
  for (const char* p : kPrograms) {
    EXPECT_FALSE(readFile(folder + "/" + std::string(p) + ".log").empty()) << p;
  }
  EXPECT_NE(readFile(folder + "/consist-after.log").find("All consistency tests passed"),
            std::string::npos);
  // All twelve conditions after the suite: isolation5 and isolation6 have
  // delivered, so condition 11 no longer applies; the others hold.
  EXPECT_NE(md.find("## Consistency conditions"), std::string::npos) << md;
  nlohmann::json report = nlohmann::json::parse(readFile(folder + "/report.json"), nullptr, false);
  ASSERT_FALSE(report.is_discarded());
  const nlohmann::json& consistency = report["consistency"];
  EXPECT_EQ(consistency["completed"], true) << consistency.dump(2);
  ASSERT_EQ(consistency["conditions"].size(), 12u) << consistency.dump(2);
  for (const nlohmann::json& c : consistency["conditions"]) {
    EXPECT_EQ(c["status"], c["number"] == 11 ? "not-applicable" : "holds") << c.dump(2);
  }
  for (int n = 1; n <= 9; ++n) {
    std::string name = "isolation" + std::to_string(n) + ".svg";
    std::string svg = readFile(folder + "/" + name);
    ASSERT_FALSE(svg.empty()) << name;
    EXPECT_EQ(xmlProblem(svg), "") << name;
    EXPECT_NE(md.find("](" + name + ")"), std::string::npos) << name;
    // Each picture has the first transaction's lane with its marks.
    EXPECT_NE(svg.find(">T1</text>"), std::string::npos) << name;
    EXPECT_NE(svg.find("T1("), std::string::npos) << name;
  }
}
