#include "Files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace acidkit {

bool readTextFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

bool writeTextFile(const std::string& path, const std::string& text, std::string* error) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) *error = "cannot write " + path + ": " + strerror(errno);
  return static_cast<bool>(out);
}

bool makeStampedFolder(const std::string& parent, const char* prefix, const tm& when,
                       std::string* folder, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
  if (ec) {
    *error = "cannot create " + parent + ": " + ec.message();
    return false;
  }
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &when);
  const std::string base = parent + "/" + prefix + stamp;
  for (int n = 1; n < 100; ++n) {
    *folder = base + (n == 1 ? "" : "-" + std::to_string(n));
    if (mkdir(folder->c_str(), 0755) == 0) return true;
    if (errno != EEXIST) {
      *error = "cannot create " + *folder + ": " + strerror(errno);
      return false;
    }
  }
  *error = "too many runs in " + parent + " within one second";
  return false;
}

}  // namespace acidkit
