#include "tests/registry_support.h"

#include <sys/wait.h>

#include <cstdlib>

#include "tests/test_support.h"

CliRun RunCli(const std::string& xdgDir, const std::string& args, const std::string& input) {
  const std::string in = xdgDir + "/cli.in", out = xdgDir + "/cli.out", err = xdgDir + "/cli.err";
  WriteFile(in, input);
  const std::string command = "XDG_CACHE_HOME='" + xdgDir + "' " VESSARINE_CLI " " + args + " <'" + in + "' >'" +
                              out + "' 2>'" + err + "'";
  CliRun run;
  int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}
