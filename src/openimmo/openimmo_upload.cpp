#include "openimmo/openimmo_upload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "host/LanguagePack.h"
#include "platform/base64.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/ini_file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/vb.h"
#include "platform/waits.h"

namespace fern::openimmo {

namespace fs = std::filesystem;
using hostkey::FingerprintOfKey;
using hostkey::HostKeyFingerprint;
using hostkey::ParseFingerprint;
using hostkey::Sha256;

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

// "server[:port][/]" without the slash and blanks.
std::string HostPort(const std::string& server) {
  std::string s(text::TrimBlanks(server));
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
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
  if (!folder.empty()) url += services::EscapeUrlPath(folder) + "/";
  return url + services::EscapeUrlPath(name);
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};

// Sends one file on the session's prepared handle; `configure` adds the road's options.
CURLcode PutFile(services::CurlSession& cs, const std::string& url, const fs::path& file,
                 const std::string& user, const std::string& password,
                 const std::function<void(CURL*)>& configure) {
  std::unique_ptr<FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
  if (!in) return CURLE_READ_ERROR;
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  CURL* h = cs.Prepare();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
  curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_READDATA, in.get());
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(ec ? 0 : size));
  curl_easy_setopt(h, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
  configure(h);
  return cs.Run([] { return EscPressed(); });
}

// What the host-key callback compares against and what it saw.
struct HostKeyCheck {
  bool learnOnly = false;
  HostKeyFingerprint expected;
  std::string seen;  // the server's key blob
};

int OnHostKey(void* clientp, int /*keytype*/, const char* key, size_t keylen) {
  auto* check = static_cast<HostKeyCheck*>(clientp);
  check->seen.assign(key, keylen);
  if (check->learnOnly) return CURLKHMATCH_MISMATCH;  // learn the key, send nothing
  if (check->expected.kind == HostKeyFingerprint::kSha256)
    return Base64Encode(Sha256(check->seen), false) == check->expected.value ? CURLKHMATCH_OK
                                                                             : CURLKHMATCH_MISMATCH;
  return CURLKHMATCH_OK;  // MD5 is checked by libcurl before this is called
}

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

std::string CurlText(CURLcode code, const services::CurlSession& cs) {
  const std::string text = cs.ErrorText();
  return text.empty() ? curl_easy_strerror(code) : text;
}

// The program as a path: argv[0] with a "/" as it stands, else the first match in PATH.
std::string FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return access(program.c_str(), X_OK) == 0 ? program : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t colon = dirs.find(':', start);
    std::string dir =
        dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string::npos) return "";
    start = colon + 1;
  }
}

