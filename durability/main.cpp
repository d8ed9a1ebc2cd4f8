// durability: the kit's crash test. `run` streams New-Order and Payment
// transactions and journals every acknowledged commit while the operator
// makes the database fail; `verify`, once it is back, shows whether every
// acknowledged commit survived.
#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Durability.h"

namespace {

const char kUsage[] =
    "Usage: durability run --journal FILE [--seconds S] [--connections N]\n"
    "       durability verify --journal FILE\n"
    "       durability --help\n"
    "\n"
    "durability run: runs New-Order and Payment transactions against the data source\n"
    "TESTDB from N connections for S seconds, or until the database goes away, and\n"
    "appends every transaction whose commit returned success to the journal FILE\n"
    "(which must not exist yet). Make the database fail while it runs: kill its\n"
    "server, cut its power (on the reference database: db/refdb crash). It counts\n"
    "the calls in flight when the connections broke, and says what to do next.\n"
    "  --journal FILE      the journal of acknowledged commits (required)\n"
    "  --seconds S         at most this long (default: 60)\n"
    "  --connections N     this many connections, each a thread (default: 8)\n"
    "Exit status: 0 when the stream ran (to its time, or until the database went\n"
    "away); 1 when it could not start or write its journal; 2 for a wrong command\n"
    "line; 130 when stopped by a signal.\n"
    "\n"
    "durability verify: once the database is back, checks that every New-Order in the\n"
    "journal has its order, its order lines and its NEW_ORDER row, that every Payment\n"
    "has its HISTORY row, that the new orders and HISTORY rows since the run started\n"
    "number at least the acknowledged commits and at most those plus the calls in\n"
    "flight, and that consistency conditions 1 to 4 hold. It prints a table\n"
    "(acknowledged, found, missing, in flight, in flight committed), each missing\n"
    "commit, a reason line for each failed check and the verdict \"Durability test\n"
    "passed\" or \"Durability test failed\".\n"
    "  --journal FILE      the journal that durability run wrote (required)\n"
    "Exit status: 0 when it reached its verdict, whichever it is; 1 when it could not\n"
    "(an unreadable journal, no connection); 2 for a wrong command line.\n"
    "\n"
    "No other client may write to the database between the start of run and verify.\n";

int usageError(const std::string& what) {
  fprintf(stderr, "durability: %s\n\n%s", what.c_str(), kUsage);
  return 2;
}

// A whole number in [low, high], or false.
bool wholeNumber(const char* text, long low, long high, int* value) {
  errno = 0;
  char* end = nullptr;
  long n = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < low || n > high) return false;
  *value = static_cast<int>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usageError("say run or verify");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  if (command != "run" && command != "verify") {
    return usageError("unknown command '" + command + "'");
  }
  const bool run = command == "run";
  std::string journal;
  int seconds = 60;
  int connections = 8;
  static const option kOptions[] = {{"journal", required_argument, nullptr, 'j'},
                                    {"seconds", required_argument, nullptr, 's'},
                                    {"connections", required_argument, nullptr, 'c'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  optind = 2;
  int option;
  while ((option = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1) {
    switch (option) {
      case 'j':
        journal = optarg;
        break;
      case 's':
        if (!run) return usageError("--seconds is an option of run");
        if (!wholeNumber(optarg, 1, 86400, &seconds)) {
          return usageError(std::string("--seconds takes 1 to 86400, not '") + optarg + "'");
        }
        break;
      case 'c':
        if (!run) return usageError("--connections is an option of run");
        if (!wholeNumber(optarg, 1, 256, &connections)) {
          return usageError(std::string("--connections takes 1 to 256, not '") + optarg + "'");
        }
        break;
      case 'h':
        fputs(kUsage, stdout);
        return 0;
      case ':':
        return usageError(std::string(argv[optind - 1]) + " needs a value");
      default:
        return usageError(std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (optind < argc) return usageError(std::string("unexpected argument '") + argv[optind] + "'");
  if (journal.empty()) return usageError(command + " needs --journal FILE");
  if (run) return acidkit::runStream({journal, seconds, connections});
  return acidkit::runVerify({journal});
}
