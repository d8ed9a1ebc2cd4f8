#include "options.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

enum Option {
  kWarehouses = 1000,
  kDatabase,
  kSocket,
  kHost,
  kPort,
  kUser,
  kPassword,
  kSeed,
  kReplace,
  kThreads,
  kCheckOnly,
  kRowByRow,
  kHelpOption,
};

bool wholeNumber(const char* text, long long lo, long long hi, long long* value) {
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *value = v;
  return true;
}

}  // namespace

LoadCommand parseLoadCommandLine(int argc, char** argv, const LoaderExtras& extras,
                                 LoadCommandLine* line, std::string* error) {
  std::vector<option> options = {
      {"warehouses", required_argument, nullptr, kWarehouses},
      {"database", required_argument, nullptr, kDatabase},
      {"host", required_argument, nullptr, kHost},
      {"port", required_argument, nullptr, kPort},
      {"user", required_argument, nullptr, kUser},
      {"password", required_argument, nullptr, kPassword},
      {"seed", required_argument, nullptr, kSeed},
      {"replace", no_argument, nullptr, kReplace},
      {"threads", required_argument, nullptr, kThreads},
      {"help", no_argument, nullptr, kHelpOption},
  };
  if (extras.socket) options.push_back({"socket", required_argument, nullptr, kSocket});
  if (extras.checkOnly) options.push_back({"check-only", no_argument, nullptr, kCheckOnly});
  if (extras.rowByRow) options.push_back({"row-by-row", no_argument, nullptr, kRowByRow});
  options.push_back({nullptr, 0, nullptr, 0});

  *line = LoadCommandLine{};
  const char* warehousesText = nullptr;
  const char* portText = nullptr;
  opterr = 0;  // the messages below say what was wrong, in the loader's words
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, ":h", options.data(), nullptr)) != -1) {
    long long n = 0;
    switch (c) {
      case 'h':
      case kHelpOption:
        return LoadCommand::kHelp;
      case kWarehouses:
        warehousesText = optarg;
        break;
      case kDatabase:
        line->database = optarg;
        break;
      case kSocket:
        line->socket = optarg;
        break;
      case kHost:
        line->host = optarg;
        break;
      case kPort:
        portText = optarg;
        break;
      case kUser:
        line->user = optarg;
        line->userGiven = true;
        break;
      case kPassword:
        line->password = optarg;
        line->passwordGiven = true;
        break;
      case kSeed: {
        char* end = nullptr;
        errno = 0;
        line->seed = std::strtoull(optarg, &end, 10);
        if (errno != 0 || *end != '\0' || !std::isdigit(static_cast<unsigned char>(optarg[0]))) {
          *error = "--seed wants a whole number >= 0, got '" + std::string(optarg) + "'";
          return LoadCommand::kError;
        }
        line->seedGiven = true;
        break;
      }
      case kReplace:
        line->replace = true;
        break;
      case kThreads:
        if (!wholeNumber(optarg, 1, 64, &n)) {
          *error = "--threads wants a number from 1 to 64, got '" + std::string(optarg) + "'";
          return LoadCommand::kError;
        }
        line->threads = static_cast<int>(n);
        break;
      case kCheckOnly:
        line->checkOnly = true;
        break;
      case kRowByRow:
        line->rowByRow = true;
        break;
      case ':':
        *error = std::string(argv[optind - 1]) + " needs a value";
        return LoadCommand::kError;
      default:
        *error = "unknown argument '" + std::string(argv[optind - 1]) + "' (see --help)";
        return LoadCommand::kError;
    }
  }
  if (optind < argc) {
    *error = "unknown argument '" + std::string(argv[optind]) + "' (see --help)";
    return LoadCommand::kError;
  }

  if (warehousesText != nullptr) {
    long long w = 0;
    if (!wholeNumber(warehousesText, 1, kMaxLoadWarehouses, &w)) {
      *error = "--warehouses must be a whole number from 1 to " +
               std::to_string(kMaxLoadWarehouses) + ", got '" + warehousesText + "'";
      return LoadCommand::kError;
    }
    line->warehouses = static_cast<int>(w);
  } else if (!line->checkOnly) {
    *error = "--warehouses W is required (see --help)";
    return LoadCommand::kError;
  }
  if (line->database.empty()) {
    *error = "--database NAME is required (see --help)";
    return LoadCommand::kError;
  }
  // The name goes into statements unquoted, so keep it to a safe alphabet.
  bool nameOk = line->database.size() <= 64;
  for (unsigned char ch : line->database) nameOk = nameOk && (std::isalnum(ch) || ch == '_');
  if (!nameOk) {
    *error = "--database '" + line->database + "': use 1 to 64 letters, digits or underscores";
    return LoadCommand::kError;
  }
  if (!line->host.empty() && !line->socket.empty()) {
    *error = "give either --socket or --host/--port, not both";
    return LoadCommand::kError;
  }
  if (portText != nullptr) {
    long long port = 0;
    if (!wholeNumber(portText, 1, 65535, &port)) {
      *error = "--port wants a number from 1 to 65535, got '" + std::string(portText) + "'";
      return LoadCommand::kError;
    }
    line->port = static_cast<int>(port);
  }
  return LoadCommand::kLoad;
}