// A file readable only by us, removed when the object goes.
class PrivateFile {
 public:
  explicit PrivateFile(const std::string& content) {
    std::string pattern = (fs::temp_directory_path() / "fern-login-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw HostError(err::kPathFileAccess, "mkstemp failed", kNcFtpSource);
    fchmod(fd, S_IRUSR | S_IWUSR);
    path_ = pattern;
    size_t done = 0;
    while (done < content.size()) {
      const ssize_t n = write(fd, content.data() + done, content.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    if (done != content.size()) {
      std::error_code ec;
      fs::remove(path_, ec);
      throw HostError(err::kPathFileAccess, "login file could not be written", kNcFtpSource);
    }
  }
  ~PrivateFile() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

void ReadUploadSwitches(UploadSettings& s) {
  const fs::path ini = Real(JoinHost(s.hostFolder, "kavantor.ini"));
  s.useNcFtp = IniGet("XML", "UseNcFTP", "0", ini) == "1";
}

OpenImmoUpload::OpenImmoUpload(UploadSettings settings, const LanguagePack* language,
                               const StateEvents& events, FtpSendFolderFn ftpSendFolder)
    : s_(std::move(settings)),
      language_(language),
      events_(events),
      ftpSendFolder_(std::move(ftpSendFolder)) {}

std::string OpenImmoUpload::T(const std::string& german, const std::string& p1) const {
  return Translate(language_, german, {p1});
}

std::string OpenImmoUpload::SftpIniPath() const {
  const fs::path first = Real(JoinHost(s_.hostFolder, "sftp.ini"));
  if (NonEmptyFile(first)) return first.string();
  return Real(JoinHost(JoinHost(s_.hostFolder, "system"), "sftp.ini")).string();
}

bool OpenImmoUpload::DoUpload(const std::string& protocol, const std::string& server,
                              const std::string& user, const std::string& password,
                              const std::string& localFolder, const std::string& remoteFolder,
                              const std::string& extension, const std::string& options) {
  bool ok = false;
  const int32_t attempts = std::max<int32_t>(1, s_.transferCount);
  for (int32_t i = 1; i < attempts && !ok; ++i) {
    try {
      ok = Attempt(protocol, server, user, password, localFolder, remoteFolder, extension, options,
                   false);
    } catch (const HostError& e) {
      ok = false;
      Work(state::kPerListing, T("Übertragung") + ": " + e.description());
    } catch (const std::exception& e) {
      ok = false;
      Work(state::kPerListing, T("Übertragung") + ": " + e.what());
    }
    if (!ok) {
      if (s_.transferDelay > 10) Sleep(s_.transferDelay);
      Work(state::kPerListing, T("FTP-Übertragung (%1) weiterer Versuch...", server));
    }
  }
  if (!ok)
    ok = Attempt(protocol, server, user, password, localFolder, remoteFolder, extension, options,
                 true);
  return ok;
}

bool OpenImmoUpload::Attempt(const std::string& protocol, const std::string& server,
                             const std::string& user, const std::string& password,
                             const std::string& localFolder, const std::string& remoteFolder,
                             const std::string& extension, const std::string& options,
                             bool strict) {
  const std::string p = text::LowerAscii(protocol);
  if (p == "sftp")
    return DoUploadSFtp(protocol, server, user, password, localFolder, remoteFolder, extension,
                        options);
  if (p == "ftps")
    return DoUploadFtpS(protocol, server, user, password, localFolder, remoteFolder, extension,
                        options);
  if (s_.useNcFtp)
    return DoUploadToFtpByNcFtpPut(server, user, password, localFolder, remoteFolder, extension);
  if (!ftpSendFolder_) throw HostError(kUploadFailed, "FtpSendFolder is not connected", "DoUpload");
  return ftpSendFolder_(server, user, password, localFolder, remoteFolder, extension, s_.ftpProxy,
                        strict);
}

// --- SFTP -------------------------------------------------------------------------------------

bool OpenImmoUpload::DoUploadSFtp(const std::string& /*protocol*/, const std::string& server,
                                  const std::string& user, const std::string& password,
                                  const std::string& localFolder, const std::string& remoteFolder,
                                  const std::string& extension, const std::string& options) {
  try {
    const std::string section = server;
    const std::string ini = SftpIniPath();
    Work(state::kPerListing, "Nutze folgende sftp.ini: " + ini + " in DoUploadToSFtpByWinScp");
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
      return FtpsUpload("DoUploadToSFtpByWinScp", server, user, password, localFolder, remoteFolder,
                        extension, options);

    Work(state::kPerListing, "suche Rawsettings: " + section + " - " + ini);
    const std::string raw = IniGet(section, "rawsettings", "", ini);
    if (!raw.empty()) Work(state::kPerListing, "Rawsettings gefunden: " + (" " + raw));

    UploadLog log(localFolder, password);
    const std::string base = "sftp://" + HostPort(server);
    if (!raw.empty()) log.Line("Raw settings are not applied here: " + raw);
    Work(state::kPerListing, "DoUploadToSFtpByWinScp: WinSCP starten");

    services::CurlSession cs;
    cs.limits = s_.limits;
    cs.SetSecret(password);
    HostKeyCheck check;
    const HostKeyFingerprint expected = ParseFingerprint(stored);
    const bool learn = stored.empty();
    bool success = false;
    bool loginDenied = false;
    bool keyRefused = false;
    std::string failure;

    if (learn) {
      // Only the handshake: the key is learned, and the login never goes to an unknown host.
      log.Line("Looking up host \"" + HostPort(server) + "\" for SFTP");
      check.learnOnly = true;
      CURL* h = cs.Prepare();
      curl_easy_setopt(h, CURLOPT_URL, (base + "/").c_str());
      curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
      curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, &OnHostKey);
      curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &check);
      const CURLcode rc = cs.Run([] { return EscPressed(); });
      if (check.seen.empty()) failure = CurlText(rc, cs);
    } else if (expected.kind == HostKeyFingerprint::kNone) {
      failure = "The stored fingerprint '" + stored + "' has no form that can be checked";
      keyRefused = true;
    } else {
      check.expected = expected;
      const std::vector<fs::path> files = FilesToSend(localFolder, extension);
      if (files.empty())
        failure = "No file matching '*." + (extension.empty() ? std::string("*") : extension) +
                  "' in '" + localFolder + "'";
      success = !files.empty();
      for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        log.Line("Uploading \"" + file.string() + "\"");
        const CURLcode rc = PutFile(
            cs, RemoteUrl(base, true, remoteFolder, name), file, user, password, [&](CURL* h) {
              long auth = CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
              if (!keyPath.empty()) {
                auth |= CURLSSH_AUTH_PUBLICKEY;
                curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, keyPath.c_str());
                curl_easy_setopt(h, CURLOPT_SSH_PUBLIC_KEYFILE, "");
              }
              curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, auth);
              if (expected.kind == HostKeyFingerprint::kMd5)
                curl_easy_setopt(h, CURLOPT_SSH_HOST_PUBLIC_KEY_MD5, expected.value.c_str());
              curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, &OnHostKey);
              curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &check);
            });
        if (rc != CURLE_OK) {
          success = false;
          loginDenied = rc == CURLE_LOGIN_DENIED;
          keyRefused = rc == CURLE_PEER_FAILED_VERIFICATION;
          failure = CurlText(rc, cs);
          break;
        }
        log.Line(" Transfer done: '" + name + "' => '" + FolderPart(remoteFolder) + "/" + name +
                 "'");
      }
    }
    cs.Close();
    Work(state::kPerListing, "DoUploadToSFtpByWinScp: WinSCP fertig");

    if (keyRefused) {
      const std::string seen =
          check.seen.empty() ? std::string() : "; the server has " + FingerprintOfKey(check.seen);
      log.Line("Host key does not match the stored fingerprint '" + stored + "'" + seen);
    }
    if (!failure.empty()) log.Line("Error: " + failure);
    if (loginDenied) {
      log.Line("Password authentication failed");
      throw HostError(kUploadFailed, T("Benutzername oder Kennwort ist falsch."), kSftpSource);
    }
    Work(state::kPerListing, "DoUploadToSFtpByWinScp: WinSCP Status " + vb::CStr(Variant(success)));
    if (learn) {
      if (check.seen.empty())
        throw HostError(kUploadFailed, T("Es konnte kein Fingerprint ermittelt werden"),
                        kSftpSource);
      const std::string fp = FingerprintOfKey(check.seen);
      log.Line("Host key fingerprint is:");
      log.Line(fp);
      IniWrite(section, "fingerprint", fp, ini);
      throw HostError(kUploadFailed,
                      T("Neuer Fingerprint '%1' für diesen Host in sftp.ini eingetragen.", fp),
                      kSftpSource);
    }
    if (!success)
      throw HostError(kUploadFailed,
                      T("Fehlerbeschreibung siehe LOG-Datei '%1'", log.path().string()),
                      kSftpSource);
    return true;
  } catch (const HostError& e) {
    throw HostError(e.number(),
                    T("SFTP Übertragung.") + " " + T("Hinweis") + ": " + e.description(),
                    kSftpSource);
  }
}

