// The host's database access object over the SQLite connection of src/db. Every call names its
// database by the connection string that `cdbutil.GetConnectString` made; connections are shared
// per database file for the process.
#pragma once

#include <memory>
#include <string>

#include "db/Recordset.h"
#include "platform/dispatch.h"

namespace fern {

class cDal : public Dispatch {
 public:
  // Binds the object to the host's database settings: reads "sql\sql.ini" (see cdbutil.h) and
  // opens the database. HostError naming the file when either is missing or unusable.
  void Init(const std::string& sqlIniPath);
  // The connection string Init found ("" before Init).
  const std::string& ConnectString() const { return connect_; }

  // The rows of the SQL text (the last statement of a batch), or of an "exec" procedure.
  // `lockMode` is accepted for the callers' sake: recordsets are always disconnected and
  // editable in memory. Errors: HostError naming the statement.
  std::shared_ptr<db::Recordset> GetRecordset(const std::string& connect, const std::string& sql,
                                              int32_t lockMode = 1);
  // Writes the recordset's changes back by key, all or nothing.
  void UpdateRecordset(const std::string& connect, db::Recordset& rs);
  // Runs statements joined by line breaks in one transaction: one failing statement undoes the
  // whole batch and raises.
  void ExecQuery(const std::string& connect, const std::string& sql);

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cDal"; }

 private:
  std::string connect_;
};

}  // namespace fern
