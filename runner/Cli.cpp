#include "Cli.h"

#include <cmath>
#include <cstdlib>

#include "Schedule.h"

namespace acidkit {

const char kUsage[] =
    "Usage: acidkit run [--bin DIR] [--results DIR] [--only PROGRAMS] [--timeout-factor F]\n"
    "       acidkit --help\n"
    "\n"
    "Runs the ACID suite against the data source TESTDB, one program after the other:\n"
    "  consist, atom, isolation1 .. isolation9, consist again (consist-after).\n"
    "The programs get this environment as it is, so ODBCINI and ODBCSYSINI decide\n"
    "which database TESTDB is.\n"
    "\n"
    "Options:\n"
    "  --bin DIR             where the programs are (default: acidkit's own folder)\n"
    "  --results DIR         a folder YYYYmmdd-HHMMSS is made in it for this run, with\n"
    "                        every program's output (<program>.log), the isolation\n"
    "                        tests' timelines (isolationN.svg), summary.txt and\n"
    "                        report.md (default: ./results)\n"
    "  --only PROGRAMS       run only these, comma-separated, in the suite's order:\n"
    "                        consist, atom, isolation1 .. isolation9, consist-after\n"
    "  --timeout-factor F    stop a program (SIGTERM, SIGKILL 15 s later) once it has\n"
    "                        run F times its expected time, and never before F x 40 s\n"
    "                        (default: 3)\n"
    "  --help                this text\n"
    "\n"
    "Exit status: 0 when every program exited with 0 and printed its passed verdict;\n"
    "1 when any did not, timed out or could not run, or the results could not be\n"
    "written; 2 for a wrong command line; 130 when stopped by a signal (the running\n"
    "program is sent SIGTERM first, and the report covers what ran).\n";

namespace {

bool knownLabel(const std::string& name) {
  for (const SuiteEntry& entry : kSuite) {
    if (name == entry.label) return true;
  }
  return false;
}

bool parseOnly(const std::string& list, std::vector<std::string>* only, std::string* error) {
  only->clear();
  size_t from = 0;
  while (from <= list.size()) {
    size_t comma = list.find(',', from);
    if (comma == std::string::npos) comma = list.size();
    std::string name = list.substr(from, comma - from);
    if (!knownLabel(name)) {
      *error = "--only: unknown program '" + name +
               "'; choose from consist, atom, isolation1 .. isolation9, consist-after";
      return false;
    }
    only->push_back(name);
    from = comma + 1;
  }
  return true;
}

}  // namespace

Command parseCommandLine(const std::vector<std::string>& args, const std::string& defaultBinDir,
                         SuiteOptions* options, std::string* error) {
  *options = SuiteOptions{};
  options->binDir = defaultBinDir;
  options->resultsDir = "results";
  options->timeoutFactor = kDefaultTimeoutFactor;
  if (args.empty()) {
    *error = "no command given";
    return Command::kError;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") return Command::kHelp;
  if (args[0] != "run") {
    *error = "unknown command '" + args[0] + "'";
    return Command::kError;
  }
  for (size_t i = 1; i < args.size(); ++i) {
    std::string option = args[i];
    std::string value;
    bool hasValue = false;
    if (size_t eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
      value = option.substr(eq + 1);
      option = option.substr(0, eq);
      hasValue = true;
    }
    if (option == "--help" || option == "-h") return Command::kHelp;
    bool takesValue = option == "--bin" || option == "--results" || option == "--only" ||
                      option == "--timeout-factor";
    if (!takesValue) {
      *error = "unknown option '" + args[i] + "'";
      return Command::kError;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        *error = option + " needs a value";
        return Command::kError;
      }
      value = args[++i];
    }
    if (value.empty()) {
      *error = option + " needs a value";
      return Command::kError;
    }
    if (option == "--bin") {
      options->binDir = value;
    } else if (option == "--results") {
      options->resultsDir = value;
    } else if (option == "--only") {
      if (!parseOnly(value, &options->only, error)) return Command::kError;
    } else {
      char* end = nullptr;
      double f = strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0' || !std::isfinite(f) || f <= 0) {
        *error = "--timeout-factor: '" + value + "' is not a number greater than 0";
        return Command::kError;
      }
      options->timeoutFactor = f;
    }
  }
  return Command::kRun;
}

}  // namespace acidkit
