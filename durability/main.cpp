// durability: the kit's crash test. `run` streams New-Order and Payment
// transactions and journals every acknowledged commit while the operator
// makes the database fail; `verify`, once it is back, shows whether every
// acknowledged commit survived.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"

int main(int argc, char** argv) {
  using Command = acidkit::DurabilityCommandLine::Command;
  const acidkit::DurabilityCommandLine line =
      acidkit::parseDurabilityCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (line.command) {
    case Command::kHelp:
      fputs(acidkit::kDurabilityUsage, stdout);
      return 0;
    case Command::kRun:
      return acidkit::runStream(line.run);
    case Command::kVerify:
      return acidkit::runVerify(line.verify);
    case Command::kError:
      break;
  }
  // The synopsis, not the whole text: the mistake stays on the screen.
  const std::string usage = acidkit::kDurabilityUsage;
  fprintf(stderr, "durability: %s\n%s\n", line.error.c_str(),
          usage.substr(0, usage.find("\n\n")).c_str());
  return 2;
}
