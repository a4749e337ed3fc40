#include "services/portal_upload.h"

#include <signal.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "host/LanguagePack.h"
#include "platform/find_program.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/ini_file.h"
#include "platform/private_file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/upload_walk.h"

namespace fern::services {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSftpSource = "DoUploadToSFtpByWinScp";
constexpr const char* kFtpsSource = "DoUploadToFtpSByWinScp";
constexpr const char* kNcFtpSource = "DoUploadToFtpByNcFtpPut";

std::string JoinHost(std::string folder, const std::string& name) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder + "\\" + name;
}

fs::path Real(const std::string& hostPath) { return ResolveHostPath(hostPath); }

bool NonEmptyFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && fs::file_size(p, ec) > 0;
}

// The files of one upload: directly in the folder, "*.<ext>" without regard to case.
std::vector<fs::path> FilesToSend(const std::string& localFolder, const std::string& extension) {
  const std::string mask = extension.empty() || extension == "*" ? "*.*" : "*." + extension;
  return FindFiles(Real(localFolder), mask, false);
}

// "server[:port]" without a trailing slash and blanks; the target's port wins over the text's.
std::string HostPort(const UploadTarget& target) {
  std::string s(text::TrimBlanks(target.server));
  while (!s.empty() && s.back() == '/') s.pop_back();
  if (target.port > 0) {
    const size_t colon = s.rfind(':');
    if (colon != std::string::npos && colon + 1 < s.size() &&
        s.find_first_not_of("0123456789", colon + 1) == std::string::npos)
      s.erase(colon);
    s += ":" + std::to_string(target.port);
  }
  return s;
}

// The server's answer to AUTH when it took none of the kinds asked for, so it offers no TLS and
// was never sent the login; "" otherwise.
std::string AuthRefused(const CurlSession& cs) {
  std::string refused;
  for (const CurlSession::Exchange& x : cs.Dialogue()) {
    if (x.command.rfind("AUTH", 0) != 0) continue;
    if (x.answer.rfind("234", 0) == 0) return {};
    refused = x.command + ": " + x.answer;
  }
  return refused;
}

std::string FolderPart(std::string remote) {
  while (!remote.empty() && remote.back() == '/') remote.pop_back();
  return remote;
}

// Our stand-in for the former tool's log, beside the local folder and with its name, so the
// texts that point at it stay true. Lines carry a time stamp and never a secret.
class UploadLog {
 public:
  UploadLog(const std::string& localFolder, std::string secret) : secret_(std::move(secret)) {
    fs::path local = Real(localFolder);
    while (local.has_relative_path() && local.filename().empty()) local = local.parent_path();
    path_ = local.parent_path() / "WinSCP_start.log";
    std::error_code ec;
    fs::remove(path_, ec);
  }
  const fs::path& path() const { return path_; }
  // Once per log, as the cause is the server's and the same for every file.
  void TimeNotKept(const std::string& name, const std::string& why) {
    if (timeNoted_) return;
    timeNoted_ = true;
    Line("Modification time not kept on the server ('" + name + "'): " + why);
  }
  void Line(const std::string& text) {
    std::string t = text;
    if (secret_.size() >= 3)
      for (size_t at = t.find(secret_); at != std::string::npos; at = t.find(secret_, at + 4))
        t.replace(at, secret_.size(), "****");
    try {
      AppendLine(path_,
                 "> " + vb::Format(Variant::Date(vb::Now()), "yyyy-mm-dd hh:nn:ss") + " " + t);
    } catch (const HostError&) {
      // A log that cannot be written must not turn a good upload into a failed one.
    }
  }

 private:
  fs::path path_;
  std::string secret_;
  bool timeNoted_ = false;
};

