// Transfer: the whole export of one portal, from the portal row to the status write-back.
#include <filesystem>
#include <map>

#include "core/cFernDispatcher.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "services/cBigFileV2.h"
#include "website/cWebserverV2.h"
#include "website/text_helpers.h"

namespace fern {

namespace fs = std::filesystem;
using website::StringToHTML;

namespace {

constexpr const char* kCrLf = "\r\n";

// A private copy of the current portal row: hooks may replace or move it, the caller's stays.
std::shared_ptr<db::Recordset> CopyRow(db::Recordset& rs) {
  std::vector<db::FieldInfo> fields;
  std::vector<Variant> values;
  for (size_t i = 0; i < rs.FieldCount(); ++i) {
    fields.push_back(rs.Info(i));
    values.push_back(rs.Value(i));
  }
  auto copy = db::Recordset::Create(std::move(fields));
  copy->LoadRow(std::move(values));
  return copy;
}

// The run goes on with the row a hook left, as long as the hook left it on a row.
void KeepHookRow(std::shared_ptr<db::Recordset>& portal,
                 const std::shared_ptr<db::Recordset>& left) {
  if (left && !left->Eof() && !left->Bof()) portal = left;
}

// Percent-encoding of a query value, byte by byte in Windows-1252 (the site's character set).
std::string UrlEncode(const std::string& utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char ch : cp1252::FromUtf8(utf8)) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// A customer ID names folders and files on both sides: no separators, "..", quotes or controls.
bool PlainFolderName(const std::string& id) {
  if (id == "." || id == "..") return false;
  for (char ch : id) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 32 || c == 127 || std::string_view("/\\:*?\"'<>|`$").find(ch) != std::string_view::npos)
      return false;
  }
  return true;
}

// Every statement of the import names its tables through the prefix unquoted, so the prefix
// must be a plain SQL name.
bool PlainTablePrefix(const std::string& prefix) {
  return !prefix.empty() &&
         prefix.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string::npos;
}

// "a" and "b" as one remote path; an empty folder is the login folder.
std::string RemotePath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool Digits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// A file of a transfer named `base`: the library "<base>.php", the index "<base>.dir" and the
// stubs and containers "<base>_<n>.php" and "<base>_<n>.big".
bool TransferFileOf(const std::string& base, const std::string& fileName) {
  const std::string name = vb::LCase(fileName), b = vb::LCase(base);
  if (name == b + ".php" || name == b + ".dir") return true;
  if (name.size() < b.size() + 6 || name.compare(0, b.size() + 1, b + "_") != 0) return false;
  const std::string ext = name.substr(name.size() - 4);
  return (ext == ".php" || ext == ".big") &&
         Digits(name.substr(b.size() + 1, name.size() - b.size() - 5));
}

bool ImportScriptName(const std::string& fileName) {
  const std::string name = vb::LCase(fileName);
  return name.size() > 15 && name.rfind("kvws_import", 0) == 0 &&
         name.substr(name.size() - 4) == ".php" && Digits(name.substr(11, name.size() - 15));
}

// The reply without its HTML tags: a host that shows PHP's errors wraps them in markup.
std::string WithoutTags(const std::string& reply) {
  std::string out;
  for (size_t at = 0; at < reply.size();) {
    const bool tag = reply[at] == '<' && at + 1 < reply.size() &&
                     (std::isalpha(static_cast<unsigned char>(reply[at + 1])) ||
                      reply[at + 1] == '/' || reply[at + 1] == '!');
    const size_t end = tag ? reply.find('>', at) : std::string::npos;
    if (end == std::string::npos) {
      out += reply[at++];
    } else {
      at = end + 1;
    }
  }
  return out;
}

// The first line of a reply that holds more than line breaks and tags, trimmed; "" for none.
std::string FirstLine(const std::string& reply) {
  for (const std::string& line : text::SplitLines(WithoutTags(reply))) {
    const std::string_view trimmed = text::TrimBlanks(line);
    if (!trimmed.empty()) return std::string(trimmed);
  }
  return {};
}

