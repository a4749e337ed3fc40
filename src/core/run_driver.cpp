#include "core/run_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "platform/display_path.h"
#include "platform/file_error.h"
#include "platform/host_path.h"
#include "platform/msgbox.h"
#include "platform/private_temp.h"
#include "platform/vb.h"
#include "platform/waits.h"

namespace fern {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kPhaseTypes[] = {portal_type::kWebsite, portal_type::kOpenImmo,
                                   portal_type::kOpenImmoConverter,
                                   portal_type::kOpenImmoOtherPartner, portal_type::kRest};

// Stands in for an exporter whose portal type this build can't send yet: it says so as an
// error, so the run neither pretends success nor stops.
void ReportUnavailable(const StateEvents& events, db::Recordset& rs, int32_t type) {
  std::string names;
  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
    names += (names.empty() ? "" : ", ") + cUtil::k(rs.Value("boersen_name"));
  rs.MoveFirst();
  events.RaiseWorkState(state::kError, ">>>> Portaltyp " + std::to_string(type) +
                                           " kann noch nicht übertragen werden: " + names);
}

class UnavailableWebsite : public WebsiteExporter {
 public:
  void Init(const std::string&, cFernDispatcher&, const Variant&) override {}
  void Transfer(db::Recordset& rs, int32_t, int32_t, bool) override {
    std::string name = cUtil::k(rs.Value("boersen_name"));
    events.RaiseWorkState(state::kError,
                          ">>>> Portaltyp 6 kann noch nicht übertragen werden: " + name);
  }
};

class UnavailableOpenImmo : public OpenImmoExporter {
 public:
  void StartImmoXML(cFernDispatcher&, const std::string&, db::Recordset& rs, bool, bool,
                    int32_t type) override {
    ReportUnavailable(events, rs, type);
  }
};

class UnavailableRest : public RestExporter {
 public:
  Variant Init(cFernDispatcher&, std::string&, std::string&) override { return Variant(true); }
  void Transfer(db::Recordset& rs) override { ReportUnavailable(events, rs, portal_type::kRest); }
};

// How many seconds after its start a run looks for archive names no other run took.
constexpr int kArchiveSecondsTried = 3600;

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "SIGTERM";
  }
}

std::string FormatStart(double start, const char* pattern) {
  return vb::Format(Variant::Date(start), pattern);
}

}  // namespace

ExporterFactory ExporterFactory::WithDefaults() const {
  ExporterFactory f = *this;
  if (!f.website) f.website = [] { return std::make_unique<UnavailableWebsite>(); };
  if (!f.openImmo) f.openImmo = [] { return std::make_unique<UnavailableOpenImmo>(); };
  if (!f.rest) f.rest = [] { return std::make_unique<UnavailableRest>(); };
  return f;
}

RunDriver::RunDriver(PortalGrid& grid, const ExporterFactory& factory, RunView view)
    : grid_(grid), factory_(factory.WithDefaults()), view_(std::move(view)) {}

RunDriver::StartResult RunDriver::butStart_Click() {
  m_blnStoppedByUser = false;
  stopButton_.clear();
  SetBusy(true);
  m_oFernDispatcher = std::make_unique<cFernDispatcher>();
  cFernDispatcher::InitResult init = m_oFernDispatcher->Init();
  if (init != cFernDispatcher::InitResult::kOpened) {
    // Another run holds the logs: this one must not start beside it.
    m_oFernDispatcher.reset();
    SetBusy(false);
    switch (init) {
      case cFernDispatcher::InitResult::kRefusedShown:
        return StartResult::kRefused;
      case cFernDispatcher::InitResult::kLockFailed:
        return StartResult::kLockFailed;
      case cFernDispatcher::InitResult::kLogFailed:
        return StartResult::kLogFailed;
      default:
        return StartResult::kRefusedEndProcess;
    }
  }
  // Nobody answers boxes in an unattended run: what they say goes to the send log as well.
  bool logBoxes = m_blnUnattended && dynamic_cast<UnattendedAnswerer*>(&Answerer()) != nullptr;
  if (logBoxes)
    SetMessageAnswerer(std::make_shared<UnattendedAnswerer>(
        [this](const std::string& title, const std::string& text) {
          WriteBoxToConsole(title, text);
          Report(state::kInfo, (title.empty() ? "" : title + ": ") + text, false, false);
        }));
  RunTransfer();
  if (logBoxes) SetMessageAnswerer(nullptr);
  m_oFernDispatcher->Done();
  m_oFernDispatcher.reset();
  try {
    grid_.SaveTransferStatus();
  } catch (const std::exception&) {
  }
  SetBusy(false);
  return StartResult::kRan;
}

