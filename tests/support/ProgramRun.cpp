#include "ProgramRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

namespace acidkit_test {

void readOutput(ProgramRun* run) {
  run->out = lines(run->output);
  run->w = valueAfter(run->out, "W_ID : ");
  run->d = valueAfter(run->out, "D_ID : ");
  run->c = valueAfter(run->out, "C_ID : ");
}

void runIsolation(TestDatabase& db, const std::string& program, ProgramRun* run) {
  auto start = std::chrono::steady_clock::now();
  RunResult r = db.runProgram(program);
  run->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run->status = r.status;
  run->output = r.output;
  readOutput(run);
  std::cout << program << " wall time: " << run->seconds << " s\n";
  ASSERT_EQ(run->status, 0) << run->output;
  const auto& out = run->out;
  ASSERT_GE(out.size(), 4u) << run->output;
  EXPECT_EQ(out[0], "W_ID : " + std::to_string(run->w));
  EXPECT_EQ(out[1], "D_ID : " + std::to_string(run->d));
  EXPECT_EQ(out[2], "C_ID : " + std::to_string(run->c));
  EXPECT_EQ(out[3], "");
  ASSERT_TRUE(run->w >= 1 && run->w <= kWarehouses) << run->w;
  ASSERT_TRUE(run->d >= 1 && run->d <= 10) << run->d;
  ASSERT_TRUE(run->c >= 1 && run->c <= 3000) << run->c;
}

std::vector<double> schedule(const std::vector<std::string>& out,
                             const std::vector<std::string>& events) {
  std::vector<double> at;
  int from = 0;
  for (const std::string& event : events) {
    int i = findLine(out, event, from);
    EXPECT_GE(i, 0) << "missing or out of order: " << event;
    if (i < 0) break;
    EXPECT_TRUE(isTimestampedLine(out[i], event)) << out[i];
    at.push_back(timestampOf(out[i]));
    from = i + 1;
  }
  return at;
}

void expectReport(const ProgramRun& run, const std::vector<std::string>& report) {
  const auto& out = run.out;
  ASSERT_GE(out.size(), report.size()) << run.output;
  size_t first = out.size() - report.size();
  for (size_t i = 0; i < report.size(); ++i) {
    EXPECT_EQ(out[first + i], report[i]) << "line " << first + i + 1;
  }
}

}  // namespace acidkit_test
