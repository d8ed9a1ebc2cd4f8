#include "Cli.h"

#include <cmath>
#include <cstdlib>
#include <functional>

#include "Schedule.h"

namespace acidkit {

const char kUsage[] =
    "Usage: acidkit run [--bin DIR] [--results DIR | --into DIR] [--only PROGRAMS]\n"
    "                   [--timeout-factor F] [--durability K [--refdb PATH]]\n"
    "       acidkit selfcheck [--bin DIR] [--results DIR] [--only BREAKAGES] [--keep]\n"
    "                         [--refdb PATH] [--expected FILE] [--timeout-factor F]\n"
    "                         [--print-expected]\n"
    "       acidkit check [--conditions LIST] [--warehouses A-B] [--json]\n"
    "                     [--connections N] [--slice W]\n"
    "       acidkit durability [--cycles K] [--connections N] [--min-commits M]\n"
    "                          [--results DIR | --into DIR] [--bin DIR] [--refdb PATH]\n"
    "       acidkit --help\n"
    "\n"
    "acidkit run: runs the ACID suite against the data source TESTDB, one program after\n"
    "the other: consist, atom, isolation1 .. isolation9, consist again (consist-after).\n"
    "The programs get this environment as it is, so ODBCINI and ODBCSYSINI decide which\n"
    "database TESTDB is.\n"
    "  --bin DIR             where the programs are (default: acidkit's own folder)\n"
    "  --results DIR         a folder YYYYmmdd-HHMMSS is made in it for this run, with\n"
    "                        every program's output (<program>.log), the isolation\n"
    "                        tests' timelines (isolationN.svg), summary.txt, report.md\n"
    "                        and report.json (default: ./results)\n"
    "  --into DIR            write this run's files into DIR itself (made if missing)\n"
    "  --only PROGRAMS       run only these, comma-separated, in the suite's order:\n"
    "                        consist, atom, isolation1 .. isolation9, consist-after\n"
    "  --timeout-factor F    stop a program (SIGTERM, SIGKILL 15 s later) once it has\n"
    "                        run F times its expected time, and never before F x 40 s\n"
    "                        (default: 3)\n"
    "  --durability K        after the suite and its consistency check, K crash cycles\n"
    "                        as acidkit durability runs them (8 connections, 1000\n"
    "                        commits), into durability/ of the run's folder; report.md\n"
    "                        and report.json carry them\n"
    "  --refdb PATH          with --durability: the reference database's script\n"
    "                        (default: db/refdb of the kit's sources, or $ACIDKIT_REFDB)\n"
    "Exit status: 0 when every program exited with 0 and printed its passed verdict\n"
    "(and every durability cycle passed); 1 when any did not, timed out or could not\n"
    "run, or the results could not be written; 2 for a wrong command line; 130 when\n"
    "stopped by a signal (the running program is sent SIGTERM first, and the report\n"
    "covers what ran).\n"
    "\n"
    "acidkit selfcheck: shows the kit failing databases that do not isolate. On the\n"
    "running reference server (db/refdb start) it loads a database of its own for\n"
    "each breakage of the expected matrix and one more, unbroken, as the control;\n"
    "breaks each (db/refdb break KIND), runs the whole suite against all of them side\n"
    "by side, and prints the matrix program x database -> verdict with each failed\n"
    "verdict's reason. Every database holds the warehouses the programs were built\n"
    "for (about 100 MB each): at most 10 (scripts/run-suite uses 10).\n"
    "  --bin DIR             where acidkit and the programs are (default: acidkit's own\n"
    "                        folder)\n"
    "  --results DIR         a folder selfcheck-YYYYmmdd-HHMMSS is made in it, with\n"
    "                        matrix.txt, matrix.json and a folder per database holding\n"
    "                        its logs and its suite's report (default: ./results)\n"
    "  --only BREAKAGES      only these breakages, comma-separated (the control always\n"
    "                        runs)\n"
    "  --keep                keep the databases afterwards (acidkit_selfcheck_<name>)\n"
    "  --print-expected      print the expected matrix as db/README.md shows it, and\n"
    "                        run nothing\n"
    "  --refdb PATH          the reference database's script (default: db/refdb of the\n"
    "                        kit's sources, or $ACIDKIT_REFDB)\n"
    "  --expected FILE       the expected matrix: tab-separated breakage, program,\n"
    "                        verdict, why (default: share/acidkit/selfcheck.tsv of an\n"
    "                        installed kit, else db/selfcheck.tsv of the kit's\n"
    "                        sources); db/README.md shows it\n"
    "  --timeout-factor F    as for run (default: 3)\n"
    "Exit status: 0 when every cell is as expected (every program passes on the\n"
    "control); 1 when any is not, or a database could not be prepared, or the\n"
    "results could not be written; 2 for a wrong command line; 130 when stopped by a\n"
    "signal.\n"
    "\n"
    "acidkit check: checks the twelve TPC-C consistency conditions on TESTDB and prints\n"
    "for each whether it holds and, when it does not, the first 10 keys that break it\n"
    "with the values that disagree. Its queries run in one REPEATABLE READ transaction\n"
    "with autocommit off, so that they all read one snapshot; it writes nothing.\n"
    "Condition 11 (orders - new orders = 2100 per district) holds only until the first\n"
    "Delivery: it is \"not applicable\" once an order above 2100, the last one the\n"
    "initial population delivers, has a carrier.\n"
    "  --conditions LIST     only these, e.g. 1-4 or 1,2,5-8 (default: 1-12)\n"
    "  --warehouses A-B      only warehouses A to B (default: every warehouse)\n"
    "  --json                print the result as JSON instead of text\n"
    "  --connections N       share the work among N connections, one snapshot each\n"
    "                        (default: 1)\n"
    "  --slice W             check W warehouses at a time, all conditions on a slice\n"
    "                        before the next (default: 10; 0: all at once)\n"
    "Exit status: 0 when every condition checked holds or does not apply; 1 when any is\n"
    "violated; 2 for a wrong command line; 3 when the check could not run (no\n"
    "connection, an empty database) or a condition's query failed.\n"
    "\n"
    "acidkit durability: crashes the reference server under load, K times, and checks\n"
    "that every commit it acknowledged survived. Each cycle runs durability run\n"
    "(New-Order and Payment from N connections against TESTDB, each acknowledged\n"
    "commit journaled), waits until the journal holds M acknowledged commits and a\n"
    "random 0 to 2 s more, kills the server (refdb crash), waits for durability run to\n"
    "end (stopping it after 60 s), starts the server again (refdb start, which tells\n"
    "the recovery time) and runs durability verify on the journal. It prints a line\n"
    "per cycle (acknowledged, missing, in flight at the kill and how many of those\n"
    "committed, recovery time, commit rate; the reasons under a failed one) and the\n"
    "figures over all cycles. A cycle whose step fails fails with that step's reason;\n"
    "when the server does not come back, the remaining cycles are left out.\n"
    "  --cycles K            crash cycles (default: 5)\n"
    "  --connections N       durability run's connections (default: 8)\n"
    "  --min-commits M       acknowledged commits before the kill (default: 1000)\n"
    "  --results DIR         a folder durability-YYYYmmdd-HHMMSS is made in it, with\n"
    "                        cycle-N/ (journal, run.log, crash.log, start.log,\n"
    "                        verify.log) for each cycle, report.md and report.json\n"
    "                        (default: ./results)\n"
    "  --into DIR            write into DIR itself (made if missing)\n"
    "  --bin DIR             where durability is (default: acidkit's own folder)\n"
    "  --refdb PATH          the reference database's script (default: db/refdb of the\n"
    "                        kit's sources, or $ACIDKIT_REFDB)\n"
    "Exit status: 0 when every cycle passed; 1 when any failed or could not run, or\n"
    "the results could not be written; 2 for a wrong command line; 130 when stopped\n"
    "by a signal (the running step is sent SIGTERM first; a server killed and not yet\n"
    "started again is left down, and acidkit says so).\n";

namespace {

bool knownLabel(const std::string& name) {
  for (const SuiteEntry& entry : kSuite) {
    if (name == entry.label) return true;
  }
  return false;
}

std::vector<std::string> commaList(const std::string& list) {
  std::vector<std::string> items;
  size_t from = 0;
  while (from <= list.size()) {
    size_t comma = list.find(',', from);
    if (comma == std::string::npos) comma = list.size();
    items.push_back(list.substr(from, comma - from));
    from = comma + 1;
  }
  return items;
}

bool parseOnly(const std::string& list, std::vector<std::string>* only, std::string* error) {
  *only = commaList(list);
  for (const std::string& name : *only) {
    if (!knownLabel(name)) {
      *error = "--only: unknown program '" + name +
               "'; choose from consist, atom, isolation1 .. isolation9, consist-after";
      return false;
    }
  }
  return true;
}

bool parseCount(const std::string& name, const std::string& value, int min, int max, int* count,
                std::string* error) {
  char* end = nullptr;
  long n = strtol(value.c_str(), &end, 10);
  if (end == value.c_str() || *end != '\0' || n < min || n > max) {
    *error = name + ": '" + value + "' is not a whole number from " + std::to_string(min) + " to " +
             std::to_string(max);
    return false;
  }
  *count = static_cast<int>(n);
  return true;
}

bool parseFactor(const std::string& value, double* factor, std::string* error) {
  char* end = nullptr;
  double f = strtod(value.c_str(), &end);
  if (end == value.c_str() || *end != '\0' || !std::isfinite(f) || f <= 0) {
    *error = "--timeout-factor: '" + value + "' is not a number greater than 0";
    return false;
  }
  *factor = f;
  return true;
}

// An option of a command: a flag, or one that takes a value (given as
// "--name value" or "--name=value"). The setter returns false with *error.
struct Option {
  std::string name;
  bool takesValue;
  std::function<bool(const std::string& value, std::string* error)> set;
};

// Parses the options after the command word; kHelp for --help anywhere.
Command parseOptions(const std::vector<std::string>& args, const std::vector<Option>& options,
                     Command command, std::string* error) {
  for (size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") return Command::kHelp;
    const Option* option = nullptr;
    for (const Option& o : options) option = o.name == name ? &o : option;
    if (option == nullptr) {
      *error = "unknown option '" + args[i] + "'";
      return Command::kError;
    }
    if (option->takesValue && !hasValue) {
      if (i + 1 >= args.size()) {
        *error = name + " needs a value";
        return Command::kError;
      }
      value = args[++i];
    }
    if (option->takesValue && value.empty()) {
      *error = name + " needs a value";
      return Command::kError;
    }
    if (!option->takesValue && hasValue) {
      *error = name + " takes no value";
      return Command::kError;
    }
    if (!option->set(value, error)) return Command::kError;
  }
  return command;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args, const Defaults& defaults) {
  CommandLine c;
  SuiteOptions& run = c.suite;
  run.binDir = defaults.binDir;
  run.resultsDir = "results";
  run.timeoutFactor = kDefaultTimeoutFactor;
  SelfcheckOptions& self = c.selfcheck;
  self.binDir = defaults.binDir;
  self.resultsDir = "results";
  self.refdb = defaults.refdb;
  self.expectedFile = defaults.expectedFile;
  self.timeoutFactor = kDefaultTimeoutFactor;
  run.refdb = defaults.refdb;
  DurabilityOptions& durability = c.durability;
  durability.binDir = defaults.binDir;
  durability.resultsDir = "results";
  durability.refdb = defaults.refdb;
  if (args.empty()) {
    c.error = "no command given";
    return c;
  }
  auto text = [](std::string* into) {
    return [into](const std::string& v, std::string*) {
      *into = v;
      return true;
    };
  };
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    c.command = Command::kHelp;
  } else if (args[0] == "run") {
    c.command = parseOptions(
        args,
        {{"--bin", true, text(&run.binDir)},
         {"--results", true, text(&run.resultsDir)},
         {"--into", true, text(&run.intoDir)},
         {"--only", true,
          [&run](const std::string& v, std::string* e) { return parseOnly(v, &run.only, e); }},
         {"--timeout-factor", true,
          [&run](const std::string& v, std::string* e) {
            return parseFactor(v, &run.timeoutFactor, e);
          }},
         {"--durability", true,
          [&run](const std::string& v, std::string* e) {
            return parseCount("--durability", v, 1, 1000, &run.durabilityCycles, e);
          }},
         {"--refdb", true, text(&run.refdb)}},
        Command::kRun, &c.error);
  } else if (args[0] == "selfcheck") {
    c.command = parseOptions(args,
                             {{"--bin", true, text(&self.binDir)},
                              {"--results", true, text(&self.resultsDir)},
                              {"--refdb", true, text(&self.refdb)},
                              {"--expected", true, text(&self.expectedFile)},
                              {"--keep", false,
                               [&self](const std::string&, std::string*) {
                                 self.keep = true;
                                 return true;
                               }},
                              {"--print-expected", false,
                               [&self](const std::string&, std::string*) {
                                 self.printExpected = true;
                                 return true;
                               }},
                              {"--only", true,
                               [&self](const std::string& v, std::string*) {
                                 self.only = commaList(v);
                                 return true;
                               }},
                              {"--timeout-factor", true,
                               [&self](const std::string& v, std::string* e) {
                                 return parseFactor(v, &self.timeoutFactor, e);
                               }}},
                             Command::kSelfcheck, &c.error);
  } else if (args[0] == "check") {
    CheckOptions& check = c.check;
    c.command = parseOptions(
        args,
        {{"--conditions", true,
          [&check](const std::string& v, std::string* e) {
            if (parseConditionList(v, &check.request.conditions, e)) return true;
            *e = "--conditions: " + *e;
            return false;
          }},
         {"--warehouses", true,
          [&check](const std::string& v, std::string* e) {
            return parseWarehouseRange(v, &check.request, e);
          }},
         {"--json", false,
          [&check](const std::string&, std::string*) {
            check.json = true;
            return true;
          }},
         {"--connections", true,
          [&check](const std::string& v, std::string* e) {
            return parseCount("--connections", v, 1, 64, &check.connections, e);
          }},
         {"--slice", true,
          [&check](const std::string& v, std::string* e) {
            return parseCount("--slice", v, 0, 100000, &check.request.sliceWarehouses, e);
          }}},
        Command::kCheck, &c.error);
  } else if (args[0] == "durability") {
    c.command =
        parseOptions(args,
                     {{"--cycles", true,
                       [&durability](const std::string& v, std::string* e) {
                         return parseCount("--cycles", v, 1, 1000, &durability.cycles, e);
                       }},
                      {"--connections", true,
                       [&durability](const std::string& v, std::string* e) {
                         return parseCount("--connections", v, 1, 256, &durability.connections, e);
                       }},
                      {"--min-commits", true,
                       [&durability](const std::string& v, std::string* e) {
                         int n = 0;
                         if (!parseCount("--min-commits", v, 1, 100000000, &n, e)) return false;
                         durability.minCommits = n;
                         return true;
                       }},
                      {"--results", true, text(&durability.resultsDir)},
                      {"--into", true, text(&durability.intoDir)},
                      {"--bin", true, text(&durability.binDir)},
                      {"--refdb", true, text(&durability.refdb)}},
                     Command::kDurability, &c.error);
  } else {
    c.error = "unknown command '" + args[0] + "'";
  }
  return c;
}

}  // namespace acidkit