// Where one file goes. SFTP paths are relative to the login folder through "/~/"; FTP paths
// are relative in the URL already and absolute ones need the escaped leading slash.
std::string RemoteUrl(const std::string& base, bool sftp, const std::string& remoteFolder,
                      const std::string& name) {
  std::string folder = FolderPart(remoteFolder);
  std::string url = base + "/";
  if (!folder.empty() && folder.front() == '/') {
    url += sftp ? "" : "%2F";
    while (!folder.empty() && folder.front() == '/') folder.erase(0, 1);
  } else if (sftp) {
    url += "~/";
  }
  if (!folder.empty()) url += EscapeUrlPath(folder) + "/";
  return url + EscapeUrlPath(name);
}

// Whether a failed upload got far enough to leave a file on the server: bytes went to the
// connection, or the FTP server was told to store it.
bool MayHaveLeftFile(const TransferResult& r, const CurlSession& cs) {
  if (r.kind != TransferResult::Kind::kFailed && r.kind != TransferResult::Kind::kCancelled)
    return false;
  if (r.uploaded > 0) return true;
  for (const CurlSession::Exchange& x : cs.Dialogue())
    if (x.command.rfind("STOR ", 0) == 0) return true;
  return false;
}

// A portal may import what a dropped upload left under the final name before the retry sends it
// whole, so it goes, over a new connection, also after a stop, but then within the budget. Best
// effort: the answer is only reported.
TransferResult RemovePartial(CurlSession& cs, const std::string& url, const Credentials& login,
                             const PeerPolicy& policy) {
  cs.Close();
  const Deadline deadline = RemovalDeadline();
  const TransferLimits kept = cs.limits;
  cs.limits = deadline.Fit(kept);
  TransferResult r = cs.RemoveFile(url, login, policy, deadline.Stop());
  cs.limits = kept;
  cs.Close();
  return r;
}

bool Stopped(const TransferResult& r) { return r.kind == TransferResult::Kind::kCancelled; }

// "-passive=0", "-implicit", ... of the options text.
struct FtpsOptions {
  bool implicitTls = false;
  bool active = false;
  long timeoutSeconds = 0;
  std::vector<std::string> ignored;
};

FtpsOptions ParseFtpsOptions(const std::string& text) {
  FtpsOptions o;
  for (const std::string& word : SplitCommandLine(text)) {
    const std::string w = text::LowerAscii(word);
    const size_t eq = w.find('=');
    const std::string name = w.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : w.substr(eq + 1);
    if (name == "-implicit") {
      o.implicitTls = true;
    } else if (name == "-explicit") {
      o.implicitTls = false;
    } else if (name == "-passive") {
      o.active = value == "0" || value == "off";
    } else if (name == "-timeout" && !value.empty()) {
      o.timeoutSeconds = std::atol(value.c_str());
    } else {
      o.ignored.push_back(word);
    }
  }
  return o;
}

}  // namespace

void ReportStop(const StateEvents& events, const LanguagePack* language) {
  events.RaiseWorkState(state::kCancelled, "\r\n" + Translate(language, "Prozess extern beendet"));
}

UploadRoutes::UploadRoutes(const UploadRouteSettings& settings, const LanguagePack* language,
                           const StateEvents& events)
    : s_(settings), language_(language), events_(events) {}

std::string UploadRoutes::T(const std::string& german, const std::string& p1) const {
  return Translate(language_, german, {p1});
}

template <typename Log>
void UploadRoutes::ReportPartial(Log& log, const std::string& remote,
                                 const TransferResult& removal) const {
  const std::string text =
      removal.ok()
          ? T("Unvollständige Datei %1 auf dem Server gelöscht", remote)
          : T("Unvollständige Datei %1 konnte auf dem Server nicht gelöscht werden", remote);
  log.Line(removal.ok() ? text : text + ": " + removal.message);
  // After a stop no retry sends the file whole over what stays.
  if (!removal.ok() && EscPressed())
    events_.RaiseWorkState(state::kError, text);
  else
    Work(text);
}

template <typename Log>
std::string UploadRoutes::LogPointer(const Log& log, const std::string& reason) const {
  // The next attempt starts the log anew, so the reason itself has to go with the message.
  const std::string pointer = T("Fehlerbeschreibung siehe LOG-Datei '%1'", log.path().string());
  return reason.empty() ? pointer : pointer + ": " + reason;
}

