// durability run and verify against a database of their own, without a
// crash: one real stream's journal, then the database or the journal changed
// the way a crash would change them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "OutputLines.h"
#include "TestDb.h"

using namespace acidkit_test;

namespace {

class DurabilityVerify : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = new TestDatabase;
    if (!db_->load("durability_verify", kWarehouses)) return;
    journal_ = testing::TempDir() + "durability-verify.journal";
    std::remove(journal_.c_str());
    RunResult r = db_->runProgram(
        "durability", "run --seconds 3 --connections 4 --journal " + journal_ + " 2>&1");
    streamOutput_ = r.output;
    streamStatus_ = r.status;
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(streamStatus_, 0) << streamOutput_; }

  static std::vector<std::string> journalLines() { return lines(readFile(journal_)); }

  // Writes a journal of these lines and verifies it.
  static RunResult verify(const std::vector<std::string>& journal, const std::string& name) {
    std::string path = testing::TempDir() + name;
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : journal) out << line << "\n";
    out.close();
    return db_->runProgram("durability", "verify --journal " + path + " 2>&1");
  }

  static TestDatabase* db_;
  static std::string journal_;
  static std::string streamOutput_;
  static int streamStatus_;
};

TestDatabase* DurabilityVerify::db_ = nullptr;
std::string DurabilityVerify::journal_;
std::string DurabilityVerify::streamOutput_;
int DurabilityVerify::streamStatus_ = -1;

int lastOrderLine(const std::vector<std::string>& journal) {
  for (int i = static_cast<int>(journal.size()) - 1; i >= 0; --i) {
    if (journal[i].rfind("NO ", 0) == 0) return i;
  }
  return -1;
}

// The cases run in this order on one database: the last deletes an order.
TEST_F(DurabilityVerify, AStreamWithoutACrashPasses) {
  EXPECT_NE(streamOutput_.find("In flight when the connections broke: 0"), std::string::npos)
      << streamOutput_;
  RunResult r = db_->runProgram("durability", "verify --journal " + journal_ + " 2>&1");
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<std::string> out = lines(r.output);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), acidkit::kDurabilityTestPassed) << r.output;
  EXPECT_EQ(r.output.find("Missing: "), std::string::npos) << r.output;
}

// An order whose commit was in flight: not in the journal, but in the
// database. That is allowed, and counted.
TEST_F(DurabilityVerify, AnInFlightOrderThatCommittedIsAllowed) {
  std::vector<std::string> journal = journalLines();
  int order = lastOrderLine(journal);
  ASSERT_GE(order, 0);
  ASSERT_EQ(journal.back().rfind("end new_order_in_flight=0 ", 0), 0u) << journal.back();
  journal.erase(journal.begin() + order);
  journal.back().replace(0, std::string("end new_order_in_flight=0").size(),
                         "end new_order_in_flight=1");
  RunResult r = verify(journal, "in-flight.journal");
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<std::string> out = lines(r.output);
  EXPECT_EQ(out.back(), acidkit::kDurabilityTestPassed) << r.output;
  // New-Order: acknowledged, found, missing 0, in flight 1, committed 1.
  bool row = false;
  for (const std::string& line : out) {
    if (line.rfind("New-Order ", 0) == 0) {
      row = true;
      EXPECT_NE(line.find(" 0          1                    1"), std::string::npos) << line;
    }
  }
  EXPECT_TRUE(row) << r.output;

  // Without the in-flight count the same database holds one order too many.
  journal.back().replace(0, std::string("end new_order_in_flight=1").size(),
                         "end new_order_in_flight=0");
  r = verify(journal, "unaccounted.journal");
  EXPECT_EQ(lines(r.output).back(), acidkit::kDurabilityTestFailed) << r.output;
  EXPECT_NE(r.output.find("Reason: the database holds "), std::string::npos) << r.output;
}

TEST_F(DurabilityVerify, AJournalWithNoCommitProvesNothing) {
  std::vector<std::string> journal = journalLines();
  std::vector<std::string> empty = {journal[0], journal[1],
                                    "end new_order_in_flight=0 "
                                    "payment_in_flight=0 seconds=1.00"};
  RunResult r = verify(empty, "empty.journal");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(lines(r.output).back(), acidkit::kDurabilityTestFailed) << r.output;
  EXPECT_NE(r.output.find("Reason: the journal holds no acknowledged commit"), std::string::npos)
      << r.output;
}

TEST_F(DurabilityVerify, AnUnreadableJournalGetsNoVerdictAndIsNeverOverwritten) {
  RunResult r = db_->runProgram("durability", "verify --journal /nonexistent/journal 2>&1");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cannot open the journal"), std::string::npos) << r.output;
  r = verify({"NO 1 1 1 1 5"}, "garbage.journal");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("line 1: not a durability journal"), std::string::npos) << r.output;
  // A journal that exists already is never overwritten by a new run.
  r = db_->runProgram("durability", "run --seconds 1 --journal " + journal_ + " 2>&1");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("verify it, or move it away"), std::string::npos) << r.output;
}

TEST_F(DurabilityVerify, AnAcknowledgedOrderDeletedIsReportedMissing) {
  std::vector<std::string> journal = journalLines();
  int order = lastOrderLine(journal);
  ASSERT_GE(order, 0);
  int w, d, o, c, n;
  ASSERT_EQ(sscanf(journal[order].c_str(), "NO %d %d %d %d %d", &w, &d, &o, &c, &n), 5);
  const std::string where = std::to_string(w) + " AND %s_D_ID = " + std::to_string(d) +
                            " AND %s_O_ID = " + std::to_string(o);
  auto of = [&](const char* prefix) {
    char text[200];
    snprintf(text, sizeof text, ("%s_W_ID = " + where).c_str(), prefix, prefix, prefix);
    return std::string(text);
  };
  ASSERT_TRUE(db_->admin(
      "DELETE FROM ORDER_LINE WHERE " + of("OL") + ";" + "DELETE FROM NEW_ORDER WHERE " + of("NO") +
      ";" + "DELETE FROM ORDERS WHERE " + std::string("O_W_ID = ") + std::to_string(w) +
      " AND O_D_ID = " + std::to_string(d) + " AND O_ID = " + std::to_string(o) + ";"));
  RunResult r = db_->runProgram("durability", "verify --journal " + journal_ + " 2>&1");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(lines(r.output).back(), acidkit::kDurabilityTestFailed) << r.output;
  const std::string missing = "Missing: New-Order W_ID=" + std::to_string(w) +
                              " D_ID=" + std::to_string(d) + " O_ID=" + std::to_string(o) +
                              " C_ID=" + std::to_string(c) + ": not in ORDERS";
  EXPECT_NE(r.output.find(missing), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Reason: 1 of "), std::string::npos) << r.output;
}

}  // namespace