// A page the site's script served; any other reply is named by its `error` ("HTTP <status>"
// for an answer other than 200).
bool Served(const website::SiteTransport::Reply& reply) { return reply.ok && reply.status == 200; }

// An item of the account reply: the text after the key up to the next "#", trimmed; nothing
// when the key does not occur.
bool ReplyItem(const std::string& reply, const std::string& key, std::string& value) {
  const size_t at = reply.find(key);
  if (at == std::string::npos) return false;
  const size_t start = at + key.size();
  const size_t end = reply.find('#', start);
  value = vb::Trim(reply.substr(start, end == std::string::npos ? std::string::npos : end - start));
  return true;
}

std::string HostWithoutPort(const std::string& host) {
  const size_t colon = host.rfind(':');
  if (colon == std::string::npos ||
      host.find_first_not_of("0123456789", colon + 1) != std::string::npos)
    return host;
  return host.substr(0, colon);
}

}  // namespace

struct cWebserverV2::Run {
  std::shared_ptr<db::Recordset> portal;
  std::string errorText;
  int32_t objects = 0;
  int32_t tracking = 0;
  int64_t kilobytes = 0;
  int32_t containers = 0;
  std::string siteAddress;
  std::string remoteFolder;
  std::string baseName;
  std::string alias;
  std::string sizeLimit;
  // The upload: where it went and how, and whether it began (what it left may need removing).
  bool uploading = false;
  bool unpackRequested = false;  // a stub was asked, so it may have unpacked
  bool unpacked = false;         // a stub said SUCCESS, so the site's folders exist
  std::string ftpHost, ftpUser, ftpPassword, uploadFolder;
};

void cWebserverV2::StopOverPrompt(const std::string& ask, const std::string& yes,
                                  const std::string& plain, const std::function<void()>& action) {
  if (vb::UCase(Ini("WebServer", "STOPOVER", "0")) == "1") {
    WSMessage("iWSBeginnTrans", ask);
    if (util_->MessageBox(std::string("TempDateien löschen?") + kCrLf +
                              "zum Testen und Neuaufsetzen Bitte Nicht löschen!",
                          mb::kYesNo) == mb::kYes) {
      if (!yes.empty()) WSMessage("iWSBeginnTrans", yes);
      action();
    } else {
      keptOnPurpose_ = true;
    }
    return;
  }
  WSMessage("iWSBeginnTrans", plain);
  action();
}

website::SiteTransport::Reply cWebserverV2::Get(const std::string& address) {
  const double seconds = vb::Val(settings.HTTP_TIMEOUT);
  return transport_->Get(address, settings.HTTP_PROXY,
                         seconds > 0 ? static_cast<long>(seconds * 1000) : 0);
}

bool cWebserverV2::RequestFailed(Run& run, const website::SiteTransport::Reply& reply,
                                 const std::string& errorText) {
  if (reply.ok) return false;
  run.errorText = errorText + " (" + reply.error + ")";
  WSMessage("iWSError", T("Fehler") + ": " + run.errorText);
  return true;
}

