// The command line of durability: run or verify, and their options.
#pragma once

#include <string>
#include <vector>

#include "Durability.h"

namespace acidkit {

extern const char kDurabilityUsage[];

struct DurabilityCommandLine {
  enum class Command { kRun, kVerify, kHelp, kError } command = Command::kError;
  StreamOptions run;
  VerifyOptions verify;
  std::string error;  // kError: what is wrong, for a person
};

// args without the program's name.
DurabilityCommandLine parseDurabilityCommandLine(const std::vector<std::string>& args);

}  // namespace acidkit
