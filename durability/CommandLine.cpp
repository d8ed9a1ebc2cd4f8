#include "CommandLine.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>

namespace acidkit {

const char kDurabilityUsage[] =
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

namespace {

// A whole number in [low, high], or false.
bool wholeNumber(const char* text, long low, long high, int* value) {
  errno = 0;
  char* end = nullptr;
  long n = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < low || n > high) return false;
  *value = static_cast<int>(n);
  return true;
}

DurabilityCommandLine wrong(const std::string& what) {
  DurabilityCommandLine line;
  line.error = what;
  return line;
}

}  // namespace

DurabilityCommandLine parseDurabilityCommandLine(const std::vector<std::string>& args) {
  using Command = DurabilityCommandLine::Command;
  DurabilityCommandLine line;
  if (args.empty()) return wrong("say run or verify");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    line.command = Command::kHelp;
    return line;
  }
  if (command != "run" && command != "verify") return wrong("unknown command '" + command + "'");
  const bool run = command == "run";

  // getopt_long wants a writable argv that starts with a program name.
  std::vector<std::string> copies(args);
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  static const option kOptions[] = {{"journal", required_argument, nullptr, 'j'},
                                    {"seconds", required_argument, nullptr, 's'},
                                    {"connections", required_argument, nullptr, 'c'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  std::string journal;
  opterr = 0;
  optind = 0;  // a fresh scan, also when called more than once
  int option;
  const int argc = static_cast<int>(copies.size());
  while ((option = getopt_long(argc, argv.data(), "+:", kOptions, nullptr)) != -1) {
    const std::string current = argv[optind - 1];
    switch (option) {
      case 'j':
        journal = optarg;
        break;
      case 's':
        if (!run) return wrong("--seconds is an option of run");
        if (!wholeNumber(optarg, 1, 86400, &line.run.seconds)) {
          return wrong(std::string("--seconds takes 1 to 86400, not '") + optarg + "'");
        }
        break;
      case 'c':
        if (!run) return wrong("--connections is an option of run");
        if (!wholeNumber(optarg, 1, 256, &line.run.connections)) {
          return wrong(std::string("--connections takes 1 to 256, not '") + optarg + "'");
        }
        break;
      case 'h':
        line.command = Command::kHelp;
        return line;
      case ':':
        return wrong(current + " needs a value");
      default:
        return wrong("unknown option '" + current + "'");
    }
  }
  if (optind < argc) return wrong("unexpected argument '" + copies[optind] + "'");
  if (journal.empty()) return wrong(command + " needs --journal FILE");
  line.command = run ? Command::kRun : Command::kVerify;
  line.run.journal = journal;
  line.verify.journal = journal;
  return line;
}

}  // namespace acidkit