void cWebserverV2::Transfer(db::Recordset& rsboersen, int32_t, int32_t, bool blnShowUrl) {
  Run run;
  bool remote = false;
  // Marked only by a run that reaches its end: a killed run's work still goes with the next
  // run of any portal.
  keptOnPurpose_ = false;
  struct MarkAtEnd {
    cWebserverV2& web;
    ~MarkAtEnd() { web.MarkKeptOnPurpose(); }
  } markAtEnd{*this};
  try {
    run.portal = CopyRow(rsboersen);
    if (!Prepare(run, rsboersen)) return;
    if (serviceMode && !AccountCheck(run)) return;
    if (!serviceMode) {
      bool cancel = false;
      std::string message;
      auto forHooks = CopyRow(*run.portal);
      CallBeforeTransfer(forHooks, SiteFolder(), cancel, message);
      KeepHookRow(run.portal, forHooks);
      if (!message.empty()) WSMessage("iWSBeginnTrans", "Scripting: " + message);
      if (cancel) return;
    }
    if (!PackAndUpload(run)) {
      RemoveUploads(run, true);
      return;
    }
    remote = true;
    RemoteChain(run);
  } catch (const std::exception& e) {
    if (remote && run.errorText.empty()) {
      // The upload is out: report, and still finish the closing steps below.
      run.errorText = e.what();
      WSMessage("iWSError", T("Fehler") + ": " + run.errorText);
    } else {
      const std::string description = dynamic_cast<const HostError*>(&e)
                                          ? static_cast<const HostError&>(e).description()
                                          : std::string(e.what());
      WSMessage("iWSError", portalName + " --- ErrorHandler occured: " + description);
      cUtil::Wait(false);
      importWriter_.Reset();
      StopOverPrompt("STOPOVER im ErrorHandler", "STOPOVER im ErrorHandler delete",
                     "Delete BIG/TMP", [&] {
                       DeleteTransferFiles(run.baseName);
                       DeleteTempFolder();
                     });
      RemoveUploads(run, true);
      return;
    }
  }
  RemoveUploads(run, !run.errorText.empty());
  Finish(run, blnShowUrl);
}

bool cWebserverV2::Prepare(Run& run, db::Recordset& rsboersen) {
  runStart = vb::Now();
  oBigFile->Clear();
  importWriter_.Reset();
  db::Recordset& portal = *run.portal;
  serviceMode = cUtil::b(Variant(cUtil::k(portal.Value("zipping"))));
  portalName = StringToHTML(portal.Value("BOERSEN_NAME"));
  siteHost = StringToHTML(portal.Value("boersen_host"));
  auto error = [&](const std::string& text) {
    WSMessage("iWSError", portalName + " --- " + text);
    return false;
  };

  util_->JPGFrameInit(KVApp_->DBIni());
  auto listed = [&](const char* key) {
    const std::string list = KVApp_->DBIni().getStr("JPGFrame", key, "");
    return (kCrLf + vb::UCase(list) + kCrLf).find(kCrLf + vb::UCase(portalName) + kCrLf) !=
           std::string::npos;
  };
  frameOnline = !listed("OnlineFrameNegList");
  ramaOnline = !listed("OnlineRamaNegList");

  LoadWebServerSettings(cUtil::k(portal.Value("password")), cUtil::k(portal.Value("loginname")));
  if (!PlainFolderName(settings.customerId) || (serviceMode && settings.customerId.empty()))
    return error(T("Die Kundennummer '%1' ist kein gültiger Ordnername.", settings.customerId));
  if (!PlainTablePrefix(settings.tablePrefix))
    return error(
        T("Die Kundennummer '%1' ergibt keinen gültigen Tabellennamen: erlaubt sind nur "
          "die Buchstaben a-z, die Ziffern 0-9 und _.",
          settings.customerId));
  if (serviceMode && vb::Trim(settings.SERVICE_HOST).empty())
    return error(
        T("Der Host des Webservice ist nicht eingestellt ([WebServer] %1).", "SERVICE_HOST"));

  const std::string dsn = cUtil::SqlUid(rsboersen.Value("DSN"));
  run.objects = vb::CLng(Query("select count(1) as AnzahlObjekte from boersenobj inner join obj on "
                               "boersenobj.obj_dsn=obj.dsn where (boersenobj.kurz = 1 or "
                               "boersenobj.Lang = 1) and obj.transfer=0 and obj.FArchiv<2 and "
                               "boersen_dsn = " +
                               dsn)
                             ->Value("AnzahlObjekte"));
  run.tracking = vb::CLng(Query("select count(1) as AnzahlTracking from OBJ where TRACKING = 1")
                              ->Value("AnzahlTracking"));
  WSMessage("iWSBeginn", "");
  if (run.objects < 1 && run.tracking < 1)
    return error(T("Sie haben keine Daten zur Übertragung markiert."));
  WSMessage("iWSText", T("Übertragen werden: Objekte (%1), Objekt-Tracking (%2).",
                         std::to_string(run.objects), std::to_string(run.tracking)));
  copyrightText = StringToHTML(KVApp_->StdRS()->Value("COPYRIGHT"));

  DeleteFolder(GetTransferTempPath() + "kvws");
  m_TmpPfad = GetTransferTempPath() + "kvws\\WS_" + website::SafeFileName(portalName) + "\\";
  DeleteFolder(m_TmpPfad);
  run.siteAddress = serviceMode
                        ? siteHost
                        : siteHost + (settings.HTTP_PORT == "80" ? "" : ":" + settings.HTTP_PORT) +
                              settings.urlSubPath;
  CreateTransferFolders();
  if (!CreateFLDARTList())
    return error(T("Keine Feldarten zur Übertragung an den WebServer angelegt."));
  WSMessage("iWSBeginnTrans", T("Die zu übertragenden Daten werden vorbereitet."));
  if (!CreateImportScript(portal)) return error(T("Kein ImportScript angelegt."));
  if (!CreateDBDataScript(portal)) return error(T("Kein DBDataScript angelegt."));
  if (!CreateDataScript(portal)) return error(T("Kein DataScript angelegt."));
  return true;
}

