#include "website/cWebserverV2.h"

#include <filesystem>

#include "core/cFernDispatcher.h"
#include "core/cScriptingV2.h"
#include "core/host_session.h"
#include "host/CUDDictionary.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVBlob.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/msgbox.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/cBigFileV2.h"
#include "services/cImmoHelperV2.h"
#include "website/text_helpers.h"

namespace fern {

using website::StringToHTML;

cWebserverV2::cWebserverV2() {
  HostSession& s = Session();
  util_ = s.g_oUtil;
  dal_ = s.g_oDal;
  kvUtil_ = s.g_oKVUtil;
  kvBlob_ = std::make_shared<cKVBlob>();
  // One dictionary per content language, in the language pack's order.
  LanguagePack* pack = s.g_oLanguagePack.get();
  if (!pack && util_) pack = &util_->Language();
  if (pack) {
    auto dictionary = [&](const std::string& lcid) {
      auto d = std::make_shared<CUDDictionary>();
      if (vb::IsNumeric(Variant(lcid))) d->SetLCID(vb::CLng(Variant(lcid)));
      d->SetNotExistsString("");
      d->SetFolder(pack->DictionaryPath());
      try {
        d->LoadFromFile();
      } catch (const HostError&) {
        // A language without a readable dictionary answers with empty texts.
      }
      dictionaries_.push_back(d);
    };
    if (!pack->MultiContentLanguages()) {
      dictionary(pack->ContentLanguages());
    } else {
      for (const std::string& lcid : pack->ContentLangList()) {
        dictionary(lcid);
        languages_.lcids.push_back(lcid);
        captions_.push_back(LanguagePack::GetCaptionFromLCID(vb::CLng(Variant(lcid))));
      }
    }
  }
  // The generator steps in the order the site's import needs them; the first two carry no
  // step name, so a failure in them is reported without one.
  dataSteps = {
      {"",
       [this](db::Recordset& p) { listings = CreateImportScript_InsertTable_DAT(listings, p); }},
      {"", [this](db::Recordset&) { listings = CreateImportScript_UpdateTable_DAT(listings); }},
      {"CreateImportScript_InsertTable_INTERESSENTEN",
       [this](db::Recordset&) { CreateImportScript_InsertTable_INTERESSENTEN(); }},
      {"CreateImportScript_InsertTable_FART",
       [this](db::Recordset&) { CreateImportScript_InsertTable_FART(); }},
      {"CreateImportScript_InsertTable_OBJTRACK",
       [this](db::Recordset&) { CreateImportScript_InsertTable_OBJTRACK(); }},
      {"CreateImportScript_InsertTable_AKTTRACK",
       [this](db::Recordset& p) {
         CreateImportScript_InsertTable_AKTTRACK(cUtil::k(p.Value("DSN")));
       }},
      {"CreateImportScript_InsertTable_USER",
       [this](db::Recordset&) { CreateImportScript_InsertTable_USER(); }},
  };
}

cWebserverV2::~cWebserverV2() = default;

std::string cWebserverV2::T(const std::string& german, const std::string& p1,
                            const std::string& p2) const {
  try {
    if (util_) return util_->Language().TranslateString(german, p1, p2);
  } catch (const std::exception&) {
    // A text the language pack can't translate goes out in German.
  }
  return vb::Replace(vb::Replace(german, "%1", p1), "%2", p2);
}

std::string cWebserverV2::HostIni() const {
  return (KVApp_ ? KVApp_->Folder() : std::string()) + "\\Kavantor.INI";
}

std::string cWebserverV2::Ini(const std::string& section, const std::string& key,
                              const std::string& def) const {
  return util_->IniGet(section, key, def, HostIni());
}

void cWebserverV2::Init(const std::string& strConnect, cFernDispatcher& KVApp,
                        const Variant& blnCopyright) {
  m_oImmoHelper = std::make_unique<cImmoHelperV2>();
  KVApp_ = &KVApp;
  if (dal_) dal_->Init(KVApp.Folder() + "\\sql\\sql.ini");
  oBigFile = std::make_unique<cBigFileV2>();
  oBigFile->DoMessage = [this](const std::string& m) { oBigFile_DoMessage(m); };
  m_oImmoHelper->WorkState = [this](int16_t st, const std::string& t) {
    events.RaiseWorkState(st, t);
  };
  m_oImmoHelper->InternalState = [this](int16_t st, const std::string& t) {
    m_oImmoHelper_InternalState(st, t);
  };
  m_oImmoHelper->Init(strConnect, KVApp);
  transport_ = std::make_unique<website::SiteTransport>(*m_oImmoHelper);
  strConnect_ = strConnect;
  copyright = cUtil::b(Variant(StringToHTML(blnCopyright)));
  scripting_ = std::make_unique<cScriptingV2>();
  scripting_->Init(strConnect, KVApp.Folder(), "", true);
  scripting_->LoadScripts(KVApp.Folder() + "\\system\\services\\webserver");
  settings.OBJ_KURZEXPOSE = IsStdLandCHE() ? website::kListingTeaserSwiss : website::kListingTeaser;
}

std::string cWebserverV2::GetTransferTempPath() {
  if (!tempPath_.empty()) return tempPath_;
  std::string path = cUtil::GetTempPath();
  if (KVApp_) {
    path = Ini("OPTIONS", "TRANSFERPATH", path);
    cUtil::CutRight(path, "\\");
    cUtil::CutRight(path, "/");
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_directory(ResolveHostPath(path), ec))
      throw HostError(50017,
                      T("Pfad '%1' nicht gefunden.", path) + " " +
                          T("Bitte prüfen Sie die Einstellung für '%1'.", "TRANSFERPATH"),
                      "GetTransferTempPath");
    path += "\\";
  }
  tempPath_ = path;
  return tempPath_;
}

