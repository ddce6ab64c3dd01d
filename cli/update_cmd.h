// `vessarine-cli update`: the database update without a window.
#pragma once

#include <string>

struct UpdateOptions {
  // Listing address to download; empty: the registry's current listing.
  std::string url;
  // A listing already on disk, or a folder holding one as oui.txt (such as
  // /usr/share/ieee-data); it is read, never deleted. Empty: download.
  std::string from;
};

// Runs the update with the database loaded already, as the program loads it.
// Prints each message the dialog would show, one per line (UTF-8), dots on
// stderr while downloading. Returns 0 when the update completed ("完成更新"),
// 1 when it failed.
int RunUpdate(const UpdateOptions& options);