bool cWebserverV2::AccountCheck(Run& run) {
  WSMessage("iWSBeginnTrans", T("Ihre Anmeldung an den WebServer wird überprüft."));
  run.siteAddress = vb::Trim(settings.SERVICE_HOST);
  const auto reply =
      Get(run.siteAddress + "/kvadmin_v2/kvws_checkpwd.php?PASSWORT=" +
          UrlEncode(settings.webServicePassword) + "&KDNR=" + UrlEncode(settings.customerId) +
          "&KVVERSION=" + std::to_string(kvUtil_ ? kvUtil_->ComVersion() : 0));
  std::string error;
  if (!reply.ok) {
    error = T("%1 konnte nicht gestartet werden.", "kvws_checkpwd.php") + " (" + reply.error + ")";
  } else if (!vb::Trim(reply.body).empty()) {
    // A missing item keeps its value; a reply without "OK" is itself the error to show.
    ReplyItem(reply.body, "SERVER", siteHost);
    ReplyItem(reply.body, "ALIAS", run.alias);
    ReplyItem(reply.body, "MAXZIP", run.sizeLimit);
    std::string ok;
    if (!ReplyItem(reply.body, "OK", ok)) ok = vb::Trim(reply.body);
    if (ok != "OK") error = ok;
  }
  if (error.empty()) return true;
  StopOverPrompt("STOPOVER Zugangsdatenkv", "STOPOVER Zugangsdatenkv löschen",
                 "Löschen TMP Zugangsdatenkv", [&] { DeleteTempFolder(); });
  cUtil::Wait(false);
  WSMessage("iWSError", portalName + " --- " + error + "!");
  return false;
}

