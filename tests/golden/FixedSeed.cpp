// Loaded into a program with LD_PRELOAD: srand() gets ACIDKIT_FIXED_SEED
// whatever the program passes, so that a run draws the same ids every time.
#include <dlfcn.h>

#include <cstdlib>

extern "C" void srand(unsigned int) {
  static const auto next = reinterpret_cast<void (*)(unsigned int)>(dlsym(RTLD_NEXT, "srand"));
  const char* seed = getenv("ACIDKIT_FIXED_SEED");
  next(seed != nullptr ? static_cast<unsigned int>(strtoul(seed, nullptr, 10)) : 1u);
}
