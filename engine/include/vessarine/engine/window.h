// The window's three questions, answered over the vendor store as the GBK
// texts its result boxes show: the MAC lookup, the full listing and the
// paged company search. Part of the engine's interface, so the dialog and
// the command line's mac, list and company ask the engine as lookup,
// annotate, search and export do.
#pragma once

#include "vessarine/query/queries.h"

namespace engine {

using ::CompanyPage;
using ::ListMacs;
using ::LookupMac;
using ::QueryAnswer;
using ::QueryOutcome;
using ::SearchCompanies;
using ::SearchCursor;

}  // namespace engine
