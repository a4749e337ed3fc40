// The collations and SQL functions the host's SQL relies on. The program registers them on every
// connection; the loadable extension "fern_collations" (db/extension) is built from the same
// source against SQLite's extension interface, so that the stock sqlite3 tool can create and
// query a host database with exactly the program's comparisons.
#pragma once

struct sqlite3;

namespace fern::db {

// Collation for text columns: case-insensitive with German letters (see german_text.h).
// The schema declares text columns `COLLATE DE_CI`.
inline constexpr const char* kTextCollation = "DE_CI";
// Collation for GUID key columns: compares without regard to case, braces or blanks, so
// "{ABC-...}", "abc-..." and "{abc-...}" are the same key.
inline constexpr const char* kGuidCollation = "GUIDKEY";

// Registers DE_CI, GUIDKEY, LIKE (German letters without regard to case, [..] classes) and
// T-SQL's LEN on the connection. SQLITE_OK, or the first code SQLite refused with.
int RegisterHostFunctions(sqlite3* db);

}  // namespace fern::db
