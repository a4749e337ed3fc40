#include "host/cKVBlob.h"

#include <sqlite3.h>

#include "host/cUtil.h"
#include "host/host_args.h"
#include "host/host_database.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/text_file.h"

namespace fern {
namespace {

struct Stored {
  bool found = false;
  std::string fileName;
  std::string bytes;
};

// Blobs are read with SQLite directly: recordset values are texts and numbers.
Stored ReadBlob(const std::string& connect, const std::string& where, const std::string& key) {
  sqlite3* h = host::Database(connect).Handle();
  sqlite3_stmt* st = nullptr;
  std::string sql = "SELECT FILENAME, DATA FROM KVBLOB WHERE " + where + " LIMIT 1";
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    throw HostError(db::kDatabaseError, sqlite3_errmsg(h), "cKVBlob");
  sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
  Stored s;
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    s.found = true;
    if (auto* name = sqlite3_column_text(st, 0)) s.fileName = reinterpret_cast<const char*>(name);
    const void* data = sqlite3_column_blob(st, 1);
    s.bytes.assign(static_cast<const char*>(data), data ? sqlite3_column_bytes(st, 1) : 0);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    throw HostError(db::kDatabaseError, sqlite3_errmsg(h), "cKVBlob");
  return s;
}

}  // namespace

void cKVBlob::GetSingleFileByBlobDsn(const std::string& connect, const std::string& fileDsn,
                                     const std::string& target) const {
  Stored s = ReadBlob(connect, "DSN = ?1", fileDsn);
  if (!s.found)
    throw HostError(err::kFileNotFound, "Keine gespeicherte Datei " + fileDsn,
                    "GetSingleFileByBlobDsn");
  WriteBytes(ResolveHostPath(target), s.bytes);
}

std::string cKVBlob::GetContactPicture(const std::string& connect, const std::string& adDsn) const {
  if (!cUtil::isGuid(adDsn)) return {};
  Stored s = ReadBlob(connect, "OWNER_DSN = ?1 AND KIND = 'CONTACTPICTURE'", adDsn);
  if (!s.found || s.bytes.empty()) return {};
  std::string ext = cUtil::GetFileExtender(s.fileName);
  std::string key = adDsn;
  cUtil::removeBrace(key);
  std::string path = cUtil::GetTempPath() + "kvcontact_" + key + "." + (ext.empty() ? "jpg" : ext);
  WriteBytes(path, s.bytes);
  return path;
}

Variant cKVBlob::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  using namespace host;
  if (NameIs(name, "GetSingleFileByBlobDsn")) {
    CheckArgCount(args, 3, 3, name);
    GetSingleFileByBlobDsn(ArgStr(args, 0), ArgStr(args, 1), ArgStr(args, 2));
    return true;
  }
  if (NameIs(name, "GetContactPicture")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(GetContactPicture(ArgStr(args, 0), ArgStr(args, 1)));
  }
  ThrowNoMember(name);
}

}  // namespace fern
