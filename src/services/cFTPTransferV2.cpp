#include "services/cFTPTransferV2.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/LanguagePack.h"
#include "host/cUtil.h"
#include "platform/base64.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/transfer_states.h"
#include "services/upload_walk.h"

namespace fern {

namespace fs = std::filesystem;

namespace {

using Control = services::InetControl;

constexpr int kStepMs = 500;  // one step of the polling loop
constexpr int kSliceMs = 20;  // inside a step: drive the transfer, pump events

const char* StateText(int16_t state, const char*& suffix) {
  suffix = "";
  switch (state) {
    case Control::kNone:
      suffix = "...";
      return "Kein Zustand definiert";
    case Control::kResolving:
      suffix = "...";
      return "Suche Host";
    case Control::kResolved:
      suffix = "!";
      return "Host gefunden";
    case Control::kConnecting:
      return "Baue Verbindung zum Host auf";
    case Control::kConnected:
      return "Verbindung aufgebaut";
    case Control::kRequesting:
      suffix = "...";
      return "Sende Anfrage an Host";
    case Control::kRequestSent:
      suffix = "!";
      return "Anfrage erfolgreich gesendet";
    case Control::kReceiving:
      suffix = "...";
      return "Erhalte Antwort vom Host";
    case Control::kResponseReceived:
      suffix = "!";
      return "Antwort vollständig erhalten";
    case Control::kDisconnecting:
      suffix = "...";
      return "Baue Verbindung zum Host ab";
    case Control::kDisconnected:
      return "Verbindung beendet";
    case Control::kResponseCompleted:
      return "Letzte Aktion erfolgreich durchgeführt";
    default:
      return nullptr;
  }
}

}  // namespace

cFTPTransferV2::cFTPTransferV2() {
  inet_.StateChanged = [this](int16_t state) { OnStateChanged(state); };
  inet_.StopWhen = [this] { return Cancelled(); };
}

cFTPTransferV2::~cFTPTransferV2() { inet_.Close(); }

std::string cFTPTransferV2::T(const std::string& german, const std::string& p1,
                              const std::string& p2) const {
  return Translate(language_, german, {p1, p2});
}

void cFTPTransferV2::Init(const std::string&, const TransferHost& KVApp) {
  if (KVApp.Util) {
    if (KVApp.DBIni) KVApp.Util->JPGFrameInit(*KVApp.DBIni);
    language_ = &KVApp.Util->Language();
    const std::string active =
        KVApp.Util->IniGet("FTP", "ACTIVE_FTP", "0", KVApp.Folder + "\\kavantor.ini");
    passive_ = !cUtil::b(Variant(active));
  }
}

void cFTPTransferV2::ApplyProxyRule(const std::string& rule) {
  const std::string upper = vb::UCase(rule);
  if (upper.empty()) {
    inet_.Proxy.clear();
    inet_.AccessType = Control::kDirect;
  } else if (upper == "USEDEFAULT") {
    inet_.Proxy.clear();
    inet_.AccessType = Control::kSystemProxy;
  } else {
    inet_.Proxy = rule;
    inet_.AccessType = Control::kNamedProxy;
  }
}

void cFTPTransferV2::OnStateChanged(int16_t state) {
  lastState_ = state;
  if (state == Control::kError) {
    // A file the server holds in part is named with its figures, not with a number that
    // would call it a dropped session.
    const std::string code =
        inet_.NotWhole() ? std::string()
                         : T("Fehlercode") + ": " + std::to_string(inet_.ResponseCode()) + " ";
    const std::string text = T("Fehler aufgetreten bei Übertragung an %1", inet_.RemoteHost) + " " +
                             code + inet_.ResponseInfo();
    RaiseWorkState(state::kError, text);
    return;
  }
  const char* suffix = "";
  const char* german = StateText(state, suffix);
  const std::string text = german ? T(german) + suffix : std::string();
  if (state == Control::kDisconnected || state >= Control::kResponseCompleted)
    RaiseInternalState(services::istate::kDone, text);
  else
    RaiseInternalState(state, text);
}

bool cFTPTransferV2::Cancelled() const { return cancel_ || EscPressed(); }

cFTPTransferV2::CommandOutcome cFTPTransferV2::ExecuteAndWait(const std::string& command) {
  if (Cancelled()) return CommandOutcome::kUnanswered;
  RaiseInternalState(services::istate::kCommand, command);
  lastState_ = Control::kNone;
  inet_.Limits() = limits_;
  inet_.Execute(inet_.URL, command);
  for (;;) {
    // One step: the transfer is driven and events pumped until it ends or the step is over.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepMs);
    bool done = false;
    while (!done && std::chrono::steady_clock::now() < end) {
      done = inet_.Step(kSliceMs);
      PumpEvents();
      if (Cancelled()) break;
    }
    if (Cancelled()) {
      inet_.Cancel();
      lastState_ = Control::kNone;
      return CommandOutcome::kUnanswered;
    }
    if (!inet_.StillExecuting()) {
      if (lastState_ == Control::kDisconnected || lastState_ == Control::kResponseCompleted)
        return CommandOutcome::kDone;
      return lastState_ == Control::kError ? CommandOutcome::kFailed : CommandOutcome::kUnanswered;
    }
  }
}

bool cFTPTransferV2::FtpSendFolder(const std::string& host, const std::string& user,
                                   const std::string& password, const std::string& localFolder,
                                   const std::string& remoteFolder, const std::string& extensions,
                                   const std::string& proxyRule, bool strict) {
  inet_.Cancel();
  inet_.URL.clear();
  inet_.Protocol = services::InetControl::kFtp;
  ApplyProxyRule(proxyRule);
  inet_.RemoteHost = host;
  inet_.UserName = user;
  inet_.Password = password;
  cancel_ = false;
  failed_ = false;
  sentFiles_ = 0;
  running_ = true;
  bool result = TransferFolder(localFolder, remoteFolder, extensions, strict);
  if (Cancelled() && !cancel_) ForceCancel();  // Esc seen where nothing reported it yet
  running_ = false;
  if (!passive_) {
    if (lastState_ != Control::kNone && lastState_ != Control::kDisconnected &&
        lastState_ != Control::kResponseCompleted)
      result = false;
    if (!Cancelled()) ExecuteAndWait("CLOSE");
    inet_.Close();
  }
  return result;
}

bool cFTPTransferV2::TransferFolder(const std::string& local, const std::string& remote,
                                    const std::string& extensions, bool strict) {
  // Without this, a missing folder sends nothing and the upload fails without a word.
  std::error_code ec;
  bool isFolder = false;
  try {
    isFolder = fs::is_directory(ResolveHostPath(local), ec);
  } catch (const HostError&) {
  }
  if (!isFolder) {
    RaiseWorkState(state::kError,
                   ">>>> " + T("Lokaler Ordner '%1' für die Übertragung nicht gefunden", local));
    failed_ = true;
    return false;
  }
  if (passive_) {
    RaiseWorkState(state::kInfo, "Use PassiveFTP");
    wininet_ = std::make_unique<cWinINetV2>(language_);
    wininet_->Limits() = limits_;
    Relay(*wininet_);
    return wininet_->PassiveFtpTransfer(inet_.RemoteHost, inet_.UserName, inet_.Password, local,
                                        remote, extensions, strict, inet_.Proxy);
  }
  RaiseWorkState(state::kInfo, "Use ActiveFTP");
  std::string top = remote;
  if (top.empty()) {
    // Below an empty remote folder everything stays in the login folder, whose path the
    // absolute folder commands then need.
    if (ExecuteAndWait("PWD ") != CommandOutcome::kDone) {
      failed_ = true;
      return false;
    }
    top = inet_.LoginFolder();
    while (!top.empty() && top.front() == '/') top.erase(0, 1);
    while (!top.empty() && top.back() == '/') top.pop_back();
  }
  std::string real;
  try {
    real = ResolveHostPath(local).string();
  } catch (const HostError& e) {
    RaiseWorkState(state::kError, e.description());
    failed_ = true;
    return false;
  }
  PutFolderActive(real, top, extensions, strict);
  return !failed_ && !Cancelled() && sentFiles_ > 0;
}

bool cFTPTransferV2::PutFolderActive(const std::string& local, const std::string& remote,
                                     const std::string& extensions, bool strict) {
  if (Cancelled()) {
    ForceCancel();
    return false;
  }
  if (!remote.empty()) {
    ExecuteAndWait("MKDIR /" + remote);
    ExecuteAndWait("CD /" + remote);
    ExecuteAndWait("PWD ");
    const std::string answer = inet_.GetChunk(1024);
    if (answer.find(remote) != std::string::npos && !Cancelled()) {
      ExecuteAndWait("CD /");
    } else {
      if (Cancelled()) return false;
      if (strict)
        RaiseWorkState(state::kError, T("Ausführen von 'MKDIR' %1 fehlgeschlagen!", remote));
      else
        RaiseInternalState(services::istate::kDetail,
                           "FTPVersuch: Ausführen von 'MKDIR' " + remote + " fehlgeschlagen!");
      failed_ = true;
      return false;
    }
  }
  const services::FolderContent content = services::ListFolder(local);
  for (const fs::path& sub : content.folders) {
    PutFolderActive(sub.string(), services::RemoteChild(remote, sub.filename().string()),
                    extensions, strict);
    if (Cancelled()) return false;
  }
  for (const fs::path& file : content.files) {
    if (Cancelled()) return false;
    const std::string name = file.filename().string();
    const std::string remoteName = services::RemoteChild(remote, name);
    // Names with blanks (every archive starts with the portal's name) are quoted.
    auto quoted = [](const std::string& s) {
      return s.find(' ') == std::string::npos ? s : "\"" + s + "\"";
    };
    const std::string line = "PUT " + quoted(file.string()) + " " + quoted(remoteName);
    RaiseWorkState(state::kInfo, line);
    const bool all = vb::Trim(extensions).empty();
    if (!all && !services::ExtensionListed(extensions, name)) continue;
    const CommandOutcome rc = ExecuteAndWait(line);
    if (all) RaiseWorkState(state::kInfo, line);
    if (rc == CommandOutcome::kDone) {
      ++sentFiles_;
    } else if (inet_.CutShortUpload()) {
      // Stopped in the middle of the file: a portal must not import the part that arrived.
      if (inet_.RemoveCutShortUpload().ok())
        RaiseInternalState(services::istate::kDetail,
                           "Unvollständige Datei " + remoteName + " auf dem Server gelöscht");
      else
        RaiseWorkState(state::kError, T("Unvollständige Datei %1 konnte auf dem Server nicht "
                                        "gelöscht werden",
                                        remoteName));
      return false;
    } else {
      failed_ = true;
      // What a dropped upload left under the final name must not be imported before the retry.
      if (rc == CommandOutcome::kFailed) ExecuteAndWait("DELETE " + remoteName);
    }
  }
  return !failed_;
}

bool cFTPTransferV2::HttpTransfer(const std::string& URL, const std::string& command,
                                  const std::string& proxyRule) {
  inet_.Cancel();
  inet_.URL.clear();
  inet_.Protocol = services::InetControl::kHttp;
  inet_.UserName.clear();
  inet_.Password.clear();
  inet_.URL = URL;
  ApplyProxyRule(proxyRule);
  cancel_ = false;
  const CommandOutcome rc = ExecuteAndWait(command);
  if (rc == CommandOutcome::kUnanswered && Cancelled()) {
    // Esc or ForceCancel: the request was not answered.
    ReportStopped();
    return false;
  }
  // A failure (state 11) has been reported by the state handler.
  return rc == CommandOutcome::kDone;
}

Variant cFTPTransferV2::FtpExecute(const std::string& host, const std::string& user,
                                   const std::string& password, const std::string& command) {
  inet_.Cancel();
  inet_.URL.clear();
  inet_.Protocol = services::InetControl::kFtp;
  inet_.RemoteHost = host;
  inet_.UserName = user;
  inet_.Password = password;
  cancel_ = false;
  const std::string upper = vb::UCase(command);
  if (passive_ && (upper.rfind("PUT ", 0) == 0 || upper.rfind("DIR ", 0) == 0)) {
    wininet_ = std::make_unique<cWinINetV2>(language_);
    wininet_->Limits() = limits_;
    Relay(*wininet_);
    return wininet_->FtpCommand(host, user, password, command, true, inet_.Proxy);
  }
  ExecuteAndWait(command);
  return static_cast<int32_t>(inet_.ResponseCode());
}

std::string cFTPTransferV2::GetResponseText() {
  std::string whole;
  for (std::string piece = inet_.GetChunk(1024); !piece.empty(); piece = inet_.GetChunk(1024))
    whole += piece;
  whole = vb::Trim(whole);
  if (whole.empty() && passive_ && wininet_) return wininet_->GetListingText();
  return whole;
}

XmlDocumentPtr cFTPTransferV2::HTTPRequest(const std::string& method, const XmlDocumentPtr& body,
                                           const std::string& answerFolder,
                                           const std::string& fileName, const std::string& URL,
                                           std::string& user, const std::string& password) {
  services::CurlSession request;
  request.limits = limits_;
  request.SetSecret(password);
  cancel_ = false;
  auto fail = [&](int64_t number, const std::string& description) {
    RaiseWorkState(state::kError, request.Mask(T("Fehler bei HTTPRequest:") + " " +
                                               std::to_string(number) + " " + description + ";"));
    return XmlDocumentPtr();
  };
  try {
    RaiseWorkState(state::kTransferBegins,
                   T("Die Datei %1 wird gesendet - warten auf Antwort", fileName));
    if (!body) return fail(err::kObjectNotSet, "Object variable not set");
    const services::HttpReply reply =
        request.PostXml(URL, body->xml(), {user, password}, method, [this] { return Cancelled(); });
    if (reply.result.kind == services::TransferResult::Kind::kCancelled) {
      ReportStopped();
      return XmlDocumentPtr();
    }
    if (!reply.result.ok()) return fail(reply.result.wininetError, reply.result.message);
    const std::string& answer = reply.body;

    RaiseWorkState(state::kTransferDone, T("Datei %1: Antwort erhalten", fileName));
    const std::string answerPath =
        ResolveHostPath(answerFolder + "\\" + vb::Replace(fileName, " ", "_") + "answer.xml")
            .string();
    XmlDocumentPtr doc = XmlDocument::Create();
    doc->setValidateOnParse(false);
    if (!doc->loadXML(answer)) {
      // No XML: the answer is kept byte for byte, then read back as the portal sent it.
      std::ofstream(answerPath, std::ios::binary | std::ios::trunc) << answer;
      if (!doc->load(answerPath)) {
        const auto error = doc->parseError();
        return fail(error->errorCode, vb::Trim(error->reason));
      }
    }
    doc->save(answerPath);
    return doc;
  } catch (const HostError& e) {
    return fail(e.number(), e.description());
  } catch (const std::exception& e) {
    return fail(err::kPathFileAccess, e.what());
  }
}

std::string cFTPTransferV2::Encode(const std::string& Source) { return Base64Encode(Source); }

std::string cFTPTransferV2::EncodeFile(const std::string& path) {
  try {
    std::ifstream in(ResolveHostPath(path), std::ios::binary);
    if (!in) return {};
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return {};
    return Encode(bytes);
  } catch (const std::exception&) {
    return {};
  }
}

std::string cFTPTransferV2::FormatDecimal(const std::string& format, const std::string& value) {
  std::string text = vb::Replace(vb::Format(Variant(value), format), ",", ".");
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

void cFTPTransferV2::ForceCancel() {
  const bool wasRunning = running_;
  cancel_ = true;
  if (wininet_) wininet_->Cancel();
  if (wasRunning)
    ReportStopped();
  else
    RaiseWorkState(state::kCancelled, "\r\n" + T("Prozess bereits beendet"));
}

void cFTPTransferV2::ReportStopped() {
  RaiseWorkState(state::kCancelled, "\r\n" + T("Prozess extern beendet"));
}

bool cFTPTransferV2::IsOnline(const std::string& strUrl, int32_t lngTimeout) {
  services::InetControl control;
  control.Limits() = limits_;
  control.RequestTimeoutSeconds = lngTimeout;
  control.AccessType = Control::kDirect;
  control.Protocol = services::InetControl::kHttp;
  control.StopWhen = [] { return EscPressed(); };
  control.Execute(strUrl, "GET");
  while (!control.Step(kSliceMs)) {
    PumpEvents();
    if (EscPressed()) {
      control.Cancel();
      return false;
    }
  }
  return control.HttpStatus() < 400 && !control.GetChunk(1).empty();
}

}  // namespace fern
