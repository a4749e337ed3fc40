// The upload routes of a portal's transfer folder besides the transfer layer's own FTP walk:
//  - SFTP, in-process. The server's host key must match the `fingerprint` of the server's
//    section in "sftp.ini"; without one the first contact only learns the key, stores it and
//    fails ("Neuer Fingerprint ..."), so a retry uploads. Nothing is sent to a host whose key is
//    not yet known, not even the login.
//  - FTPS (and SFTP with `useTls` "1"): FTP with explicit TLS, any certificate. A server that
//    takes no AUTH is named as offering no TLS and never gets the login.
//  - ncftpput (Debian's), fed its login through a private login file, never the command line.
// Each route makes one attempt and raises its failure as HostError; retrying is the caller's.
// A stop (Esc, SIGTERM, the window's buttons) ends the attempt at once: it is reported once as
// "Prozess extern beendet" and the route returns False without an error.
// What a failed or stopped SFTP or FTPS attempt, or a stopped ncftpput, left of a file on the
// server is removed (best effort, logged, within RemovalDeadline), so that a portal never
// imports half a file; what a stop leaves there is counted as an error.
// SFTP and FTPS give each file the local file's modification time unless [FTP] NoPreserveTime
// is on; a server that does not take it still counts as uploaded, with a line in the log.
// Credentials never appear in a log line or a state text.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/state_events.h"
#include "services/curl_session.h"

namespace fern {

class LanguagePack;

namespace services {

// Error number of the upload routes' own failures (their source names the route).
inline constexpr int32_t kUploadFailed = 50016;

// Raises the line that tells that a stop ended an upload: WorkState 100, "Prozess extern
// beendet" behind a line break.
void ReportStop(const StateEvents& events, const LanguagePack* language);

// Where one upload goes.
struct UploadTarget {
  std::string server;  // host name, may carry ":port"; also the section name in "sftp.ini"
  int port = 0;        // above 0: wins over a ":port" of `server`
  std::string folder;  // remote folder: relative to the login folder, "/..." from the root
  std::string user;
  std::string password;
  std::string options;  // FTPS switches: "-passive=0|1", "-implicit", "-explicit", "-timeout=<s>"
};

struct UploadRouteSettings {
  std::string hostFolder;             // host folder (host path): "sftp.ini", "Dat\ftp_ncftpput.log"
  std::string ncftpput = "ncftpput";  // program (looked up in PATH when it holds no "/")
  int ncftpRedials = -1;  // ncftpput's own redials ("-r"); below 0: the program's default
  std::chrono::milliseconds toolTimeout = std::chrono::minutes(30);  // an outside program
  TransferLimits limits;                                             // every connection
  bool setBatchPause = false;   // [FTP] SetBatchPause: there is no batch here to pause
  bool noPreserveTime = false;  // [FTP] NoPreserveTime: the server's own time stays on the files
};

class UploadRoutes {
 public:
  // `language` may be null (texts stay German). `events` receives the WorkState lines.
  UploadRoutes(const UploadRouteSettings& settings, const LanguagePack* language,
               const StateEvents& events);

  // The files: those directly in the local folder matching "*.<ext>" ("" all), without regard
  // to case; they go to the target's folder (created when missing). The SFTP and FTPS routes
  // raise HostError with source "DoUploadToSFtpByWinScp" / "DoUploadToFtpSByWinScp" and
  // description "SFTP Übertragung. Hinweis: <reason>", and write their log "WinSCP_start.log"
  // beside the local folder.
  bool Sftp(const UploadTarget& target, const std::string& localFolder,
            const std::string& extension);
  bool Ftps(const UploadTarget& target, const std::string& localFolder,
            const std::string& extension);
  // ncftpput into the target's folder ("/" when empty). A non-zero exit raises HostError with
  // the exit code as number, source "DoUploadToFtpByNcFtpPut" and the code's text plus
  // " Log-File: <host>\Dat\ftp_ncftpput.log". A time-out counts as code 4; a stop ends the
  // program and removes what it left of the file it was sending.
  bool NcFtpPut(const UploadTarget& target, const std::string& localFolder,
                const std::string& extension);

  // The "sftp.ini" used: the host folder's, or "system\sftp.ini" when that is missing or empty
  // (real path).
  std::string SftpIniPath() const;

 private:
  // The FTPS upload without the route's error wrapping; `procedure` is what the state
  // lines name.
  bool FtpsUpload(const std::string& procedure, const UploadTarget& target,
                  const std::string& localFolder, const std::string& extension);
  std::string T(const std::string& german, const std::string& p1 = {}) const;
  // Tells the log and the state lines whether the partial file `remote` could be removed.
  template <typename Log>
  void ReportPartial(Log& log, const std::string& remote, const TransferResult& removal) const;
  // "see the log" with the failure's reason, which the next attempt's log no longer holds.
  template <typename Log>
  std::string LogPointer(const Log& log, const std::string& reason) const;
  // One file of the SFTP or FTPS upload; unless NoPreserveTime is on, the local file's time goes
  // with it, and a time the server did not take is only logged.
  template <typename Log>
  TransferResult PutOne(CurlSession& cs, Log& log, const std::string& url,
                        const std::filesystem::path& file, const Credentials& login,
                        const PeerPolicy& policy, const CurlSession::StopFn& stop) const;
  // What ncftpput stored, compared with the server's SIZE: a file the server holds in part goes.
  // After a stop (`stopped`), each file `toolLog` (its log of this run) shows it began to store
  // and did not finish goes also where the server tells no size. A file the server holds whole
  // stays; one it no longer holds is named as taken. The first cut file's text ("" none).
  std::string CheckNcFtpFiles(const UploadTarget& target,
                              const std::vector<std::filesystem::path>& files,
                              const std::string& toolLog, bool stopped) const;
  // The state line for a SetBatchPause that is on.
  void NoteBatchPause(const std::string& procedure) const;
  void Work(const std::string& text) const { events_.RaiseWorkState(state::kPerListing, text); }

  UploadRouteSettings s_;
  const LanguagePack* language_;
  const StateEvents& events_;
};

}  // namespace services
}  // namespace fern
