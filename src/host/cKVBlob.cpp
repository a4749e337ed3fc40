#include "host/cKVBlob.h"

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

// The first stored file the condition finds; `where` holds one "?" for the quoted key.
Stored ReadBlob(const std::string& connect, const std::string& where, const std::string& key) {
  std::string condition = where;
  condition.replace(condition.find('?'), 1, cUtil::SqlStr(Variant(key)));
  auto rs = host::Database(connect).Query("SELECT FILENAME, DATA FROM KVBLOB WHERE " + condition +
                                          " LIMIT 1");
  Stored s;
  if (rs->Eof()) return s;
  s.found = true;
  s.fileName = cUtil::k(rs->Value(size_t{0}));
  s.bytes = cUtil::k(rs->Value(size_t{1}));
  return s;
}

}  // namespace

void cKVBlob::GetSingleFileByBlobDsn(const std::string& connect, const std::string& fileDsn,
                                     const std::string& target) const {
  Stored s = ReadBlob(connect, "DSN = ?", fileDsn);
  if (!s.found)
    throw HostError(err::kFileNotFound, "Keine gespeicherte Datei " + fileDsn,
                    "GetSingleFileByBlobDsn");
  WriteBytes(ResolveHostPath(target), s.bytes);
}

std::string cKVBlob::GetContactPicture(const std::string& connect, const std::string& adDsn) const {
  if (!cUtil::isGuid(adDsn)) return {};
  Stored s = ReadBlob(connect, "OWNER_DSN = ? AND KIND = 'CONTACTPICTURE'", adDsn);
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
