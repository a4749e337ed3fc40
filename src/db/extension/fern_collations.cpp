// The loadable SQLite extension "fern_collations": the host database's collations and functions
// for the stock sqlite3 tool, so that
//   sqlite3 -cmd '.load /usr/lib/fern-dispatcher/fern_collations' kavantor.db
// creates a host database from schema.sql and runs any query on an existing one.
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include "db/host_functions.h"

// SQLite derives the entry point's name from the file name "fern_collations".
extern "C" __attribute__((visibility("default"))) int sqlite3_ferncollations_init(
    sqlite3* db, char** errorMessage, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  const int rc = fern::db::RegisterHostFunctions(db);
  if (rc != SQLITE_OK && errorMessage)
    *errorMessage = sqlite3_mprintf("fern_collations: %s", sqlite3_errstr(rc));
  return rc;
}
