// A host folder with "sql\sql.ini" and an empty host database, for tests that need real files.
#pragma once

#include <string>

#include "host/host_database.h"
#include "support/scratch_dir.h"

namespace fern::testing {

class HostDbFixture {
 public:
  HostDbFixture() {
    dir_.Write("sql/sql.ini", "[SQLITE]\r\nDATABASE=DAT\\kavantor.db\r\n");
    std::filesystem::create_directories(dir_ / "DAT");
    auto conn = db::Connection::Create((dir_ / "DAT/kavantor.db").string());
    host::CreateHostSchema(*conn);
    connect_ = host::MakeConnectString((dir_ / "DAT/kavantor.db").string());
  }
  ~HostDbFixture() { host::CloseDatabases(); }

  const ScratchDir& dir() const { return dir_; }
  const std::string& connect() const { return connect_; }
  std::string sqlIni() const { return (dir_ / "sql" / "sql.ini").string(); }
  db::Connection& db() const { return host::Database(connect_); }

 private:
  ScratchDir dir_;
  std::string connect_;
};

}  // namespace fern::testing
