// `vessarine-cli update`: the database update without a window.
#pragma once

// argv[0] is "update". Forms:
//   update [--url URL]   download the listing (default: the registry's
//                        current listing) and convert it
//   update --from FILE   convert a listing already on disk; FILE is kept
// Prints each message the dialog would show, one per line (UTF-8), dots on
// stderr while downloading. Returns 0 when the update completed ("完成更新"),
// 1 when it failed, 2 on a usage error (usage on stderr).
// The database is loaded already, as the program loads it.
int RunUpdateCommand(int argc, char** argv);
