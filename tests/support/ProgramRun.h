// One run of an isolation program end to end: its output, its drawn ids and
// its wall time, with the checks every such test makes.
#pragma once

#include <string>
#include <vector>

#include "TestDb.h"

namespace acidkit_test {

// A thread stamps its start line only once it runs, which on a busy machine
// can be a little after the main thread started it (more so when CI runs
// valgrind beside it on two cores).
inline constexpr double kThreadStartSlack = 2.0;

struct ProgramRun {
  RunResult result;
  std::vector<std::string> out;
  long long w = -1, d = -1, c = -1;  // the drawn ids, as printed
  double seconds = 0;                // wall time
};

// Runs the program on the database, checks exit status 0 and the id lines
// that open its output ("W_ID : %d", "D_ID : %d", "C_ID : %d", ""), and prints
// its wall time.
void runIsolation(TestDatabase& db, const std::string& program, ProgramRun* run);

// The times of the events, whose timestamped lines must come in this order.
std::vector<double> schedule(const std::vector<std::string>& out,
                             const std::vector<std::string>& events);

// The last lines of the output are exactly the report.
void expectReport(const ProgramRun& run, const std::vector<std::string>& report);

}  // namespace acidkit_test