void RunDriver::RunTransfer() {
  HostSession& s = Session();
  try {
    messages_.Clear();
    if (view_.messagesCleared) view_.messagesCleared();
    if (view_.runningChanged) view_.runningChanged(true);
    std::error_code ec;
    fs::remove(ResolveHostPath(m_oFernDispatcher->Folder() + "\\Dat\\ftp_ncftpput.log"), ec);
  } catch (const std::exception&) {
  }
  m_lngErrors = 0;
  errorLines_.clear();
  runLine_.clear();
  s.g_oUtil->Wait(true);
  m_dtmStart = vb::Now();

  try {
    PrivateTempFolder();  // removes what ended runs left, and may meet what it leaves alone
  } catch (const std::exception&) {
    // A folder that can't be used ends each portal with its own line.
  }
  for (const std::string& note : TakePrivateTempNotes()) Report(state::kInfo, note, false, false);
  try {
    ReportPortalsNotSent();
  } catch (const std::exception& e) {
    ReportPhaseFailure(e.what());
  }
  for (int32_t type : kPhaseTypes) {
    if (EscPressed()) continue;
    // One failing exporter must not leave the run unfinished: the phase ends with a counted
    // error and the run goes on to its run line, archive copies and closed logs.
    try {
      RunPhase(type);
    } catch (const HostError& e) {
      ReportPhaseFailure(e.description());
    } catch (const std::exception& e) {
      ReportPhaseFailure(e.what());
    }
  }

  // A scheduler that stops a hung run must not find a clean night in the logs.
  m_blnCancelledBySignal = CancelSignal() != 0;
  m_blnStoppedByUser = !m_blnCancelledBySignal && !stopButton_.empty();
  if (m_blnCancelledBySignal)
    Report(
        state::kCancelled,
        ">>>> " + s.g_oLanguagePack->TranslateString("Übertragung abgebrochen: Signal %1 empfangen",
                                                     SignalName(CancelSignal())),
        true, true);
  else if (m_blnStoppedByUser)
    Report(state::kCancelled,
           ">>>> " + s.g_oLanguagePack->TranslateString(
                         "Übertragung abgebrochen: \"%1\" im Fenster gedrückt", stopButton_),
           true, true);
  // Esc in the window: the window stays open, but the error log tells why the rest is missing.
  const bool esc = !m_blnCancelledBySignal && !m_blnStoppedByUser && EscPressed();
  const bool escOnly = esc && m_lngErrors == 0;
  if (esc)
    Report(state::kCancelled,
           ">>>> " + s.g_oLanguagePack->TranslateString("Übertragung abgebrochen: Esc gedrückt"),
           true, true);

  if (view_.runningChanged) view_.runningChanged(false);
  try {
    // A user who stopped the run is ending the program, not reading its errors now; one who
    // pressed Esc knows why the rest is missing.
    if (!m_blnStoppedByUser && !escOnly) AskShowErrorLog();
  } catch (const std::exception&) {
  }
  WriteRunLine();
  ArchiveLogs();
}

// A named portal that no phase would take must not let the run pass for clean.
void RunDriver::ReportPortalsNotSent() {
  LanguagePack& lp = *Session().g_oLanguagePack;
  for (const std::string& name : m_unmatchedPortals)
    Report(state::kError, ">>>> " + lp.TranslateString("Portal \"%1\" nicht gefunden", name), true,
           true);
  std::string condition;
  for (const PortalRow& row : grid_.Rows()) {
    if (vb::Val(row.uebertragen) != 1 || row.dsn.empty()) continue;
    condition += (condition.empty() ? "DSN = " : " OR DSN = ") + cUtil::SqlStr(Variant(row.dsn));
  }
  if (condition.empty()) return;
  std::string known;
  for (int32_t type : kPhaseTypes) known += (known.empty() ? "" : ",") + std::to_string(type);
  auto rs = Session().g_oDal->GetRecordset(
      Session().g_strConnect,
      " Select boersen_name, boersentyp from Boersen where (" + condition +
          ") and (boersentyp is null or boersentyp not in (" + known + ")) ORDER BY boersen_name ",
      4);
  for (; !rs->Eof(); rs->MoveNext()) {
    const Variant type = rs->Value("boersentyp");
    Report(state::kError,
           ">>>> " + lp.TranslateString("Portal \"%1\": Portaltyp \"%2\" ist unbekannt",
                                        cUtil::k(rs->Value("boersen_name")), cUtil::k(type)),
           true, true);
  }
}

