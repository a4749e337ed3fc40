#include "services/curl_session.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "platform/host_error.h"
#include "platform/waits.h"

namespace fern::services {

bool ActiveFtpKeepsTls() { return curl_version_info(CURLVERSION_NOW)->version_num >= 0x080000; }

namespace {

struct GlobalInit {
  GlobalInit() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void InitOnce() { static GlobalInit once; }

std::string Verb(const std::string& command) {
  std::string v = command.substr(0, command.find(' '));
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::toupper(c); });
  return v;
}

}  // namespace

CurlSession::CurlSession() { InitOnce(); }

CurlSession::~CurlSession() { Close(); }

std::string CurlSession::Mask(std::string text) const {
  if (secret_.size() < 3) return text;
  for (size_t at = text.find(secret_); at != std::string::npos; at = text.find(secret_, at + 4))
    text.replace(at, secret_.size(), "****");
  return text;
}

void CurlSession::EnsureHandles() {
  if (!multi_) multi_ = curl_multi_init();
  if (!easy_) easy_ = curl_easy_init();
  // VB's "Out of memory": libcurl fails to start only when memory runs out.
  if (!multi_ || !easy_) throw HostError(7, "libcurl could not be initialised", "CurlSession");
}

CURL* CurlSession::Prepare() {
  if (running_) Cancel();
  EnsureHandles();
  curl_easy_reset(easy_);
  dialogue_.clear();
  errorBuffer_[0] = '\0';
  result_ = CURLE_OK;
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(easy_, CURLOPT_SERVER_RESPONSE_TIMEOUT, limits.responseSeconds);
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
  if (!limits.caFile.empty()) curl_easy_setopt(easy_, CURLOPT_CAINFO, limits.caFile.c_str());
  curl_easy_setopt(easy_, CURLOPT_DEBUGFUNCTION, &CurlSession::OnDebug);
  curl_easy_setopt(easy_, CURLOPT_DEBUGDATA, this);
  curl_easy_setopt(easy_, CURLOPT_VERBOSE, 1L);
  return easy_;
}

int CurlSession::OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  static_cast<CurlSession*>(self)->Record(type, data, size);
  return 0;
}

void CurlSession::Record(curl_infotype type, const char* data, size_t size) {
  if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN) return;
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (type == CURLINFO_HEADER_OUT) {
    // HTTP hands the whole request head at once; only its first line is of interest.
    line = line.substr(0, line.find_first_of("\r\n"));
    if (Verb(line) == "PASS") line = "PASS ****";
    dialogue_.push_back({Mask(line), {}});
    return;
  }
  if (dialogue_.empty()) dialogue_.push_back({});
  std::string& answer = dialogue_.back().answer;
  if (!answer.empty()) answer += '\n';
  answer += Mask(line);
}

void CurlSession::Start() {
  EnsureHandles();
  if (running_) return;
  curl_multi_add_handle(multi_, easy_);
  attached_ = true;
  running_ = true;
}

bool CurlSession::Poll(int waitMs) {
  if (!running_) return true;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    int still = 0;
    curl_multi_perform(multi_, &still);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
        result_ = msg->data.result;
        curl_multi_remove_handle(multi_, easy_);
        attached_ = false;
        running_ = false;
        return true;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::min<long long>(left, 50)), nullptr);
  }
}

CURLcode CurlSession::Run(const std::function<bool()>& stop) {
  Start();
  while (!Poll(50)) {
    PumpEvents();
    if (stop && stop()) Cancel();
  }
  return result_;
}

void CurlSession::Cancel() {
  if (attached_) curl_multi_remove_handle(multi_, easy_);
  attached_ = false;
  if (running_) result_ = CURLE_ABORTED_BY_CALLBACK;
  running_ = false;
}

long CurlSession::ResponseCode() const {
  long code = 0;
  if (easy_) curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

std::string CurlSession::ErrorText() const {
  if (result_ == CURLE_OK) return {};
  if (errorBuffer_[0]) {
    std::string text(errorBuffer_);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return Mask(text);
  }
  return curl_easy_strerror(result_);
}

std::string CurlSession::AnswerTo(const std::string& verb) const {
  for (auto it = dialogue_.rbegin(); it != dialogue_.rend(); ++it)
    if (Verb(it->command) == verb) return it->answer;
  return {};
}

std::string CurlSession::LastAnswer() const {
  for (auto it = dialogue_.rbegin(); it != dialogue_.rend(); ++it)
    if (!it->answer.empty()) return it->answer;
  return {};
}

void CurlSession::Close() {
  Cancel();
  if (easy_) curl_easy_cleanup(easy_);
  easy_ = nullptr;
  // The multi handle keeps the connection cache: its end closes the connection.
  if (multi_) curl_multi_cleanup(multi_);
  multi_ = nullptr;
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

int32_t WinInetErrorOf(CURLcode code, const CurlSession& session) {
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
      for (auto it = session.Dialogue().rbegin(); it != session.Dialogue().rend(); ++it) {
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

}  // namespace fern::services
