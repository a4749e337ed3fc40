#include "services/curl_session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <sstream>

#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/curl_handle.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fern::services {

bool ActiveFtpKeepsTls() { return curl_version_info(CURLVERSION_NOW)->version_num >= 0x080000; }

namespace {

constexpr int32_t kOutOfMemory = 7;  // VB's error: libcurl fails to start only without memory
constexpr int kPollStepMs = 50;

struct GlobalInit {
  GlobalInit() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void InitOnce() { static GlobalInit once; }

std::string Verb(const std::string& command) {
  std::string v = command.substr(0, command.find(' '));
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::toupper(c); });
  return v;
}

size_t AppendTo(char* data, size_t size, size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(data, size * count);
  return size * count;
}

// libcurl's result as the WinINet error number the services report (0 for success; a number
// outside the error table when nothing fits). A refused login is told apart by the command the
// server refused.
int32_t WinInetErrorOf(CURLcode code, const std::vector<CurlSession::Exchange>& dialogue) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return 12006;  // ERROR_INTERNET_UNRECOGNIZED_SCHEME
    case CURLE_URL_MALFORMAT:
      return 12005;  // ERROR_INTERNET_INVALID_URL
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return 12007;  // ERROR_INTERNET_NAME_NOT_RESOLVED
    case CURLE_COULDNT_CONNECT:
      return 12029;  // ERROR_INTERNET_CANNOT_CONNECT
    case CURLE_OPERATION_TIMEDOUT:
      return 12002;  // ERROR_INTERNET_TIMEOUT
    case CURLE_LOGIN_DENIED: {
      // Refused after the user name or after the password?
      for (auto it = dialogue.rbegin(); it != dialogue.rend(); ++it) {
        if (it->command.rfind("USER", 0) == 0) return 12013;
        if (it->command.rfind("PASS", 0) == 0) return 12014;
      }
      return 12015;  // ERROR_INTERNET_LOGIN_FAILURE
    }
    case CURLE_ABORTED_BY_CALLBACK:
      return 12017;  // ERROR_INTERNET_OPERATION_CANCELLED
    case CURLE_OUT_OF_MEMORY:
      return 12001;  // ERROR_INTERNET_OUT_OF_HANDLES
    case CURLE_TOO_MANY_REDIRECTS:
      return 12156;  // ERROR_HTTP_REDIRECT_FAILED
    case CURLE_PEER_FAILED_VERIFICATION:
      return 12038;  // ERROR_INTERNET_SEC_CERT_CN_INVALID
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
      return 12029;
    case CURLE_WEIRD_SERVER_REPLY:
      return 12152;  // ERROR_HTTP_INVALID_SERVER_RESPONSE
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
      return 12111;  // ERROR_FTP_DROPPED
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_COULDNT_SET_TYPE:
      return 12003;  // ERROR_INTERNET_EXTENDED_ERROR: the server's answer says why
    case CURLE_READ_ERROR:
    case CURLE_WRITE_ERROR:
    default:
      return 12004;  // ERROR_INTERNET_INTERNAL_ERROR
  }
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};

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
  return KeyMatches(check->expected, check->seen) ? CURLKHMATCH_OK : CURLKHMATCH_MISMATCH;
}

// Where the path of "scheme://host[:port]/path" starts (npos: it has none).
size_t PathStart(const std::string& url) {
  const size_t hostStart = url.find("://");
  return hostStart == std::string::npos ? std::string::npos : url.find('/', hostStart + 3);
}

// The file of "scheme://host[:port]/path" as a command names it: unescaped, relative to the
// login folder unless absolute. SFTP's "/~/" goes, since a quoted one is taken literally; for
// FTP, "/%2F..." was the absolute path. "" when the URL names no file.
std::string UrlPath(const std::string& url) {
  const size_t pathStart = PathStart(url);
  if (pathStart == std::string::npos || pathStart + 1 >= url.size()) return {};
  int length = 0;
  char* raw = curl_easy_unescape(nullptr, url.c_str() + pathStart, 0, &length);
  if (!raw) return {};
  std::string path(raw, static_cast<size_t>(length));
  curl_free(raw);
  if (url.rfind("sftp://", 0) != 0) return path.substr(1);
  if (path.rfind("/~/", 0) == 0) path.erase(0, 3);
  return path;
}

