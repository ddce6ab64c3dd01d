// `vessarine-cli update`: the database update and every registry table,
// without a window.
#pragma once

#include "vessarine/update/update.h"

struct UpdateOptions {
  UpdateSource source;
  bool quiet = false;    // only failures
  bool changes = false;  // list every assignment the update changed
};

// Runs the update with the database loaded already, as the program loads it.
// Prints each message the dialog would show, one per line (UTF-8); on a
// terminal, each download's progress on stderr; then one line per registry
// on stderr. Returns 0 when the database update (if there was an MA-L
// listing to take) completed and no registry kept its previous table, 1
// otherwise.
int RunUpdate(const UpdateOptions& options);
