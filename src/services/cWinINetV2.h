// Passive FTP: uploads a local folder tree to an FTP server over one connection, carries out
// single "PUT" and "DIR" commands, and explains WinINet error numbers in German.
//
// The connection is libcurl's (curl_session.h): one login for the whole folder, reused for
// every file, closed at the end of every transfer and command, also after a failure. A host
// text may carry a scheme: "ftps://host" (implicit TLS) or "ftpes://host" (AUTH TLS); a plain
// name is FTP. Remote folders are relative to the login folder unless they begin with "/".
//
// "DIR" asks MLSD first and, where the server refuses it, NLST and then LIST.
//
// Every failure is reported, never thrown: through WorkState 102 when `strict`, otherwise as
// InternalState -1; the call then returns False. Texts never contain the password.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "core/state_events.h"
#include "platform/variant.h"
#include "services/curl_session.h"

namespace fern {

class LanguagePack;

class cWinINetV2 : public StateEvents {
 public:
  // Translations go through `language` (none: the German texts as they stand).
  explicit cWinINetV2(const LanguagePack* language = nullptr);
  ~cWinINetV2();
  cWinINetV2(const cWinINetV2&) = delete;
  cWinINetV2& operator=(const cWinINetV2&) = delete;

  // Time-outs of every connection; tests shorten them.
  services::TransferLimits& Limits() { return session_.limits; }

  // Connects, uploads the folder tree (PutFolder) and closes. False when the login failed, any
  // folder or file failed, Esc was pressed, or there was nothing to send. A stop (Esc, Cancel)
  // ends the command in flight, the login included, at once and is not reported as a failure;
  // a file it cut short is removed. The port comes from a ":port" in `proxy` (else 21).
  bool PassiveFtpTransfer(const std::string& host, const std::string& user,
                          const std::string& password, const std::string& localFolder,
                          const std::string& remoteFolder, const std::string& extensions,
                          bool strict, const std::string& proxy);

  // "PUT <local path> <remote name>" gives Boolean, "DIR <pattern>" the listing text,
  // "SIZE <remote name>" the file's size where the server tells it (a refusal is no failure:
  // Reply has the server's answer), any other verb Empty (as does a failed login). Closes the
  // connection at the end.
  Variant FtpCommand(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& command, bool strict, const std::string& proxy);
  const std::string& GetListingText() const { return listing_; }
  // The server's answer to FtpCommand's SIZE ("213 1024", "550 ..."); "" when it gave none.
  const std::string& Reply() const { return reply_; }

  // Stops a running folder transfer at once (the command in flight is aborted).
  void Cancel() { cancelled_ = true; }
  // Asked between the polling steps of the login and of a "DIR" listing, which otherwise run
  // to their time-outs: a clean-up that goes on after a stop ends them at its own deadline.
  void StopCommandsWhen(services::CurlSession::StopFn stop) { commandStop_ = std::move(stop); }

  // "" when the login works (the connection then stays open until the object ends), else
  // advice for the user.
  std::string TestFtpZugang(const std::string& strHost, const std::string& strUser,
                            const std::string& strPWD, const std::string& strProxy = {});

  // The German explanation of a WinINet error number; "" for a number outside the table.
  std::string GetWinINetErrorText(int32_t code) const;

  // The proxy text's parts: the trimmed text before the first ":" (or all of it), `def` when
  // that is empty; the number after the first ":", `def` when there is none.
  static std::string GetHostPart(const std::string& text, const std::string& def);
  static int GetPortPart(const std::string& text, int def);

  // 1 (ASCII) for TXT, CSV, PHP4; 2 (binary) for JPG, GIF; 0 (binary too) for anything else.
  static int TransferType(const std::string& path);

  // Bytes per block of the upload, one progress line each.
  static constexpr size_t kBlockSize = 50000;

 private:
  // `stop` ends the login early (the folder transfer's stop; without it, the command stop);
  // a stop is not reported.
  bool Connect(const std::string& host, const std::string& user, const std::string& password,
               bool strict, const std::string& proxy,
               const services::CurlSession::StopFn& stop = {});
  // The folder transfer's stop: Cancel, Esc or a stop signal.
  services::CurlSession::StopFn Stop();
  bool CloseConnection();
  bool PutFolder(const std::string& localFolder, const std::string& remoteFolder,
                 const std::string& extensions, bool strict);
  bool PutFile(const std::string& localPath, const std::string& remoteName, bool strict);
  // `final`: no retry follows (a stop, the strict attempt), so what stays counts as an error.
  void RemovePartial(const std::string& remoteName, bool final);
  std::string ListDirectory(const std::string& pattern, bool strict);
  Variant RemoteSize(const std::string& remoteName);
  services::TransferResult RunListing(const std::string& url, const char* verb, std::string& body);
  // `notWhole`: the upload's text when the server does not hold the file whole (it stands for
  // the number's text).
  void ReportError(const std::string& action, bool strict, int32_t code,
                   const std::string& notWhole = {});
  std::string T(const std::string& german, const std::string& p1 = {},
                const std::string& p2 = {}) const;
  std::string Url(const std::string& remotePath) const;

  static size_t ReadBlock(char* buffer, size_t size, size_t count, void* self);

  const LanguagePack* language_;
  services::CurlSession session_;
  bool connected_ = false;
  std::string base_;  // "ftp://host:port"
  std::string user_;
  std::string password_;
  bool tls_ = false;
  std::string listing_;
  std::string reply_;
  services::CurlSession::StopFn commandStop_;

  // The file being uploaded.
  std::FILE* file_ = nullptr;
  int64_t fileLength_ = 0;
  int64_t sent_ = 0;
  bool readFailed_ = false;

  // The walk of one folder transfer.
  bool failed_ = false;     // a file failed
  bool cancelled_ = false;  // Esc: the walk stops
  int sentFiles_ = 0;
};

}  // namespace fern