// A path or date as one argument of an SFTP command: in double quotes, so that blanks survive.
std::string SftpArg(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// `t` in UTC, written by strftime's `format` with its numeric fields only.
std::string UtcText(std::time_t t, const char* format) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  return std::string(buf, std::strftime(buf, sizeof buf, format, &tm));
}

// A URL without scheme is HTTP; blanks around it are dropped.
std::string HttpUrl(const std::string& url) {
  std::string full = vb::Trim(url);
  if (full.find("://") == std::string::npos) full = "http://" + full;
  return full;
}

}  // namespace

struct CurlSession::Impl {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  bool running = false;
  bool attached = false;
  StopFn stop;                         // of the running transfer
  bool stopped = false;                // its stop function said so
  std::vector<curl_socket_t> sockets;  // open, of this session's connections
  std::FILE* upload = nullptr;         // the file a Put reads
  int64_t handed = 0;                  // bytes of it handed to libcurl
  std::chrono::steady_clock::time_point pumped;
  CURLcode result = CURLE_OK;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  std::string secret;
  std::vector<Exchange> dialogue;
  HostKeyCheck hostKey;
  curl_slist* headers = nullptr;
  curl_slist* quote = nullptr;
  curl_slist* postQuote = nullptr;
  int ftpListsMfmt = -1;       // of the open connection: -1 not yet asked
  bool ftpTls = false;         // the prepared transfer is FTP, held at TLS 1.2 unless tls13
  bool tls13 = false;          // the FTP server refused TLS 1.2: 1.3 is allowed from then on
  bool tls13Retried = false;   // the prepared transfer runs again for that
  bool notWhole = false;       // the last upload is not known to be whole on the server
  long closeWaitSeconds = 60;  // how long a connection's in-order end may wait for the server
  std::string tlsVersion;      // of the last TLS handshake ("TLS 1.3"), "" before any

  void FreeLists() {
    curl_slist_free_all(headers);
    curl_slist_free_all(quote);
    curl_slist_free_all(postQuote);
    headers = quote = postQuote = nullptr;
  }
  ~Impl() { FreeLists(); }

  // Whether the running transfer is to end, asked of its stop function until it says so. Then
  // every socket of the session is cut: whatever libcurl still waits for on them (the server's
  // last reply, an SFTP close, a QUIT) ends at once, and the server drops what it has not read
  // yet rather than completing the file after the stop.
  bool StopSeen() {
    if (!stopped && stop && stop()) {
      stopped = true;
      for (const curl_socket_t s : sockets) {
        const linger reset{1, 0};
        ::setsockopt(s, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::shutdown(s, SHUT_RDWR);
      }
    }
    return stopped;
  }
};

CurlSession::CurlSession() : impl_(std::make_unique<Impl>()) { InitOnce(); }

CurlSession::~CurlSession() { Close(); }

void CurlSession::SetSecret(std::string secret) { impl_->secret = std::move(secret); }

std::string CurlSession::Mask(std::string text) const {
  const std::string& secret = impl_->secret;
  if (secret.size() < 3) return text;
  for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4))
    text.replace(at, secret.size(), "****");
  return text;
}

namespace {

// libcurl's report of the dialogue: the command lines we sent and the answers we got.
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  CurlAccess::Record(*static_cast<CurlSession*>(self), type, data, size);
  return 0;
}

// The count of an FTP "213 <count>" answer to SIZE; none for any other answer.
std::optional<long long> SizeIn(const std::string& answer) {
  if (answer.rfind("213 ", 0) != 0) return std::nullopt;
  char* end = nullptr;
  const long long size = std::strtoll(answer.c_str() + 4, &end, 10);
  if (end == answer.c_str() + 4) return std::nullopt;
  return size;
}

// "TLSv1.3" of libcurl's "SSL connection using TLSv1.3 / ..." as "TLS 1.3"; "" for other text.
std::string TlsVersionIn(const std::string& text) {
  const std::string mark = "SSL connection using TLSv";
  const size_t at = text.find(mark);
  if (at == std::string::npos) return {};
  const size_t from = at + mark.size();
  const size_t end = text.find_first_not_of("0123456789.", from);
  const std::string number = text.substr(from, end == std::string::npos ? end : end - from);
  return number.empty() ? std::string() : "TLS " + number;
}

// libcurl calls this at least once a second, also while one call of it waits for the server
// (an FTP server's last reply after the file, an SFTP close): the stop is seen there too, and
// the window goes on painting.
int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& impl = *static_cast<CurlSession::Impl*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (now - impl.pumped >= std::chrono::milliseconds(kPollStepMs)) {
    impl.pumped = now;
    PumpEvents();
  }
  return impl.StopSeen() ? 1 : 0;
}