// --- FTPS -------------------------------------------------------------------------------------

bool OpenImmoUpload::DoUploadFtpS(const std::string& /*protocol*/, const std::string& server,
                                  const std::string& user, const std::string& password,
                                  const std::string& localFolder, const std::string& remoteFolder,
                                  const std::string& extension, const std::string& options) {
  try {
    Work(state::kPerListing,
         "Nutze folgende sftp.ini: " + SftpIniPath() + " in DoUploadToFtpSByWinScp");
    return FtpsUpload("DoUploadToFtpSByWinScp", server, user, password, localFolder, remoteFolder,
                      extension, options);
  } catch (const HostError& e) {
    throw HostError(e.number(),
                    T("SFTP Übertragung.") + " " + T("Hinweis") + ": " + e.description(),
                    kFtpsSource);
  }
}

bool OpenImmoUpload::FtpsUpload(const std::string& name, const std::string& server,
                                const std::string& user, const std::string& password,
                                const std::string& localFolder, const std::string& remoteFolder,
                                const std::string& extension, const std::string& options) {
  {
    const std::string section = server;
    const std::string ini = SftpIniPath();
    Work(state::kPerListing, "suche Rawsettings: " + section + " - " + ini);
    const std::string raw = IniGet(section, "rawsettings", "", ini);
    if (!raw.empty()) Work(state::kPerListing, "Rawsettings gefunden: " + (" " + raw));

    UploadLog log(localFolder, password);
    if (!raw.empty()) log.Line("Raw settings are not applied here: " + raw);
    const FtpsOptions opt = ParseFtpsOptions(options);
    for (const std::string& w : opt.ignored) log.Line("Option not applied here: " + w);
    const services::FtpEndpoint ep =
        services::FtpEndpointOf((opt.implicitTls ? "ftps://" : "ftpes://") + HostPort(server));
    Work(state::kPerListing, name + ": WinSCP starten");

    services::CurlSession cs;
    cs.limits = s_.limits;
    if (opt.timeoutSeconds > 0) {
      cs.limits.connectTimeoutMs = opt.timeoutSeconds * 1000;
      cs.limits.responseSeconds = opt.timeoutSeconds;
    }
    cs.SetSecret(password);
    // Active mode would send the file unprotected with an older libcurl: stay passive then.
    const bool active = opt.active && services::ActiveFtpKeepsTls();
    if (opt.active && !active)
      log.Line("Active mode is not safe with this libcurl over TLS; passive mode is used");
    const std::vector<fs::path> files = FilesToSend(localFolder, extension);
    bool success = !files.empty();
    bool loginDenied = false;
    std::string failure;
    if (files.empty())
      failure = "No file matching '*." + (extension.empty() ? std::string("*") : extension) +
                "' in '" + localFolder + "'";
    for (const fs::path& file : files) {
      const std::string name = file.filename().string();
      log.Line("Uploading \"" + file.string() + "\"");
      const CURLcode rc = PutFile(
          cs, RemoteUrl(ep.base, false, remoteFolder, name), file, user, password, [&](CURL* h) {
            curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
            // Any server certificate is accepted, as the portals' servers expect.
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
            if (active) curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
          });
      if (rc != CURLE_OK) {
        success = false;
        loginDenied = rc == CURLE_LOGIN_DENIED;
        failure = CurlText(rc, cs);
        for (const auto& x : cs.Dialogue()) log.Line(x.command + " -> " + x.answer);
        break;
      }
      log.Line(" Transfer done: '" + name + "' => '" + FolderPart(remoteFolder) + "/" + name + "'");
    }
    cs.Close();
    Work(state::kPerListing, name + ": WinSCP fertig");
    if (!failure.empty()) log.Line("Error: " + failure);
    if (loginDenied) {
      log.Line("Password authentication failed");
      throw HostError(kUploadFailed, T("Benutzername oder Kennwort ist falsch."), name);
    }
    Work(state::kPerListing, name + ": WinSCP Status " + vb::CStr(Variant(success)));
    if (!success)
      throw HostError(kUploadFailed,
                      T("Fehlerbeschreibung siehe LOG-Datei '%1'", log.path().string()), name);
    return true;
  }
}

