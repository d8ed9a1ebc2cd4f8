// `acidkit selfcheck`: the negative controls. The suite against databases
// broken on purpose, side by side, and the verdicts compared with what the
// kit must find.
#pragma once

#include <string>
#include <vector>

namespace acidkit {

// One cell of the expected matrix: what `program` (a suite label) must
// report against a database broken as `breakage` says, and why.
struct Expectation {
  std::string breakage;
  std::string program;
  std::string verdict;  // "passed" or "failed"
  std::string why;
};

// Reads the expected matrix: tab-separated lines breakage, program,
// verdict, why; '#' starts a comment line. Every breakage must name each
// program of the suite once. On error, *error says which line and why.
bool parseExpectations(const std::string& text, std::vector<Expectation>* into, std::string* error);

// The breakages in the order the expectations first name them.
std::vector<std::string> breakagesOf(const std::vector<Expectation>& expected);

// The expected matrix as the Markdown table and notes that db/README.md
// shows (the README must hold this text unchanged).
std::string expectedMarkdown(const std::vector<Expectation>& expected);

// The expected matrix holds for databases of at most this many warehouses:
// consist's sample of eleven then covers every warehouse, so the damage a
// broken database takes always shows in consist-after.
inline constexpr int kSelfcheckMaxWarehouses = 10;

struct SelfcheckOptions {
  std::string binDir;             // the programs and acidkit itself
  std::string resultsDir;         // a folder selfcheck-YYYYmmdd-HHMMSS is made in it
  std::string refdb;              // db/refdb of the reference database
  std::string expectedFile;       // the expected matrix
  std::vector<std::string> only;  // breakages to run; empty: all
  bool keep = false;              // keep the broken databases afterwards
  bool printExpected = false;     // only print the expected matrix as Markdown
  double timeoutFactor = 0;
  std::string commandLine;
};

// Runs the control and every breakage side by side; the exit status of
// `acidkit selfcheck`: 0 every cell as expected, 1 any not (or a database
// could not be prepared, or the results not written), 130 stopped on request.
int runSelfcheck(const SelfcheckOptions& options);

}  // namespace acidkit