void RunDriver::ReportPhaseFailure(const std::string& reason) {
  Report(state::kError, "There was an error in RunTransfer. " + reason, true, true);
}

bool RunDriver::Signature() const {
  HostSession& s = Session();
  return s.g_oKVUtil->IsKVSignaturOn(
      GetHostPath("KAVANTOR.INI"),
      vb::CLng(s.g_StdRS->Value("FIRMEN_NR").IsNull() ? Variant(int32_t{0})
                                                      : s.g_StdRS->Value("FIRMEN_NR")));
}

void RunDriver::RunPhase(int32_t type) {
  auto rs = GetSelectedPortals(type);
  if (rs->Eof()) return;
  switch (type) {
    case portal_type::kWebsite:
      WebsitePhase(*rs, Signature());
      break;
    case portal_type::kOpenImmo:
      ApplyScopeSwitch(*rs);
      OpenImmoPhase(*rs, Signature(), portal_type::kOpenImmo);
      break;
    case portal_type::kOpenImmoConverter:
    case portal_type::kOpenImmoOtherPartner:
      OpenImmoPhase(*rs, Signature(), type);
      break;
    case portal_type::kRest:
      RestPhase(*rs);
      break;
    default:
      break;
  }
}

void RunDriver::WebsitePhase(db::Recordset& rs, bool signature) {
  HostSession& s = Session();
  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
    std::unique_ptr<WebsiteExporter> web = factory_.website();
    web->events.WorkState = [this](int16_t st, const std::string& text) {
      // The site's own "File exists" answers are noise to the user.
      if (text.find("File exis") != std::string::npos) return;
      Report(st, text, st != state::kLoggedNotListed, st >= state::kFirstError);
    };
    web->events.InternalState = [this](int16_t st, const std::string& text) {
      Report(st, text, false, false);
    };
    web->ProgressState = [this](const std::string& text) { SetProgressText(text); };
    // One portal's failure must not cost the others their run.
    try {
      web->Init(s.g_strConnect, *m_oFernDispatcher, Variant(signature));
      web->Transfer(rs, 0, 0, true);
    } catch (const HostError& e) {
      ReportPhaseFailure(cUtil::k(rs.Value("boersen_name")) + ": " + e.description());
    } catch (const std::exception& e) {
      ReportPhaseFailure(cUtil::k(rs.Value("boersen_name")) + ": " + e.what());
    }
  }
}

void RunDriver::OpenImmoPhase(db::Recordset& rs, bool signature, int32_t type) {
  HostSession& s = Session();
  std::unique_ptr<OpenImmoExporter> immo = factory_.openImmo();
  immo->events.WorkState = [this](int16_t st, const std::string& text) {
    Report(st, text, true, st >= state::kFirstError);
  };
  immo->events.InternalState = [this](int16_t st, const std::string& text) {
    Report(st, text, false, false);
  };
  immo->StartImmoXML(*m_oFernDispatcher, s.g_strConnect, rs, signature, false, type);
}

void RunDriver::RestPhase(db::Recordset& rs) {
  HostSession& s = Session();
  if (s.g_oUtil->IniGet("IS24Transfer", "UseNewScout24Transfer", "0",
                        GetHostPath("KAVANTOR.INI")) == "1") {
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
      std::string program = GetHostPath("System\\IS24UploadFN\\IS24FernDispatcher.exe");
      std::string arguments =
          "-p " + vb::Replace(vb::Replace(cUtil::k(rs.Value("DSN")), "{", ""), "}", "");
      std::string line = FormatStart(m_dtmStart, "dd.MM.yyyy hh:nn:ss") +
                         ";Starte IS24FernDispatcher: " + arguments;
      if (m_oFernDispatcher->m_tTransferLog) m_oFernDispatcher->m_tTransferLog->WriteLine(line);
      if (s.g_blnDebugLog) WriteDebugLog(line);
      s.g_oUtil->StartApplication(program, arguments);
    }
    return;
  }
  std::unique_ptr<RestExporter> rest = factory_.rest();
  rest->events.WorkState = [this](int16_t st, const std::string& text) {
    Report(st, text, true, st >= state::kFirstError);
  };
  std::string connect = s.g_strConnect;
  std::string userDsn = cUtil::k(s.g_CurrentUserRS->Value("DSN"));
  Variant ok = rest->Init(*m_oFernDispatcher, connect, userDsn);
  if (ok.IsNull() || !vb::CBool(ok)) return;
  if (s.g_blnDebugLog)
    WriteDebugLog("Start RestTransfer Boerse: " + cUtil::k(rs.Value("DSN")) +
                  " CurrentUser: " + userDsn);
  rest->Transfer(rs);
}

