#include "restportal/cIS24RestScript.h"

#include <utility>

#include "core/cScriptingV2.h"
#include "core/host_session.h"
#include "core/script_hooks.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "platform/host_error.h"

namespace fern {

namespace {

// Scripts may keep what they are handed, so only a recordset someone owns goes to them.
Variant RecordsetArg(db::Recordset& rs) {
  if (auto owned = rs.weak_from_this().lock()) return Variant(std::move(owned));
  return Variant::Nothing();
}

}  // namespace

cIS24RestScript::cIS24RestScript() : util_(Session().g_oUtil), dal_(Session().g_oDal) {}

cIS24RestScript::~cIS24RestScript() = default;

void cIS24RestScript::Init(const std::string& strConnectionString, const std::string& strKVPath) {
  connect_ = strConnectionString;
  kvPath_ = strKVPath;
  util_ = Session().g_oUtil;
  dal_ = Session().g_oDal;
  host_.reset();
  if (!dal_) throw HostError(err::kObjectNotSet, "Keine Host-Sitzung (cDal fehlt)", "Init");
  dal_->Init(strKVPath + "\\sql\\sql.ini");
  auto host = std::make_unique<cScriptingV2>();
  host->Init(strConnectionString, strKVPath, "", true);
  if (Session().g_blnDebugLog)
    WriteDebugLog("cIS24RestScript.Init+ScriptLoad " + strKVPath + kScriptFolder);
  host->LoadScripts(strKVPath + kScriptFolder);
  host_ = std::move(host);
}

std::string cIS24RestScript::Callback_BeforeTransfer(db::Recordset& rsboersen) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen));
  return RelayFunction(host_.get(), "Callback_BeforeTransfer", args);
}

std::string cIS24RestScript::Callback_AfterMakePicturesApiReady(db::Recordset& rsboersen) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen));
  return RelayFunction(host_.get(), "Callback_AfterMakePicturesApiReady", args);
}

std::string cIS24RestScript::Callback_AfterTransfer(db::Recordset& rsboersen, bool blnTransferOk) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen)).In(Variant(blnTransferOk));
  return RelayFunction(host_.get(), "Callback_AfterTransfer", args);
}

}  // namespace fern
