#include "host/cDal.h"

#include "host/cdbutil.h"
#include "host/host_args.h"
#include "host/host_database.h"

namespace fern {

void cDal::Init(const std::string& sqlIniPath) {
  std::string connect = cdbutil().GetConnectString(sqlIniPath);
  host::Database(connect);
  connect_ = connect;
}

std::shared_ptr<db::Recordset> cDal::GetRecordset(const std::string& connect,
                                                  const std::string& sql, int32_t) {
  return host::Database(connect).Query(sql);
}

void cDal::UpdateRecordset(const std::string& connect, db::Recordset& rs) {
  host::Database(connect).UpdateRecordset(rs);
}

void cDal::ExecQuery(const std::string& connect, const std::string& sql) {
  host::Database(connect).Execute(sql);
}

Variant cDal::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  using namespace host;
  if (NameIs(name, "Init")) {
    CheckArgCount(args, 1, 1, name);
    Init(ArgStr(args, 0));
    return {};
  }
  if (NameIs(name, "GetRecordset")) {
    CheckArgCount(args, 2, 3, name);
    return Variant(std::shared_ptr<Dispatch>(
        GetRecordset(ArgStr(args, 0), ArgStr(args, 1), ArgLong(args, 2, 1))));
  }
  if (NameIs(name, "UpdateRecordset")) {
    CheckArgCount(args, 2, 2, name);
    auto* rs = args[1].IsObject() ? dynamic_cast<db::Recordset*>(args[1].obj().get()) : nullptr;
    if (!rs) throw HostError(err::kObjectRequired, "Object required", "UpdateRecordset");
    UpdateRecordset(ArgStr(args, 0), *rs);
    return {};
  }
  if (NameIs(name, "ExecQuery")) {
    CheckArgCount(args, 2, 2, name);
    ExecQuery(ArgStr(args, 0), ArgStr(args, 1));
    return {};
  }
  if (NameIs(name, "ConnectString")) return Variant(connect_);
  ThrowNoMember(name);
}

}  // namespace fern