std::shared_ptr<db::Recordset> RunDriver::GetSelectedPortals(int32_t lngType) {
  std::string condition;
  for (const PortalRow& row : grid_.Rows()) {
    if (vb::Val(row.uebertragen) != 1 || row.dsn.empty()) continue;
    condition += (condition.empty() ? "DSN = " : " OR DSN = ") + cUtil::SqlStr(Variant(row.dsn));
  }
  std::string sql = condition.empty() ? std::string(" Select * from Boersen where 1=2 ")
                                      : " Select * from Boersen where (" + condition +
                                            ") and boersentyp = " + std::to_string(lngType) +
                                            " ORDER BY boersen_name ";
  return Session().g_oDal->GetRecordset(Session().g_strConnect, sql, 4);
}

void RunDriver::ApplyScopeSwitch(db::Recordset& rs) {
  if (rs.Eof() && rs.Bof()) return;
  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
    if (vb::CLng(rs.Value("boersentyp")) != 5) continue;
    if (m_blnScopeFull)
      rs.SetValue("teil_or_voll", Variant(int32_t{0}));
    else if (m_blnScopePartial)
      rs.SetValue("teil_or_voll", Variant(int32_t{1}));
  }
  rs.MoveFirst();
}

std::string RunDriver::GetTimeStamp() {
  auto now = std::chrono::system_clock::now();
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03d", static_cast<int>(ms));
  return vb::Format(Variant::Date(vb::Now()), "HH:nn:ss") + ":" + buf;
}

void RunDriver::Report(int32_t lngState, const std::string& text, bool blnShow, bool blnIsError) {
  try {
    const std::string strText = WithPlatformSeparators(text);
    if (blnShow) AddMessage(strText);
    cFernDispatcher* fd = m_oFernDispatcher.get();
    if (blnIsError) {
      const std::string line = std::to_string(lngState) + "; " + strText;
      if (errorLines_.size() < kKeptErrorLines) errorLines_.push_back(line);
      ++m_lngErrors;
      if (fd && fd->m_tErrorLog) fd->m_tErrorLog->WriteLine(line);
    }
    auto send = [&](const std::string& line) {
      if (fd && fd->m_tSendLog) fd->m_tSendLog->WriteLine(line);
    };
    if (lngState == state::kStepBegins) send("");
    if (!(strText.find('%') != std::string::npos && strText.find("Byte") != std::string::npos))
      send(std::to_string(lngState) + "; " + GetTimeStamp() + "; " + strText);
    if (lngState == state::kStepBegins) send("");
    if (!blnShow && !blnIsError && lngState >= state::kFirstTransferProgress &&
        lngState <= state::kLastTransferProgress)
      SetProgressText(Session().g_oLanguagePack->TranslateString("Übertragungsstatus") + ": ..." +
                      strText);
  } catch (const std::exception&) {
    // A report must never break the run.
  }
}

void RunDriver::AddMessage(const std::string& text) {
  messages_.AddMessage(text);
  if (view_.messageAdded) view_.messageAdded(text);
}

void RunDriver::SetProgressText(const std::string& text) {
  if (view_.progressText) view_.progressText(text);
}

void RunDriver::AskShowErrorLog() {
  if (m_blnUnattended || m_lngErrors < 1) return;
  HostSession& s = Session();
  if (s.g_oUtil->MsgAsk(
          s.g_oLanguagePack->TranslateString(
              "Es sind Fehler aufgetreten. Eventuell sind nicht alle Objekte "
              "erfolgreich übertragen worden.%nl%Wollen Sie das Fehlerprotokoll sehen?"),
          false))
    ShowDocument(GetHostPath("DAT\\Error.log"));
}