// Every socket of the session's connections is known, so that a stop can cut them.
curl_socket_t OnOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
  const curl_socket_t s =
      ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (s != CURL_SOCKET_BAD) static_cast<CurlSession::Impl*>(self)->sockets.push_back(s);
  return s;
}

// Over TLS 1.3 the server's session tickets may reach an FTP data connection only after the
// file went out; a close with them unread, or before they came, is a reset, and the server drops
// what it has not read of the file yet. So the connection ends in order: our side shut, and what
// the server still sends read until it closes too (it does once it holds the whole file), within
// the time its answer may take; a stop still cuts it.
void CloseInOrder(CurlSession::Impl& impl, curl_socket_t s) {
  ::shutdown(s, SHUT_WR);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(impl.closeWaitSeconds);
  char unread[16384];
  while (std::chrono::steady_clock::now() < end && !impl.StopSeen()) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, kPollStepMs) < 0 && errno != EINTR) break;
    if (p.revents == 0) continue;
    const ssize_t n = ::recv(s, unread, sizeof unread, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
}

int OnCloseSocket(void* self, curl_socket_t s) {
  auto& impl = *static_cast<CurlSession::Impl*>(self);
  if (impl.tls13 && impl.ftpTls && !impl.stopped) CloseInOrder(impl, s);
  auto& open = impl.sockets;
  open.erase(std::remove(open.begin(), open.end(), s), open.end());
  return ::close(s);
}

size_t ReadUpload(char* data, size_t size, size_t count, void* self) {
  auto& impl = *static_cast<CurlSession::Impl*>(self);
  const size_t got = std::fread(data, 1, size * count, impl.upload);
  if (got == 0 && std::ferror(impl.upload)) return CURL_READFUNC_ABORT;
  impl.handed += static_cast<int64_t>(got);
  return got;
}

}  // namespace

void CurlAccess::EnsureHandles(CurlSession::Impl& impl) {
  if (!impl.multi) impl.multi = curl_multi_init();
  if (!impl.easy) impl.easy = curl_easy_init();
  if (!impl.multi || !impl.easy)
    throw HostError(kOutOfMemory, "libcurl could not be initialised", "CurlSession");
}

CURL* CurlAccess::Prepare(CurlSession& session) {
  CurlSession::Impl& impl = *session.impl_;
  if (impl.running) session.Cancel();
  EnsureHandles(impl);
  CURL* easy = impl.easy;
  curl_easy_reset(easy);
  impl.FreeLists();
  impl.hostKey = {};
  impl.dialogue.clear();
  impl.errorBuffer[0] = '\0';
  impl.result = CURLE_OK;
  impl.stop = nullptr;
  impl.stopped = false;
  impl.upload = nullptr;
  impl.handed = 0;
  impl.ftpTls = false;
  impl.tls13Retried = false;
  impl.notWhole = false;
  const TransferLimits& limits = session.limits;
  impl.closeWaitSeconds = limits.responseSeconds;
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, impl.errorBuffer);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, limits.responseSeconds);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
  // Direct unless the transfer names a proxy from the settings: the proxy variables of the
  // environment differ between the window and a nightly run.
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  if (!limits.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, limits.caFile.c_str());
  curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &OnDebug);
  curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &session);
  curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &impl);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &OnOpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &impl);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &OnCloseSocket);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, &impl);
  return easy;
}

void CurlAccess::ApplyProxyRule(CURL* easy, const std::string& rule) {
  if (rule.empty())
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
  else if (text::UpperAscii(rule) == "USEDEFAULT")
    curl_easy_setopt(easy, CURLOPT_PROXY, static_cast<const char*>(nullptr));
  else
    curl_easy_setopt(easy, CURLOPT_PROXY, rule.c_str());
}

void CurlAccess::LimitFtpTls(CurlSession& session) {
  // libcurl (7.88 at least) ends a TLS 1.3 data connection with a reset while the server's
  // session tickets lie unread in it, and the server may then lose the file's tail or refuse it
  // (426). Under TLS 1.2 the data connection closes in order.
  CurlSession::Impl& impl = *session.impl_;
  impl.ftpTls = true;
  curl_easy_setopt(
      impl.easy, CURLOPT_SSLVERSION,
      long{CURL_SSLVERSION_TLSv1_2} |
          (impl.tls13 ? long{CURL_SSLVERSION_MAX_DEFAULT} : long{CURL_SSLVERSION_MAX_TLSv1_2}));
}