// --- ncftpput ---------------------------------------------------------------------------------

bool OpenImmoUpload::DoUploadToFtpByNcFtpPut(const std::string& server, const std::string& user,
                                             const std::string& password,
                                             const std::string& localFolder,
                                             const std::string& remoteFolder,
                                             const std::string& extension) {
  const std::string program = FindProgram(s_.ncftpput);
  if (program.empty())
    throw HostError(err::kFileNotFound, T("%1 nicht gefunden.", s_.ncftpput), kNcFtpSource);
  const std::string logHost = JoinHost(JoinHost(s_.hostFolder, "Dat"), "ftp_ncftpput.log");
  const fs::path logPath = Real(logHost);

  std::string host = HostPort(server);
  std::string port;
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && colon + 1 < host.size() &&
      host.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    port = host.substr(colon + 1);
    host.erase(colon);
  }
  // The login goes through a file only we can read, never through the process list.
  PrivateFile login("host " + host + "\nuser " + user + "\npass " + password + "\n");
  std::vector<std::string> argv = {program, "-f", login.path(), "-F", "-d", logPath.string()};
  if (s_.ncftpRedials >= 0) {
    argv.push_back("-r");
    argv.push_back(std::to_string(s_.ncftpRedials));
  }
  if (!port.empty()) {
    argv.push_back("-P");
    argv.push_back(port);
  }
  const std::string remote = FolderPart(remoteFolder);
  argv.push_back(remote.empty() ? "/" : remote);
  const std::vector<fs::path> files = FilesToSend(localFolder, extension.empty() ? "*" : extension);
  for (const fs::path& f : files) argv.push_back(f.string());

  int code = 3;  // nothing to send is a failed transfer
  if (!files.empty()) {
    ProcessOptions po;
    po.timeout = s_.toolTimeout;
    po.captureStdout = po.captureStderr = true;
    Wait(true);
    const ProcessResult r = RunProcess(argv, po);
    Wait(false);
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

// --- fingerprints -----------------------------------------------------------------------------

namespace hostkey {
namespace {

uint32_t ReadU32(const std::string& s, size_t at) {
  if (at + 4 > s.size()) return 0;
  return (static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

// The SSH wire string at `at`; `at` moves past it. Empty when the blob ends.
std::string ReadSshString(const std::string& blob, size_t& at) {
  const uint32_t n = ReadU32(blob, at);
  if (at + 4 + n > blob.size()) {
    at = blob.size();
    return {};
  }
  std::string s = blob.substr(at + 4, n);
  at += 4 + n;
  return s;
}

// The key size as ssh-keygen shows it.
int KeyBits(const std::string& type, const std::string& blob) {
  if (type == "ssh-ed25519") return 255;
  if (type == "ssh-ed448") return 448;
  if (type.rfind("ecdsa-sha2-nistp", 0) == 0) return std::atoi(type.c_str() + 16);
  if (type == "ssh-rsa" || type == "ssh-dss") {
    size_t at = 0;
    ReadSshString(blob, at);                      // the type
    std::string first = ReadSshString(blob, at);  // rsa: e; dss: p
    std::string modulus = type == "ssh-rsa" ? ReadSshString(blob, at) : first;
    size_t i = 0;
    while (i < modulus.size() && modulus[i] == 0) ++i;
    if (i == modulus.size()) return 0;
    int bits = static_cast<int>((modulus.size() - i - 1) * 8);
    for (auto c = static_cast<unsigned char>(modulus[i]); c; c >>= 1) ++bits;
    return bits;
  }
  return 0;
}

}  // namespace

HostKeyFingerprint ParseFingerprint(const std::string& text) {
  HostKeyFingerprint fp;
  std::string last(text::TrimBlanks(text));
  const size_t blank = last.find_last_of(" \t");
  if (blank != std::string::npos) last = last.substr(blank + 1);
  std::string body = last;
  const std::string lower = text::LowerAscii(last);
  if (lower.rfind("md5:", 0) == 0) body = last.substr(4);
  if (lower.rfind("sha256:", 0) == 0) body = last.substr(7);
  // MD5: 16 hex pairs joined by ":".
  if (body.size() == 47) {
    std::string hex;
    bool ok = true;
    for (size_t i = 0; i < body.size() && ok; ++i) {
      if (i % 3 == 2) {
        ok = body[i] == ':';
      } else {
        ok = std::isxdigit(static_cast<unsigned char>(body[i])) != 0;
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(body[i])));
      }
    }
    if (ok) {
      fp.kind = HostKeyFingerprint::kMd5;
      fp.value = hex;
      return fp;
    }
  }
  std::string raw;
  if (Base64Decode(body, raw) && raw.size() == 32) {
    fp.kind = HostKeyFingerprint::kSha256;
    fp.value = Base64Encode(raw, false);
  }
  return fp;
}

std::string FingerprintOfKey(const std::string& blob) {
  size_t at = 0;
  const std::string type = ReadSshString(blob, at);
  return (type.empty() ? std::string("ssh") : type) + " " + std::to_string(KeyBits(type, blob)) +
         " " + Base64Encode(Sha256(blob), false);
}

std::string Sha256(const std::string& bytes) {
  static constexpr std::array<uint32_t, 64> k = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string msg = bytes;
  const uint64_t bitLength = static_cast<uint64_t>(bytes.size()) * 8;
  msg += static_cast<char>(0x80);
  while (msg.size() % 64 != 56) msg += '\0';
  for (int i = 7; i >= 0; --i) msg += static_cast<char>((bitLength >> (i * 8)) & 0xFF);
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (size_t block = 0; block < msg.size(); block += 64) {
    std::array<uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i) w[i] = ReadU32(msg, block + 4 * i);
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<uint32_t, 8> v = h;
    for (int i = 0; i < 64; ++i) {
      const uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
      const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const uint32_t t1 = v[7] + s1 + ch + k[i] + w[i];
      const uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
      const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      const uint32_t t2 = s0 + maj;
      v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (int i = 0; i < 8; ++i) h[i] += v[i];
  }
  std::string out;
  for (uint32_t x : h)
    for (int i = 3; i >= 0; --i) out += static_cast<char>((x >> (i * 8)) & 0xFF);
  return out;
}

}  // namespace hostkey
}  // namespace fern::openimmo