bool cWebserverV2::PackAndUpload(Run& run) {
  auto error = [&](const std::string& text) {
    WSMessage("iWSError", portalName + " --- " + text);
    return false;
  };
  WSMessage("iWSBeginnTrans", T("Die Daten werden nun für die Übertragung komprimiert."));
  run.baseName = serviceMode ? settings.customerId : "transfer";
  std::string container = m_TmpPfad + run.baseName + ".big";
  const std::string index = m_TmpPfad + run.baseName + ".dir";
  oBigFile->MaxTransferBytes(vb::CLng(Variant(vb::Val(settings.MAXTRANSFERBYTES))));
  oBigFile->bigOpenWrite(container);
  oBigFile->bigWriteFolder(SiteFolder(), "");
  const std::string own = KVApp_->Folder() + "\\system\\webserver\\";
  std::error_code ec;
  if (fs::is_directory(ResolveHostPath(own), ec))
    oBigFile->bigWriteFolder(own, "",
                             serviceMode ? "PGP DIR CSS GIF HTM HTML TXT JS LPF PDF DOC"
                                         : "PHP CSS GIF HTM HTML TXT JS LPF PDF DOC");
  oBigFile->bigClose();
  StopOverPrompt("STOPOVER", "STOPOVER kv_Webserver - löschen", "m_TmpPfad & m_wsPfad - löschen",
                 [&] { DeleteFolder(SiteFolder()); });
  run.containers = oBigFile->CountFiles();
  if (run.containers < 1 || !fs::exists(ResolveHostPath(index), ec))
    return error(T("Keine Datei zur Übertragung gefunden."));
  const double limit = vb::Val(run.sizeLimit);
  if (serviceMode && limit > 0 && oBigFile->Size() >= 1) {
    run.kilobytes = (oBigFile->Size() + 512) / 1024;
    const int64_t megabytes = (run.kilobytes + 512) / 1024;
    if (static_cast<double>(megabytes) > limit)
      return error(
          T("Ihre komprimierte Transfer-Datei darf maximal eine Größe von %1 MB erreichen.",
            run.sizeLimit));
  }
  std::string user, password;
  if (serviceMode) {
    user = "anonymous";
    password = settings.customerId;
    run.remoteFolder = "/incoming";
  } else {
    user = cUtil::k(run.portal->Value("loginname"));
    password = cUtil::Decrypt(cUtil::k(run.portal->Value("password")), host::kPortalPasswordKey);
    run.remoteFolder = settings.customerFolder;
  }
  WSMessage("iWSBeginnTrans", T("Die Daten werden übertragen."));
  if (!CreateTransferScript(m_TmpPfad + run.baseName, run.baseName, run.containers)) {
    run.errorText = T("%1 konnte nicht erstellt werden.", run.baseName + ".php");
    WSMessage("iWSError", T("Fehler") + ": " + run.errorText);
    return true;  // the closing steps still run
  }
  std::string ftpHost = HostWithoutPort(siteHost);
  const std::string port = vb::Trim(settings.FTP_PORT);
  if (!port.empty() && port != "21") ftpHost += ":" + port;
  run.ftpHost = ftpHost;
  run.ftpUser = user;
  run.ftpPassword = password;
  run.uploadFolder = run.remoteFolder;
  run.uploading = true;
  if (!transport_->SendFolder(ftpHost, user, password, ResolveHostPath(m_TmpPfad).string(),
                              run.remoteFolder, "BIG DIR PHP", settings.FTP_PROXY))
    return error(T("Die FTP Übertragung ist fehlgeschlagen."));
  StopOverPrompt("STOPOVER", "STOPOVER delete", "Big und Temp löschen", [&] {
    DeleteTransferFiles(run.baseName);
    DeleteTempFolder();
  });
  return true;
}