void RunDriver::StopRun(const std::string& button) {
  if (!Running()) return;
  if (stopButton_.empty()) stopButton_ = button;
  SetEsc();
}

void RunDriver::WriteRunLine() {
  runLine_ = FormatStart(m_dtmStart, "dd.MM.yyyy hh:nn:ss") +
             "; Errors: " + std::to_string(m_lngErrors) +
             "; PortalList: " + grid_.GetPortalList(true) + ";";
  try {
    if (m_oFernDispatcher->m_tTransferLog) m_oFernDispatcher->m_tTransferLog->WriteLine(runLine_);
  } catch (const std::exception&) {
  }
}

void ShowDocument(const std::string& hostPath) {
  try {
    cUtil::StartDoc(hostPath);
  } catch (const HostError&) {
    ShowMessage(Session().g_oLanguagePack->TranslateString(
                    "%1 kann nicht angezeigt werden: Es ist kein Anzeigeprogramm eingerichtet "
                    "(xdg-open aus dem Paket xdg-utils).",
                    ResolveHostPath(hostPath).string()),
                mb::kExclamation);
  }
}

void WriteBoxToConsole(const std::string& title, const std::string& text) {
  // Boxes break lines with CR LF; a console line ends in LF alone.
  std::string line = vb::Replace(title.empty() ? text : title + ": " + text, "\r\n", "\n");
  std::fprintf(stderr, "%s\n", line.c_str());
}

namespace {

// Copies `from` whole to `to`, replacing it; on failure nothing is left at `to` and the reason
// is returned ("" when the copy is whole). Done by hand, as the library's copy reports a full
// disk as a mere input/output error.
std::string CopyWhole(const fs::path& from, const fs::path& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return FileErrorText(errno);
  struct stat st {};
  const mode_t mode = ::fstat(in, &st) == 0 ? (st.st_mode & 0777) : 0666;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  int error = out < 0 ? errno : 0;
  char buffer[65536];
  while (error == 0) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) error = errno;
      break;
    }
    for (ssize_t done = 0; error == 0 && done < got;) {
      const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (put > 0)
        done += put;
      else if (put < 0 && errno != EINTR)
        error = errno;
    }
  }
  if (out >= 0 && ::close(out) != 0 && error == 0) error = errno;
  ::close(in);
  if (error == 0) return {};
  if (out >= 0) ::unlink(to.c_str());
  return FileErrorText(error);
}

}  // namespace

void RunDriver::ArchiveLogs() {
  try {
    SetProgressText("Copy Logfiles");
    const fs::path archive = HostFile("DAT\\FernDispatcher");
    std::error_code folderError;
    fs::create_directories(archive, folderError);
    if (!folderError && !fs::is_directory(archive))
      folderError = std::make_error_code(std::errc::not_a_directory);
    // Another run that started in the same second (a night script's portals one after
    // another) has its copies there: this run takes the next second free for both of its own.
    std::string prefix;
    for (int later = 0; prefix.empty(); ++later) {
      const std::string candidate = FormatStart(m_dtmStart + later / 86400.0, "_yyyyMMdd_hhmmss_");
      std::error_code ec;
      if (later >= kArchiveSecondsTried || (!fs::exists(archive / (candidate + "Send.log"), ec) &&
                                            !fs::exists(archive / (candidate + "Error.log"), ec)))
        prefix = candidate;
    }
    for (const char* name : {"Send.log", "Error.log"}) {
      const fs::path log = HostFile(std::string("DAT\\") + name);
      if (!fs::exists(log)) continue;
      const fs::path copy = archive / (prefix + name);
      const std::string why = folderError ? "der Ordner " + archive.string() +
                                                " kann nicht angelegt werden (" +
                                                FileErrorText(folderError.value()) + ")"
                                          : CopyWhole(log, copy);
      // The run's exit code stays the run's; the night job's mail tells what is missing.
      if (!why.empty())
        std::fprintf(stderr, "fern-dispatcher: Die Archivkopie %s fehlt: %s\n", copy.c_str(),
                     why.c_str());
    }
    SetProgressText("");
  } catch (const std::exception&) {
  }
  Session().g_oUtil->Wait(false);
}

}  // namespace fern