bool CurlAccess::RetryWithTls13(CurlSession& session) {
  CurlSession::Impl& impl = *session.impl_;
  if (!impl.ftpTls || impl.stopped || impl.result != CURLE_SSL_CONNECT_ERROR) return false;
  if (impl.tls13) {
    if (!impl.tls13Retried) return false;
    // Neither worked: the error says what was tried, and the next connection starts at 1.2.
    impl.tls13 = false;
    std::string text = impl.errorBuffer;
    text += " (tried TLS 1.2, then TLS 1.3)";
    std::snprintf(impl.errorBuffer, CURL_ERROR_SIZE, "%s", text.c_str());
    return false;
  }
  // Only a handshake that failed before the file: nothing of it went out.
  curl_off_t uploaded = 0;
  curl_easy_getinfo(impl.easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
  if (uploaded > 0 || impl.handed > 0) return false;
  impl.tls13 = true;
  impl.tls13Retried = true;
  LimitFtpTls(session);
  impl.errorBuffer[0] = '\0';
  impl.result = CURLE_OK;
  return true;
}

void CurlAccess::SetQuote(CurlSession& session, const std::vector<std::string>& commands) {
  CurlSession::Impl& impl = *session.impl_;
  curl_slist_free_all(impl.quote);
  impl.quote = nullptr;
  for (const std::string& c : commands) impl.quote = curl_slist_append(impl.quote, c.c_str());
  if (impl.quote) curl_easy_setopt(impl.easy, CURLOPT_QUOTE, impl.quote);
}

void CurlAccess::Record(CurlSession& session, curl_infotype type, const char* data, size_t size) {
  if (type == CURLINFO_TEXT) {
    std::string version = TlsVersionIn(std::string(data, size));
    if (!version.empty()) session.impl_->tlsVersion = std::move(version);
    return;
  }
  if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN) return;
  std::vector<CurlSession::Exchange>& dialogue = session.impl_->dialogue;
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (type == CURLINFO_HEADER_OUT) {
    // HTTP hands the whole request head at once; only its first line is of interest.
    line = line.substr(0, line.find_first_of("\r\n"));
    if (Verb(line) == "PASS") line = "PASS ****";
    dialogue.push_back({session.Mask(line), {}});
    return;
  }
  if (dialogue.empty()) dialogue.push_back({});
  std::string& answer = dialogue.back().answer;
  if (!answer.empty()) answer += '\n';
  answer += session.Mask(line);
}

TransferResult CurlAccess::ResultOf(const CurlSession& session, CURLcode code) {
  TransferResult r;
  curl_off_t uploaded = 0;
  if (session.impl_->easy &&
      curl_easy_getinfo(session.impl_->easy, CURLINFO_SIZE_UPLOAD_T, &uploaded) == CURLE_OK)
    r.uploaded = uploaded;
  // What went to the connection: an SFTP server acknowledges late, so libcurl's count may
  // still read 0 when part of the file is on the server.
  r.uploaded = std::max(r.uploaded, session.impl_->handed);
  switch (code) {
    case CURLE_OK:
      return r;
    case CURLE_ABORTED_BY_CALLBACK:
      r.kind = TransferResult::Kind::kCancelled;
      break;
    case CURLE_LOGIN_DENIED:
      r.kind = TransferResult::Kind::kLoginDenied;
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
      r.kind = TransferResult::Kind::kPeerRefused;
      break;
    default:
      r.kind = TransferResult::Kind::kFailed;
      break;
  }
  r.wininetError = WinInetErrorOf(code, session.impl_->dialogue);
  r.notWhole = session.impl_->notWhole;
  r.message = session.ErrorText();
  if (r.message.empty()) r.message = curl_easy_strerror(code);
  r.peerKey = session.impl_->hostKey.seen;
  return r;
}

CURLcode CurlAccess::LastCode(const CurlSession& session) { return session.impl_->result; }

void CurlSession::Start(const StopFn& stop) {
  CurlAccess::EnsureHandles(*impl_);
  if (impl_->running) return;
  impl_->stop = stop;
  impl_->stopped = false;
  curl_multi_add_handle(impl_->multi, impl_->easy);
  impl_->attached = true;
  impl_->running = true;
}

