// vessarine-cli export: every assignment of every registry, one row each,
// for a data engine's range join.
#pragma once

#include <cstdio>

#include "vessarine/registry/assignments.h"

// 0, or 1 when the output failed.
int RunExport(registry::RowFormat format, std::FILE* out, std::FILE* err);
