// acidkit: runs the kit's programs as one suite and writes the evidence.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "Cli.h"
#include "Suite.h"

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

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  acidkit::SuiteOptions options;
  std::string error;
  switch (acidkit::parseCommandLine(args, ownFolder(), &options, &error)) {
    case acidkit::Command::kHelp:
      fputs(acidkit::kUsage, stdout);
      return 0;
    case acidkit::Command::kError:
      fprintf(stderr, "acidkit: %s\n\n%s", error.c_str(), acidkit::kUsage);
      return 2;
    case acidkit::Command::kRun:
      break;
  }
  for (int i = 0; i < argc; ++i) {
    if (i > 0) options.commandLine += ' ';
    options.commandLine += argv[i];
  }
  return acidkit::runSuite(options);
}
