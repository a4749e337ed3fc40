#include "host/KavantorApplication.h"

#include "db/Recordset.h"
#include "platform/host_error.h"

namespace fern {
namespace {

std::shared_ptr<KavantorApplication>& Running() {
  static std::shared_ptr<KavantorApplication> app;
  return app;
}

}  // namespace

KavantorApplication::KavantorApplication(std::string folder, std::string loginName)
    : folder_(std::move(folder)), loginName_(std::move(loginName)) {}

std::shared_ptr<KavantorApplication> KavantorApplication::GetRunning() {
  if (!Running())
    throw HostError(429,
                    "ActiveX component can't create object: Kavantor.Application (no host "
                    "application is running)",
                    "GetObject");
  return Running();
}

void KavantorApplication::SetRunning(std::shared_ptr<KavantorApplication> app) {
  Running() = std::move(app);
}

std::shared_ptr<Dispatch> KavantorApplication::CurrentUserRS() const {
  db::FieldInfo f;
  f.name = "login_name";
  auto rs = db::Recordset::Create({f});
  rs->LoadRow({Variant(loginName_)});
  return rs;
}

Variant KavantorApplication::Invoke(std::string_view name, unsigned, std::span<Variant>) {
  if (NameIs(name, "Folder")) return Variant(folder_);
  if (NameIs(name, "CurrentUserRS")) return Variant(CurrentUserRS());
  ThrowNoMember(name);
}

}  // namespace fern
