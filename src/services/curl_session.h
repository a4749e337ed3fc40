// The one door to the network: a libcurl transfer channel for every service that moves files or
// talks HTTP. The handle stays inside (src/services only); callers get typed calls and result
// values with a readable message.
//
// A session keeps its connection from one transfer to the next until Close. A transfer runs in
// short polling steps while window events are pumped; a stop function asked between the steps
// aborts it. Credentials go to libcurl as options, never inside a URL, and the secret is masked
// wherever a text leaves this class (messages, the server dialogue).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/host_key.h"

namespace fern::services {

// Limits every connection gets, so a dead or stalled server ends in an error, never a hang.
struct TransferLimits {
  long connectTimeoutMs = 30000;  // TCP connect plus greeting and login
  long responseSeconds = 60;      // one FTP answer
  long lowSpeedBytes = 1;         // below this many bytes per second ...
  long lowSpeedSeconds = 60;      // ... for this long, the transfer ends
  std::string caFile;             // extra trusted certificate (PEM); empty: the system's
};

// How a transfer ended.
struct TransferResult {
  enum class Kind {
    kOk,
    kCancelled,    // the stop function (or Cancel) ended it
    kLoginDenied,  // the server refused user name or password
    kPeerRefused,  // the server's host key or certificate was not accepted
    kLocalFile,    // the local file could not be read
    kFailed,       // anything else; `message` says what
  };
  Kind kind = Kind::kOk;
  int32_t wininetError = 0;  // the WinINet number the services report; 0 for success
  std::string message;       // libcurl's explanation, secret masked; "" for success
  std::string peerKey;       // SFTP: the host-key blob the server showed, when it showed one
  int64_t uploaded = 0;      // bytes of an upload that went out before the end
  bool notWhole = false;     // FTP: the server's SIZE shows the file cut, or over TLS 1.3 does
                             // not confirm it (kFailed; `message` names the figures)

  bool ok() const { return kind == Kind::kOk; }
};

struct Credentials {
  std::string user;
  std::string password;  // masked in every text of the session
};

// What an upload asks of the connection. FTP: `tls` sends every command and file under TLS
// (explicit, or implicit for "ftps://") and accepts any certificate, as the portals' servers
// expect. SFTP: the server's key must match `hostKey`, and `privateKeyFile` adds a key login.
struct PeerPolicy {
  bool tls = false;
  bool activeFtp = false;  // the server connects back for the data; kept passive under TLS
                           // where this libcurl would send the data unprotected
  HostKeyFingerprint hostKey;
  std::filesystem::path privateKeyFile;
};

// An upload that also carries the local file's modification time over to the server.
struct TimedPut {
  TransferResult result;  // the upload's own outcome
  bool timeKept = false;  // the server took the time
  std::string timeNote;   // why it did not, when the upload itself went through
};

struct HttpReply {
  TransferResult result;
  long status = 0;  // the HTTP status, when the server answered
  std::string body;
};

// Whether this libcurl protects an active-mode FTP data connection with TLS. Before 8.0 it
// skipped the handshake there and sent the file in clear text.
bool ActiveFtpKeepsTls();

class CurlSession {
 public:
  struct Impl;  // the implementation's; named here for its libcurl callbacks
  using StopFn = std::function<bool()>;
  struct Exchange {
    std::string command;  // what we sent ("PASS ****" masked); empty for the greeting
    std::string answer;   // the server's lines, CR LF removed, joined by "\n"
  };

  CurlSession();
  ~CurlSession();
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  TransferLimits limits;

  // The text masked in everything this class hands out (the password).
  void SetSecret(std::string secret);
  std::string Mask(std::string text) const;

  // --- typed calls ---------------------------------------------------------------------------
  // Sends one file to "ftp://", "ftps://" or "sftp://" URL (escaped), making missing folders.
  // FTP: where the server answers SIZE after the upload, a size other than the local file's
  // fails the upload (kFailed, "The server holds ..."); a refused SIZE leaves it done, except
  // over TLS 1.3 ("not known to be whole"). A server that refuses TLS 1.2 is asked again with
  // TLS 1.3 allowed, for the rest of the session.
  TransferResult PutFile(const std::string& url, const std::filesystem::path& file,
                         const Credentials& login, const PeerPolicy& policy,
                         const StopFn& stop = {});
  // PutFile, then the remote file's modification time set to the local file's, to the second:
  // SFTP with the set-attributes request after the upload, FTP with MFMT (UTC) only where the
  // server lists it in FEAT, asked once per connection before its first upload. A refused or
  // missing time leaves the upload done.
  TimedPut PutFileKeepingTime(const std::string& url, const std::filesystem::path& file,
                              const Credentials& login, const PeerPolicy& policy,
                              const StopFn& stop = {});
  // Deletes the file at an "ftp://", "ftps://" or "sftp://" URL (escaped, as PutFile takes it)
  // under the same login and peer checks.
  TransferResult RemoveFile(const std::string& url, const Credentials& login,
                            const PeerPolicy& policy, const StopFn& stop = {});
  // The size of the file at an "ftp://" or "ftps://" URL as the server's SIZE tells it. A
  // refused SIZE is no failure: the size is then unknown.
  struct RemoteSize {
    TransferResult result;
    bool missing = false;  // the server says the file is not there (the result failed)
    int64_t size = -1;     // -1: the server does not say
  };
  RemoteSize SizeOf(const std::string& url, const Credentials& login, const PeerPolicy& policy,
                    const StopFn& stop = {});
  // Posts the XML text as "text/xml; charset=UTF-8" with `method` ("POST"); a URL without scheme
  // is HTTP. The reply holds the status and the answer whatever the status. `proxyRule` as for
  // Get.
  HttpReply PostXml(const std::string& url, const std::string& xml, const Credentials& login,
                    const std::string& method = "POST", const StopFn& stop = {},
                    const std::string& proxyRule = {});
  // GET with the answer, following redirects; `totalSeconds` above 0 limits the whole request.
  // `proxyRule`: "" goes direct (proxy variables of the environment are not used), "USEDEFAULT"
  // takes the system's proxy (those variables), anything else is the proxy's "host:port".
  HttpReply Get(const std::string& url, long totalSeconds = 0, const StopFn& stop = {},
                const std::string& proxyRule = {});
  // Only the SSH handshake with "sftp://host[:port]": the host key is learned and nothing is
  // sent, not even the login. The key is in `peerKey` ("" when the server showed none).
  TransferResult LearnHostKey(const std::string& url, const StopFn& stop = {});