template <typename Log>
TransferResult UploadRoutes::PutOne(CurlSession& cs, Log& log, const std::string& url,
                                    const fs::path& file, const Credentials& login,
                                    const PeerPolicy& policy,
                                    const CurlSession::StopFn& stop) const {
  if (s_.noPreserveTime) return cs.PutFile(url, file, login, policy, stop);
  const TimedPut put = cs.PutFileKeepingTime(url, file, login, policy, stop);
  if (put.result.ok() && !put.timeKept) log.TimeNotKept(file.filename().string(), put.timeNote);
  return put.result;
}

void UploadRoutes::NoteBatchPause(const std::string& procedure) const {
  if (s_.setBatchPause) Work(procedure + ": SetBatchPause=1 hat hier keine Wirkung");
}

std::string UploadRoutes::SftpIniPath() const {
  const fs::path first = Real(JoinHost(s_.hostFolder, "sftp.ini"));
  if (NonEmptyFile(first)) return first.string();
  return Real(JoinHost(JoinHost(s_.hostFolder, "system"), "sftp.ini")).string();
}

// --- SFTP -------------------------------------------------------------------------------------

bool UploadRoutes::Sftp(const UploadTarget& target, const std::string& localFolder,
                        const std::string& extension) {
  try {
    const std::string section = target.server;
    const std::string ini = SftpIniPath();
    Work("Nutze folgende sftp.ini: " + ini + " in DoUploadToSFtpByWinScp");
    const std::string stored = IniGet(section, "fingerprint", "", ini);
    const std::string keyFile = IniGet(section, "privateKeyfile", "", ini);
    fs::path keyPath;
    if (!keyFile.empty()) {
      keyPath = Real(keyFile);
      std::error_code ec;
      if (!fs::is_regular_file(keyPath, ec))
        throw HostError(err::kFileNotFound, T("%1 nicht gefunden.", keyFile), kSftpSource);
    }
    // FTP over TLS needs no host key: that road checks nothing of the sort.
    if (IniGet(section, "useTls", "0", ini) == "1")
      return FtpsUpload(kSftpSource, target, localFolder, extension);

    Work("suche Rawsettings: " + section + " - " + ini);
    const std::string raw = IniGet(section, "rawsettings", "", ini);
    if (!raw.empty()) Work("Rawsettings gefunden: " + (" " + raw));

    UploadLog log(localFolder, target.password);
    const std::string base = "sftp://" + HostPort(target);
    if (!raw.empty()) log.Line("Raw settings are not applied here: " + raw);
    Work("DoUploadToSFtpByWinScp: WinSCP starten");
    NoteBatchPause(kSftpSource);

    CurlSession cs;
    cs.limits = s_.limits;
    cs.SetSecret(target.password);
    const HostKeyFingerprint expected = ParseFingerprint(stored);
    std::string seenKey;
    const bool learn = stored.empty();
    bool success = false;
    bool loginDenied = false;
    bool keyRefused = false;
    bool stopped = false;
    std::string failure;

    if (learn) {
      // Only the handshake: the key is learned, and the login never goes to an unknown host.
      log.Line("Looking up host \"" + HostPort(target) + "\" for SFTP");
      const TransferResult r = cs.LearnHostKey(base, [] { return EscPressed(); });
      seenKey = r.peerKey;
      stopped = Stopped(r);
      if (seenKey.empty()) failure = r.message;
    } else if (expected.kind == HostKeyFingerprint::kNone) {
      failure = "The stored fingerprint '" + stored + "' has no form that can be checked";
      keyRefused = true;
    } else {
      PeerPolicy policy;
      policy.hostKey = expected;
      policy.privateKeyFile = keyPath;
      const std::vector<fs::path> files = FilesToSend(localFolder, extension);
      if (files.empty())
        failure = "No file matching '*." + (extension.empty() ? std::string("*") : extension) +
                  "' in '" + localFolder + "'";
      success = !files.empty();
      for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        log.Line("Uploading \"" + file.string() + "\"");
        const std::string url = RemoteUrl(base, true, target.folder, name);
        const TransferResult r = PutOne(cs, log, url, file, {target.user, target.password}, policy,
                                        [] { return EscPressed(); });
        if (!r.ok()) {
          success = false;
          loginDenied = r.kind == TransferResult::Kind::kLoginDenied;
          keyRefused = r.kind == TransferResult::Kind::kPeerRefused;
          stopped = Stopped(r) || EscPressed();
          seenKey = r.peerKey;
          failure = r.message;
          if (MayHaveLeftFile(r, cs))
            ReportPartial(log, FolderPart(target.folder) + "/" + name,
                          RemovePartial(cs, url, {target.user, target.password}, policy));
          break;
        }
        log.Line(" Transfer done: '" + name + "' => '" + FolderPart(target.folder) + "/" + name +
                 "'");
      }
    }
    cs.Close();
    Work("DoUploadToSFtpByWinScp: WinSCP fertig");
    if (stopped) {
      log.Line("Stopped: " + failure);
      ReportStop(events_, language_);
      return false;
    }

    if (keyRefused) {
      const std::string seen =
          seenKey.empty() ? std::string() : "; the server has " + FingerprintOfKey(seenKey);
      failure = "Host key does not match the stored fingerprint '" + stored + "'" + seen;
    }
    if (!failure.empty()) log.Line("Error: " + failure);
    if (loginDenied) {
      log.Line("Password authentication failed");
      throw HostError(kUploadFailed, T("Benutzername oder Kennwort ist falsch."), kSftpSource);
    }
    Work("DoUploadToSFtpByWinScp: WinSCP Status " + vb::CStr(Variant(success)));
    if (learn) {
      if (seenKey.empty())
        throw HostError(kUploadFailed, T("Es konnte kein Fingerprint ermittelt werden"),
                        kSftpSource);
      const std::string fp = FingerprintOfKey(seenKey);
      log.Line("Host key fingerprint is:");
      log.Line(fp);
      IniWrite(section, "fingerprint", fp, ini);
      throw HostError(kUploadFailed,
                      T("Neuer Fingerprint '%1' für diesen Host in sftp.ini eingetragen.", fp),
                      kSftpSource);
    }
    if (!success) throw HostError(kUploadFailed, LogPointer(log, failure), kSftpSource);
    return true;
  } catch (const HostError& e) {
    throw HostError(e.number(),
                    T("SFTP Übertragung.") + " " + T("Hinweis") + ": " + e.description(),
                    kSftpSource);
  }
}

