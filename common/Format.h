// printf into a std::string, for the kit's texts.
#pragma once

#include <string>

namespace acidkit {

// The whole text, however long.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace acidkit
