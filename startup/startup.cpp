#include "vessarine/startup/startup.h"

#include "vessarine/db/loader.h"
#include "vessarine/query/queries.h"
#include "vessarine/store/texts.h"

void StartUpDatabase() {
  g_strMacInput = "00:00:00:00:00:00";
  g_strDbVersion = kVersionBuiltin;
  g_strCompanyInput = "VELMORA TECHWORKS";
  LoadDatabase();
}