bool cWebserverV2::IsStdLandCHE() const {
  if (!KVApp_) return false;
  auto company = KVApp_->StdRS();
  if (!company || company->Eof() || company->FindField("LAND") < 0) return false;
  return vb::UCase(cUtil::k(company->Value("LAND"))) == "CHE";
}

int32_t cWebserverV2::ContentLanguageCount() const {
  return static_cast<int32_t>(languages_.Count());
}

// --- settings ----------------------------------------------------------------------------------

void cWebserverV2::LoadWebServerSettings(const std::string& password, const std::string& login) {
  website::WebServerSettings& s = settings;
  // Each read on its own: a failing one keeps the value it had.
  auto read = [&](const char* section, const char* key, std::string& value) {
    try {
      value = Ini(section, key, value);
    } catch (const std::exception&) {
      // A setting that can't be read keeps its default.
    }
  };
  auto number = [&](const char* key, int32_t& value, const char* def) {
    std::string text = def;
    read("WebServer", key, text);
    const double n = vb::Val(text);
    value = n > 2147483647.0 || n < -2147483648.0 ? 0 : vb::CLng(Variant(n));
  };
  auto table = [&](const char* key, std::string& value) {
    try {
      value = std::to_string(
          KVApp_->DBIni().getint("WebServer", key, static_cast<int32_t>(vb::Val(value))));
    } catch (const std::exception&) {
      // A setting that can't be read keeps its default.
    }
  };
  number("FILELENGTH", s.FILELENGTH, "64000");
  number("PICWIDTH", s.PICWIDTH, "400");
  {
    int32_t perPage = 20;
    number("OBJEKTEPROSEITE", perPage, "20");
    s.OBJEKTEPROSEITE = std::to_string(perPage);
  }
  number("THUMBNAILBREITE", s.THUMBNAILBREITE, "200");
  number("THUMBNAILGROESSE", s.THUMBNAILGROESSE, "10000");
  read("WebServer", "PROTOKOLLMAIL", s.PROTOKOLLMAIL);
  read("WebServer", "MEMBERZONE", s.MEMBERZONE);
  read("WebServer", "VISITATION", s.VISITATION);
  read("WebServer", "MEMBERSHIP", s.MEMBERSHIP);
  table("SHOWMEMBERBUTTON", s.SHOWMEMBERBUTTON);
  table("SHOWPLEASBUTTON", s.SHOWPLEASBUTTON);
  table("SHOWPARTNERLINKS", s.SHOWPARTNERLINKS);
  read("WebServer", "ANF", s.ANF);
  read("WebServer", "OBJ_KURZEXPOSE", s.OBJ_KURZEXPOSE);
  read("WebServer", "MAXLINES", s.MAXLINES);
  read("WebServer", "MAXBYTES", s.MAXBYTES);
  read("WebServer", "MAXTRANSFERBYTES", s.MAXTRANSFERBYTES);
  read("WebServer", "DEBUGMODE", s.DEBUGMODE);
  read("WebServer", "HTTP_PORT", s.HTTP_PORT);
  read("WebServer", "ADDRESSLINK", s.ADDRESSLINK);
  read("WebServer", "ObjTrackPlainTextOnly", s.ObjTrackPlainTextOnly);
  read("OPTIONS", "HTTP_PROXY", s.HTTP_PROXY);
  read("OPTIONS", "FTP_PROXY", s.FTP_PROXY);
  read("WebServer", "HTTP_PROXY", s.HTTP_PROXY);
  read("WebServer", "FTP_PROXY", s.FTP_PROXY);
  read("WebServer", "WAITREQUEST", s.WAITREQUEST);
  read("WebServer", "FTP_PORT", s.FTP_PORT);
  read("WebServer", "HTTP_TIMEOUT", s.HTTP_TIMEOUT);
  read("WebServer", "SERVICE_HOST", s.SERVICE_HOST);
  read("WebServer", "SERVICE_WEBROOT", s.SERVICE_WEBROOT);
  if (s.PROTOKOLLMAIL.empty()) s.PROTOKOLLMAIL = "ja";
  if (serviceMode) {
    s.webServicePassword = cUtil::Decrypt(password, host::kPortalPasswordKey);
    s.customerId = login;
  } else {
    s.customerId.clear();
    read("WebServer", "ID", s.customerId);
  }
  s.customerFolder =
      s.customerId.empty() ? "kv_webserver" : "kv_" + vb::LCase(vb::Left(s.customerId, 10));
  s.tablePrefix = s.customerFolder;
  try {
    s.urlSubPath = Ini("WebServer", cUtil::k(Variant(portalName)), s.urlSubPath);
  } catch (const std::exception&) {
    // Without a readable sub-path the site is addressed at the host's root.
  }
  if (!s.urlSubPath.empty() && s.urlSubPath.front() != '/') s.urlSubPath = "/" + s.urlSubPath;
}

