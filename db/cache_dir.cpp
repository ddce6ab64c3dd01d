#include "vessarine/db/cache_dir.h"

#include <cstdlib>

std::string CacheDir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/vessarine";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.cache/vessarine";
}

std::string CachePath(const char* name) { return CacheDir() + "/" + name; }
