// SQLite's API for the code the extension shares with the program: built into the extension,
// every call goes through the routine table that SQLite hands to the extension when it loads.
#pragma once

#ifdef FERN_SQLITE_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3
#else
#include <sqlite3.h>
#endif
