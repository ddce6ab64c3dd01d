// Helpers shared by the registry tests: Debian's listings, the hand-made
// fixtures, and running vessarine-cli with a private cache directory.
#pragma once

#include <string>

#include "vessarine/listing/listing.h"

inline const std::string kIeeeData = "/usr/share/ieee-data";
inline const std::string kFixtures = VESSARINE_TEST_DATA;

struct CliRun {
  int status = -1;
  std::string out, err;
};

// Runs vessarine-cli ARGS (shell words) with `input` on stdin.
CliRun RunCli(const std::string& xdgDir, const std::string& args, const std::string& input = "");
