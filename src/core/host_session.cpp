#include "core/host_session.h"

#include <unistd.h>

#include <chrono>

#include "host/KavantorApplication.h"
#include "host/LanguagePack.h"
#include "host/cCryptUtil.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVBlob.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "host/cdbutil.h"
#include "platform/host_path.h"
#include "platform/ini_file.h"
#include "platform/msgbox.h"
#include "platform/private_temp.h"
#include "platform/text_file.h"
#include "platform/vb.h"
#include "platform/waits.h"

namespace fern {

namespace {

constexpr const char* kBoxTitle = "FernDispatcher.exe";

HostSession& Storage() {
  static HostSession session;
  return session;
}

std::filesystem::path OwnFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : exe.parent_path();
}

std::string Translate(const std::string& german, const std::string& p1 = {},
                      const std::string& p2 = {}) {
  return fern::Translate(Session().g_oLanguagePack.get(), german, {p1, p2});
}

[[noreturn]] void FailStartup(const std::string& text) {
  ShowCriticalMessage(text);
  throw StartupFailure(text);
}

bool EndsWithSystemFolder(const std::string& path) {
  std::string upper = vb::UCase(path);
  for (char& c : upper)
    if (c == '/') c = '\\';
  return upper.size() >= 8 && upper.compare(upper.size() - 8, 8, "\\SYSTEM\\") == 0;
}

}  // namespace

HostSession& Session() { return Storage(); }

void ResetSession(CommandLine commandLine, std::filesystem::path programFolder) {
  Storage() = HostSession{};
  SetPrivateTempScope("");
  Storage().commandLine = std::move(commandLine);
  Storage().programFolder = programFolder.empty() ? OwnFolder() : std::move(programFolder);
}

std::string GetHostPath(const std::string& relative) { return Session().g_strHostPath + relative; }

std::filesystem::path HostFile(const std::string& relative) {
  return ResolveHostPath(GetHostPath(relative));
}

std::string GetCommandSwitch(const std::string& upperSwitch) {
  return Session().commandLine.GetCommandSwitch(upperSwitch);
}

void SetBusy(bool busy) {
  HostSession& s = Session();
  s.g_iBusy = static_cast<int16_t>(s.g_iBusy + (busy ? 1 : -1));
  if (s.g_iBusy < 0) ShowMessage("Biene <0 !", 0);
  if ((busy && s.g_iBusy == 1) || (!busy && s.g_iBusy == 0)) Wait(busy);
}

int ShowMessage(const std::string& text, int32_t flags) {
  HostSession& s = Session();
  if (s.g_oUtil) return s.g_oUtil->MessageBox(text, flags, kBoxTitle);
  return Answerer().MessageBox(text, flags, kBoxTitle);
}

void ShowCriticalMessage(const std::string& text) { ShowMessage(text, 16); }

double MaxDouble(double a, double b) { return a > b ? a : b; }
double MinDouble(double a, double b) { return a < b ? a : b; }

void InitHostPath() {
  HostSession& s = Session();
  std::string path = CommandLine::WithBlanks(GetCommandSwitch("/PATHKV"));
  if (path.empty()) path = s.programFolder.string();
  // A Linux folder keeps "/" as its separator; the host's own paths keep "\".
  bool linuxPath = path.find('/') != std::string::npos && path.find('\\') == std::string::npos;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += linuxPath ? "/" : "\\";
  if (EndsWithSystemFolder(path)) path.erase(path.size() - 7);
  s.g_strHostPath = path;
  // Runs on different host folders must not share work files in the temporary folder.
  std::error_code ec;
  std::filesystem::path real = std::filesystem::weakly_canonical(ResolveHostPath(path), ec);
  SetPrivateTempScope(ec ? ResolveHostPath(path).string() : real.string());
  if (!cUtil::Exist(GetHostPath("KAVANTOR.EXE"))) {
    FailStartup(Translate(
        "Schwerwiegender Fehler.%nl%%1-System konnte im Pfad %2 nicht gefunden werden.%nl%"
        "Programm wird abgebrochen!",
        "KAVANTOR.exe", cUtil::Quote(path)));
  }
}

