// The host's connection-string utility, reading our keys in "sql\sql.ini":
//
//   [SQLITE]
//   DATABASE=DAT\kavantor.db   ; the host database file: relative to the host folder, a host
//                              ; path ("C:\KV\DAT\kavantor.db") or a Linux path
//   [DRIVES]
//   C=/srv/kavantor            ; drive letters of the host's paths -> real folders
//
// The host folder is the folder above "sql".
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "platform/dispatch.h"

namespace fern {

struct SqlIniSettings {
  std::filesystem::path iniFile;
  std::filesystem::path hostFolder;
  std::filesystem::path database;
  std::map<char, std::filesystem::path> drives;
};

class cdbutil : public Dispatch {
 public:
  // The fixed number the host passes.
  static constexpr int32_t kConnectKey = 7310482;

  // Reads the settings without touching the database. HostError naming the file: 53 when the
  // INI is missing, 50015 when it lacks DATABASE or has a bad [DRIVES] entry.
  static SqlIniSettings ReadSqlIni(const std::string& sqlIniPath);

  // Installs the drive table for the path resolver and returns the connection string of the
  // database file. HostError naming the file as ReadSqlIni, and 53 when the database file is
  // missing, 50015 when it is no SQLite database.
  std::string GetConnectString(const std::string& sqlIniPath, int32_t key = kConnectKey) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cdbutil"; }
};

}  // namespace fern
