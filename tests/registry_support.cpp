#include "tests/registry_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/test_support.h"

update::RefreshResult RefreshFile(listing::Registry r, const std::string& path, bool force) {
  const update::PreparedTable table = update::PrepareTable(r, path, path, force);
  return table.refused() ? table.result : update::SaveTable(table);
}

update::RefreshResult RefreshListing(listing::Registry r, const std::string& bytes) {
  char name[] = "/tmp/vessarine-listing-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return {};
  close(fd);
  WriteFile(name, bytes);
  update::RefreshResult result = RefreshFile(r, name);
  unlink(name);
  return result;
}

std::vector<update::RefreshResult> RefreshFolder(const std::string& dir, bool force) {
  std::vector<update::RefreshResult> results;
  const auto paths = update::ListingsInFolder(dir);
  for (listing::Registry r : listing::kAllRegistries) {
    const std::string& path = paths[static_cast<size_t>(r)];
    update::RefreshResult absent;
    absent.registry = r;
    results.push_back(path.empty() ? absent : RefreshFile(r, path, force));
  }
  return results;
}

pid_t SpawnCli(const std::string& xdgDir, const std::vector<const char*>& args, int in, int out, int err) {
  std::vector<const char*> argv{VESSARINE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    setenv("XDG_CACHE_HOME", xdgDir.c_str(), 1);
    execv(VESSARINE_CLI, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  return child;
}

CliRun RunCliFrom(const std::string& xdgDir, const std::vector<const char*>& args, const std::string& stdinPath) {
  const std::string out = xdgDir + "/cli.out", err = xdgDir + "/cli.err";
  const int in = open(stdinPath.c_str(), O_RDONLY | O_CLOEXEC);
  const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  CliRun run;
  const pid_t child = in < 0 || outFd < 0 || errFd < 0 ? -1 : SpawnCli(xdgDir, args, in, outFd, errFd);
  for (int fd : {in, outFd, errFd}) {
    if (fd >= 0) close(fd);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}
