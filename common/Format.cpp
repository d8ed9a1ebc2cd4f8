#include "Format.h"

#include <cstdarg>
#include <cstdio>

namespace acidkit {

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int size = vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string text(size > 0 ? size : 0, '\0');
  if (size > 0) vsnprintf(text.data(), text.size() + 1, fmt, again);
  va_end(again);
  return text;
}

}  // namespace acidkit
