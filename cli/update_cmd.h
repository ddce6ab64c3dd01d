// `vessarine-cli update`: the database update without a window, followed by
// the refresh of every registry table.
#pragma once

#include <string>

struct UpdateOptions {
  // The MA-L listing's address; empty: the registry's current listing.
  std::string url;
  // A mirror of the registry's site to download every listing from; empty:
  // the registry's own site.
  std::string site;
  // A listing file of any registry, or a folder holding any of the five
  // listings (such as /usr/share/ieee-data); read, never deleted. Empty:
  // download.
  std::string from;
};

// Runs the update with the database loaded already, as the program loads it.
// Prints each message the dialog would show, one per line (UTF-8), dots on
// stderr while downloading, then one line per registry on stderr. Returns 0
// when the update completed and no registry kept its previous table for a
// failure, 1 otherwise.
int RunUpdate(const UpdateOptions& options);
