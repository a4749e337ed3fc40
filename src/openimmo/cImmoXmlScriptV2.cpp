#include "openimmo/cImmoXmlScriptV2.h"

#include <utility>
#include <vector>

#include "core/cScriptingV2.h"
#include "core/host_session.h"
#include "core/script_hooks.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "platform/host_error.h"

namespace fern {

namespace {

constexpr const char* kCrLf = "\r\n";

// Only an object someone owns may go to the scripts: a script can keep what it is handed.
Variant RecordsetArg(db::Recordset& rs) {
  if (auto owned = rs.weak_from_this().lock()) return Variant(std::move(owned));
  return Variant::Nothing();
}

// rsboersen, rsObj: the consumers may replace them for the next consumer, never for the caller.
HookArgs& PictureArgs(HookArgs& args, db::Recordset& rsboersen, db::Recordset& rsObj) {
  return args.In(RecordsetArg(rsboersen)).In(RecordsetArg(rsObj));
}

bool IsDocument(const Variant& v) {
  return v.IsObject() && std::dynamic_pointer_cast<XmlDocument>(v.obj()) != nullptr;
}

}  // namespace

cImmoXmlScriptV2::cImmoXmlScriptV2() : util_(Session().g_oUtil), dal_(Session().g_oDal) {}

cImmoXmlScriptV2::~cImmoXmlScriptV2() = default;

void cImmoXmlScriptV2::Init(const std::string& strConnectionString, const std::string& strKVPath) {
  connect_ = strConnectionString;
  kvPath_ = strKVPath;
  // A second Init starts from scratch: the earlier scripts' objects go before the new ones load.
  host_.reset();
  if (!dal_) throw HostError(err::kObjectNotSet, "Keine Host-Sitzung (cDal fehlt)", "Init");
  dal_->Init(strKVPath + "\\sql\\sql.ini");
  auto host = std::make_unique<cScriptingV2>();
  host->Init(strConnectionString, strKVPath, "", true);
  host->TimeoutReported = [this](const std::string& text) {
    events.RaiseWorkState(state::kError, text);
  };
  host->LoadScripts(strKVPath + kScriptFolder);
  host_ = std::move(host);
}

void cImmoXmlScriptV2::Callback_RemaxCheckFeature(db::Recordset& rsboersen, db::Recordset& rsObj,
                                                  db::Recordset& rsdetails, int32_t lngNr,
                                                  bool& blnEnabled) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen))
      .In(RecordsetArg(rsObj))
      .In(RecordsetArg(rsdetails))
      .In(Variant(lngNr))
      .Back(blnEnabled);
  RelayProcedure(host_.get(), "Callback_RemaxCheckFeature", args, {4, FlagRule::kLastDecides, {}});
}

void cImmoXmlScriptV2::Callback_RemaxPropertyDescriptionGet(
    db::Recordset& rsboersen, db::Recordset& rsObj, db::Recordset& rsdetails,
    const Variant& arrText, std::string& strDescription, bool& blnCancel,
    std::string& strResultMsg) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen))
      .In(RecordsetArg(rsObj))
      .In(RecordsetArg(rsdetails))
      .In(arrText)
      .Back(strDescription)
      .Back(blnCancel)
      .Back(strResultMsg);
  RelayProcedure(host_.get(), "Callback_RemaxPropertyDescriptionGet", args,
                 {5, FlagRule::kSticky, 6});
}

void cImmoXmlScriptV2::Callback_OpenImmoPicInit(db::Recordset& rsboersen, db::Recordset& rsObj,
                                                std::string& strMMDateiKurz,
                                                std::string& strMMDateiLang, int32_t& lngMaxCounter,
                                                bool& blnCancel, std::string& strResultMsg) {
  HookArgs args;
  PictureArgs(args, rsboersen, rsObj)
      .Back(strMMDateiKurz)
      .Back(strMMDateiLang)
      .Back(lngMaxCounter)
      .Back(blnCancel)
      .Back(strResultMsg);
  RelayProcedure(host_.get(), "Callback_OpenImmoPicInit", args, {5, FlagRule::kSticky, 6});
}

void cImmoXmlScriptV2::Callback_OpenImmoPicGet(db::Recordset& rsboersen, db::Recordset& rsObj,
                                               int32_t lngNr, std::string& strPathAndFileName,
                                               std::string& strTitel, bool& blnCancel,
                                               std::string& strResultMsg) {
  HookArgs args;
  PictureArgs(args, rsboersen, rsObj)
      .In(Variant(lngNr))
      .Back(strPathAndFileName)
      .Back(strTitel)
      .Back(blnCancel)
      .Back(strResultMsg);
  RelayProcedure(host_.get(), "Callback_OpenImmoPicGet", args, {5, FlagRule::kSticky, 6});
}

