#include "tests/registry_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/test_support.h"

CliRun RunCli(const std::string& xdgDir, const std::string& args, const std::string& input) {
  const std::string in = xdgDir + "/cli.in";
  WriteFile(in, input);
  return RunCliFrom(xdgDir, args, in);
}

CliRun RunCliFrom(const std::string& xdgDir, const std::string& args, const std::string& in) {
  const std::string out = xdgDir + "/cli.out", err = xdgDir + "/cli.err";
  const std::string command = "XDG_CACHE_HOME='" + xdgDir + "' " VESSARINE_CLI " " + args + " <'" + in + "' >'" +
                              out + "' 2>'" + err + "'";
  CliRun run;
  int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

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

std::vector<registry::RefreshResult> RefreshFolder(const std::string& dir) {
  std::vector<registry::RefreshResult> results;
  const auto paths = registry::ListingsInFolder(dir);
  for (registry::Registry r : registry::kAllRegistries) {
    const std::string& path = paths[static_cast<size_t>(r)];
    registry::RefreshResult absent;
    absent.registry = r;
    results.push_back(path.empty() ? absent : RefreshFile(r, path));
  }
  return results;
}
