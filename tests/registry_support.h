// Helpers shared by the registry tests: Debian's listings, the hand-made
// fixtures, and running vessarine-cli with a private cache directory.
#pragma once

#include <string>

#include <vector>

#include "vessarine/listing/listing.h"
#include "vessarine/registry/refresh.h"

inline const std::string kIeeeData = "/usr/share/ieee-data";
inline const std::string kFixtures = VESSARINE_TEST_DATA;

// A registry table refreshed from a listing file or bytes, as an update
// does it (the caller's private cache directory needs no lock).
registry::RefreshResult RefreshFile(registry::Registry r, const std::string& path, bool force = false);
registry::RefreshResult RefreshListing(registry::Registry r, const std::string& bytes);
// Every registry's listing in folder `dir`: one result per registry.
std::vector<registry::RefreshResult> RefreshFolder(const std::string& dir);

struct CliRun {
  int status = -1;
  std::string out, err;
};

// Runs vessarine-cli ARGS (shell words) with `input` on stdin.
CliRun RunCli(const std::string& xdgDir, const std::string& args, const std::string& input = "");
// The same with the file at `stdinPath` (a directory, /dev/zero) on stdin.
CliRun RunCliFrom(const std::string& xdgDir, const std::string& args, const std::string& stdinPath);