bool CurlSession::Poll(int waitMs) {
  Impl& impl = *impl_;
  if (!impl.running) return true;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    int still = 0;
    curl_multi_perform(impl.multi, &still);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(impl.multi, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == impl.easy) {
        impl.result = msg->data.result;
        // Cut sockets fail a transfer in many ways; the stop was the cause.
        if (impl.stopped && impl.result != CURLE_OK) impl.result = CURLE_ABORTED_BY_CALLBACK;
        curl_multi_remove_handle(impl.multi, impl.easy);
        // A server that refuses TLS 1.2 gets the same transfer once more, allowing 1.3.
        if (CurlAccess::RetryWithTls13(*this)) {
          curl_multi_add_handle(impl.multi, impl.easy);
          continue;
        }
        impl.attached = false;
        impl.running = false;
        return true;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    curl_multi_poll(impl.multi, nullptr, 0,
                    static_cast<int>(std::min<long long>(left, kPollStepMs)), nullptr);
  }
}

bool CurlSession::Running() const { return impl_->running; }

TransferResult CurlSession::Run(const StopFn& stop) {
  Start(stop);
  while (!Poll(kPollStepMs)) {
    PumpEvents();
    if (impl_->StopSeen()) Cancel();
  }
  return LastResult();
}

void CurlSession::Cancel() {
  Impl& impl = *impl_;
  if (impl.running) {
    // Cut first: taking a transfer off may wait for the server (an SFTP upload's close).
    impl.stop = [] { return true; };
    impl.StopSeen();
  }
  if (impl.attached) curl_multi_remove_handle(impl.multi, impl.easy);
  impl.attached = false;
  if (impl.running) impl.result = CURLE_ABORTED_BY_CALLBACK;
  impl.running = false;
}

TransferResult CurlSession::LastResult() const {
  return CurlAccess::ResultOf(*this, impl_->result);
}

