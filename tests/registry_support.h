// Registry tables refreshed as an update does it, and vessarine-cli run on
// a stream of the test's choosing, for the registry tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "vessarine/listing/listing.h"
#include "vessarine/update/table_refresh.h"
#include "tests/test_support.h"

// A registry table refreshed from a listing file or bytes, as an update
// does it (the caller's private cache directory needs no lock).
// `force` takes a listing the refusal rule would turn down (the fixtures'
// few MA-L entries against the built-in table).
update::RefreshResult RefreshFile(listing::Registry r, const std::string& path, bool force = false);
update::RefreshResult RefreshListing(listing::Registry r, const std::string& bytes);
// Every registry's listing in folder `dir`: one result per registry.
std::vector<update::RefreshResult> RefreshFolder(const std::string& dir, bool force = false);

// Starts vessarine-cli ARGS (no shell) with these descriptors as its
// stdin, stdout and stderr and XDG_CACHE_HOME=xdgDir.
pid_t SpawnCli(const std::string& xdgDir, const std::vector<const char*>& args, int in, int out, int err);
// Runs it with the file at `stdinPath` (a directory, /dev/zero) as stdin.
CliRun RunCliFrom(const std::string& xdgDir, const std::vector<const char*>& args, const std::string& stdinPath);
