// `acidkit run`: the whole suite, one program after the other.
#pragma once

#include <string>
#include <vector>

namespace acidkit {

struct SuiteOptions {
  std::string binDir;             // where the programs are
  std::string resultsDir;         // a folder per run is made in it
  std::string intoDir;            // else: this very folder holds the run's files
  std::vector<std::string> only;  // labels to run; empty: all
  double timeoutFactor = 0;
  std::string commandLine;   // for the report
  int durabilityCycles = 0;  // crash cycles after the suite; 0: none
  std::string refdb;         // the reference database's script, for them
};

// Runs the suite and writes its results; the exit status of `acidkit run`:
// 0 all passed, 1 something did not pass or was not written, 130 stopped
// on request.
int runSuite(const SuiteOptions& options);

}  // namespace acidkit
