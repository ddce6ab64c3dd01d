#include "vessarine/startup/startup.h"

#include "vessarine/db/loader.h"
#include "vessarine/store/texts.h"

void StartUpDatabase() {
  g_strDbVersion = kVersionBuiltin;
  LoadDatabase();
}
