// The start of a front end, before any query: the bound variables' initial
// texts, then the database as the cache files or the built-in copy give it.
#pragma once

// "00:00:00:00:00:00", "VELMORA TECHWORKS" and the built-in version text,
// then LoadDatabase, which may replace the version text.
void StartUpDatabase();
