// Upload of a portal's transfer folder with retries. cImmoXmlV2::DoUpload forwards here:
//   openimmo::OpenImmoUpload(settings, language, events, ftpSendFolder).DoUpload(...)
//
// Four roads, chosen by protocol ("sftp", "ftps", compared in lower case) and the host switch
// [XML] UseNcFTP:
//  - SFTP: in-process over libcurl/libssh2. The server's host key must match the `fingerprint`
//    of the server's section in "sftp.ini"; without one the first contact only learns the key,
//    stores it and fails ("Neuer Fingerprint ..."), so the retry uploads. Nothing is sent to a
//    host whose key is not yet known, not even the login.
//  - FTPS (and SFTP with `useTls` "1"): FTP with explicit TLS over libcurl, any certificate.
//  - ncftpput (Debian's), fed its login through a private login file, never the command line.
//  - otherwise the transfer layer's FtpSendFolder.
// Credentials reach libcurl as options only and never appear in a log line or a state text.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/state_events.h"
#include "services/curl_session.h"

namespace fern {

class LanguagePack;

namespace openimmo {

// Error number of the upload tools' own failures (their source names the tool).
inline constexpr int32_t kUploadFailed = 50016;

struct UploadSettings {
  std::string hostFolder;             // host folder (host path): "sftp.ini", "Dat\ftp_ncftpput.log"
  int32_t transferCount = 3;          // attempts; 1 or less still makes one
  int32_t transferDelay = 500;        // ms after a failed attempt; 10 or less: none
  std::string ftpProxy;               // [OPTIONS] FTP_PROXY, handed to FtpSendFolder
  bool useNcFtp = false;              // [XML] UseNcFTP
  std::string ncftpput = "ncftpput";  // program (looked up in PATH when it holds no "/")
  int ncftpRedials = -1;  // ncftpput's own redials ("-r"); below 0: the program's default
  std::chrono::milliseconds toolTimeout = std::chrono::minutes(30);  // an outside program
  services::TransferLimits limits;                                   // every libcurl connection
};

// [XML] UseNcFTP of the host folder's "kavantor.ini" into `s` (the other fields stay).
void ReadUploadSwitches(UploadSettings& s);

// FtpSendFolder(host, user, password, local, remote, extensions, proxy rule, strict).
using FtpSendFolderFn = std::function<bool(
    const std::string&, const std::string&, const std::string&, const std::string&,
    const std::string&, const std::string&, const std::string&, bool)>;

class OpenImmoUpload {
 public:
  // `language` may be null (texts stay German). `events` receives the WorkState lines.
  OpenImmoUpload(UploadSettings settings, const LanguagePack* language, const StateEvents& events,
                 FtpSendFolderFn ftpSendFolder);

  // Tries up to transferCount times. Failed attempts but the last become WorkState 8 lines
  // ("Übertragung: ..." and "FTP-Übertragung (server) weiterer Versuch..."); the last attempt
  // runs strict and its HostError reaches the caller. True when the last attempt made succeeded.
  bool DoUpload(const std::string& protocol, const std::string& server, const std::string& user,
                const std::string& password, const std::string& localFolder,
                const std::string& remoteFolder, const std::string& extension,
                const std::string& options);

  // One attempt of each road. The SFTP and FTPS roads raise their failures as HostError
  // (source "DoUploadToSFtpByWinScp" / "DoUploadToFtpSByWinScp", description "SFTP Übertragung.
  // Hinweis: <reason>"), and write their log "WinSCP_start.log" beside the local folder.
  // `server` may carry ":port". Files: those directly in the local folder matching "*.<ext>"
  // ("" all), without regard to case; they go to the remote folder (created when missing;
  // relative to the login folder, "/..." from the root).
  bool DoUploadSFtp(const std::string& protocol, const std::string& server, const std::string& user,
                    const std::string& password, const std::string& localFolder,
                    const std::string& remoteFolder, const std::string& extension,
                    const std::string& options);
  // `options`: open switches "-passive=0|1", "-implicit", "-explicit", "-timeout=<s>"; others
  // are ignored with a log line.
  bool DoUploadFtpS(const std::string& protocol, const std::string& server, const std::string& user,
                    const std::string& password, const std::string& localFolder,
                    const std::string& remoteFolder, const std::string& extension,
                    const std::string& options);
  // ncftpput into the remote folder ("/" when empty). A non-zero exit raises HostError with
  // the exit code as number, source "DoUploadToFtpByNcFtpPut" and the code's text plus
  // " Log-File: <host>\Dat\ftp_ncftpput.log". A time-out counts as code 4, Esc as code 8.
  bool DoUploadToFtpByNcFtpPut(const std::string& server, const std::string& user,
                               const std::string& password, const std::string& localFolder,
                               const std::string& remoteFolder, const std::string& extension);

  // The "sftp.ini" used: the host folder's, or "system\sftp.ini" when that is missing or empty
  // (real path).
  std::string SftpIniPath() const;

 private:
  bool Attempt(const std::string& protocol, const std::string& server, const std::string& user,
               const std::string& password, const std::string& localFolder,
               const std::string& remoteFolder, const std::string& extension,
               const std::string& options, bool strict);
  // The FTPS upload without the tool's error wrapping; `name` is the procedure the state
  // lines name.
  bool FtpsUpload(const std::string& name, const std::string& server, const std::string& user,
                  const std::string& password, const std::string& localFolder,
                  const std::string& remoteFolder, const std::string& extension,
                  const std::string& options);
  std::string T(const std::string& german, const std::string& p1 = {}) const;
  void Work(int16_t state, const std::string& text) const { events_.RaiseWorkState(state, text); }

  UploadSettings s_;
  const LanguagePack* language_;
  const StateEvents& events_;
  FtpSendFolderFn ftpSendFolder_;
};

// --- host-key fingerprints ----------------------------------------------------------------
namespace hostkey {

// The SSH fingerprint forms "sftp.ini" may hold: "[type [bits]] <hash>" where the hash is MD5
// as 16 hex pairs with ":" ("MD5:" prefix allowed) or SHA-256 in Base64, padded or not
// ("SHA256:" prefix allowed).
struct HostKeyFingerprint {
  enum Kind { kNone, kMd5, kSha256 } kind = kNone;
  std::string value;  // kMd5: 32 lower-case hex digits; kSha256: Base64 without padding
};
HostKeyFingerprint ParseFingerprint(const std::string& text);

// "<type> <bits> <SHA-256 Base64 without padding>" of a raw SSH public-key blob
// ("ssh-ed25519 255 3Hx..."); the form stored for a newly learned host.
std::string FingerprintOfKey(const std::string& blob);

// SHA-256 of the bytes (32 raw bytes).
std::string Sha256(const std::string& bytes);

}  // namespace hostkey
}  // namespace openimmo
}  // namespace fern