void InitHostSession() {
  HostSession& s = Session();
  s.g_oDal = std::make_shared<cDal>();
  s.g_oDbUtil = std::make_shared<cdbutil>();
  s.g_oUtil = std::make_shared<cUtil>();
  s.g_oDbIni = std::make_shared<cDbIni>();
  s.g_oKVUtil = std::make_shared<cKVUtil>();
  s.g_oKVBlob = std::make_shared<cKVBlob>();
  s.g_oCryptUtil = std::make_shared<cCryptUtil>();
  s.g_oLanguagePack = s.g_oUtil->LanguagePackObject();

  InitHostPath();

  const std::string listed =
      s.g_oUtil->IniGet("OPTIONS", "CONTENTLANGUAGES", "1031", GetHostPath("SQL\\SQL.INI"));
  // A wrong list would only fail later, in the middle of a run, on a table that isn't there.
  if (!LanguagePack::IsContentLanguageList(listed))
    FailStartup(
        Translate("Ungültiger Wert \"%1\" für CONTENTLANGUAGES in %2: erwartet werden "
                  "Sprachnummern, durch Kommas getrennt (z. B. 1031,2057); Kommentare "
                  "gehören auf eine eigene Zeile.",
                  listed, HostFile("SQL\\SQL.INI").string()));
  std::string languages = vb::Replace(listed, " ", "");
  s.g_oLanguagePack->SetContentLanguages(vb::Replace(languages, ",", "|"));
  int32_t defaultLcid = static_cast<int32_t>(vb::Val(cUtil::StrListNr(languages, ",", 1)));
  s.g_oLanguagePack->SetDefaultLCID(defaultLcid);
  s.g_oLanguagePack->SetContentLCID(defaultLcid);
  s.g_oLanguagePack->SetDictionaryPath(GetHostPath("System\\Language"));

  s.g_blnDebugLog =
      s.g_oUtil->IniGet("IS24Transfer", "DebugLog", "0", GetHostPath("Kavantor.INI")) == "1";

  s.g_strUser = CommandLine::WithBlanks(GetCommandSwitch("/USERKV"));
  if (s.g_strUser.empty()) {
    // Yes/No with No as the default, so an unattended start without a user ends cleanly.
    int answer = s.g_oUtil->MessageBox("Soll die IS24-Anmeldung gestartet werden", 4 + 32 + 256,
                                       "IS24-Anmeldung");
    if (answer != 6) FailStartup(Translate("Parameter für KAVANTOR-Benutzer '/USERKV' fehlt."));
    s.g_blnIS24Login = true;
    s.g_oHostApp = KavantorApplication::GetRunning();
    if (!s.g_oHostApp)
      FailStartup(Translate("Es läuft kein KAVANTOR, an dem die IS24-Anmeldung erfolgen kann."));
    s.g_strUser = cUtil::k(
        CallByName(s.g_oHostApp->CurrentUserRS(), "", kMethod | kPropGet, {Variant("login_name")}));
  }

  try {
    s.g_strConnect =
        s.g_oDbUtil->GetConnectString(GetHostPath("sql\\sql.ini"), cdbutil::kConnectKey);
    s.g_oDal->Init(GetHostPath("sql\\sql.ini"));
    s.g_StdRS = s.g_oDal->GetRecordset(s.g_strConnect, "SELECT * FROM std");
  } catch (const HostError& e) {
    FailStartup(Translate("Datenbankverbindung ist fehlgeschlagen.") + "\r\n" + e.description());
  }
  if (!s.g_StdRS || s.g_StdRS->Eof())
    FailStartup(Translate("Datenbankverbindung ist fehlgeschlagen."));

  try {
    auto rs = s.g_oDal->GetRecordset(s.g_strConnect, "SELECT version FROM version");
    double v = 0;
    if (!rs->Eof()) {
      const Variant& value = rs->Value(size_t{0});
      if (!value.IsNull() && vb::IsNumeric(value)) v = vb::CDbl(value);
    }
    s.g_strDBVersion = vb::CStr(Variant(v));
  } catch (const HostError&) {
    s.g_strDBVersion = "0";
  }

  // The name is quoted: a login with an apostrophe must not break (or extend) the statement.
  std::string sql = "SELECT * FROM ben WHERE login_name=" + cUtil::SqlStr(Variant(s.g_strUser)) +
                    " AND aktiv=1 ORDER BY DSN";
  if (s.g_blnDebugLog) WriteDebugLog(sql);
  s.g_CurrentUserRS = s.g_oDal->GetRecordset(s.g_strConnect, sql);
  if (s.g_CurrentUserRS->Eof())
    FailStartup(Translate("Benutzer %1 nicht gefunden, bzw. nicht aktiv.", s.g_strUser));

  std::string profile = cUtil::k(s.g_CurrentUserRS->Value("PROFILE"));
  s.g_strProfilePath = "profiles\\" + (profile.empty() ? std::string("Standard") : profile);
  std::string userDsn = cUtil::k(s.g_CurrentUserRS->Value("DSN"));
  s.g_oDbIni->Init(s.g_strConnect, userDsn);
  if (s.g_blnDebugLog)
    WriteDebugLog("g_CurrentUserRSDSN: " + userDsn +
                  " Login_Name: " + cUtil::k(s.g_CurrentUserRS->Value("login_name")));
}

void WriteDebugLog(const std::string& text) {
  double now = vb::Now();
  std::string date = vb::Format(Variant::Date(now), "dd.mm.yyyy");
  if (date.size() < 14) date.append(14 - date.size(), ' ');
  std::string entry = date + vb::Format(Variant::Date(now), "hh:nn:ss") + "\r\n" + text;
  try {
    // Beside the run's other logs: an installed program's own folder is not writable.
    AppendLine(HostFile("DAT\\FernDispatcherDebug.txt"), entry);
  } catch (const HostError&) {
    // The debug log must never stop a run.
  }
}

}  // namespace fern
