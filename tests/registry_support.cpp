#include "tests/registry_support.h"

#include <unistd.h>

#include "tests/test_support.h"

registry::RefreshResult RefreshFile(registry::Registry r, const std::string& path, bool force) {
  const registry::PreparedTable table = registry::PrepareTable(r, path, path, force);
  return table.refused() ? table.result : registry::SaveTable(table);
}

registry::RefreshResult RefreshListing(registry::Registry r, const std::string& bytes) {
  char name[] = "/tmp/vessarine-listing-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return {};
  close(fd);
  WriteFile(name, bytes);
  registry::RefreshResult result = RefreshFile(r, name);
  unlink(name);
  return result;
}

std::vector<registry::RefreshResult> RefreshFolder(const std::string& dir, bool force) {
  std::vector<registry::RefreshResult> results;
  const auto paths = registry::ListingsInFolder(dir);
  for (registry::Registry r : registry::kAllRegistries) {
    const std::string& path = paths[static_cast<size_t>(r)];
    registry::RefreshResult absent;
    absent.registry = r;
    results.push_back(path.empty() ? absent : RefreshFile(r, path, force));
  }
  return results;
}