void cWebserverV2::RemoteChain(Run& run) {
  if (!run.errorText.empty()) return;
  const bool debug = settings.DEBUGMODE != "0";
  const int64_t wait = static_cast<int64_t>(vb::Val(settings.WAITREQUEST));
  const std::string id = vb::Trim(settings.customerId);
  WSMessage("iWSBeginnTrans", T("Die Dateien werden auf dem Webserver entpackt."));
  // A stub says SUCCESS only when every record of its container was written.
  auto unpack = [&](const std::string& base, int32_t k) {
    const std::string stub = run.baseName + "_" + std::to_string(k) + ".php";
    WSMessage("iWSText", T("Entpacke") + ": " + run.baseName + "_" + std::to_string(k) + ".big");
    run.unpackRequested = true;
    const auto reply = Get(base + stub);
    Pause(wait);
    if (reply.body.find("<b>Warning</b>") != std::string::npos)
      WSMessage("iWSSilentError", T("Fehler") + ": " + reply.body);
    // A server without PHP hands out the stub's own text, which holds the marker too.
    const bool source = reply.body.find("<?php") != std::string::npos;
    if (Served(reply) && !source && reply.body.find("SUCCESS") != std::string::npos) {
      run.unpacked = true;
    } else {
      run.errorText = T("%1 konnte nicht gestartet werden.", stub);
      if (!Served(reply))
        run.errorText += " (" + reply.error + ")";
      else if (source)
        run.errorText +=
            " (" +
            T("Der Webserver hat das PHP-Skript unter %1 nicht ausgeführt, sondern seinen Text "
              "geliefert.",
              base + stub) +
            ")";
      if (debug && reply.ok) run.errorText += kCrLf + reply.body;
      WSMessage("iWSError", T("Fehler") + ": " + run.errorText);
    }
  };
  if (!serviceMode) {
    for (int32_t k = 1; k <= run.containers; ++k)
      unpack(run.siteAddress + "/" + run.remoteFolder + "/", k);
  } else {
    const std::string admin = run.siteAddress + "/kvadmin_v2/";
    auto reply = Get(admin + "kvws_copytransfer.php?KdNr=" + UrlEncode(id) +
                     "&CountFiles=" + std::to_string(run.containers));
    if (RequestFailed(run, reply, T("%1 konnte nicht gestartet werden.", "kvws_copytransfer.php")))
      return;
    Pause(wait * run.containers * static_cast<int64_t>(vb::Val(settings.MAXTRANSFERBYTES)) / 1024);
    for (int32_t k = 1; k <= run.containers; ++k)
      unpack(siteHost + "/kvkunden/" + settings.customerId + "/", k);
    if (!run.errorText.empty()) return;
    reply = Get(admin + "kvws_importstart.php?KdNr=" + UrlEncode(id));
    Pause(wait);
    if (RequestFailed(run, reply, T("%1 konnte nicht gestartet werden.", "kvws_importstart.php")))
      return;
    reply = Get(admin + "kvws_uebertragen.php?ALIAS=" + UrlEncode(vb::Trim(run.alias)) +
                "&OBJ=" + std::to_string(run.objects) + "&TRACK=" + std::to_string(run.tracking) +
                "&TRAFF=" + std::to_string(run.kilobytes));
    Pause(wait);
    if (!reply.ok) WSMessage("iWSSilentError", "kvws_uebertragen.php: " + reply.error);
    reply = Get(siteHost + "/kvkunden/" + UrlEncode(id) + "/kvws_stat.php");
    Pause(wait);
    if (!reply.ok) WSMessage("iWSSilentError", "kvws_stat.php: " + reply.error);
    run.remoteFolder = "kvkunden/" + settings.customerId;
  }
  if (!run.errorText.empty()) return;

  const std::string site = run.siteAddress + "/" + run.remoteFolder;
  auto check = Get(site + "/db/kvws_checkdb.php");
  std::string answer = vb::Replace(vb::Replace(check.body, "\r", ""), "\n", "");
  answer = vb::Trim(answer);
  if (!check.ok || !answer.empty()) {
    run.errorText = T("Verbindung zur mySQL-Datenbank konnte nicht hergestellt werden.");
    if (!check.ok) run.errorText += " (" + check.error + ")";
    if (debug && check.ok) run.errorText += kCrLf + check.body;
    WSMessage("iWSError", T("Fehler") + ": " + run.errorText);
    return;
  }
  WSMessage("iWSBeginnTrans", T("Struktur der mySQL-Datenbank wird aktualisiert."));
  auto reply = Get(site + "/db/kvws_setupdb.php");
  Pause(wait);
  if (!reply.ok) WSMessage("iWSSilentError", "kvws_setupdb.php: " + reply.error);
  for (int32_t k = 1; k <= ImportFileCount(); ++k) {
    const std::string script = website::ImportScriptWriter::FileName(k);
    WSMessage("iWSText", T("Datenimport") + ": " + script);
    reply = Get(site + "/db/" + script);
    Pause(wait);
    // An import script prints nothing when every statement went in; a host may add line breaks.
    std::string failure = Served(reply) ? FirstLine(reply.body) : reply.error;
    if (failure.empty() && reply.body.find_first_not_of("\r\n") != std::string::npos)
      failure = T("Antwort ohne lesbaren Text");
    if (!failure.empty()) {
      run.errorText = T("Datenimportscript %1 konnte nicht ausgeführt werden.", std::to_string(k)) +
                      " (" + script + ": " + failure + ")";
      WSMessage("iWSError", T("Fehler") + ": " + run.errorText +
                                (debug && !reply.body.empty() ? kCrLf + reply.body : ""));
      return;
    }
  }
  WSMessage("iWSText", T("Mitgliederdaten werden überprüft und aktualisiert."));
  reply = Get(site + "/db/kvws_setupuser.php");
  Pause(wait);
  if (!reply.ok) WSMessage("iWSSilentError", "kvws_setupuser.php: " + reply.error);
  WSMessage("iWSText", T("Nicht benötigte Dateien werden gelöscht."));
  reply = Get(site + "/kvws_unusedfiles.php?countFiles=" + std::to_string(run.containers) +
              "&transfer=" + UrlEncode(run.baseName));
  Pause(wait);
  if (!reply.ok) WSMessage("iWSSilentError", "kvws_unusedfiles.php: " + reply.error);
}

