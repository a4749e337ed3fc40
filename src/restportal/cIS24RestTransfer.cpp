#include "restportal/cIS24RestTransfer.h"

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "restportal/cIS24RestScript.h"
#include "restportal/cKavantorAPIMini.h"
#include "services/cImmoHelperV2.h"

namespace fern {

namespace {

const std::string kStars(80, '*');
constexpr const char* kCrLf = "\r\n";

int32_t WholeNumber(const std::string& text) {
  const double v = vb::Val(vb::Trim(text));
  if (v > 2147483647.0 || v < -2147483648.0)
    throw HostError(err::kOverflow, "Überlauf: " + text, "Init");
  return vb::CLng(Variant(v));
}

const char* HookName(int hook) {
  switch (hook) {
    case 0:
      return "Callback_BeforeTransfer";
    case 1:
      return "Callback_AfterMakePicturesApiReady";
    default:
      return "Callback_AfterTransfer";
  }
}

}  // namespace

cIS24RestTransfer::cIS24RestTransfer()
    : util_(Session().g_oUtil),
      dal_(Session().g_oDal),
      script_(std::make_unique<cIS24RestScript>()),
      helper_(std::make_unique<cImmoHelperV2>()),
      kvUtil_(Session().g_oKVUtil) {
  events.Relay(*helper_);
}

cIS24RestTransfer::~cIS24RestTransfer() = default;

int32_t cIS24RestTransfer::VersionBuild() const { return app_->VersionBuild(); }
int32_t cIS24RestTransfer::VersionMajor() const { return app_->VersionMajor(); }

std::string cIS24RestTransfer::T(const std::string& german, const std::string& p1,
                                 const std::string& p2) const {
  return Session().g_oLanguagePack ? Session().g_oLanguagePack->TranslateString(german, p1, p2)
                                   : german;
}

void cIS24RestTransfer::Debug(const std::string& text) const {
  if (Session().g_blnDebugLog) WriteDebugLog(text);
}

std::string cIS24RestTransfer::HostIni() const { return app_->Folder() + "\\Kavantor.INI"; }

Variant cIS24RestTransfer::Init(cFernDispatcher& KVApp, std::string& strConnect,
                                std::string& strUserDSN) {
  app_ = &KVApp;
  connect_ = strConnect;
  userDsn_ = strUserDSN;
  name_ = kTransferName;
  if (!(VersionBuild() >= kMinBuild || VersionMajor() > 19)) {
    State(102, kStars);
    State(102, T("Fehler bei %1. Kavantor-Build muss mindestens %2 sein.", name_,
                 std::to_string(kMinBuild)));
    State(6, "");
    return Variant(false);
  }
  if (!util_ || !dal_) throw HostError(err::kObjectNotSet, "Keine Host-Sitzung", "Init");
  const std::string folder = KVApp.Folder();
  api_ = std::make_unique<cKavantorAPIMini>();
  api_->Init(folder, strConnect, strUserDSN);
  util_->JPGFrameInit(KVApp.DBIni());

  picFolder_ = folder + "\\pic.obj\\";
  brandedName_ = util_->IniGet("PicObj", "IS24RestFolderNameForBrandedPictures", "branded",
                               folder + "\\kavantor.ini");
  branded_ = picFolder_ + brandedName_;

  const char* general[4] = {"XMLGRUND_PICLENGTH", "XMLGRUND_PICWIDTH", "XML_PICLENGTH",
                            "XML_PICWIDTH"};
  const char* defaults[4] = {"1000000", "800", "1000000", "800"};
  for (int i = 0; i < 4; ++i) {
    const int32_t value = WholeNumber(util_->IniGet("OPTIONS", general[i], defaults[i], HostIni()));
    limits_[i] = WholeNumber(util_->IniGet("OPTIONS", std::string("IS24") + general[i],
                                           std::to_string(value), HostIni()));
  }

  helper_->Init(strConnect, KVApp);
  script_->Init(strConnect, folder);
  return Variant(true);
}

bool cIS24RestTransfer::CheckApiAccess() {
  if (util_->getUserpreference(connect_, userDsn_, "ALLOWED_USE_RESTAPI") != "1") {
    State(102, T("Sie sind nicht berechtigt mit der Kavantor-API zu kommunizieren."));
    State(6, "");
    return false;
  }
  // The key goes into SQL only when it is one.
  const std::string ben = api_->BenDSN();
  std::shared_ptr<db::Recordset> rs;
  if (cUtil::isGuid(ben))
    rs = dal_->GetRecordset(
        connect_, "SELECT AD_DSN, Name FROM BEN WHERE DSN = " + cUtil::SqlUid(Variant(ben)) + " ");
  if (!rs || rs->Eof()) {
    State(102, T("Kein KAVANTOR-API-User gefunden."));
    return false;
  }
  if (rs->Value("AD_DSN").IsNull()) {
    State(102,
          T("Im KAVANTOR-Benutzer '%1' ist keine Adresse verknüpft.", cUtil::k(rs->Value("Name"))));
    return false;
  }
  const std::string super =
      util_->IniGet("USER", "ApiSuperAD", "", app_->Folder() + "\\sql\\sql.ini");
  if (vb::Val(vb::Trim(super)) == 1) {
    if (Session().g_blnDebugLog) {
      const bool ok = api_->CheckIfKavantorAPIAvailable();
      Debug(std::string("Kein API-Check: (") + (ok ? "True" : "False") + ")");
    }
    return !EscPressed();
  }
  if (!api_->CheckIfKavantorAPIAvailable()) {
    // A stop ended the check: the run reports the stop, the service was not found wanting.
    if (EscPressed()) return false;
    // Why it failed helps the user more than the bare message.
    std::string why = cKavantorAPIMini::MaskSecrets(api_->getResponseText());
    if (api_->getResponseCode() != 0) {
      why = "Status " + std::to_string(api_->getResponseCode());
      for (const std::string& more : {api_->getResponseContentType(), api_->RedirectNote()})
        if (!more.empty()) why += ", " + more;
    }
    State(102, T("Die KAVANTOR-API ist nicht erreichbar.") + (why.empty() ? "" : " (" + why + ")"));
    return false;
  }
  return true;
}

void cIS24RestTransfer::Transfer(db::Recordset& rsboersen) {
  try {
    if (!api_ || !app_)
      throw HostError(err::kObjectNotSet, "Init wurde nicht aufgerufen", "IS24Rest.Transfer");
    if (api_->CertificatesUnchecked())
      State(0, T("Warnung: Die Zertifikate der KAVANTOR-API werden nicht geprüft "
                 "(Kavantor.INI, [KAVANTORAPI] VerifyCertificate=0)."));
    if (!CheckApiAccess()) return;
    Debug("Callback_BeforeTransfer");
    RunScript(Hook::kBeforeTransfer, rsboersen, false);
    const std::string body = BuildPublishXml(rsboersen);
    int32_t status = 0;
    if (!body.empty()) {
      State(4, kStars);
      State(4, T("Beginne %1 für Börse: '%2' zu erstellen", name_, GetPortalNames(rsboersen)));
      State(4, T("Bitte beachten Sie, dass die Übertragung asynchron von der KAVANTOR-API "
                 "übertragen wird. Dies kann je nach Anzahl der Objekte und der Bandbreite Ihrer "
                 "Internetleitung einige Zeit in Anspruch nehmen. Wenn die KAVANTOR-API fertig ist "
                 "mit der Übertragung, erstellt sie eine Aktivität mit einer Protokoll-Datei in "
                 "Ihrer Wiedervorlage."));
      Debug("Bilder vorbereiten");
      MakePicturesApiReady(rsboersen);
      Debug("Callback_AfterMakePicturesApiReady");
      RunScript(Hook::kAfterMakePicturesApiReady, rsboersen, false);
      Debug("Bilder durch. CallIS24RestApiTransferStart");
      status = api_->CallIS24RestApiTransferStart(body);
      Debug("CallIS24RestApiTransfer durch " + std::to_string(status));
      // Hosts before build 628 answer an accepted publish without a status.
      const bool oldHost = VersionMajor() < 20 && VersionBuild() < 628;
      if (status == 0 && !oldHost) {
        State(102, T("Fehler bei %1. Status = %2", name_, "0") + " (see KV-11463)");
      } else if (status != 0 && status != 200) {
        const std::string redirect = api_->RedirectNote();
        State(102, T("Fehler bei %1. Status = %2", name_, std::to_string(status)) +
                       (redirect.empty() ? "" : " (" + redirect + ")"));
      }
    }
    State(6, T("Beenden der %1-Erstellung/-Übertragung um %2 Uhr", name_,
               vb::CStr(Variant::Date(vb::Now()))));
    Debug("Callback_AfterTransfer");
    RunScript(Hook::kAfterTransfer, rsboersen, status == 200);
  } catch (const std::exception& e) {
    const HostError* h = dynamic_cast<const HostError*>(&e);
    const std::string what = ": " + std::to_string(h ? h->number() : 0) + "(" +
                             (h ? h->description() : std::string(e.what())) + "; " +
                             (h ? h->source() : std::string()) + ")";
    State(102, ">>>> " + T("Fehler %1", what) + " [Proc: IS24Rest.Transfer]" + "0");
  }
}

std::string cIS24RestTransfer::BuildPublishXml(db::Recordset& rsboersen) {
  std::string ids;
  for (rsboersen.MoveFirst(); !rsboersen.Eof(); rsboersen.MoveNext()) {
    const std::string dsn = cUtil::k(rsboersen.Value("DSN"));
    if (dsn.empty()) continue;
    if (!cUtil::isGuid(dsn)) {
      State(102, T("Ungültiger Börsenschlüssel: '%1'", dsn));
      continue;
    }
    ids += dsn + " ";
  }
  ids = vb::Replace(vb::Replace(ids, "{", ""), "}", "");
  if (ids.empty()) return {};
  ids.pop_back();
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><publishPortalsType>";
  xml += "<language>de</language><portalIds>" + ids + "</portalIds>";
  xml += GetPropertyInheritanceXml();
  xml += GetImageInheritanceXml();
  return xml + "</publishPortalsType>";
}

std::string cIS24RestTransfer::GetPropertyInheritanceXml() const {
  return "<propertyInheritanceEnabled>" +
         util_->IniGet("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "1", HostIni()) +
         "</propertyInheritanceEnabled>";
}

std::string cIS24RestTransfer::GetImageInheritanceXml() const {
  return "<imageInheritanceEnabled>" +
         util_->IniGet("OPTIONS", "VERERBTE_OBJEKTBILDER", "1", HostIni()) +
         "</imageInheritanceEnabled>";
}

std::string cIS24RestTransfer::GetPortalNames(db::Recordset& rsboersen) const {
  std::string names;
  for (rsboersen.MoveFirst(); !rsboersen.Eof(); rsboersen.MoveNext()) {
    names += cUtil::k(rsboersen.Value("boersen_name"));
    if (!names.empty()) names += ", ";
  }
  if (!names.empty()) names.resize(names.size() - 2);
  return names;
}

void cIS24RestTransfer::RunScript(Hook hook, db::Recordset& rsboersen, bool blnTransferOk) {
  if (!script_) return;
  std::string out;
  switch (hook) {
    case Hook::kBeforeTransfer:
      out = script_->Callback_BeforeTransfer(rsboersen);
      break;
    case Hook::kAfterMakePicturesApiReady:
      out = script_->Callback_AfterMakePicturesApiReady(rsboersen);
      break;
    case Hook::kAfterTransfer:
      out = script_->Callback_AfterTransfer(rsboersen, blnTransferOk);
      break;
  }
  while (!out.empty()) {
    const std::string line = cUtil::StrList_DeleteFirst(out, kCrLf);
    if (line.empty()) continue;
    if (line.compare(0, 4, ">>>>") == 0)
      throw HostError(err::kStoppedByScript, line, HookName(static_cast<int>(hook)));
    State(14, "Scripting: " + vb::Replace(line, kCrLf, " | "));
  }
}

}  // namespace fern
