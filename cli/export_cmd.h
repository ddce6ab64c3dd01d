// vessarine-cli export: every assignment of every registry and every user
// prefix, one row each, for a data engine's range join.
#pragma once

#include <cstdio>
#include <string>

#include "vessarine/answer/assignments.h"

// 0, 1 when the output failed, or 2 when the prefixes file (`prefixes`,
// empty for the default one) cannot be used.
int RunExport(answer::RowFormat format, const std::string& prefixes, std::FILE* out, std::FILE* err);
