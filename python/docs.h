// What help(vessarine) shows: the module's and each function's docstring.
#pragma once

inline constexpr const char* kModuleDoc = R"(Which company holds a MAC address, from every IEEE registry.

The answers are those of vessarine-cli, from the same tables: the cache
directory `vessarine-cli update` fills ($XDG_CACHE_HOME/vessarine), else
the built-in MA-L table, and the user's prefixes file
($XDG_CONFIG_HOME/vessarine/prefixes when it exists, or the file given
as prefixes=, as --prefixes gives it). They are loaded once per process,
on first use, and kept; any number of threads may ask at once, and a
forked child keeps them.

    >>> vessarine.lookup("00:0c:29:aa:bb:cc")["organization"]
    'VMware, Inc.'

lookup(text)            one dict: the keys of `lookup --json`
lookup_many(texts)      a list of those, the GIL released while it works
annotate(text)          the text with " [holder]" after each address
find(text)              a dict for each address found (`annotate --json`)
search(text)            the assignments whose holder contains text
export()                every assignment (`export --json`)
tables()                which tables are loaded and from where

A damaged cache table is left out with a RuntimeWarning naming it; an
unusable prefixes file raises ValueError.
)";

inline constexpr const char* kLookupDoc = R"(lookup(text, *, prefixes=None, wwn=False) -> dict

The holder of one identifier, in any notation `lookup` takes (six or three
bytes, an EUI-64, a World Wide Name, or an IPv6 address with a MAC
inside; wwn=True reads the 64-bit forms without a marker as WWNs, as
--wwn does), as the
object `vessarine-cli lookup --json` prints: input, mac, registry,
assignment, bits, organization, address (lines), also (further holders),
source, group, local, broadcast, note, derived_from, kind, identifier. Text that is no
identifier (invalid UTF-8 and NUL included) gives {"input", "error"}.
Raises TypeError when text is not a str.
)";

inline constexpr const char* kLookupManyDoc = R"(lookup_many(texts, *, prefixes=None, wwn=False) -> list[dict]

lookup() of each str of an iterable, in order; the lookups run with the
GIL released, so threads calling it work at once. Raises TypeError naming
the index of the first item that is not a str.
)";

inline constexpr const char* kAnnotateDoc = R"(annotate(text, *, prefixes=None) -> str

What `vessarine-cli annotate` prints for text: every MAC address (and IPv6
address with one inside) followed by " [holder]", the rest unchanged.
)";

inline constexpr const char* kFindDoc = R"(find(text, *, prefixes=None) -> list[dict]

The objects `vessarine-cli annotate --json` prints for text: lookup()'s
keys for each address found, with its line, column (1-based, in UTF-8
bytes) and the text found.
)";

inline constexpr const char* kSearchDoc = R"(search(text, *, prefixes=None) -> list[dict]

The assignments of every registry (and of the prefixes file) a holder of
which has text in its name, letters in either case, as `vessarine-cli
search --json` lists them: registry, assignment, bits, first, last,
first_mac, last_mac, organization, address, also, source. Raises
ValueError for an empty text.
)";

inline constexpr const char* kExportDoc = R"(export(*, prefixes=None) -> list[dict]

Every assignment, as `vessarine-cli export --json` writes them, with the
keys of search().
)";

inline constexpr const char* kTablesDoc = R"(tables(*, prefixes=None) -> list[dict]

Each registry's table: registry, entries, source ("cache", "built-in" or
"none") and path (the cache file, else None); then, when a prefixes file
is in use, a "user" row with its path.
)";
