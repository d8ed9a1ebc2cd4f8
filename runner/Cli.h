// The command line of acidkit.
#pragma once

#include <string>
#include <vector>

#include "Check.h"
#include "Durability.h"
#include "Selfcheck.h"
#include "Suite.h"

namespace acidkit {

extern const char kUsage[];

enum class Command { kRun, kSelfcheck, kCheck, kDurability, kHelp, kError };

// Where things are unless the command line says otherwise.
struct Defaults {
  std::string binDir;        // the programs, beside acidkit
  std::string refdb;         // db/refdb of the kit's sources
  std::string expectedFile;  // db/selfcheck.tsv of the kit's sources
};

struct CommandLine {
  Command command = Command::kError;
  SuiteOptions suite;            // run
  SelfcheckOptions selfcheck;    // selfcheck
  CheckOptions check;            // check
  DurabilityOptions durability;  // durability
  std::string error;             // kError: what is wrong
};

// args without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args, const Defaults& defaults);

}  // namespace acidkit