long CurlSession::ResponseCode() const {
  long code = 0;
  if (impl_->easy) curl_easy_getinfo(impl_->easy, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

std::string CurlSession::ErrorText() const {
  if (impl_->result == CURLE_OK) return {};
  if (impl_->errorBuffer[0]) {
    std::string text(impl_->errorBuffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return Mask(text);
  }
  return curl_easy_strerror(impl_->result);
}

const std::vector<CurlSession::Exchange>& CurlSession::Dialogue() const { return impl_->dialogue; }

const std::string& CurlSession::TlsVersion() const { return impl_->tlsVersion; }

std::string CurlSession::AnswerTo(const std::string& verb) const {
  for (auto it = impl_->dialogue.rbegin(); it != impl_->dialogue.rend(); ++it)
    if (Verb(it->command) == verb) return it->answer;
  return {};
}

std::string CurlSession::LastAnswer() const {
  for (auto it = impl_->dialogue.rbegin(); it != impl_->dialogue.rend(); ++it)
    if (!it->answer.empty()) return it->answer;
  return {};
}

std::string CurlSession::FtpEntryPath() const {
  char* entry = nullptr;
  if (impl_->easy) curl_easy_getinfo(impl_->easy, CURLINFO_FTP_ENTRY_PATH, &entry);
  return entry ? entry : "";
}

void CurlSession::Close() {
  Cancel();
  Impl& impl = *impl_;
  if (impl.easy) curl_easy_cleanup(impl.easy);
  impl.easy = nullptr;
  // The multi handle keeps the connection cache: its end closes the connection.
  if (impl.multi) curl_multi_cleanup(impl.multi);
  impl.multi = nullptr;
  impl.ftpListsMfmt = -1;
}

// --- typed calls -------------------------------------------------------------------------------

TransferResult CurlSession::PutFile(const std::string& url, const std::filesystem::path& file,
                                    const Credentials& login, const PeerPolicy& policy,
                                    const StopFn& stop) {
  return Put(url, file, login, policy, stop, {});
}

TransferResult CurlSession::Put(const std::string& url, const std::filesystem::path& file,
                                const Credentials& login, const PeerPolicy& policy,
                                const StopFn& stop, const std::string& postCommand) {
  std::unique_ptr<FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
  if (!in) {
    TransferResult r;
    r.kind = TransferResult::Kind::kLocalFile;
    r.wininetError = WinInetErrorOf(CURLE_READ_ERROR, {});
    r.message = curl_easy_strerror(CURLE_READ_ERROR);
    return r;
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  CURL* h = CurlAccess::Prepare(*this);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  impl_->upload = in.get();
  curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadUpload);
  curl_easy_setopt(h, CURLOPT_READDATA, impl_.get());
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(ec ? 0 : size));
  curl_easy_setopt(h, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
  ApplyLogin(url, login, policy);
  // FTP: the command runs where the upload went, so the file's own name does.
  const std::string path = url.rfind("sftp://", 0) == 0 ? std::string() : UrlPath(url);
  const std::string name = path.substr(path.rfind('/') + 1);
  if (!path.empty()) CurlAccess::AskSizeAfter(*this, name);
  if (!postCommand.empty()) {
    impl_->postQuote = curl_slist_append(impl_->postQuote, postCommand.c_str());
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, impl_->postQuote);
  }
  const TransferResult r = Run(stop);
  if (path.empty() || ec || (!r.ok() && impl_->result != CURLE_QUOTE_ERROR)) return r;
  if (!CurlAccess::HeldOtherThanSent(*this, static_cast<long long>(size), name)) return r;
  return LastResult();
}

void CurlAccess::AskSizeAfter(CurlSession& session, const std::string& path) {
  CurlSession::Impl& impl = *session.impl_;
  impl.postQuote = curl_slist_append(impl.postQuote, ("*SIZE " + path).c_str());
  curl_easy_setopt(impl.easy, CURLOPT_POSTQUOTE, impl.postQuote);
}

bool CurlAccess::HeldOtherThanSent(CurlSession& session, long long sent, const std::string& name) {
  CurlSession::Impl& impl = *session.impl_;
  const std::optional<long long> held = SizeIn(session.AnswerTo("SIZE"));
  if (!held) {
    // Over TLS 1.3 the data connection may end in a reset that costs the file's tail while the
    // server still answers 226: only its SIZE tells.
    if (!impl.tls13) return false;
    std::snprintf(impl.errorBuffer, CURL_ERROR_SIZE,
                  "The server did not confirm the size of '%s' (%lld bytes sent over TLS 1.3): "
                  "not known to be whole",
                  name.c_str(), sent);
  } else if (*held == sent) {
    return false;
  } else {
    std::snprintf(impl.errorBuffer, CURL_ERROR_SIZE,
                  "The server holds %lld of the %lld bytes sent of '%s'", *held, sent,
                  name.c_str());
  }
  impl.result = CURLE_PARTIAL_FILE;
  impl.notWhole = true;
  return true;
}

TimedPut CurlSession::PutFileKeepingTime(const std::string& url, const std::filesystem::path& file,
                                         const Credentials& login, const PeerPolicy& policy,
                                         const StopFn& stop) {
  TimedPut out;
  struct stat st {};
  const std::string path = UrlPath(url);
  if (::stat(file.c_str(), &st) != 0 || path.empty()) {
    out.result = PutFile(url, file, login, policy, stop);
    out.timeNote = "the local file's time could not be read";
    return out;
  }
  std::string command;
  if (url.rfind("sftp://", 0) == 0) {
    command = "mtime " + SftpArg(UtcText(st.st_mtime, "%Y%m%d %H:%M:%S GMT")) + " " + SftpArg(path);
  } else {
    if (!FtpListsMfmt(url, login, policy, stop, out.result)) {
      if (!out.result.ok()) return out;
      out.result = PutFile(url, file, login, policy, stop);
      out.timeNote = "the server does not list MFMT";
      return out;
    }
    // The command runs where the upload went, so the file's own name does.
    command =
        "MFMT " + UtcText(st.st_mtime, "%Y%m%d%H%M%S") + " " + path.substr(path.rfind('/') + 1);
  }
  out.result = Put(url, file, login, policy, stop, command);
  // Commands after the upload run only once the whole file is there.
  if (!out.result.ok() && CurlAccess::LastCode(*this) == CURLE_QUOTE_ERROR) {
    const std::string answer = LastAnswer();
    out.timeNote = answer.empty() ? out.result.message : out.result.message + ": " + answer;
    out.result = TransferResult{};
    return out;
  }
  out.timeKept = out.result.ok();
  return out;
}

bool CurlSession::FtpListsMfmt(const std::string& url, const Credentials& login,
                               const PeerPolicy& policy, const StopFn& stop,
                               TransferResult& failed) {
  if (impl_->ftpListsMfmt < 0) {
    CURL* h = CurlAccess::Prepare(*this);
    curl_easy_setopt(h, CURLOPT_URL, (url.substr(0, PathStart(url)) + "/").c_str());
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    ApplyLogin(url, login, policy);
    // A server without FEAT simply lists nothing.
    CurlAccess::SetQuote(*this, {"*FEAT"});
    failed = Run(stop);
    if (!failed.ok()) return false;
    std::istringstream lines(AnswerTo("FEAT"));
    bool listed = false;
    for (std::string line; std::getline(lines, line);)
      listed = listed || text::UpperAscii(std::string(text::TrimBlanks(line))) == "MFMT";
    impl_->ftpListsMfmt = listed ? 1 : 0;
  }
  return impl_->ftpListsMfmt == 1;
}

TransferResult CurlSession::RemoveFile(const std::string& url, const Credentials& login,
                                       const PeerPolicy& policy, const StopFn& stop) {
  // scheme://host[:port]/path: the command runs in the login folder, before any CWD.
  const size_t pathStart = PathStart(url);
  TransferResult bad;
  bad.kind = TransferResult::Kind::kFailed;
  bad.message = "No file in '" + Mask(url) + "'";
  const bool sftp = url.rfind("sftp://", 0) == 0;
  const std::string path = UrlPath(url);
  if (path.empty()) return bad;
  CURL* h = CurlAccess::Prepare(*this);
  const std::string command = sftp ? "rm " + SftpArg(path) : "DELE " + path;
  curl_easy_setopt(h, CURLOPT_URL, (url.substr(0, pathStart) + (sftp ? "/~/" : "/")).c_str());
  curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  ApplyLogin(url, login, policy);
  CurlAccess::SetQuote(*this, {command});
  return Run(stop);
}

CurlSession::RemoteSize CurlSession::SizeOf(const std::string& url, const Credentials& login,
                                            const PeerPolicy& policy, const StopFn& stop) {
  RemoteSize out;
  const std::string path = UrlPath(url);
  if (path.empty()) {
    out.result.kind = TransferResult::Kind::kFailed;
    out.result.message = "No file in '" + Mask(url) + "'";
    return out;
  }
  // SIZE itself, in the login folder as RemoveFile's DELE: its answer tells a file that is gone
  // from a server that does not know the command.
  CURL* h = CurlAccess::Prepare(*this);
  curl_easy_setopt(h, CURLOPT_URL, (url.substr(0, PathStart(url)) + "/").c_str());
  curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  ApplyLogin(url, login, policy);
  // Binary first: many servers refuse SIZE in ASCII mode.
  CurlAccess::SetQuote(*this, {"TYPE I", "SIZE " + path});
  out.result = Run(stop);
  const std::string answer = AnswerTo("SIZE");
  if (const std::optional<long long> size = SizeIn(answer); out.result.ok() && size) {
    if (*size >= 0) out.size = *size;
  } else if (impl_->result == CURLE_QUOTE_ERROR) {
    out.missing = FtpSaysMissing(answer);
    // Refused for another reason: the server does not say.
    if (!out.missing) out.result = TransferResult{};
  }
  return out;
}

bool FtpSaysMissing(const std::string& answer) {
  // 550 also refuses the command itself on many servers, so only a text that says the file is
  // missing counts.
  const std::string reply = text::LowerAscii(answer);
  if (!reply.starts_with("550")) return false;
  for (const char* refusal : {"denied", "permission", "privilege", "not allowed", "ascii"})
    if (reply.find(refusal) != std::string::npos) return false;
  for (const char* missing :
       {"no such file", "not found", "could not get file size", "can't check for file existence",
        "cannot find", "not exist", "doesn't exist"})
    if (reply.find(missing) != std::string::npos) return true;
  return false;
}

void CurlSession::ApplyLogin(const std::string& url, const Credentials& login,
                             const PeerPolicy& policy) {
  CURL* h = impl_->easy;
  curl_easy_setopt(h, CURLOPT_USERNAME, login.user.c_str());
  curl_easy_setopt(h, CURLOPT_PASSWORD, login.password.c_str());
  if (url.rfind("sftp://", 0) == 0) {
    long auth = CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
    if (!policy.privateKeyFile.empty()) {
      auth |= CURLSSH_AUTH_PUBLICKEY;
      curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, policy.privateKeyFile.c_str());
      curl_easy_setopt(h, CURLOPT_SSH_PUBLIC_KEYFILE, "");
    }
    curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, auth);
    if (policy.hostKey.kind == HostKeyFingerprint::kMd5)
      curl_easy_setopt(h, CURLOPT_SSH_HOST_PUBLIC_KEY_MD5, policy.hostKey.value.c_str());
    impl_->hostKey.expected = policy.hostKey;
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, &OnHostKey);
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &impl_->hostKey);
    return;
  }
  CurlAccess::LimitFtpTls(*this);
  if (policy.tls) {
    curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    if (policy.activeFtp && ActiveFtpKeepsTls()) curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
  } else if (policy.activeFtp) {
    curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
  }
}

