// The engine lookup, annotate, search and export answer from.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "vessarine/engine/engine.h"

// Exit status of a command whose prefixes file cannot be used.
inline constexpr int kExitPrefixes = 2;

// Every registry's table, with the user's own prefixes: those of the file
// `prefixes` names (which must exist), else of the default file when there
// is one. Null when the prefixes file is unusable or malformed, said on
// `err` as `command`'s with the file and line. `manyLookups` as for
// RegistryTables::Load.
std::unique_ptr<engine::Engine> OpenEngine(const char* command, const std::string& prefixes, std::FILE* err,
                                           bool manyLookups = true);
