// The tables lookup, annotate, search and export answer from.
#pragma once

#include <cstdio>
#include <string>

#include "vessarine/registry/tables.h"

// Exit status of a command whose prefixes file cannot be used.
inline constexpr int kExitPrefixes = 2;

// Every registry's table, with the user's own prefixes: those of the file
// `prefixes` names (which must exist), else of the default file when there
// is one. False when the prefixes file is unusable or malformed, said on
// `err` as `command`'s with the file and line. `manyLookups` as for
// RegistryTables::Load.
bool LoadTables(const char* command, const std::string& prefixes, registry::RegistryTables* tables, std::FILE* err,
                bool manyLookups = true);