void cWebserverV2::RemoveUploads(Run& run, bool failed) {
  // The containers hold the database password and the scripts re-run the import: on an own
  // server nothing of a transfer stays in the document root, whatever the outcome. The hosting
  // service owns its folders once it took the upload.
  if (!run.uploading || (serviceMode && !failed)) return;
  auto report = [&](const std::string& text) {
    if (!failed) {
      // The site holds the import: the status still goes back, else every night sends it all.
      events.RaiseWorkState(state::kError, T("Fehler") + ": " + text);
      return;
    }
    if (run.errorText.empty()) run.errorText = text;
    WSMessage("iWSError", T("Fehler") + ": " + text);
  };
  // The run removes what it put on the site by name, so a server that can't list doesn't keep
  // it; the listing finds what earlier runs left and tells a refused name from one that
  // wasn't there.
  struct Place {
    std::string folder;
    std::vector<std::string> put;
    std::function<bool(const std::string&)> ours;
    bool mustList;
  };
  std::vector<std::string> uploaded = {run.baseName + ".php", run.baseName + ".dir"};
  for (int32_t k = 1; k <= run.containers; ++k)
    for (const char* ext : {".php", ".big"})
      uploaded.push_back(run.baseName + "_" + std::to_string(k) + ext);
  std::vector<Place> places = {
      {run.uploadFolder, uploaded,
       [&](const std::string& n) { return TransferFileOf(run.baseName, n); }, true}};
  // The import scripts lie in the site's "db", which exists once a container was unpacked.
  if (!serviceMode) {
    std::vector<std::string> scripts;
    for (int32_t k = 1; run.unpackRequested && k <= ImportFileCount(); ++k)
      scripts.push_back(website::ImportScriptWriter::FileName(k));
    places.push_back({RemotePath(run.uploadFolder, "db"), scripts, ImportScriptName, run.unpacked});
  }
  try {
    if (!transport_->ReachesLikeUpload(settings.FTP_PROXY)) {
      report(
          T("Die übertragenen Dateien im Ordner %1 konnten nicht über den FTP-Proxy %2 vom "
            "Webserver gelöscht werden.",
            run.uploadFolder, settings.FTP_PROXY));
      return;
    }
    for (const Place& place : places) {
      std::map<std::string, std::string> refused;  // name -> the server's reason
      auto remove = [&](const std::string& name) {
        const std::string why =
            transport_->RemoveFile(run.ftpHost, run.ftpUser, run.ftpPassword,
                                   RemotePath(place.folder, name), settings.FTP_PROXY);
        if (why.empty())
          refused.erase(name);
        else
          refused[name] = why;
      };
      for (const std::string& name : place.put) remove(name);
      std::vector<std::string> names;
      if (transport_->ListFiles(run.ftpHost, run.ftpUser, run.ftpPassword, place.folder,
                                settings.FTP_PROXY, names)) {
        // What refused before and is still there is tried once more below; the rest is gone.
        refused.clear();
        for (const std::string& name : names)
          if (place.ours(name)) remove(name);
      } else if (place.mustList) {
        report(T("Der Ordner %1 konnte auf dem Webserver nicht gelesen werden.", place.folder));
        // A refused name that the server says isn't there went before, by the site's scripts.
        std::erase_if(refused, [&](const auto& entry) {
          return transport_->FileMissing(run.ftpHost, run.ftpUser, run.ftpPassword,
                                         RemotePath(place.folder, entry.first), settings.FTP_PROXY);
        });
      } else {
        refused.clear();  // the folder may never have been made
      }
      for (const auto& [name, why] : refused)
        report(T("Die Datei %1 konnte auf dem Webserver nicht gelöscht werden.",
                 RemotePath(place.folder, name)) +
               " (" + why + ")");
    }
  } catch (const std::exception& e) {
    report(e.what());
  }
}

