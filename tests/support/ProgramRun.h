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

// One run of a program of the kit, as every test reads it.
struct ProgramRun {
  int status = -1;                   // exit status, or 128 + signal
  std::string output;                // standard output and error
  std::vector<std::string> out;      // its lines
  long long w = -1, d = -1, c = -1;  // the drawn ids, as printed ("W_ID : %d", ...); -1: none
  double seconds = 0;                // wall time
};

// Fills out, and the ids, from output.
void readOutput(ProgramRun* run);

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
