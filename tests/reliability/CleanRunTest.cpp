// Every program, and the crash test's run and verify, run normally against a
// database of its own, twice: built with AddressSanitizer and UBSan, and
// under valgrind memcheck. Each run must reach its passing verdict with exit
// status 0, with no finding of either checker, and with every ODBC handle
// released and none used after release.
#include <gtest/gtest.h>

#include <iostream>

#include "Reliability.h"

using namespace acidkit_test;

namespace {

std::string passedLine(const std::string& program) {
  if (program == "atom") return "All atomicity tests passed";
  if (program == "consist") return "All consistency tests passed";
  return "Isolation test " + program.substr(9) + " passed";
}

struct Case {
  std::string program;
  Checker checker;
};

class CleanRun : public testing::TestWithParam<Case> {};

TEST_P(CleanRun, PassesWithoutFindingsOrHeldHandles) {
  const Case& c = GetParam();
  CheckedDatabase db;
  ASSERT_TRUE(db.create(std::string("clean_") + c.program + "_" + checkerName(c.checker)));
  CheckedRun run = db.run(c.program, c.checker);
  std::cout << c.program << " (" << checkerName(c.checker) << "): " << run.seconds << " s, "
            << run.ledger.text << "\n";
  std::string what = c.program + " " + checkerName(c.checker);
  EXPECT_EQ(run.status, 0) << what << "\n" << run.output;
  EXPECT_NE(findLine(run.out, passedLine(c.program)), -1) << what << "\n" << run.output;
  expectNoHandlesHeld(run, what);
}

std::vector<Case> allCases() {
  std::vector<Case> cases;
  for (Checker checker : {Checker::kSanitized, Checker::kValgrind}) {
    for (const std::string& program : allPrograms()) cases.push_back({program, checker});
  }
  return cases;
}

// The crash test's two commands, without a crash: a short stream of its
// threads, then the verification of its journal.
class CleanDurability : public testing::TestWithParam<Checker> {};

TEST_P(CleanDurability, RunAndVerifyWithoutFindingsOrHeldHandles) {
  const Checker checker = GetParam();
  CheckedDatabase db;
  ASSERT_TRUE(db.create(std::string("clean_durability_") + checkerName(checker)));
  const std::string journal =
      testing::TempDir() + "clean-durability-" + checkerName(checker) + ".journal";
  std::remove(journal.c_str());
  const std::string stream = "run --seconds 3 --connections 4 --journal " + journal;
  const std::string verify = "verify --journal " + journal;
  for (const std::string& arguments : {stream, verify}) {
    RunOptions options;
    options.arguments = arguments;
    CheckedRun run = db.run("durability", checker, 300, options);
    const std::string what = "durability " + arguments + " (" + checkerName(checker) + ")";
    std::cout << what << ": " << run.seconds << " s, " << run.ledger.text << "\n";
    EXPECT_EQ(run.status, 0) << what << "\n" << run.output;
    expectNoHandlesHeld(run, what);
    if (arguments == verify) {
      EXPECT_NE(findLine(run.out, "Durability test passed"), -1) << run.output;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Durability, CleanDurability,
                         testing::Values(Checker::kSanitized, Checker::kValgrind),
                         [](const testing::TestParamInfo<Checker>& info) {
                           return std::string(checkerName(info.param));
                         });

INSTANTIATE_TEST_SUITE_P(Programs, CleanRun, testing::ValuesIn(allCases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           return info.param.program + "_" + checkerName(info.param.checker);
                         });

}  // namespace