// --- FTPS -------------------------------------------------------------------------------------

bool UploadRoutes::Ftps(const UploadTarget& target, const std::string& localFolder,
                        const std::string& extension) {
  try {
    Work("Nutze folgende sftp.ini: " + SftpIniPath() + " in DoUploadToFtpSByWinScp");
    return FtpsUpload(kFtpsSource, target, localFolder, extension);
  } catch (const HostError& e) {
    throw HostError(e.number(),
                    T("SFTP Übertragung.") + " " + T("Hinweis") + ": " + e.description(),
                    kFtpsSource);
  }
}

bool UploadRoutes::FtpsUpload(const std::string& procedure, const UploadTarget& target,
                              const std::string& localFolder, const std::string& extension) {
  const std::string section = target.server;
  const std::string ini = SftpIniPath();
  Work("suche Rawsettings: " + section + " - " + ini);
  const std::string raw = IniGet(section, "rawsettings", "", ini);
  if (!raw.empty()) Work("Rawsettings gefunden: " + (" " + raw));

  UploadLog log(localFolder, target.password);
  if (!raw.empty()) log.Line("Raw settings are not applied here: " + raw);
  const FtpsOptions opt = ParseFtpsOptions(target.options);
  for (const std::string& w : opt.ignored) log.Line("Option not applied here: " + w);
  const FtpEndpoint ep =
      FtpEndpointOf((opt.implicitTls ? "ftps://" : "ftpes://") + HostPort(target));
  Work(procedure + ": WinSCP starten");
  NoteBatchPause(procedure);

  CurlSession cs;
  cs.limits = s_.limits;
  if (opt.timeoutSeconds > 0) {
    cs.limits.connectTimeoutMs = opt.timeoutSeconds * 1000;
    cs.limits.responseSeconds = opt.timeoutSeconds;
  }
  cs.SetSecret(target.password);
  // Active mode would send the file unprotected with an older libcurl: stay passive then.
  if (opt.active && !ActiveFtpKeepsTls())
    log.Line("Active mode is not safe with this libcurl over TLS; passive mode is used");
  // Any server certificate is accepted, as the portals' servers expect.
  PeerPolicy policy;
  policy.tls = true;
  policy.activeFtp = opt.active;
  const std::vector<fs::path> files = FilesToSend(localFolder, extension);
  bool success = !files.empty();
  bool loginDenied = false;
  bool stopped = false;
  std::string failure;
  if (files.empty())
    failure = "No file matching '*." + (extension.empty() ? std::string("*") : extension) +
              "' in '" + localFolder + "'";
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    log.Line("Uploading \"" + file.string() + "\"");
    const std::string url = RemoteUrl(ep.base, false, target.folder, name);
    const TransferResult r = PutOne(cs, log, url, file, {target.user, target.password}, policy,
                                    [] { return EscPressed(); });
    if (!r.ok()) {
      success = false;
      loginDenied = r.kind == TransferResult::Kind::kLoginDenied;
      // Whatever ended the attempt, after a stop it is the stop that is reported.
      stopped = Stopped(r) || EscPressed();
      failure = r.message;
      if (const std::string refused = AuthRefused(cs); !refused.empty())
        failure = T("Der Server %1 bietet kein TLS an; Benutzername und Kennwort wurden nicht "
                    "gesendet.",
                    HostPort(target)) +
                  " (" + refused + ")";
      for (const auto& x : cs.Dialogue()) log.Line(x.command + " -> " + x.answer);
      if (MayHaveLeftFile(r, cs))
        ReportPartial(log, FolderPart(target.folder) + "/" + name,
                      RemovePartial(cs, url, {target.user, target.password}, policy));
      break;
    }
    log.Line(" Transfer done: '" + name + "' => '" + FolderPart(target.folder) + "/" + name + "'");
  }
  cs.Close();
  // TLS 1.3 only where the server refused 1.2: the operator sees which one carried the files.
  if (!cs.TlsVersion().empty()) {
    log.Line("Connection secured with " + cs.TlsVersion());
    Work(procedure + ": Verbindung über " + cs.TlsVersion());
  }
  Work(procedure + ": WinSCP fertig");
  if (stopped) {
    log.Line("Stopped: " + failure);
    ReportStop(events_, language_);
    return false;
  }
  if (!failure.empty()) log.Line("Error: " + failure);
  if (loginDenied) {
    log.Line("Password authentication failed");
    throw HostError(kUploadFailed, T("Benutzername oder Kennwort ist falsch."), procedure);
  }
  Work(procedure + ": WinSCP Status " + vb::CStr(Variant(success)));
  if (!success) throw HostError(kUploadFailed, LogPointer(log, failure), procedure);
  return true;
}

