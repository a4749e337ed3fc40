// The transport layer under the exporters: folder uploads by FTP (active through the transfer
// control's command sequence, passive through cWinINetV2), HTTP requests with their answer,
// the XML post whose answer document is kept as a file, Base64 and a decimal formatter.
//
// Every step is reported through WorkState/InternalState; cWinINetV2's events are relayed under
// the same names. Waiting is done in half-second steps that drive the transfer and pump window
// events; Esc (or ForceCancel) ends the wait. Failures are reported and returned, never thrown.
// Credentials never appear in a reported text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/state_events.h"
#include "platform/variant.h"
#include "services/cWinINetV2.h"
#include "services/inet_control.h"
#include "xml/xml_dom.h"

namespace fern {

class cUtil;
class Dispatch;
class LanguagePack;

// What the run's session object hands the transfer layer.
struct TransferHost {
  cUtil* Util = nullptr;      // the host utility: INI access, picture frame, language pack
  Dispatch* DBIni = nullptr;  // the settings object; none: no picture-frame settings are read
  std::string Folder;         // the host folder (holds "kavantor.ini")
};

class cFTPTransferV2 : public StateEvents {
 public:
  cFTPTransferV2();
  ~cFTPTransferV2();
  cFTPTransferV2(const cFTPTransferV2&) = delete;
  cFTPTransferV2& operator=(const cFTPTransferV2&) = delete;

  // The run's content language, kept for the listing-data service; not read here.
  std::string m_strTransLang;

  // Loads the picture-frame settings into the host utility and reads the FTP mode: passive
  // unless "kavantor.ini" [FTP] ACTIVE_FTP is true. strConnect is not used.
  void Init(const std::string& strConnect, const TransferHost& KVApp);
  bool Passive() const { return passive_; }

  // Time-outs of every connection, for both modes and HTTP; tests shorten them.
  services::TransferLimits& Limits() { return limits_; }

  // Uploads the local folder tree into the remote folder (created when missing; "" is the
  // login folder). `extensions` is a blank-separated list of whole extensions ("BIG DIR PHP"),
  // "" for every file. `proxyRule`: "" direct, "USEDEFAULT" the system's, else a proxy name;
  // in passive mode its ":port" is the FTP port. A host text may carry a scheme and ":port"
  // (see inet_control.h). False when the login, any folder or any file failed, when Esc or
  // ForceCancel stopped the walk (it stops at once), or when there was nothing to send; the
  // connection is closed in every case. `strict` reports failures as WorkState 102, otherwise
  // as log lines.
  bool FtpSendFolder(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& localFolder, const std::string& remoteFolder,
                     const std::string& extensions, const std::string& proxyRule, bool strict);

  // One HTTP request (callers pass "GET"); a URL without scheme is HTTP. False on a transport
  // error, a cancel or a status of 400 and above, each reported as WorkState 100 or 102. The
  // answer is read afterwards with GetResponseText.
  bool HttpTransfer(const std::string& URL, const std::string& command,
                    const std::string& proxyRule);

  // One FTP command through the control (the control's ResponseCode, 0 for success); in
  // passive mode "PUT ..." and "DIR ..." go to cWinINetV2 (Boolean, listing text).
  Variant FtpExecute(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& command);

  // The whole answer of the last command, trimmed; in passive mode, when that is empty, the
  // last passive "DIR" listing.
  std::string GetResponseText();

  // Posts the document and keeps the answer as "<folder>\<file name, blanks as _>answer.xml".
  // Returns the answer document, or null after a reported failure (WorkState 102): transport
  // error, or an answer that is no XML (its bytes are then kept in the answer file as they came).
  // A stop (Esc, ForceCancel) ends the request at once and is reported as ForceCancel does.
  XmlDocumentPtr HTTPRequest(const std::string& method, const XmlDocumentPtr& body,
                             const std::string& answerFolder, const std::string& fileName,
                             const std::string& URL, std::string& user,
                             const std::string& password);

  // Standard Base64 (RFC 4648, "=" padding, no line breaks) of the bytes as they stand.
  static std::string Encode(const std::string& Source);
  // Base64 of the whole file; "" for an empty or unreadable file.
  static std::string EncodeFile(const std::string& path);
  // Format(value, pattern) with "," turned into "." and a final "." dropped ("0.00", "12,5" ->
  // "12.50").
  static std::string FormatDecimal(const std::string& format, const std::string& value);

  // Sets the cancel mark: a running folder upload or request stops at once (the command in
  // flight is aborted). Reports "Prozess extern beendet" while a folder upload runs, "Prozess
  // bereits beendet" otherwise. The next upload or request starts with the mark cleared.
  void ForceCancel();

  // True when a GET of the address answers with a non-empty body within lngTimeout seconds.
  bool IsOnline(const std::string& strUrl, int32_t lngTimeout);

  // The control's last reported state (0 to 12), reset before each command.
  int16_t LastState() const { return lastState_; }

 private:
  std::string T(const std::string& german, const std::string& p1 = {},
                const std::string& p2 = {}) const;
  void ApplyProxyRule(const std::string& rule);
  void OnStateChanged(int16_t state);
  // How a command given to the transfer control ended: answered, failed, or neither (cancelled,
  // or the control stopped without a result state).
  enum class CommandOutcome { kDone, kFailed, kUnanswered };
  CommandOutcome ExecuteAndWait(const std::string& command);
  bool TransferFolder(const std::string& local, const std::string& remote,
                      const std::string& extensions, bool strict);
  bool PutFolderActive(const std::string& local, const std::string& remote,
                       const std::string& extensions, bool strict);
  bool Cancelled() const;
  // WorkState 100: a stop ended the upload or request in flight.
  void ReportStopped();

  const LanguagePack* language_ = nullptr;
  bool passive_ = true;
  services::TransferLimits limits_;
  services::InetControl inet_;
  std::unique_ptr<cWinINetV2> wininet_;
  int16_t lastState_ = 0;
  bool running_ = false;
  bool cancel_ = false;
  bool failed_ = false;
  int sentFiles_ = 0;
};

}  // namespace fern