// --- messages ----------------------------------------------------------------------------------

void cWebserverV2::WSMessage(const std::string& kind, const std::string& text) {
  int16_t st = state::kInfo;
  std::string line = text;
  bool runEnd = false;
  try {
    const std::string stamp = vb::Format(Variant::Date(vb::Now()), "dd.mm.YYYY HH:MM:ss");
    if (kind == "iWSSilentError") {
      st = state::kLoggedNotListed;
    } else if (kind == "iWSDate") {
      line = T("Besichtigungstermin %1 wird bereitgestellt.", text);
    } else if (kind == "iWSTracking") {
      line = T("Trackingdaten für das Objekt %1 werden bereitgestellt.", text);
    } else if (kind == "iWSAKTTracking") {
      line = T("Aktivitäten für das Tracking von Objekt %1 werden bereitgestellt.", text);
    } else if (kind == "iWSDocs") {
      line = T("Die Datei %1 wird bereitgestellt.", text);
    } else if (kind == "iWSPics") {
      line = T("Das Bild %1 wird bereitgestellt.", text);
    } else if (kind == "iWSTrackFiles") {
      line = T("Die Anlage %1 wird bereitgestellt.", text);
    } else if (kind == "iWSTrackFilesError") {
      line =
          T("Die Anlage kann nicht bereitgestellt werden, da es sich um ein 0 KB große Datei "
            "handelt.");
    } else if (kind == "iWSMember") {
      line = T("Die Zugangsdaten für %1 werden bereitgestellt.", text);
    } else if (kind == "iWSError") {
      st = state::kError;
      line = T("Abbruch der Übertragung an: %1", " < " + portalName + " >  ---  " + text);
    } else if (kind == "iWSEnd") {
      st = state::kRunEnd;
      line = T("Ende der Übertragung an: %1", " < " + portalName + " >  " + stamp);
      runEnd = true;
    } else if (kind == "iWSBeginnTrans") {
      st = state::kTransferBegins;
      line = text + "  --- " + T("Dieser Vorgang kann längere Zeit benötigen") + "  ---  " +
             T("Bitte warten") + " --- " + vb::Format(Variant::Date(vb::Now()), "HH:MM:ss");
    } else if (kind == "iWSBeginn") {
      st = state::kStepBegins;
      line = T("Beginn der Übertragung an: %1", " < " + portalName + " > " + stamp);
    } else if (kind == "iWSObjekt") {
      st = state::kPerListing;
      line = T("Die Daten für das Objekt %1 werden bereitgestellt.", text);
    } else if (kind == "iWSAnfrage") {
      line = T("Die Daten für die Anfrage %1 werden bereitgestellt.", text);
    } else if (kind == "Fertig") {
      st = state::kStepBegins;
    }
  } catch (const std::exception&) {
    // A message whose decoration fails still goes out with its plain text.
  }
  events.RaiseWorkState(st, line);
  if (kind == "iWSError" || runEnd) events.RaiseWorkState(state::kRunEnd, "");
  if (kind == "iWSError") DeleteTempFolder();
  if (kind == "iWSTrackFilesError") DeleteFile(text);
  PumpEvents();
}

void cWebserverV2::m_oImmoHelper_InternalState(int16_t st, const std::string& text) {
  if (st != state::kFileUpload) {
    events.RaiseInternalState(st, text);
    return;
  }
  const std::string lower = vb::LCase(text);
  if (lower.find("pic.obj") != std::string::npos && lower.find("jpg") != std::string::npos)
    WSMessage("iWSBeginnTrans", "Datei   " + website::DestinationFile(text) + "  wird übertragen.");
}

void cWebserverV2::oBigFile_DoMessage(const std::string& message) {
  const std::string tail = vb::Len(message) < 20 ? message : vb::Right(message, 20);
  if (ProgressState) ProgressState(T("Komprimiere") + ": ..." + tail);
}

// --- helpers -----------------------------------------------------------------------------------

std::shared_ptr<db::Recordset> cWebserverV2::Query(const std::string& sql) const {
  return dal_->GetRecordset(strConnect_, sql);
}

bool cWebserverV2::Unattended() const {
  return dynamic_cast<const UnattendedAnswerer*>(&Answerer()) != nullptr;
}

bool cWebserverV2::AskYesNo(const std::string& question) const {
  return util_->MessageBox(question, mb::kYesNo) == mb::kYes;
}

void cWebserverV2::Pause(int64_t ms) {
  // In slices, so long pauses neither overflow nor stop the window.
  constexpr int64_t kSlice = 1000;
  while (ms > 0) {
    const int64_t step = ms < kSlice ? ms : kSlice;
    cUtil::Sleep(static_cast<int32_t>(step));
    ms -= step;
  }
}

}  // namespace fern