// --- ncftpput ---------------------------------------------------------------------------------

namespace {

bool IsStopSignal(const ProcessResult& r) {
  return r.outcome == ProcessOutcome::kSignalled &&
         (r.signal == SIGTERM || r.signal == SIGINT || r.signal == SIGHUP);
}

// The text of a file from `offset` on ("" when it can't be read).
std::string ReadFrom(const fs::path& file, uintmax_t offset) {
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ncftpput keeps no log of ours.
struct NoLog {
  void Line(const std::string&) {}
};

// How far ncftpput's log of this run got with one file: its last STOR, and whether the server's
// 226 (or 250) followed before the next command.
enum class NcFtpStore { kNone, kBegun, kFinished };

NcFtpStore StoreIn(const std::string& toolLog, const std::string& name) {
  const std::string command = "Cmd: STOR " + name + "\n";
  const size_t at = toolLog.rfind(command);
  if (at == std::string::npos) return NcFtpStore::kNone;
  const size_t from = at + command.size();
  const size_t next = toolLog.find("Cmd: ", from);
  const std::string answers = toolLog.substr(from, next == std::string::npos ? next : next - from);
  return answers.find("  226:") != std::string::npos || answers.find("  250:") != std::string::npos
             ? NcFtpStore::kFinished
             : NcFtpStore::kBegun;
}

}  // namespace

std::string UploadRoutes::CheckNcFtpFiles(const UploadTarget& target,
                                          const std::vector<fs::path>& files,
                                          const std::string& toolLog, bool stopped) const {
  std::vector<std::pair<fs::path, NcFtpStore>> begun;
  for (const fs::path& file : files) {
    const NcFtpStore store = StoreIn(toolLog, file.filename().string());
    if (store != NcFtpStore::kNone || !stopped) begun.emplace_back(file, store);
  }
  if (begun.empty()) return {};
  CurlSession cs;
  cs.SetSecret(target.password);
  const Deadline deadline = RemovalDeadline();
  cs.limits = stopped ? deadline.Fit(s_.limits) : s_.limits;
  const CurlSession::StopFn stop = stopped ? deadline.Stop() : [] { return EscPressed(); };
  const Credentials login{target.user, target.password};
  const std::string base = FtpEndpointOf(HostPort(target)).base;
  NoLog log;
  std::string firstCut;
  const auto taken = [&](const std::string& remote) {
    Work(T("Datei %1 wurde vom Server übernommen, bevor sie geprüft werden konnte", remote));
  };
  for (const auto& [file, store] : begun) {
    const std::string name = file.filename().string();
    const std::string url = RemoteUrl(base, false, target.folder, name);
    const std::string remote = FolderPart(target.folder) + "/" + name;
    const CurlSession::RemoteSize held = cs.SizeOf(url, login, PeerPolicy{}, stop);
    if (!stopped && EscPressed()) break;  // the stop's own clean-up is not this check's
    std::error_code ec;
    const auto local = static_cast<int64_t>(fs::file_size(file, ec));
    if (held.missing) {
      taken(remote);
      continue;
    }
    const bool cut = held.size >= 0 && !ec && held.size != local;
    // A size the server does not tell: what ncftpput finished stays, as on the other roads;
    // what it began and did not finish is cut under its final name.
    if (!cut && (held.size >= 0 || store != NcFtpStore::kBegun)) continue;
    if (cut && firstCut.empty())
      firstCut = "The server holds " + std::to_string(held.size) + " of the " +
                 std::to_string(local) + " bytes sent of '" + name + "'";
    const TransferResult removal = RemovePartial(cs, url, login, PeerPolicy{});
    if (!removal.ok() && FtpSaysMissing(cs.AnswerTo("DELE")))
      taken(remote);
    else
      ReportPartial(log, remote, removal);
  }
  return firstCut;
}

bool UploadRoutes::NcFtpPut(const UploadTarget& target, const std::string& localFolder,
                            const std::string& extension) {
  const std::string program = FindProgram(s_.ncftpput);
  if (program.empty())
    throw HostError(err::kFileNotFound, T("%1 nicht gefunden.", s_.ncftpput), kNcFtpSource);
  const std::string logHost = JoinHost(JoinHost(s_.hostFolder, "Dat"), "ftp_ncftpput.log");
  const fs::path logPath = Real(logHost);

  std::string host = HostPort(target);
  std::string port;
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && colon + 1 < host.size() &&
      host.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    port = host.substr(colon + 1);
    host.erase(colon);
  }
  // The login goes through a file only we can read, never through the process list.
  PrivateFile login("host " + host + "\nuser " + target.user + "\npass " + target.password + "\n",
                    kNcFtpSource);
  std::vector<std::string> argv = {program, "-f", login.path(), "-F", "-d", logPath.string()};
  if (s_.ncftpRedials >= 0) {
    argv.push_back("-r");
    argv.push_back(std::to_string(s_.ncftpRedials));
  }
  if (!port.empty()) {
    argv.push_back("-P");
    argv.push_back(port);
  }
  const std::string remote = FolderPart(target.folder);
  argv.push_back(remote.empty() ? "/" : remote);
  const std::vector<fs::path> files = FilesToSend(localFolder, extension.empty() ? "*" : extension);
  for (const fs::path& f : files) argv.push_back(f.string());