HttpReply CurlSession::PostXml(const std::string& url, const std::string& xml,
                               const Credentials& login, const std::string& method,
                               const StopFn& stop, const std::string& proxyRule) {
  HttpReply reply;
  const std::string full = HttpUrl(url);
  CURL* h = CurlAccess::Prepare(*this);
  impl_->headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=UTF-8");
  curl_easy_setopt(h, CURLOPT_URL, full.c_str());
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, vb::UCase(method).c_str());
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, xml.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(xml.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, impl_->headers);
  CurlAccess::ApplyProxyRule(h, proxyRule);
  if (!login.user.empty()) {
    curl_easy_setopt(h, CURLOPT_USERNAME, login.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, login.password.c_str());
  }
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendTo);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply.body);
  reply.result = Run(stop);
  if (reply.result.ok()) reply.status = ResponseCode();
  return reply;
}

HttpReply CurlSession::Get(const std::string& url, long totalSeconds, const StopFn& stop,
                           const std::string& proxyRule) {
  HttpReply reply;
  const std::string full = HttpUrl(url);
  CURL* h = CurlAccess::Prepare(*this);
  curl_easy_setopt(h, CURLOPT_URL, full.c_str());
  CurlAccess::ApplyProxyRule(h, proxyRule);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  if (totalSeconds > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT, totalSeconds);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendTo);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply.body);
  reply.result = Run(stop);
  if (reply.result.ok()) reply.status = ResponseCode();
  return reply;
}

