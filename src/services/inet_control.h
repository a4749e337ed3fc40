// The Internet transfer control the FTP and HTTP layer drives: properties, Execute of one FTP
// command or HTTP request, StillExecuting, Cancel, the answer in chunks and the state numbers
// 0 to 12, on libcurl. Execute only starts the work; Step drives it in short slices so the
// caller can pump window events and watch Esc between them.
//
// FTP commands: "MKDIR d", "CD d", "CDUP", "PWD", "PUT local remote", "DIR [d]", "DELETE f",
// "RMDIR d", "SIZE f", "CLOSE"/"QUIT". A path beginning with "/" starts at the server's root,
// any other at the folder of the last CD (the login folder before the first). MKDIR makes missing
// parents first, and a refused MKDIR (the folder exists) is no error: callers check the folder
// with CD and PWD. RemoteHost may carry a scheme
// ("ftpes://" AUTH TLS, "ftps://" implicit TLS) and a ":port".
// HTTP: the command is the method ("GET"); a URL without scheme is HTTP. A status of 400 and
// above ends in the error state with the status as ResponseCode, the body still readable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "services/curl_session.h"

namespace fern::services {

class InetControl {
 public:
  enum State : int16_t {
    kNone = 0,
    kResolving = 1,
    kResolved = 2,
    kConnecting = 3,
    kConnected = 4,
    kRequesting = 5,
    kRequestSent = 6,
    kReceiving = 7,
    kResponseReceived = 8,
    kDisconnecting = 9,
    kDisconnected = 10,
    kError = 11,
    kResponseCompleted = 12,
  };
  static constexpr int16_t kFtp = 2;
  static constexpr int16_t kHttp = 4;

  int16_t Protocol = kFtp;
  static constexpr int16_t kSystemProxy = 0;
  static constexpr int16_t kDirect = 1;
  static constexpr int16_t kNamedProxy = 2;

  int16_t AccessType = kSystemProxy;
  std::string URL;
  std::string RemoteHost;
  std::string UserName;
  std::string Password;
  std::string Proxy;
  long RequestTimeoutSeconds = 0;  // 0: only the connection limits
  // AccessType and Proxy as a proxy rule: "" direct, "USEDEFAULT" the system's, else the name.
  std::string ProxyRule() const;

  // Raised with each state while the control works (from Execute, Step and Cancel).
  std::function<void(int16_t state)> StateChanged;
  // Asked also while a step waits inside libcurl: true ends the command as Cancel does.
  CurlSession::StopFn StopWhen;

  TransferLimits& Limits() { return session_.limits; }

  void Execute(const std::string& url, const std::string& command);
  bool StillExecuting() const { return executing_; }
  // Drives the running command for at most waitMs; true when it is over.
  bool Step(int waitMs);
  void Cancel();

  // 0 after success; the server's reply code, the HTTP status or the WinINet number after an
  // error. ResponseInfo explains it (password masked).
  long ResponseCode() const { return responseCode_; }
  const std::string& ResponseInfo() const { return responseInfo_; }
  // The error is an upload the server does not hold whole by its SIZE; ResponseInfo names the
  // figures.
  bool NotWhole() const { return notWhole_; }
  long HttpStatus() const { return httpStatus_; }

  // The next piece of at most `size` bytes of the answer; "" when it is all read.
  std::string GetChunk(size_t size);

  // Whether Cancel or the stop cut a PUT short after part of the file may have reached the
  // server.
  bool CutShortUpload() const { return !cutShort_.empty(); }
  // Removes that part over a new connection, within RemovalDeadline whatever the server does,
  // and closes the connection. Ok when there was nothing to remove.
  TransferResult RemoveCutShortUpload();

  // The login folder the server reported for the current connection ("" when unknown).
  const std::string& LoginFolder() const { return loginFolder_; }

  // Ends the connection without states.
  void Close();

 private:
  void Raise(int16_t state);
  void Finish();
  // Notes a PUT cut short after part of the file may have reached the server.
  void NoteCutShort();
  bool StartFtp(const std::string& command);
  void StartHttp(const std::string& url, const std::string& method);
  std::string FtpBase() const;
  std::string ResolvePath(const std::string& path) const;
  static size_t Collect(char* data, size_t size, size_t count, void* self);
  static size_t ReadFile(char* data, size_t size, size_t count, void* self);

  CurlSession session_;
  bool executing_ = false;
  bool connected_ = false;
  std::string verb_;
  std::string pendingCwd_;  // becomes the current folder when the CD succeeds
  std::string cwd_;         // "" = the login folder
  std::string loginFolder_;
  std::string answer_;
  size_t answerPos_ = 0;
  long responseCode_ = 0;
  std::string responseInfo_;
  bool notWhole_ = false;
  long httpStatus_ = 0;
  std::FILE* upload_ = nullptr;
  std::string putPath_;   // the running PUT's remote path
  int64_t putBytes_ = 0;  // of the file handed to the connection so far
  int64_t putSize_ = -1;  // of the whole file; -1 unknown
  std::string cutShort_;  // the remote path of a PUT that Cancel cut short
};

}  // namespace fern::services
