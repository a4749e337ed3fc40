// The phase entry: settings, clients, the loop over portals and clients, the portal document
// with its listing loop and header, and the OpenImmo ids.
#include <chrono>
#include <filesystem>
#include <random>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "openimmo/cImmoXmlScriptV2.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"
#include "platform/ini_file.h"
#include "platform/private_temp.h"
#include "platform/waits.h"
#include "services/cZipV2.h"
#include "services/transfer_states.h"

namespace fern {

using namespace openimmo;

std::string openimmo::HostFolderOf(const cFernDispatcher* app) {
  if (app) return app->Folder();
  std::string f = Session().g_strHostPath;
  if (!f.empty() && (f.back() == '\\' || f.back() == '/')) f.pop_back();
  return f;
}

namespace {

std::string Field(db::Recordset& rs, const char* name) {
  return rs.FindField(name) >= 0 ? cUtil::k(rs.Value(name)) : std::string();
}

int32_t Bound(int32_t v, int32_t low, int32_t high) {
  return v <= low ? low : (v > high ? high : v);
}

}  // namespace

cImmoXmlV2::cImmoXmlV2()
    : template_(set_,
                [this] { return app_ ? app_->Folder() + "\\system\\xml\\" : std::string(); }) {
  dal_ = Session().g_oDal.get();
  util_ = Session().g_oUtil.get();
  connect_ = Session().g_strConnect;
}

cImmoXmlV2::~cImmoXmlV2() { RemoveZipTempFile(); }

namespace {

// The remote name of a "PUT local remote" line; a name with blanks stands in double quotes.
std::string PutTarget(const std::string& line) {
  if (line.size() >= 2 && line.back() == '"') {
    const size_t open = line.rfind('"', line.size() - 2);
    if (open != std::string::npos) return line.substr(open + 1, line.size() - open - 2);
  }
  const size_t blank = line.find_last_of(' ');
  return blank == std::string::npos ? line : line.substr(blank + 1);
}

}  // namespace

void cImmoXmlV2::Attach(cFernDispatcher& app, const std::string& connect, int32_t type) {
  app_ = &app;
  if (!connect.empty()) connect_ = connect;
  type_ = type;
  helper_ = std::make_unique<cImmoHelperV2>();
  helper_->WorkState = [this](int16_t s, const std::string& t) { Work(s, t); };
  helper_->InternalState = [this](int16_t s, const std::string& t) {
    events.RaiseInternalState(s, t);
    if (s == services::istate::kCommand && vb::InStr(1, t, "PUT", true) > 0) {
      Work(state::kFileUpload, "Übertrage Datei '" + PutTarget(t) + "'");
    }
  };
  helper_->Init(connect_, app);
  LoadImmoXmlSettings(type, "");
}

std::string cImmoXmlV2::HostIni() const { return HostFolderOf(app_) + "\\kavantor.INI"; }

std::string cImmoXmlV2::Ini(const std::string& section, const std::string& key,
                            const std::string& def) const {
  return IniGet(section, key, def, Real(HostIni()));
}

std::string cImmoXmlV2::T(const std::string& german, const std::string& p1, const std::string& p2,
                          const std::string& p3, const std::string& p4, const std::string& p5,
                          const std::string& p6) const {
  return Translate(Session().g_oLanguagePack.get(), german, {p1, p2, p3, p4, p5, p6});
}

std::string cImmoXmlV2::GetTransferTempPath() {
  if (tempPath_.empty()) {
    std::string path = cUtil::GetTempPath();
    if (app_) path = Ini("OPTIONS", "TRANSFERPATH", path);
    cUtil::CutRight(path, "\\");
    cUtil::CutRight(path, "/");
    if (!std::filesystem::is_directory(Real(path)))
      throw HostError(50017,
                      T("Pfad '%1' nicht gefunden.", path) + " " +
                          T("Bitte prüfen Sie die Einstellung für '%1'.", "TRANSFERPATH"),
                      "GetTransferTempPath");
    tempPath_ = path + "\\";
  }
  return tempPath_;
}

std::filesystem::path cImmoXmlV2::LinkedTransferFolder() {
  return LinkBelowPrivateFolder(Real(GetTransferTempPath()), {"TRANSFER", set_.schemaType});
}

void cImmoXmlV2::GetZipTempFile() {
  try {
    RemoveZipTempFile();
    zipTempFile_ = cUtil::GetTempFile("ZIP");
    const std::string host = HostFolderOf(app_);
    std::string items = "\"" + host + "\\kavantor.ini\"";
    if (!zip_) zip_ = std::make_unique<cZipV2>();
    zip_->AddFile(zipTempFile_, items, host, false);
  } catch (const std::exception&) {
    // Nothing uses the archive.
  }
}

void cImmoXmlV2::RemoveZipTempFile() {
  if (zipTempFile_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(zipTempFile_, ec);
}

void cImmoXmlV2::LoadImmoXmlSettings(int32_t type, const std::string& portalName) {
  set_.xmlFolder = HostFolderOf(app_) + "\\SYSTEM\\XML";
  set_.schemaType = vb::LCase(Ini("OPTIONS", "XMLTYP", "OpenImmo"));
  set_.ns = "http://www." + set_.schemaType + ".de";
  set_.anidName = set_.schemaType + "_anid";
  set_.obidName = set_.schemaType + "_obid";
  set_.typeFolder = "\\" + set_.schemaType;
  set_.prefix = "imo:";
  set_.zipTool = Ini("XML", "ZipTool", "");
  set_.httpProxy = Ini("OPTIONS", "HTTP_PROXY", "");
  set_.ftpProxy = Ini("OPTIONS", "FTP_PROXY", "");
  set_.transferDelay = ToLong(Ini("OPTIONS", "TRANSFERDELAY", "500"));
  set_.transferCount = ToLong(Ini("OPTIONS", "TRANSFERCOUNT", "3"));
  auto num = [&](const char* section, const char* key, const std::string& def) {
    return ToLong(Ini(section, key, def));
  };
  if (type == 5 || type == 11) {
    set_.grundPicLength = num("OPTIONS", "XMLGRUND_PICLENGTH", "1000000");
    set_.grundPicWidth = num("OPTIONS", "XMLGRUND_PICWIDTH", "800");
    set_.picLength = num("OPTIONS", "XML_PICLENGTH", "1000000");
    set_.picWidth = num("OPTIONS", "XML_PICWIDTH", "800");
    if (type == 11) {
      set_.grundPicLength =
          num("OPTIONS", "IS24XMLGRUND_PICLENGTH", std::to_string(set_.grundPicLength));
      set_.grundPicWidth =
          num("OPTIONS", "IS24XMLGRUND_PICWIDTH", std::to_string(set_.grundPicWidth));
      set_.picLength = num("OPTIONS", "IS24XML_PICLENGTH", std::to_string(set_.picLength));
      set_.picWidth = num("OPTIONS", "IS24XML_PICWIDTH", std::to_string(set_.picWidth));
    }
  } else if (type == 8) {
    set_.grundPicLength = num("FriendListing", "GRUND_PICLENGTH", "1000000");
    set_.grundPicWidth = num("FriendListing", "GRUND_PICWIDTH", "800");
    set_.picLength = num("FriendListing", "PICLENGTH", "1000000");
    set_.picWidth = num("FriendListing", "PICWIDTH", "800");
  }
  set_.grundPicLength = Bound(set_.grundPicLength, 20000, 2000000);
  set_.picLength = Bound(set_.picLength, 20000, 2000000);
  set_.grundPicWidth = Bound(set_.grundPicWidth, 100, 2048);
  set_.picWidth = Bound(set_.picWidth, 100, 2048);
  if (!portalName.empty()) {
    const char* s = portalName.c_str();
    set_.grundPicLength = num(s, "XMLGRUND_PICLENGTH", std::to_string(set_.grundPicLength));
    set_.grundPicWidth = num(s, "XMLGRUND_PICWIDTH", std::to_string(set_.grundPicWidth));
    set_.picLength = num(s, "XML_PICLENGTH", std::to_string(set_.picLength));
    set_.picWidth = num(s, "XML_PICWIDTH", std::to_string(set_.picWidth));
  }
}

tMandant cImmoXmlV2::ReadFirmaDaten(db::Recordset& rsboersen) {
  tMandant m;
  std::shared_ptr<db::Recordset> stdRs = app_ ? app_->StdRS() : Session().g_StdRS;
  if (stdRs && !stdRs->Eof()) {
    db::Recordset& s = *stdRs;
    m.DibEmail = Field(s, "FIRMA1EMAIL");
    m.FirmaName = Field(s, "FIRMA1NAME");
    m.FirmaTel = Field(s, "FIRMA1TELEFON");
    m.FirmaEmail = Field(s, "FIRMA1EMAIL");
    m.FirmaStrasse = Field(s, "FIRMA1STRASSE");
    m.FirmaPlz = Field(s, "FIRMA1PLZ");
    m.FirmaOrt = Field(s, "FIRMA1ORT");
    m.FirmaLand = Field(s, "LAND");
    m.FirmaFax = Field(s, "FIRMA1FAX");
    m.FirmaWeb = Field(s, "FIRMA1INTERNET");
    m.Anid = GetImmoXmlId(s, false);
  }
  if (!rsboersen.Eof() && !rsboersen.Bof()) {
    m.LoginName = Field(rsboersen, "LOGINNAME");
    m.Password = cUtil::Decrypt(Field(rsboersen, "PASSWORD"), host::kPortalPasswordKey);
    m.KundenNr = Field(rsboersen, "dortige_kundennr");
  }
  return m;
}

std::vector<tMandant> cImmoXmlV2::ReadMandantDaten(const std::string& file) {
  std::vector<tMandant> list;
  const std::string real = Real(file);
  for (int32_t n = 1;; ++n) {
    const std::string sec = "MANDANT" + std::to_string(n);
    auto get = [&](const char* key) { return IniGet(sec, key, "", real); };
    if (get("FIRMA_NAME").empty()) break;
    tMandant m;
    m.Filter = get("FILTER");
    m.Anid = get("OpenImmoANID");
    m.DibEmail = get("DIBEMAIL");
    m.FirmaName = get("FIRMA_NAME");
    m.FirmaTel = get("FIRMA_TEL");
    m.FirmaEmail = get("FIRMA_EMAIL");
    m.FirmaStrasse = get("FIRMA_STRASSE");
    m.FirmaPlz = get("FIRMA_PLZ");
    m.FirmaOrt = get("FIRMA_ORT");
    m.FirmaLand = get("FIRMA_LAND");
    m.FirmaFax = get("FIRMA_FAX");
    m.FirmaWeb = get("FIRMA_WEB");
    m.Index = n - 1;
    list.push_back(std::move(m));
  }
  return list;
}

void cImmoXmlV2::ReadMandantLogin(const std::string& file, tMandant& m, int32_t n,
                                  const std::string& portalName) const {
  const std::string sec = "MANDANT" + std::to_string(n);
  const std::string key = set_.schemaType + portalName;
  const std::string real = Real(file);
  m.LoginName = IniGet(sec, key + "_BENID", "", real);
  m.Password = IniGet(sec, key + "_PASSWD", "", real);
  m.KundenNr = IniGet(sec, key + "_BEZ", "", real);
}

std::string cImmoXmlV2::GetBoersenDisplayName(db::Recordset& rsboersen, const tMandant& m) const {
  std::string name =
      (rsboersen.Eof() || rsboersen.Bof()) ? std::string() : Field(rsboersen, "boersen_name");
  if (!m.Filter.empty()) name += "-" + m.Filter;
  if (!m.FirmaName.empty()) name += " (" + m.FirmaName + ")";
  return name;
}

std::string cImmoXmlV2::CleanFileName(std::string& value) {
  if (!value.empty()) {
    for (char& c : value)
      if (std::string_view("<>?:|\\/*").find(c) != std::string_view::npos) c = '_';
    value = cUtil::Replace_GermSonderzeichen(value);
  }
  return vb::Trim(value);
}

std::string cImmoXmlV2::BoolToText(const Variant& value, const std::string& whenTrue,
                                   const std::string& whenFalse, const std::string& whenEmpty) {
  if (cUtil::k(value).empty()) return whenEmpty;
  try {
    return vb::CBool(value) ? whenTrue : whenFalse;
  } catch (const HostError&) {
    return whenTrue;
  }
}

void cImmoXmlV2::StartImmoXML(cFernDispatcher& KVApp, const std::string& strConnect,
                              db::Recordset& rsboersen, bool blnInsertCopyright, bool blnUnattend,
                              int32_t eBoersentyp) {
  auto isImport = [&] {
    return vb::UCase(vb::Left(cUtil::k(rsboersen.Value("boersen_name")), 6)) == "IMPORT";
  };
  // Import rows are not exports: they are skipped one by one. A phase of import rows only says
  // nothing at all.
  {
    bool any = false;
    for (rsboersen.MoveFirst(); !rsboersen.Eof(); rsboersen.MoveNext())
      if (cUtil::d(rsboersen.Value("boersentyp")) == eBoersentyp && !isImport()) any = true;
    if (rsboersen.RecordCount() > 0) rsboersen.MoveFirst();
    if (!any && rsboersen.RecordCount() > 0) return;
  }
  unattended_ = blnUnattend;
  insertCopyright_ = blnInsertCopyright;
  std::string portalName;
  struct ZipTempFileGuard {
    cImmoXmlV2& x;
    ~ZipTempFileGuard() { x.RemoveZipTempFile(); }
  } zipTempFileGuard{*this};
  try {
    runStart_ = vb::Now();
    Attach(KVApp, strConnect, eBoersentyp);
    StartKontaktPhase();
    script_ = std::make_unique<cImmoXmlScriptV2>();
    script_->events.RelayTo(events);
    script_->Init(strConnect, KVApp.Folder());
    if (!rsboersen.Eof()) portalName = cUtil::k(rsboersen.Value("boersen_name"));
    LoadImmoXmlSettings(eBoersentyp, portalName);
    if (eBoersentyp == 10) throw HostError(0, "", "Remax not implemented");
    if (eBoersentyp == 8) throw HostError(0, "", "Friendlisting not implemented");
    if (eBoersentyp != 5 && eBoersentyp != 11)
      throw HostError(50015, T("Ungültiger Wert für %1", std::to_string(eBoersentyp)),
                      "StartImmoXML");
    zip_ = std::make_unique<cZipV2>();
    GetZipTempFile();
    if (auto stdRs = KVApp.StdRS()) GetImmoXmlId(*stdRs, false);
    rsboersen.SetFilter(" boersentyp =" + std::to_string(eBoersentyp));
    if (rsboersen.RecordCount() == 0)
      throw HostError(
          50016,
          T("Keine Schnittstelle für den BörsenTyp %1 vorhanden", std::to_string(eBoersentyp)),
          "StartImmoXML");
    const std::string clientsFile = KVApp.Folder() + "\\system\\MANDANTEN.INI";
    std::vector<tMandant> clients;
    bool fromFile = cUtil::Exist(clientsFile);
    if (fromFile) clients = ReadMandantDaten(clientsFile);
    // A clients file that names no client would leave nobody to send for: the company sends.
    if (clients.empty()) {
      fromFile = false;
      clients.push_back(ReadFirmaDaten(rsboersen));
    }
    const size_t count = fromFile ? clients.size() : 0;
    const int32_t dbVersion = ToLong(Session().g_strDBVersion);

    cUtil::Wait(true);
    rsboersen.MoveFirst();
    bool esc = false;
    while (!rsboersen.Eof() && !esc) {
      portalName = cUtil::k(rsboersen.Value("boersen_name"));
      if (isImport()) {
        rsboersen.MoveNext();
        continue;
      }
      LoadImmoXmlSettings(eBoersentyp, portalName);
      SetPictureFrames(portalName);
      const size_t dot = portalName.rfind('.');
      const std::string suffix = dot == std::string::npos ? "" : portalName.substr(dot + 1);
      const std::string base = set_.xmlFolder + "\\" + set_.schemaType;
      int32_t version = 0;
      std::string versionText;
      if (dbVersion >= 300) versionText = cUtil::k(rsboersen.Value("strVersion"));
      std::string file;
      if (!versionText.empty()) {
        version = ToLong(vb::Replace(versionText, ".", ""));
        file = base + "_V" + versionText + ".xsd";
        if (!cUtil::Exist(file))
          throw HostError(50016, T("Datei '%1' nicht gefunden.", file), "StartImmoXML");
      } else {
        file = base + "_" + suffix + ".xsd";
        if (!cUtil::Exist(file)) file = base + ".xsd";
      }
      XmlDocumentPtr schema = OpenXMLFile(file);
      ClearElementCache();
      XmlDocumentPtr tmpl = CreateEmtpyXML(schema, eBoersentyp);
      SetPortalSchema(Real(file));
      size_t i = 0;
      do {
        tMandant& m = clients[i];
        if (fromFile) {
          ReadMandantLogin(clientsFile, m, static_cast<int32_t>(i) + 1, portalName);
        } else {
          m.LoginName = cUtil::k(rsboersen.Value("LOGINNAME"));
          m.Password =
              cUtil::Decrypt(cUtil::k(rsboersen.Value("PASSWORD")), host::kPortalPasswordKey);
          m.KundenNr = cUtil::k(rsboersen.Value("dortige_kundennr"));
        }
        // Each build starts with the records of its own schema, whatever the last one left.
        ClearElementCache();
        MakeAndSendOpenImmoLoop(rsboersen, tmpl, schema, m, version);
        ++i;
        esc = EscPressed();
      } while (i < count && !esc);
      if (!esc) rsboersen.MoveNext();
    }
    lastState_ = esc ? T("Abbruch der %1-Erstellung/-Übertragung durch Anwender", set_.schemaType)
                     : T("Beenden der %1-Erstellung/-Übertragung um %2 Uhr", set_.schemaType,
                         vb::DateToText(vb::Now()));
    cUtil::Wait(false);
    Work(state::kRunEnd, lastState_);
    script_.reset();
  } catch (const HostError& e) {
    cUtil::Wait(false);
    lastState_ =
        ">>>> " + T("Fehler Nr.: %1 (%2; %3) ist aufgetreten! Abbruch der "
                    "%4-Erstellung/-Übertragung um %5 Uhr ;[Börse: %6];[Proc: StartImmoXML]",
                    std::to_string(e.number()), e.description(), e.source(), set_.schemaType,
                    vb::DateToText(vb::Now()), portalName);
    Work(state::kError, lastState_);
  } catch (const std::exception& e) {
    cUtil::Wait(false);
    lastState_ =
        ">>>> " + T("Fehler Nr.: %1 (%2; %3) ist aufgetreten! Abbruch der "
                    "%4-Erstellung/-Übertragung um %5 Uhr ;[Börse: %6];[Proc: StartImmoXML]",
                    "5", e.what(), "StartImmoXML", set_.schemaType, vb::DateToText(vb::Now()),
                    portalName);
    Work(state::kError, lastState_);
  }
}

std::string cImmoXmlV2::GetXmlFileName(const std::string& url) const {
  return template_.XmlFileName(url);
}

XmlDocumentPtr cImmoXmlV2::CreateEmtpyXML(const XmlDocumentPtr& ddocschema, int32_t) {
  return template_.CreateEmtpyXML(
      ddocschema, LinkedTransferFolder().empty() ? GetTransferTempPath() + "TRANSFER" : "");
}

void cImmoXmlV2::SetTextIfEmpty(XmlNode& node, const std::string& path, const std::string& text) {
  try {
    XmlNodePtr target = node.selectSingleNode(path);
    if (!target)
      throw HostError(91, "Object variable or With block variable not set", "SetTextIfEmpty");
    if (target->text().empty()) target->setText(RemoveControlChars(text));
  } catch (const HostError& e) {
    throw HostError(e.number(), e.description() + " (in Fieldname: " + path + ")", e.source());
  }
}

std::string cImmoXmlV2::RandomAlnum(int32_t length) {
  static std::mt19937 gen{std::random_device{}()};
  std::string out;
  for (int32_t i = 1; i <= length; ++i) {
    if (i % 2 == 1)
      out += static_cast<char>('A' + std::uniform_int_distribution<int>(0, 25)(gen));
    else
      out += static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(gen));
  }
  return out;
}

std::string cImmoXmlV2::CreateImmoXmlId(db::Recordset& record, const std::string& kind) {
  const bool provider = kind == "A";
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const int centi = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1000 / 10);
  const std::string id = std::string(provider ? "AKVA" : "OKVA") +
                         vb::Format(Variant::Date(vb::Now()), "yyyymmddhhnnss") +
                         vb::Format(Variant(static_cast<int32_t>(centi)), "000") + RandomAlnum(10);
  const std::string table = provider ? "STD" : "OBJ";
  const std::string field = provider ? "immoxml_anid" : "immoxml_obid";
  newIds_.emplace_back(id, " UPDATE " + table + " SET " + field + " = '" + id + "'" + " WHERE " +
                               table + ".DSN = " + cUtil::SqlUid(record.Value("DSN")));
  if (!collectIds_) SaveNewIds();
  // The row in memory holds it too, so this run asks for it only once.
  if (record.FindField(field) >= 0) {
    record.SetValue(field, Variant(id));
    record.AcceptChanges();
  }
  return id;
}

