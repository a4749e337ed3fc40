// The status write-back and the relays to the customer's script hooks.
#include "core/cScriptingV2.h"
#include "core/script_hooks.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "website/cWebserverV2.h"

namespace fern {

namespace {

const char* const kExportable =
    "(obj_dsn IN (SELECT dsn FROM Obj WHERE Transfer=0 AND FArchiv<2)) ";

// The consumer's recordset when it left one, else the one it got.
void TakeBack(const Variant& v, std::shared_ptr<db::Recordset>& rs) {
  if (!v.IsObject() || !v.obj()) return;
  if (auto p = std::dynamic_pointer_cast<db::Recordset>(v.obj())) rs = std::move(p);
}

}  // namespace

void cWebserverV2::UpdateBoersenObjStatus(db::Recordset& rsboersen) {
  const std::string d = cUtil::SQLDate(Variant::Date(runStart));
  const std::string p = "boersen_dsn = " + cUtil::SqlUid(rsboersen.Value("DSN")) + " ";
  dal_->ExecQuery(strConnect_, "update BOERSENOBJ set status=1, letzte_uebertragung = " + d +
                                   " where " + p + "and (kurz=1 OR lang=1) and " + kExportable);
  dal_->ExecQuery(strConnect_, "update BOERSENOBJ set status=3 , letzte_uebertragung = " + d +
                                   " where " + p +
                                   "and ( (kurz=0 and lang=0 and status=1) OR (NOT " + kExportable +
                                   " and status=1) )");
}

void cWebserverV2::CallBeforeTransfer(std::shared_ptr<db::Recordset>& rsboersen,
                                      const std::string& path, bool& cancel, std::string& message) {
  cancel = false;
  message.clear();
  std::vector<Variant> args{
      rsboersen ? Variant(std::static_pointer_cast<Dispatch>(rsboersen)) : Variant::Nothing(),
      Variant(path), Variant(false)};
  CallConsumers(scripting_.get(), "Callback_BeforeTransfer", args,
                [&](std::vector<Variant>& a, const Variant& result, bool) {
                  TakeBack(a[0], rsboersen);
                  AppendLine(message, HookText(result));
                  cancel = cUtil::b(a[2]);
                  return !cancel;
                });
}

void cWebserverV2::CallAfterTransfer(std::shared_ptr<db::Recordset>& rsboersen, std::string& urls,
                                     std::string& message) {
  urls.clear();
  message.clear();
  std::vector<Variant> args{
      rsboersen ? Variant(std::static_pointer_cast<Dispatch>(rsboersen)) : Variant::Nothing(),
      Variant()};
  CallConsumers(
      scripting_.get(), "Callback_AfterTransfer", args,
      [&](std::vector<Variant>& a, const Variant& result, bool) {
        TakeBack(a[0], rsboersen);
        const std::string list = HookText(a[1]);
        if (!list.empty()) urls = urls.empty() ? list : urls + "|" + list;
        AppendLine(message, HookText(result));
        return true;
      },
      [](std::vector<Variant>& a) { a[1] = Variant(); });
}

}  // namespace fern
