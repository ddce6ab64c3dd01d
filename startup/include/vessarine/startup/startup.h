// The start of a front end, before any query: the database as the cache
// files or the built-in copy give it.
#pragma once

// The built-in version text, then LoadDatabase, which may replace it.
void StartUpDatabase();