void cImmoXmlV2::SaveNewIds() {
  if (newIds_.empty()) return;
  const auto ids = std::move(newIds_);
  newIds_.clear();
  std::string batch;
  for (const auto& [id, update] : ids) batch += update + ";\n";
  try {
    dal_->ExecQuery(connect_, batch);
  } catch (const HostError& e) {
    // A lost id makes the portal see a new listing or provider next run: the user must know.
    for (const auto& [id, update] : ids)
      Work(state::kError,
           ">>>> " +
               T("Die OpenImmo-Id %1 konnte nicht gespeichert werden: %2", id, e.description()) +
               " ;[Proc: CreateImmoXmlId]");
  }
}

std::string cImmoXmlV2::GetImmoXmlId(db::Recordset& record, bool isObject) {
  const char* field = isObject ? "immoxml_obid" : "immoxml_anid";
  std::string value = record.FindField(field) >= 0 ? cUtil::k(record.Value(field)) : std::string();
  if (value.empty()) value = CreateImmoXmlId(record, isObject ? "O" : "A");
  return value;
}

void cImmoXmlV2::UseScripts(std::unique_ptr<cImmoXmlScriptV2> scripts) {
  script_ = std::move(scripts);
  if (script_) script_->events.RelayTo(events);
}

// --- script hooks: forwarded to the run's scripts, none in single steps -----------------------

void cImmoXmlV2::DoCallbackBeforeXmlSave(db::Recordset& rsboersen, XmlDocumentPtr& doc,
                                         std::string& folder, std::string& base) {
  if (script_) script_->DoCallbackBeforeXmlSave(rsboersen, doc, folder, base);
}

void cImmoXmlV2::DoCallbackBeforeTransfer(db::Recordset& rsboersen, bool ftp,
                                          const std::string& folder, const std::string& base,
                                          std::string& answer) {
  if (script_) script_->DoCallbackBeforeTransfer(rsboersen, ftp, folder, base, answer);
}

void cImmoXmlV2::DoCallbackAfterTransfer(db::Recordset& rsboersen, bool ftp, bool sent) {
  if (script_) script_->DoCallbackAfterTransfer(rsboersen, ftp, sent);
}

}  // namespace fern