TransferResult CurlSession::LearnHostKey(const std::string& url, const StopFn& stop) {
  CURL* h = CurlAccess::Prepare(*this);
  impl_->hostKey.learnOnly = true;
  curl_easy_setopt(h, CURLOPT_URL, (url + "/").c_str());
  curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, &OnHostKey);
  curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &impl_->hostKey);
  TransferResult r = Run(stop);
  r.peerKey = impl_->hostKey.seen;
  return r;
}

Deadline RemovalDeadline() {
  if (EscPressed()) return Deadline(StopTime() + kRemovalBudget);
  return Deadline(kRemovalBudget);
}

TransferLimits Deadline::Fit(TransferLimits limits) const {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now())
          .count();
  const long ms = static_cast<long>(std::max<long long>(left, 1));
  const long seconds = std::max(1L, (ms + 999) / 1000);
  limits.connectTimeoutMs = std::min(limits.connectTimeoutMs, ms);
  limits.responseSeconds = std::min(limits.responseSeconds, seconds);
  limits.lowSpeedSeconds = std::min(limits.lowSpeedSeconds, seconds);
  return limits;
}

FtpEndpoint FtpEndpointOf(const std::string& host, int port) {
  std::string name = host;
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '/')) name.pop_back();
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  FtpEndpoint out;
  std::string scheme = "ftp://";
  int defaultPort = 21;
  if (lower.rfind("ftpes://", 0) == 0) {
    name.erase(0, 8);
    out.explicitTls = true;
  } else if (lower.rfind("ftps://", 0) == 0) {
    name.erase(0, 7);
    scheme = "ftps://";
    defaultPort = 990;
  } else if (lower.rfind("ftp://", 0) == 0) {
    name.erase(0, 6);
  }
  const size_t colon = name.rfind(':');
  if (colon != std::string::npos && colon + 1 < name.size() &&
      name.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    if (port <= 0) port = std::atoi(name.c_str() + colon + 1);
    name.erase(colon);
  }
  out.base = scheme + name + ":" + std::to_string(port > 0 ? port : defaultPort);
  return out;
}

std::string EscapeUrlPath(const std::string& path) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!part.empty()) {
      char* escaped = curl_easy_escape(nullptr, part.data(), static_cast<int>(part.size()));
      out += escaped ? escaped : "";
      curl_free(escaped);
    }
    if (slash == std::string::npos) break;
    out += '/';
    start = slash + 1;
  }
  return out;
}

}  // namespace fern::services
