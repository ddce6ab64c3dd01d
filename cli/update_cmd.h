// `vessarine-cli update`: the database update and every registry table,
// without a window.
#pragma once

#include "vessarine/update/update.h"

// Runs the update with the database loaded already, as the program loads it.
// Prints each message the dialog would show, one per line (UTF-8), dots on
// stderr while downloading, then one line per registry on stderr. Returns 0
// when the database update (if there was an MA-L listing) completed and no
// registry kept its previous table, 1 otherwise.
int RunUpdate(const UpdateSource& source);
