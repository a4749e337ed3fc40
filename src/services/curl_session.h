// One libcurl transfer channel for the FTP and HTTP services: an easy handle on its own multi
// handle, so a transfer runs in short polling steps while the window keeps its events, and the
// connection stays open from one transfer to the next until Close.
//
// Credentials go to libcurl as options, never inside a URL, and the secret is masked wherever a
// text leaves this class (error texts, the server dialogue).
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fern::services {

// Limits every connection gets, so a dead or stalled server ends in an error, never a hang.
struct TransferLimits {
  long connectTimeoutMs = 30000;  // TCP connect plus greeting and login
  long responseSeconds = 60;      // one FTP answer
  long lowSpeedBytes = 1;         // below this many bytes per second ...
  long lowSpeedSeconds = 60;      // ... for this long, the transfer ends
  std::string caFile;             // extra trusted certificate (PEM); empty: the system's
};

// Whether this libcurl protects an active-mode FTP data connection with TLS. Before 8.0 it
// skipped the handshake there and sent the file in clear text, so TLS transfers must stay
// passive with such a library.
bool ActiveFtpKeepsTls();

class CurlSession {
 public:
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
  void SetSecret(std::string secret) { secret_ = std::move(secret); }
  std::string Mask(std::string text) const;

  // A fresh set of options on the kept handle (the open connection survives): limits, the
  // dialogue recorder, no signals. Call before setting a transfer's own options.
  CURL* Prepare();

  // Starts the prepared transfer. Poll drives it for at most waitMs and tells whether it ended.
  void Start();
  bool Poll(int waitMs);
  bool Running() const { return running_; }
  // Runs the prepared transfer to its end, pumping window events between short steps; `stop`
  // (asked after each step) aborts it.
  CURLcode Run(const std::function<bool()>& stop = {});
  // Aborts a running transfer; its result becomes CURLE_ABORTED_BY_CALLBACK.
  void Cancel();

  CURLcode Result() const { return result_; }
  long ResponseCode() const;
  // libcurl's explanation of the last failure (masked), or its standard text.
  std::string ErrorText() const;
  const std::vector<Exchange>& Dialogue() const { return dialogue_; }
  // The answer to the last command whose verb is `verb` ("PWD"), or "".
  std::string AnswerTo(const std::string& verb) const;
  // The last answer of the server in this transfer, "" when it said nothing.
  std::string LastAnswer() const;

  // Closes the connection (FTP says QUIT); the next transfer opens a new one.
  void Close();
  bool Open() const { return easy_ != nullptr; }
  // The handle of the last transfer, for libcurl's information about it (null when closed).
  CURL* Handle() const { return easy_; }

 private:
  static int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
  void Record(curl_infotype type, const char* data, size_t size);
  void EnsureHandles();

  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  bool running_ = false;
  bool attached_ = false;
  CURLcode result_ = CURLE_OK;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  std::string secret_;
  std::vector<Exchange> dialogue_;
};

// Where an FTP host text points: "ftp://host:port" (or "ftps://...") and whether AUTH TLS is
// asked. The text may carry a scheme ("ftp://", "ftps://" implicit TLS, "ftpes://" AUTH TLS) and
// a ":port"; `port` above 0 wins over both, else the text's port, else 21 (990 for ftps).
struct FtpEndpoint {
  std::string base;
  bool explicitTls = false;
};
FtpEndpoint FtpEndpointOf(const std::string& host, int port = 0);

// "/a b/c" -> "/a%20b/c": every path component escaped, the separators kept.
std::string EscapeUrlPath(const std::string& path);

// libcurl's result as the WinINet error number the services report (0 for success; a number
// outside the error table when nothing fits). A refused login is told apart by the command the
// server refused.
int32_t WinInetErrorOf(CURLcode code, const CurlSession& session);

}  // namespace fern::services
