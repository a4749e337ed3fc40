#include "services/inet_control.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/host_path.h"
#include "platform/text.h"
#include "services/curl_handle.h"
#include "services/upload_walk.h"

namespace fern::services {

namespace {

// The reply code at the start of an FTP answer ("550 No such file" -> 550), else 0.
long ReplyCode(const std::string& answer) {
  if (answer.size() < 3 || !std::isdigit(static_cast<unsigned char>(answer[0]))) return 0;
  return std::atol(answer.substr(0, 3).c_str());
}

// The host part of a URL, for the texts that name the remote host.
std::string HostOf(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  const size_t at = url.find('@', start);
  const size_t end = url.find_first_of("/?#", start);
  if (at != std::string::npos && (end == std::string::npos || at < end)) start = at + 1;
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

void InetControl::Raise(int16_t state) {
  if (StateChanged) StateChanged(state);
}

size_t InetControl::Collect(char* data, size_t size, size_t count, void* self) {
  static_cast<InetControl*>(self)->answer_.append(data, size * count);
  return size * count;
}

size_t InetControl::ReadFile(char* data, size_t size, size_t count, void* self) {
  auto* me = static_cast<InetControl*>(self);
  const size_t got = std::fread(data, 1, size * count, me->upload_);
  if (got == 0 && std::ferror(me->upload_)) return CURL_READFUNC_ABORT;
  me->putBytes_ += static_cast<int64_t>(got);
  return got;
}

std::string InetControl::ProxyRule() const {
  if (AccessType == kSystemProxy) return "USEDEFAULT";
  return AccessType == kNamedProxy ? Proxy : std::string();
}

std::string InetControl::FtpBase() const { return FtpEndpointOf(RemoteHost).base; }

std::string InetControl::ResolvePath(const std::string& path) const {
  if (!path.empty() && path.front() == '/') return path;
  if (cwd_.empty()) return path;
  return cwd_ == "/" ? "/" + path : cwd_ + "/" + path;
}

namespace {

void PrepareFtp(CURL* easy, CurlSession& session, const InetControl& c) {
  curl_easy_setopt(easy, CURLOPT_USERNAME, c.UserName.c_str());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, c.Password.c_str());
  const FtpEndpoint endpoint = FtpEndpointOf(c.RemoteHost);
  if (endpoint.explicitTls)
    curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  CurlAccess::LimitFtpTls(session);
  // Active mode: the data connection comes back to the address of the control connection.
  // With TLS, explicit or implicit, it stays passive where this libcurl can't protect an active
  // data connection.
  const bool tls = endpoint.explicitTls || endpoint.base.rfind("ftps://", 0) == 0;
  if (!tls || services::ActiveFtpKeepsTls()) curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");
  curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  CurlAccess::ApplyProxyRule(easy, c.ProxyRule());
  if (c.RequestTimeoutSeconds > 0) curl_easy_setopt(easy, CURLOPT_TIMEOUT, c.RequestTimeoutSeconds);
}

}  // namespace

namespace {

// "PUT local remote": a name with blanks stands in double quotes; unquoted, the remote name is
// the last word.
void SplitPutArguments(const std::string& rest, std::string& local, std::string& remote) {
  auto quotedAt = [&](size_t pos, std::string& out) -> size_t {
    const size_t end = rest.find('"', pos + 1);
    if (end == std::string::npos) return std::string::npos;
    out = rest.substr(pos + 1, end - pos - 1);
    return end + 1;
  };
  size_t next = 0;
  if (!rest.empty() && rest.front() == '"') {
    next = quotedAt(0, local);
    if (next != std::string::npos) {
      const std::string tail(text::TrimSpaces(rest.substr(next)));
      if (!tail.empty() && tail.front() == '"' && tail.back() == '"' && tail.size() >= 2)
        remote = tail.substr(1, tail.size() - 2);
      else
        remote = tail;
      return;
    }
  }
  if (!rest.empty() && rest.back() == '"') {
    const size_t open = rest.rfind('"', rest.size() - 2);
    if (open != std::string::npos && open > 0) {
      remote = rest.substr(open + 1, rest.size() - open - 2);
      local = std::string(text::TrimSpaces(rest.substr(0, open)));
      return;
    }
  }
  const size_t lastBlank = rest.rfind(' ');
  remote = lastBlank == std::string::npos ? rest : rest.substr(lastBlank + 1);
  local = std::string(
      text::TrimSpaces(lastBlank == std::string::npos ? std::string() : rest.substr(0, lastBlank)));
}

}  // namespace

void InetControl::Execute(const std::string& url, const std::string& command) {
  if (executing_) Cancel();
  cutShort_.clear();
  answer_.clear();
  answerPos_ = 0;
  responseCode_ = 0;
  responseInfo_.clear();
  notWhole_ = false;
  httpStatus_ = 0;
  session_.SetSecret(Password);
  if (!connected_) {
    Raise(kResolving);
    Raise(kResolved);
    Raise(kConnecting);
  }
  if (Protocol == kHttp) {
    StartHttp(url.empty() ? URL : url, command);
    return;
  }
  if (!StartFtp(command)) return;
  executing_ = true;
  session_.Start(StopWhen);
}

bool InetControl::StartFtp(const std::string& command) {
  const std::string trimmed(text::TrimSpaces(command));
  verb_ = text::UpperAscii(trimmed.substr(0, trimmed.find(' ')));
  const std::string rest = std::string(text::TrimSpaces(
      trimmed.size() > verb_.size() ? trimmed.substr(verb_.size()) : std::string()));
  if (verb_ == "CLOSE" || verb_ == "QUIT") {
    Raise(kDisconnecting);
    Close();
    Raise(kDisconnected);
    return false;
  }
  if (!connected_) Raise(kConnected);
  Raise(kRequesting);

  CURL* easy = CurlAccess::Prepare(session_);
  PrepareFtp(easy, session_, *this);
  const std::string base = FtpBase();
  curl_easy_setopt(easy, CURLOPT_URL, (base + "/").c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  std::vector<std::string> quotes;
  if (verb_ == "MKDIR") {
    for (const std::string& folder : FolderChain(ResolvePath(rest)))
      quotes.push_back("*MKD " + folder);
  } else if (verb_ == "CD" || verb_ == "CDUP") {
    std::string target = verb_ == "CDUP" ? ".." : rest;
    if (target == "..") {
      const size_t slash = cwd_.rfind('/');
      target = slash == std::string::npos || slash == 0 ? "/" : cwd_.substr(0, slash);
    } else {
      target = ResolvePath(target);
    }
    pendingCwd_ = target;
    quotes.push_back("CWD " + (target.empty() ? "/" : target));
  } else if (verb_ == "PWD") {
    if (!cwd_.empty()) quotes.push_back("CWD " + cwd_);
    quotes.push_back("PWD");
  } else if (verb_ == "DELETE") {
    quotes.push_back("DELE " + ResolvePath(rest));
  } else if (verb_ == "RMDIR") {
    quotes.push_back("RMD " + ResolvePath(rest));
  } else if (verb_ == "SIZE") {
    quotes.push_back("SIZE " + ResolvePath(rest));
  } else if (verb_ == "DIR" || verb_ == "LS") {
    std::string folder = ResolvePath(rest);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    curl_easy_setopt(easy, CURLOPT_URL, (base + "/" + EscapeUrlPath(folder)).c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &InetControl::Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  } else if (verb_ == "PUT" || verb_ == "SEND") {
    std::string local, remote;
    SplitPutArguments(rest, local, remote);
    std::filesystem::path real;
    try {
      real = ResolveHostPath(local);
    } catch (const std::exception&) {
      real.clear();  // reported below as a file that cannot be opened
    }
    upload_ = local.empty() || real.empty() ? nullptr : std::fopen(real.c_str(), "rb");
    if (!upload_) {
      responseCode_ = 2;
      responseInfo_ = "Datei nicht gefunden: " + local;
      Raise(kError);
      return false;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(real, ec);
    putPath_ = ResolvePath(remote);
    putBytes_ = 0;
    putSize_ = ec ? -1 : static_cast<int64_t>(size);
    curl_easy_setopt(easy, CURLOPT_URL, (base + "/" + EscapeUrlPath(putPath_)).c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &InetControl::ReadFile);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
    if (!ec) curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    CurlAccess::AskSizeAfter(session_, putPath_);
  } else {
    responseCode_ = 12016;  // ERROR_INTERNET_INVALID_OPERATION
    responseInfo_ = "Unbekannter Befehl " + verb_;
    Raise(kError);
    return false;
  }
  CurlAccess::SetQuote(session_, quotes);
  return true;
}

void InetControl::StartHttp(const std::string& url, const std::string& method) {
  std::string full(text::TrimSpaces(url));
  if (full.find("://") == std::string::npos) full = "http://" + full;
  RemoteHost = HostOf(full);
  verb_ = text::UpperAscii(text::TrimSpaces(method));
  if (!connected_) Raise(kConnected);
  Raise(kRequesting);
  CURL* easy = CurlAccess::Prepare(session_);
  curl_easy_setopt(easy, CURLOPT_URL, full.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  if (verb_ == "HEAD")
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  else if (!verb_.empty() && verb_ != "GET")
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb_.c_str());
  if (!UserName.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, UserName.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, Password.c_str());
  }
  CurlAccess::ApplyProxyRule(easy, ProxyRule());
  if (RequestTimeoutSeconds > 0) curl_easy_setopt(easy, CURLOPT_TIMEOUT, RequestTimeoutSeconds);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &InetControl::Collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  executing_ = true;
  session_.Start(StopWhen);
}

bool InetControl::Step(int waitMs) {
  if (!executing_) return true;
  if (!session_.Poll(waitMs)) return false;
  Finish();
  return true;
}

void InetControl::Finish() {
  executing_ = false;
  if (upload_) std::fclose(upload_);
  upload_ = nullptr;
  TransferResult result = session_.LastResult();
  if (result.ok() && (verb_ == "PUT" || verb_ == "SEND") && putSize_ >= 0 &&
      CurlAccess::HeldOtherThanSent(session_, putSize_, putPath_))
    result = session_.LastResult();
  if (result.kind == TransferResult::Kind::kCancelled) {
    // No state; the connection is cut.
    NoteCutShort();
    Close();
    return;
  }
  if (!result.ok()) {
    // A refusal carries the server's code and answer; a transport failure libcurl's view.
    const std::string answer = session_.LastAnswer();
    const long reply = ReplyCode(answer);
    if (result.notWhole) {
      // The connection is fine; the server's SIZE (or its refusal) is not the explanation.
      notWhole_ = true;
      responseCode_ = result.wininetError;
      responseInfo_ = result.message;
    } else if (reply >= 400) {
      responseCode_ = reply;
      responseInfo_ = answer;
    } else {
      // The connection is gone or unusable: the next command opens a new one.
      responseCode_ = result.wininetError;
      responseInfo_ = session_.ErrorText();
      connected_ = false;
      session_.Close();
    }
    Raise(kError);
    return;
  }
  if (!connected_ && Protocol == kFtp) {
    loginFolder_ = session_.FtpEntryPath();
  }
  connected_ = true;
  Raise(kRequestSent);
  if (Protocol == kHttp) {
    httpStatus_ = session_.ResponseCode();
    Raise(kReceiving);
    Raise(kResponseReceived);
    if (httpStatus_ >= 400) {
      responseCode_ = httpStatus_;
      const std::string head = session_.AnswerTo(verb_.empty() ? "GET" : verb_);
      responseInfo_ = head.substr(0, head.find('\n'));
      Raise(kError);
      return;
    }
    Raise(kResponseCompleted);
    return;
  }
  if (verb_ == "PWD") {
    // The answer of the control: what the server said to PWD.
    answer_ = session_.AnswerTo("PWD") + "\r\n";
  } else if (verb_ == "SIZE") {
    answer_ = session_.AnswerTo("SIZE") + "\r\n";
  } else if (verb_ == "CD" || verb_ == "CDUP") {
    cwd_ = pendingCwd_;
  }
  if (!answer_.empty()) {
    Raise(kReceiving);
    Raise(kResponseReceived);
  }
  Raise(kResponseCompleted);
}

void InetControl::NoteCutShort() {
  // Bytes went out, or the server was told to store: part of the file may be on the server.
  bool stored = putBytes_ > 0;
  for (const CurlSession::Exchange& x : session_.Dialogue())
    stored = stored || x.command.rfind("STOR ", 0) == 0;
  if ((verb_ == "PUT" || verb_ == "SEND") && stored) cutShort_ = putPath_;
}

void InetControl::Cancel() {
  if (!executing_) return;
  NoteCutShort();
  session_.Cancel();
  executing_ = false;
  if (upload_) std::fclose(upload_);
  upload_ = nullptr;
  // A half-done FTP command leaves the connection in an unknown state.
  Close();
}

TransferResult InetControl::RemoveCutShortUpload() {
  if (cutShort_.empty()) return {};
  const std::string path = std::exchange(cutShort_, {});
  const Deadline deadline = RemovalDeadline();
  const TransferLimits kept = session_.limits;
  session_.limits = deadline.Fit(kept);
  CURL* easy = CurlAccess::Prepare(session_);
  PrepareFtp(easy, session_, *this);
  curl_easy_setopt(easy, CURLOPT_URL, (FtpBase() + "/").c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  CurlAccess::SetQuote(session_, {"DELE " + path});
  const TransferResult result = session_.Run(deadline.Stop());
  session_.limits = kept;
  Close();
  return result;
}

std::string InetControl::GetChunk(size_t size) {
  if (answerPos_ >= answer_.size()) return {};
  const std::string piece = answer_.substr(answerPos_, size);
  answerPos_ += piece.size();
  return piece;
}

void InetControl::Close() {
  if (executing_) {
    session_.Cancel();
    executing_ = false;
  }
  session_.Close();
  connected_ = false;
  cwd_.clear();
}

}  // namespace fern::services