  int code = 3;  // nothing to send is a failed transfer
  if (!files.empty()) {
    ProcessOptions po;
    po.timeout = s_.toolTimeout;
    po.captureStdout = po.captureStderr = true;
    std::error_code ec;
    const uintmax_t logStart = fs::exists(logPath, ec) ? fs::file_size(logPath, ec) : 0;
    Wait(true);
    const ProcessResult r = RunProcess(argv, po);
    Wait(false);
    // A stop may reach the tool before us (systemd signals every process of the job, one after
    // another): its end is then the stop's doing, once the stop reached us too; a tool killed by
    // someone else is a failure after this short wait.
    if (!r.Succeeded() && IsStopSignal(r)) SleepUnlessStopped(1000);
    if (EscPressed() && !r.Succeeded()) {
      CheckNcFtpFiles(target, files, ReadFrom(logPath, logStart), true);
      ReportStop(events_, language_);
      return false;
    }
    if (r.Succeeded()) {
      // ncftpput trusts the server's 226; a file the server keeps in part fails and goes, as on
      // the other roads, so that the next attempt sends it whole.
      const std::string cut = CheckNcFtpFiles(target, files, ReadFrom(logPath, logStart), false);
      if (EscPressed()) {
        ReportStop(events_, language_);
        return false;
      }
      if (!cut.empty())
        throw HostError(3, T("Übertragung fehlgeschlagen.") + " " + cut + " Log-File: " + logHost,
                        kNcFtpSource);
    }
    switch (r.outcome) {
      case ProcessOutcome::kExited:
        code = r.exitCode;
        break;
      case ProcessOutcome::kTimedOut:
        code = 4;
        break;
      case ProcessOutcome::kStartFailed:
        throw HostError(err::kFileNotFound, T("%1 nicht gefunden.", program), kNcFtpSource);
      default:
        code = 8;
        break;
    }
  }
  if (code == 0) return true;
  std::string text;
  switch (code) {
    case 1:
      text = T("Konnte keine Verbindung zum Server aufbauen.");
      break;
    case 2:
      text = T("Konnte keine Verbindung zum Server aufbauen.") + " Timed Out.";
      break;
    case 3:
      text = T("Übertragung fehlgeschlagen.");
      break;
    case 4:
      text = T("Übertragung fehlgeschlagen.") + " Timed Out.";
      break;
    case 5:
      text = T("Ordner wechseln fehlgeschlagen.");
      break;
    case 6:
      text = T("Ordner wechseln fehlgeschlagen.") + " Timed Out.";
      break;
    case 7:
      text = T("Fehlerhafte URL.");
      break;
    case 8:
      text = T("Anwendungsfehler.");
      break;
    case 9:
      text = T("Fehler in der Login-Konfiguration-Datei.");
      break;
    case 10:
      text = T("Bibliothek-Initialisierungsfehler.");
      break;
    case 11:
      text = T("Initialisierungsfehler der Sitzung.");
      break;
    default:
      break;
  }
  throw HostError(code, text + " Log-File: " + logHost, kNcFtpSource);
}

}  // namespace fern::services
