// acidkit: runs the kit's programs as one suite and writes the evidence.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Cli.h"
#include "Selfcheck.h"
#include "Suite.h"
#include "config.h"

namespace {

// The programs are built next to acidkit.
std::string ownFolder() {
  char path[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string self(path, n);
  size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// An installed acidkit (bin/acidkit) has its data in share/acidkit; a built
// one reads it from the kit's sources.
std::string dataFile(const std::string& name) {
  std::string installed = ownFolder() + "/../share/acidkit/" + name;
  return access(installed.c_str(), R_OK) == 0 ? installed
                                              : std::string(ACIDKIT_SOURCE_DIR "/db/") + name;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const acidkit::Defaults defaults{ownFolder(),
                                   envOr("ACIDKIT_REFDB", ACIDKIT_SOURCE_DIR "/db/refdb"),
                                   dataFile("selfcheck.tsv")};
  acidkit::CommandLine command = acidkit::parseCommandLine(args, defaults);
  std::string line;
  for (int i = 0; i < argc; ++i) line += (i > 0 ? " " : "") + std::string(argv[i]);
  switch (command.command) {
    case acidkit::Command::kHelp:
      fputs(acidkit::kUsage, stdout);
      // A packaged kit is one build: say which warehouses its programs need.
      printf(
          "\nThe programs of this build draw warehouses 1 to %d: TESTDB must hold at least\n"
          "that many.\n",
          kWarehouses);
      return 0;
    case acidkit::Command::kError:
      fprintf(stderr, "acidkit: %s\n\n%s", command.error.c_str(), acidkit::kUsage);
      return 2;
    case acidkit::Command::kRun:
      command.suite.commandLine = line;
      return acidkit::runSuite(command.suite);
    case acidkit::Command::kCheck:
      return acidkit::runCheck(command.check);
    case acidkit::Command::kDurability:
      command.durability.commandLine = line;
      return acidkit::runDurability(command.durability);
    case acidkit::Command::kSelfcheck:
      command.selfcheck.commandLine = line;
      return acidkit::runSelfcheck(command.selfcheck);
  }
  return 2;
}