void cImmoXmlScriptV2::Callback_OpenImmoPicCopy(db::Recordset& rsboersen, db::Recordset& rsObj,
                                                int32_t lngNr, std::string& strFileName1,
                                                std::string& strFileName2, int32_t& lngGroesse,
                                                int32_t& lngBreite, std::string& strCopyright,
                                                bool& blnCancel, std::string& strResultMsg) {
  HookArgs args;
  PictureArgs(args, rsboersen, rsObj)
      .In(Variant(lngNr))
      .Back(strFileName1)
      .Back(strFileName2)
      .Back(lngGroesse)
      .Back(lngBreite)
      .Back(strCopyright)
      .Back(blnCancel)
      .Back(strResultMsg);
  RelayProcedure(host_.get(), "Callback_OpenImmoPicCopy", args, {8, FlagRule::kSticky, 9});
}

std::string cImmoXmlScriptV2::Callback_BeforeXmlSave(db::Recordset& rsboersen,
                                                     XmlDocumentPtr& oXmlDoc, std::string& strPath,
                                                     std::string& strFileName) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen)).Back(oXmlDoc).Back(strPath).Back(strFileName);
  std::string answer;
  if (!host_) return answer;
  // Saving goes on with whatever document the hook leaves: a consumer that leaves Nothing or an
  // object that is no document is undone for that argument, so the next consumer and the
  // exporter always have one.
  std::vector<Variant>& v = args.Values();
  Variant before = v[1];
  CallConsumers(host_.get(), "Callback_BeforeXmlSave", v,
                [&](std::vector<Variant>& a, const Variant& result, bool) {
                  if (!IsDocument(a[1])) a[1] = before;
                  before = a[1];
                  AppendLine(answer, HookText(result));
                  return true;
                });
  args.CopyBack();
  return answer;
}

std::string cImmoXmlScriptV2::Callback_BeforeTransfer(db::Recordset& rsboersen, bool blnIsFtp,
                                                      const std::string& strPath,
                                                      const std::string& strFileName,
                                                      std::string& strFileFilter) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen))
      .In(Variant(blnIsFtp))
      .In(Variant(strPath))
      .In(Variant(strFileName))
      .Back(strFileFilter);
  return RelayFunction(host_.get(), "Callback_BeforeTransfer", args);
}

std::string cImmoXmlScriptV2::Callback_AfterTransfer(db::Recordset& rsboersen, bool blnIsFtp,
                                                     bool blnTransferOk) {
  HookArgs args;
  args.In(RecordsetArg(rsboersen)).In(Variant(blnIsFtp)).In(Variant(blnTransferOk));
  return RelayFunction(host_.get(), "Callback_AfterTransfer", args);
}

void cImmoXmlScriptV2::DoCallbackBeforeXmlSave(db::Recordset& rsboersen, XmlDocumentPtr& oXmlDoc,
                                               std::string& strPath, std::string& strFileName) {
  ReportScriptLines("Callback_BeforeXmlSave",
                    Callback_BeforeXmlSave(rsboersen, oXmlDoc, strPath, strFileName));
}

void cImmoXmlScriptV2::DoCallbackBeforeTransfer(db::Recordset& rsboersen, bool blnIsFtp,
                                                const std::string& strPath,
                                                const std::string& strFileName,
                                                std::string& strFileFilter) {
  ReportScriptLines("Callback_BeforeTransfer", Callback_BeforeTransfer(rsboersen, blnIsFtp, strPath,
                                                                       strFileName, strFileFilter));
}

void cImmoXmlScriptV2::DoCallbackAfterTransfer(db::Recordset& rsboersen, bool blnIsFtp,
                                               bool blnTransferOk) {
  ReportScriptLines("Callback_AfterTransfer",
                    Callback_AfterTransfer(rsboersen, blnIsFtp, blnTransferOk));
}

void cImmoXmlScriptV2::ReportScriptLines(const std::string& callback, std::string answer) const {
  while (!answer.empty()) {
    const std::string line = cUtil::StrList_DeleteFirst(answer, kCrLf);
    if (line.empty()) continue;
    if (line.starts_with(kStopMarker)) throw HostError(err::kStoppedByScript, line, callback);
    events.RaiseWorkState(kScriptLineState, kScriptLinePrefix + line);
  }
}

}  // namespace fern
