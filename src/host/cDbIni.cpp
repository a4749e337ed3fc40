#include "host/cDbIni.h"

#include "host/cUtil.h"
#include "host/host_args.h"
#include "host/host_database.h"
#include "platform/text.h"
#include "platform/vb.h"

namespace fern {

void cDbIni::Init(const std::string& connect, const std::string& userDsn) {
  host::Database(connect);  // fails here, naming the file, rather than at the first read
  connect_ = connect;
  userDsn_ = cUtil::isGuid(userDsn) ? userDsn : std::string();
  bound_ = true;
}

void cDbIni::CheckInit(const char* member) const {
  if (!bound_) throw HostError(err::kObjectNotSet, "cDbIni ist nicht initialisiert", member);
}

bool cDbIni::Read(const std::string& section, const std::string& key, std::string& value) const {
  auto rs = host::Database(connect_).Query(
      "SELECT VALUE, USER_DSN FROM DBINI WHERE SECTION = " + cUtil::SqlStr(Variant(section)) +
      " AND KEYNAME = " + cUtil::SqlStr(Variant(key)) + " AND (USER_DSN = '' OR USER_DSN = " +
      cUtil::SqlStr(Variant(userDsn_)) + ") ORDER BY USER_DSN DESC");
  if (rs->Eof()) return false;
  value = cUtil::k(rs->Value(size_t{0}));
  return true;
}

std::string cDbIni::getStr(const std::string& section, const std::string& key,
                           const std::string& def) const {
  CheckInit("getStr");
  std::string v;
  return Read(section, key, v) ? v : def;
}

int32_t cDbIni::getint(const std::string& section, const std::string& key, int32_t def) const {
  CheckInit("getint");
  std::string v;
  double n = 0;
  if (!Read(section, key, v) || !vb::ParseNumber(text::TrimBlanks(v), n)) return def;
  try {
    return vb::CLng(Variant(n));
  } catch (const HostError&) {
    return def;
  }
}

bool cDbIni::GetBool(const std::string& section, const std::string& key, bool def) const {
  CheckInit("GetBool");
  std::string v;
  if (!Read(section, key, v) || text::TrimBlanks(v).empty()) return def;
  return cUtil::b(Variant(v));
}

double cDbIni::GetDate(const std::string& section, const std::string& key) const {
  CheckInit("GetDate");
  std::string v;
  if (!Read(section, key, v)) return 0;
  double serial = 0;
  if (db::IsoToDate(text::TrimBlanks(v), serial)) return serial;
  return cUtil::d(Variant(v));
}

void cDbIni::WriteStr(const std::string& section, const std::string& key,
                      const std::string& value) {
  CheckInit("WriteStr");
  host::Database(connect_).Execute(
      "INSERT OR REPLACE INTO DBINI (SECTION, KEYNAME, USER_DSN, VALUE) VALUES (" +
      cUtil::SqlStr(Variant(section)) + ", " + cUtil::SqlStr(Variant(key)) + ", " +
      cUtil::SqlStr(Variant(userDsn_)) + ", " + cUtil::SqlStr(Variant(value)) + ")");
}

Variant cDbIni::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  using namespace host;
  if (NameIs(name, "Init")) {
    CheckArgCount(args, 2, 2, name);
    Init(ArgStr(args, 0), cUtil::k(args[1]));
    return {};
  }
  if (NameIs(name, "getStr")) {
    CheckArgCount(args, 2, 3, name);
    return Variant(getStr(ArgStr(args, 0), ArgStr(args, 1), ArgStr(args, 2)));
  }
  if (NameIs(name, "getint")) {
    CheckArgCount(args, 2, 3, name);
    return getint(ArgStr(args, 0), ArgStr(args, 1), ArgLong(args, 2, 0));
  }
  if (NameIs(name, "GetBool")) {
    CheckArgCount(args, 2, 3, name);
    return GetBool(ArgStr(args, 0), ArgStr(args, 1), ArgBool(args, 2, false));
  }
  if (NameIs(name, "GetDate")) {
    CheckArgCount(args, 2, 3, name);
    return Variant::Date(GetDate(ArgStr(args, 0), ArgStr(args, 1)));
  }
  if (NameIs(name, "WriteStr")) {
    CheckArgCount(args, 3, 3, name);
    std::string value =
        args[2].type() == VType::Date ? db::DateToIso(args[2].dateVal()) : ArgStr(args, 2);
    WriteStr(ArgStr(args, 0), ArgStr(args, 1), value);
    return {};
  }
  ThrowNoMember(name);
}

}  // namespace fern
