// The host database behind the connection string: one open connection per database file for the
// process, with the host's stored procedures registered, and the host schema.
//
// A connection string names the database file: "Provider=FernSQLite;Data Source={<path>}"
// (braces around the path, a "}" inside it doubled).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace fern::host {

std::string MakeConnectString(const std::string& databasePath);
// The database path of a connection string; HostError 50015 when it names none.
std::string DatabasePathOf(std::string_view connect);

// The shared connection for the connection string, opened on first use.
// HostError naming the file when it is missing or no database.
db::Connection& Database(std::string_view connect);
// Closes every shared connection (tests, and before a database file is replaced).
void CloseDatabases();

// Creates the host tables in an empty database (schema.sql) and registers the procedures.
void CreateHostSchema(db::Connection& conn);

// The procedures the host SQL calls with "exec": ObjTracking '<listing>' and
// TrackingFiles '<portal>','<activity>'.
void RegisterHostProcedures(db::Connection& conn);

// The schema text, comment lines removed.
std::string SchemaSql();

}  // namespace fern::host
