// A connection to the host database, an SQLite file. Every SQL text runs through the rewrite
// of sql_rewrite.h; every connection registers the collations and functions the host's SQL
// relies on. Queries return disconnected recordsets; UpdateRecordset writes their changes back.
//
// Errors: HostError kDatabaseError naming the file (open) or the statement (run), with
// SQLite's message.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/Recordset.h"
#include "db/host_functions.h"
#include "db/sql_rewrite.h"

struct sqlite3;

namespace fern::db {

// The data layer's general error number (0x80004005), used for every database failure.
inline constexpr int32_t kDatabaseError = -2147467259;

// Field type codes from declared column types (case-insensitive, first rule that applies):
//   TINYINT -> 17 (Byte)           BOOL, BIT -> 11 (Boolean)
//   DATETIME, TIMESTAMP -> 135     DATE -> 7 (both read as Date from ISO text)
//   MONEY, CURRENCY -> 6           GUID, UNIQUEIDENTIFIER -> 72 (text)
//   ...INT... -> 3 (Long; Double beyond 32 bits)
//   REAL, FLOAT, DOUBLE, DECIMAL, NUMERIC -> 5 (Double)
//   MEMO, NTEXT, LONGTEXT, CLOB -> 203        BLOB, BINARY -> 205
//   CHAR, VARCHAR, NVARCHAR, TEXT -> 202 (DefinedSize from "(n)")
// A column without a declared type (an expression) takes the type of a CAST around it, else
// the type of its first non-Null value (integer 3, real 5, text 202, blob 205).
int FieldTypeFromDeclared(std::string_view declared, int32_t* definedSize = nullptr);

// Date <-> the ISO text "YYYY-MM-DD HH:MM:SS" the database stores.
std::string DateToIso(double serial);
bool IsoToDate(std::string_view text, double& serial);

// One thread at a time uses a connection (it is opened without SQLite's own locking).
class Connection {
 public:
  using Procedure =
      std::function<std::shared_ptr<Recordset>(Connection&, const std::vector<std::string>&)>;

  // Opens an existing database file for reading and writing. A missing file, a file that is
  // no database and a write-protected file each throw HostError naming the file.
  static std::unique_ptr<Connection> Open(const std::string& path);
  // Opens the file, creating an empty database when it does not exist (schema writers, tests).
  static std::unique_ptr<Connection> Create(const std::string& path);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& Path() const { return path_; }

  // Waiting for a lock another connection holds; after it, the statement fails. Default 5 s.
  void SetBusyTimeout(int milliseconds);

  // `exec NAME args` calls this procedure (name case-insensitive) with the arguments as texts.
  void RegisterProcedure(const std::string& name, Procedure proc);

  // Runs the SQL (one statement; earlier statements of a batch run first, as Execute) and
  // returns the rows of the last one as a recordset (no fields for a statement without rows).
  std::shared_ptr<Recordset> Query(std::string_view sql);

  // Runs every statement of the batch in one transaction: when one fails, none of them has
  // any effect and the HostError names the failing statement.
  void Execute(std::string_view batch);

  // Writes the recordset's new, changed and deleted rows to its table by the table's primary
  // key, in one transaction, then marks the rows unchanged; written rows are read back, so they
  // hold what the database stored (defaults, generated integer keys). Only a recordset whose
  // columns come from one table and include every key column can be written; anything else, and a
  // changed or deleted row that the database no longer has, throws and writes nothing. A recordset
  // without changes is left alone. Dates are written as ISO text, Booleans as 1/0, Null as NULL.
  void UpdateRecordset(Recordset& rs);

  sqlite3* Handle() const { return db_; }

 private:
  Connection(std::string path, sqlite3* db);
  static std::unique_ptr<Connection> OpenImpl(const std::string& path, bool create);
  void RunStatement(const SqlStatement& st);
  std::shared_ptr<Recordset> QueryStatement(const SqlStatement& st);
  std::shared_ptr<Recordset> CallProcedure(const SqlStatement& st);
  // Runs `body` inside a transaction (a savepoint when one is already open).
  void InTransaction(std::string_view firstStatement, const std::function<void()>& body);
  [[noreturn]] void Fail(std::string_view what, std::string_view statement, int rc);

  std::string path_;
  sqlite3* db_ = nullptr;
  std::map<std::string, Procedure> procedures_;  // folded name
  int savepointDepth_ = 0;
};

}  // namespace fern::db
