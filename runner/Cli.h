// The command line of acidkit.
#pragma once

#include <string>
#include <vector>

#include "Suite.h"

namespace acidkit {

extern const char kUsage[];

enum class Command { kRun, kHelp, kError };

// args without the program name. On kError, *error says what is wrong.
// defaultBinDir: where the programs are unless --bin says otherwise.
Command parseCommandLine(const std::vector<std::string>& args, const std::string& defaultBinDir,
                         SuiteOptions* options, std::string* error);

}  // namespace acidkit