  // --- the last transfer ---------------------------------------------------------------------
  // Runs the prepared transfer to its end (services' own controls prepare it).
  TransferResult Run(const StopFn& stop = {});
  // Starts the prepared transfer; Poll drives it for at most waitMs and tells whether it ended.
  // The stop function is asked also while libcurl waits inside a step (at least once a second);
  // once it says so, the session's connections are cut and the result becomes kCancelled.
  void Start(const StopFn& stop = {});
  bool Poll(int waitMs);
  bool Running() const;
  // Aborts a running transfer, cutting its connection; its result becomes kCancelled.
  void Cancel();
  TransferResult LastResult() const;

  long ResponseCode() const;
  // libcurl's explanation of the last failure (masked), or its standard text.
  std::string ErrorText() const;
  const std::vector<Exchange>& Dialogue() const;
  // The TLS version of the session's last handshake ("TLS 1.2", "TLS 1.3"); "" before any.
  const std::string& TlsVersion() const;
  // The answer to the last command whose verb is `verb` ("PWD"), or "".
  std::string AnswerTo(const std::string& verb) const;
  // The last answer of the server in this transfer, "" when it said nothing.
  std::string LastAnswer() const;
  // The folder the FTP server put us in at login ("" when unknown).
  std::string FtpEntryPath() const;

  // Closes the connection (FTP says QUIT); the next transfer opens a new one.
  void Close();

 private:
  friend struct CurlAccess;
  // Login and the peer checks of `policy` on the prepared handle, for the URL's scheme.
  void ApplyLogin(const std::string& url, const Credentials& login, const PeerPolicy& policy);
  // PutFile with one command run after the whole file went ("" none).
  TransferResult Put(const std::string& url, const std::filesystem::path& file,
                     const Credentials& login, const PeerPolicy& policy, const StopFn& stop,
                     const std::string& postCommand);
  // Whether the FTP server of `url` lists MFMT in its FEAT answer, asked once per connection. A
  // failure to connect or log in goes to `failed`.
  bool FtpListsMfmt(const std::string& url, const Credentials& login, const PeerPolicy& policy,
                    const StopFn& stop, TransferResult& failed);
  std::unique_ptr<Impl> impl_;
};

// How long the removal of what a dropped or stopped upload left may take in all, whatever the
// server does: a stopped run must still end before a scheduler kills it.
inline constexpr std::chrono::seconds kRemovalBudget{20};

// A transfer that must end by a fixed time (a clean-up after a stop): the limits are cut to
// the time left, and the stop function ends the transfer once it has passed.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds budget)
      : end_(std::chrono::steady_clock::now() + budget) {}
  explicit Deadline(std::chrono::steady_clock::time_point end) : end_(end) {}
  TransferLimits Fit(TransferLimits limits) const;
  CurlSession::StopFn Stop() const {
    return [end = end_] { return std::chrono::steady_clock::now() >= end; };
  }

 private:
  std::chrono::steady_clock::time_point end_;
};

// The deadline of a removal: after a stop, kRemovalBudget counted from the stop, one budget for
// every clean-up of the run (partial files, the site's files); otherwise kRemovalBudget from now.
Deadline RemovalDeadline();

// Where an FTP host text points: "ftp://host:port" (or "ftps://...") and whether AUTH TLS is
// asked. The text may carry a scheme ("ftp://", "ftps://" implicit TLS, "ftpes://" AUTH TLS) and
// a ":port"; `port` above 0 wins over both, else the text's port, else 21 (990 for ftps).
struct FtpEndpoint {
  std::string base;
  bool explicitTls = false;
};
FtpEndpoint FtpEndpointOf(const std::string& host, int port = 0);

// Whether an FTP answer says the file is not there: 550 with a text that says so ("No such
// file", "Could not get file size"); a 550 that refuses the command itself does not.
bool FtpSaysMissing(const std::string& answer);

// "/a b/c" -> "/a%20b/c": every path component escaped, the separators kept.
std::string EscapeUrlPath(const std::string& path);

}  // namespace fern::services
