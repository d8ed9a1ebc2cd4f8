// A thread that cannot be created. Each isolation program of the sanitizer
// build runs as an unprivileged user of its own (no passwd entry needed) under
// a process limit (RLIMIT_NPROC, which does not bind root) that lets it start
// only so many threads: first its first transaction thread fails, then a
// later one while an earlier transaction is paused inside the database. The
// program must print "\ncan't create thread :[...]" with the system's text,
// exit with status 1, and never call ODBC with a handle it released (the
// handle ledger watches every call); the database keeps nothing of it.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#include "Reliability.h"

using namespace acidkit_test;

namespace {

struct Case {
  std::string program;
  int threadsBefore;  // threads the program starts before its first transaction thread
};

class ThreadLimit : public testing::TestWithParam<Case> {};

TEST_P(ThreadLimit, NoThreadNoHandleUsedAfterReleaseExitStatusOne) {
  const Case& c = GetParam();
  CheckedDatabase db;
  ASSERT_TRUE(db.create("threads_" + c.program));
  const auto before = db.checksums();
  // A user of this case alone, so that tests running side by side do not
  // count against each other's limit.
  const int uid = 61000 + std::stoi(c.program.substr(9));
  const std::string message = std::string("can't create thread :[") + strerror(EAGAIN) + "]";

  for (int started : {0, 1}) {
    const std::string what =
        c.program + (started == 0 ? ", first transaction thread" : ", a later transaction thread");
    SCOPED_TRACE(what);
    // Tasks allowed: the main thread, the program's own threads and the
    // transaction threads that may start.
    const int limit = 1 + c.threadsBefore + started;
    RunOptions options;
    options.wrapper = "setpriv --reuid=" + std::to_string(uid) + " --regid=" + std::to_string(uid) +
                      " --clear-groups bash -c 'ulimit -u " + std::to_string(limit) +
                      " && exec \"$0\"'";
    // LeakSanitizer needs a thread of its own at exit, which the limit denies;
    // and a transaction thread may still run when the program exits.
    options.detectLeaks = false;
    CheckedRun run = db.run(c.program, Checker::kSanitized, 120, options);
    std::cout << what << ": exit " << run.status << ", " << run.seconds << " s, " << run.ledger.text
              << "\n";
    EXPECT_EQ(run.status, 1) << run.output;
    ASSERT_GE(run.out.size(), 2u) << run.output;
    if (started == 1 && c.program == "isolation8") {
      // It waits for T1 to move the parked rows back: T1's end line comes
      // after the message, on a line of its own.
      expectLinesInOrder(run, {"", message, "T1(Delivery) end"}, what);
      EXPECT_TRUE(isTimestampedLine(run.out.back(), "T1(Delivery) end")) << run.output;
    } else {
      // The message ends the output, without a line break of its own.
      EXPECT_EQ(run.out[run.out.size() - 2], "") << run.output;
      EXPECT_EQ(run.out.back(), message) << run.output;
      EXPECT_NE(run.output.back(), '\n') << run.output;
    }
    EXPECT_EQ(run.output.find("Isolation test"), std::string::npos) << run.output;
    expectClean(run, what);
    if (started == 0 || c.program == "isolation8") {
      // Nothing runs any more (isolation8 waits for T1 to move its rows
      // back): everything is released.
      expectNoHandlesHeld(run, what);
    } else {
      // The paused transaction still runs on gEnv: the environment and its
      // connection are left to the end of the process, never freed under it.
      EXPECT_EQ(run.ledger.count("env"), 1) << run.ledger.text;
      EXPECT_EQ(run.ledger.count("connected"), 1) << run.ledger.text;
    }
    EXPECT_EQ(db.checksums(), before) << what << ": the database changed";
  }
}

std::vector<Case> cases() {
  std::vector<Case> all;
  for (const std::string& program : pausingPrograms()) {
    // isolation8 first starts a thread that brings parked rows back on a
    // signal.
    all.push_back({program, program == "isolation8" ? 1 : 0});
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Programs, ThreadLimit, testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.program; });

}  // namespace