void cWebserverV2::Finish(Run& run, bool blnShowUrl) {
  const bool debug = settings.DEBUGMODE != "0";
  const int64_t wait = static_cast<int64_t>(vb::Val(settings.WAITREQUEST));
  // From here on nothing may end the run early: every failure is reported and the closing steps
  // still run.
  auto guarded = [&](const std::function<void()>& step) {
    try {
      step();
    } catch (const std::exception& e) {
      const auto* host = dynamic_cast<const HostError*>(&e);
      run.errorText = host ? host->description() : std::string(e.what());
      WSMessage("iWSError", T("Fehler") + ": " + run.errorText);
    }
  };
  if (run.errorText.empty()) {
    guarded([&] {
      WSMessage("iWSBeginnTrans", T("Der Status der Objekte wird in Kavantor aktualisiert."));
      UpdateBoersenObjStatus(*run.portal);
    });
  }
  if (run.errorText.empty() && !serviceMode) {
    guarded([&] {
      std::string urls, message;
      auto forHooks = CopyRow(*run.portal);
      CallAfterTransfer(forHooks, urls, message);
      KeepHookRow(run.portal, forHooks);
      if (!message.empty()) WSMessage("", "Scripting: " + message);
      const std::string site = run.siteAddress + "/" + run.remoteFolder;
      while (!urls.empty() && run.errorText.empty()) {
        const std::string entry = cUtil::StrList_DeleteFirst(urls, "|");
        const auto reply = Get(site + entry);
        Pause(wait);
        if (reply.ok && (reply.body.empty() || reply.body == kCrLf ||
                         reply.body.find("SUCCESS") != std::string::npos))
          continue;
        const std::string shown = entry.substr(0, entry.find('?'));
        run.errorText = "Scripting: " + T("%1 konnte nicht gestartet werden.", shown) +
                        (reply.ok ? std::string() : " (" + reply.error + ")");
        if (debug && reply.ok) run.errorText += kCrLf + reply.body;
        WSMessage("iWSError", T("Fehler") + ": " + run.errorText);
      }
    });
  }
  guarded([&] {
    if (vb::UCase(Ini("WebServer", "SHOWURL", "1")) == "0") blnShowUrl = false;
    if (!run.errorText.empty()) return;
    const std::string address = serviceMode ? run.siteAddress + "/" + run.alias
                                            : run.siteAddress + "/" + settings.customerFolder;
    if (serviceMode && blnShowUrl) {
      const std::string url =
          "http://" + vb::Trim(settings.SERVICE_HOST) + "/" + vb::Trim(run.alias);
      if (Unattended())
        WSMessage("iWSText", url);
      else
        cUtil::StartDoc(url);
    }
    WSMessage("Fertig", " --- " + T("Sie finden Ihre Objekte unter < %1 >", address) + " ---");
    WSMessage("iWSEnd", "");
  });
  guarded([&] {
    StopOverPrompt("STOPOVER Temp", "STOPOVER delete temp", "DeleteTemp",
                   [&] { DeleteTempFolder(); });
  });
  cUtil::Wait(false);
}

}  // namespace fern
