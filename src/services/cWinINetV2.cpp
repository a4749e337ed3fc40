#include "services/cWinINetV2.h"

#include <cctype>
#include <filesystem>
#include <functional>

#include "host/LanguagePack.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/curl_handle.h"
#include "services/transfer_states.h"
#include "services/upload_walk.h"

namespace fern {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kFileNotFound = 2;  // the system's number when the local file can't be read

// The kept connection prepared for a transfer with the login.
CURL* PrepareLogin(services::CurlSession& session, const std::string& user,
                   const std::string& password, bool tls) {
  CURL* easy = services::CurlAccess::Prepare(session);
  curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
  if (tls) curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  services::CurlAccess::LimitFtpTls(session);
  // Every path is sent whole, relative to the login folder: no CWD, so a reused connection
  // never depends on where an earlier transfer left it.
  curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  return easy;
}

size_t CollectBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// "modify=20240305140709;size=3;type=file; name" -> name and "05.03.2024 14:07:09".
bool ParseMlsdLine(const std::string& line, std::string& name, std::string& when) {
  const size_t blank = line.find(' ');
  if (blank == std::string::npos) return false;
  name = line.substr(blank + 1);
  const std::string facts = vb::LCase(line.substr(0, blank));
  if (facts.find("type=dir") != std::string::npos || facts.find("type=cdir") != std::string::npos ||
      facts.find("type=pdir") != std::string::npos)
    return false;
  when.clear();
  const size_t m = facts.find("modify=");
  if (m != std::string::npos && facts.size() >= m + 21) {
    const std::string d = facts.substr(m + 7, 14);
    auto num = [&](size_t at, size_t n) { return std::atoi(d.substr(at, n).c_str()); };
    const double serial = vb::DateSerial(num(0, 4), num(4, 2), num(6, 2)) +
                          vb::TimeSerial(num(8, 2), num(10, 2), num(12, 2));
    when = vb::Format(Variant::Date(serial), "General Date");
  }
  return true;
}

// A name of an NLST answer: some servers put the listed folder in front.
bool ParseNlstLine(const std::string& line, std::string& name) {
  name = line.substr(line.rfind('/') + 1);
  return !name.empty() && name != "." && name != "..";
}

// A file of a LIST answer, Unix style ("-rw-r--r-- 1 u g 3 Dec 07 07:38 a b.txt") or DOS style
// ("12-07-26  07:38AM  3 a b.txt"); folders and anything else are passed over.
bool ParseListLine(const std::string& line, std::string& name) {
  const bool dos = !line.empty() && std::isdigit(static_cast<unsigned char>(line[0]));
  if (!dos && (line.empty() || (line[0] != '-' && line[0] != 'l'))) return false;
  const int fields = dos ? 3 : 8;
  size_t at = 0;
  std::string last;
  for (int k = 0; k < fields; ++k) {
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos) return false;
    const size_t end = line.find(' ', at);
    last = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end;
  }
  if (at == std::string::npos || (dos && last == "<DIR>")) return false;
  name = line.substr(line.find_first_not_of(' ', at));
  if (line[0] == 'l') name = name.substr(0, name.find(" -> "));
  return !name.empty();
}

}  // namespace

cWinINetV2::cWinINetV2(const LanguagePack* language) : language_(language) {}

cWinINetV2::~cWinINetV2() {
  if (file_) std::fclose(file_);
  CloseConnection();
}

std::string cWinINetV2::T(const std::string& german, const std::string& p1,
                          const std::string& p2) const {
  return Translate(language_, german, {p1, p2});
}

std::string cWinINetV2::GetHostPart(const std::string& text, const std::string& def) {
  std::string part = vb::Trim(text);
  const size_t colon = part.find(':');
  if (colon != std::string::npos) part = vb::Trim(part.substr(0, colon));
  return part.empty() ? def : part;
}

int cWinINetV2::GetPortPart(const std::string& text, int def) {
  const std::string trimmed = vb::Trim(text);
  const size_t colon = trimmed.find(':');
  if (colon == std::string::npos) return def;
  const std::string rest = vb::Trim(trimmed.substr(colon + 1));
  if (rest.empty()) return def;
  return std::atoi(rest.c_str());
}

int cWinINetV2::TransferType(const std::string& path) {
  const std::string ext = vb::UCase(cUtil::GetFileExtender(path));
  if (ext == "TXT" || ext == "CSV" || ext == "PHP4") return 1;
  if (ext == "JPG" || ext == "GIF") return 2;
  return 0;
}

std::string cWinINetV2::Url(const std::string& remotePath) const {
  return base_ + "/" + services::EscapeUrlPath(remotePath);
}

bool cWinINetV2::Connect(const std::string& host, const std::string& user,
                         const std::string& password, bool strict, const std::string& proxy,
                         const services::CurlSession::StopFn& stop) {
  listing_.clear();
  if (!CloseConnection()) return false;

  const services::FtpEndpoint endpoint = services::FtpEndpointOf(host, GetPortPart(proxy, 0));
  base_ = endpoint.base;
  tls_ = endpoint.explicitTls;
  user_ = user;
  password_ = password;
  session_.SetSecret(password);

  // A request without body on the login folder: connect, log in, nothing else.
  CURL* easy = PrepareLogin(session_, user_, password_, tls_);
  curl_easy_setopt(easy, CURLOPT_URL, (base_ + "/").c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  const services::TransferResult result = session_.Run(stop ? stop : commandStop_);
  if (!result.ok()) {
    // A stop is no failure of the server; whoever stopped says so.
    if (result.kind == services::TransferResult::Kind::kCancelled)
      cancelled_ = true;
    else
      ReportError("Verbindungsaufbau zu " + host, strict, result.wininetError);
    CloseConnection();
    return false;
  }
  connected_ = true;
  return true;
}

services::CurlSession::StopFn cWinINetV2::Stop() {
  return [this] { return cancelled_ || EscPressed(); };
}

bool cWinINetV2::CloseConnection() {
  session_.Close();
  connected_ = false;
  return true;
}

bool cWinINetV2::PassiveFtpTransfer(const std::string& host, const std::string& user,
                                    const std::string& password, const std::string& localFolder,
                                    const std::string& remoteFolder, const std::string& extensions,
                                    bool strict, const std::string& proxy) {
  std::string local;
  try {
    local = ResolveHostPath(localFolder).string();
  } catch (const HostError& e) {
    const std::string text = T(">>>> Fehler:") + std::to_string(e.number()) + " " +
                             e.description() + " bei " + localFolder;
    if (strict)
      RaiseWorkState(state::kError, text);
    else
      RaiseInternalState(services::istate::kFailure, text);
    return false;
  }
  bool ok = false;
  failed_ = false;
  cancelled_ = false;
  sentFiles_ = 0;
  if (Connect(host, user, password, strict, proxy, Stop())) {
    PutFolder(local, remoteFolder, extensions, strict);
    ok = !failed_ && !cancelled_ && sentFiles_ > 0;
  }
  CloseConnection();
  return ok;
}

bool cWinINetV2::PutFolder(const std::string& localFolder, const std::string& remoteFolder,
                           const std::string& extensions, bool strict) {
  if (cancelled_ || EscPressed()) {
    cancelled_ = true;
    return false;
  }
  if (!remoteFolder.empty()) {
    // Missing parents are made first; an existing folder is fine, so no answer is checked.
    CURL* easy = PrepareLogin(session_, user_, password_, tls_);
    std::vector<std::string> quote;
    for (const std::string& folder : services::FolderChain(remoteFolder))
      quote.push_back("*MKD " + folder);
    curl_easy_setopt(easy, CURLOPT_URL, (base_ + "/").c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    services::CurlAccess::SetQuote(session_, quote);
    if (session_.Run(Stop()).kind == services::TransferResult::Kind::kCancelled) {
      cancelled_ = true;
      return false;
    }
  }

  const services::FolderContent content = services::ListFolder(localFolder);
  bool result = false;
  for (const fs::path& sub : content.folders) {
    if (cancelled_) return false;
    result = PutFolder(sub.string(), services::RemoteChild(remoteFolder, sub.filename().string()),
                       extensions, strict);
  }
  for (const fs::path& file : content.files) {
    if (cancelled_ || EscPressed()) {
      cancelled_ = true;
      return false;
    }
    const std::string name = file.filename().string();
    if (!services::ExtensionListed(extensions, name)) continue;
    result = PutFile(file.string(), services::RemoteChild(remoteFolder, name), strict);
  }
  return result;
}

size_t cWinINetV2::ReadBlock(char* buffer, size_t size, size_t count, void* self) {
  auto* me = static_cast<cWinINetV2*>(self);
  const int64_t inBlock = static_cast<int64_t>(kBlockSize) - me->sent_ % kBlockSize;
  const int64_t want =
      std::min<int64_t>({static_cast<int64_t>(size * count), inBlock, me->fileLength_ - me->sent_});
  if (want <= 0) return 0;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(want), me->file_);
  if (got != static_cast<size_t>(want)) {
    me->readFailed_ = true;
    return CURL_READFUNC_ABORT;
  }
  me->sent_ += static_cast<int64_t>(got);
  if (me->sent_ % kBlockSize == 0 || me->sent_ == me->fileLength_) {
    me->RaiseInternalState(
        services::istate::kProgress,
        vb::Format(static_cast<double>(me->sent_) / static_cast<double>(me->fileLength_ + 1),
                   "##%") +
            " übertragen von " +
            vb::Format(static_cast<double>(me->fileLength_), "###,###,### Bytes"));
  }
  return got;
}

bool cWinINetV2::PutFile(const std::string& localPath, const std::string& remoteName, bool strict) {
  const int type = TransferType(localPath);
  RaiseInternalState(services::istate::kCommand, "Übertrage Datei " + localPath);
  RaiseInternalState(services::istate::kVersion, "IEVersion:0");

  auto fail = [&](int32_t code, const std::string& notWhole = {}) {
    ReportError(T("Übertragen von Datei %1 nach %2", localPath, remoteName), strict, code,
                notWhole);
    if (file_) std::fclose(file_);
    file_ = nullptr;
    failed_ = true;
    return false;
  };

  file_ = std::fopen(localPath.c_str(), "rb");
  if (!file_) return fail(kFileNotFound);
  std::error_code ec;
  fileLength_ = static_cast<int64_t>(fs::file_size(localPath, ec));
  if (ec) return fail(kFileNotFound);
  sent_ = 0;
  readFailed_ = false;

  CURL* easy = PrepareLogin(session_, user_, password_, tls_);
  curl_easy_setopt(easy, CURLOPT_URL, Url(remoteName).c_str());
  curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, &cWinINetV2::ReadBlock);
  curl_easy_setopt(easy, CURLOPT_READDATA, this);
  curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, curl_off_t{fileLength_});
  curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, type == 1 ? 1L : 0L);
  // A text transfer changes line ends on the way, so only a binary one has a size to compare.
  if (type != 1) services::CurlAccess::AskSizeAfter(session_, remoteName);
  services::TransferResult result = session_.Run(Stop());
  if (result.ok() && !readFailed_ && type != 1 &&
      services::CurlAccess::HeldOtherThanSent(session_, fileLength_, remoteName))
    result = session_.LastResult();
  if (result.kind == services::TransferResult::Kind::kCancelled && !readFailed_) {
    // Stopped: no failure to report, but what went out of the file must not stay.
    cancelled_ = true;
    std::fclose(file_);
    file_ = nullptr;
    if (sent_ > 0) RemovePartial(remoteName, true);
    return false;
  }
  if (!result.ok() || readFailed_) {
    const bool ok = readFailed_       ? fail(kFileNotFound)
                    : result.notWhole ? fail(result.wininetError, result.message)
                                      : fail(result.wininetError);
    if (sent_ > 0) RemovePartial(remoteName, strict);
    return ok;
  }
  std::fclose(file_);
  file_ = nullptr;
  ++sentFiles_;
  RaiseInternalState(services::istate::kDone,
                     T("Fertig mit Übertragung von Datei %1", cUtil::GetFileName(localPath)));
  return true;
}

// A portal may import what a dropped upload left under the final name before the retry sends it
// whole. Also after a stop, within the budget. Best effort: what the server keeps is named in
// the log, and counted as an error when no retry follows.
void cWinINetV2::RemovePartial(const std::string& remoteName, bool final) {
  const services::Deadline deadline = services::RemovalDeadline();
  const services::TransferLimits kept = session_.limits;
  session_.limits = deadline.Fit(kept);
  CURL* easy = PrepareLogin(session_, user_, password_, tls_);
  curl_easy_setopt(easy, CURLOPT_URL, (base_ + "/").c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  services::CurlAccess::SetQuote(session_, {"DELE " + remoteName});
  const bool removed = session_.Run(deadline.Stop()).ok();
  session_.limits = kept;
  if (removed)
    RaiseInternalState(services::istate::kDetail,
                       "Unvollständige Datei " + remoteName + " auf dem Server gelöscht");
  else if (final)
    RaiseWorkState(
        state::kError,
        T("Unvollständige Datei %1 konnte auf dem Server nicht gelöscht werden", remoteName));
  else
    RaiseInternalState(
        services::istate::kDetail,
        "Unvollständige Datei " + remoteName + " konnte auf dem Server nicht gelöscht werden");
}

void cWinINetV2::ReportError(const std::string& action, bool strict, int32_t code,
                             const std::string& notWhole) {
  if (!notWhole.empty()) {
    // Named with its figures, not with a number that would call it a dropped session.
    const std::string text = session_.Mask(T(">>>> Fehler:") + " " + notWhole + " bei " + action);
    if (strict)
      RaiseWorkState(state::kError, text);
    else
      RaiseInternalState(services::istate::kFailure, text);
    return;
  }
  // A refusal is explained by the server's answer; anything else by what libcurl saw.
  std::string answer;
  if (code == 12003 || code == 12013 || code == 12014 || code == 12015)
    answer = session_.LastAnswer();
  if (answer.empty() && code != kFileNotFound) answer = session_.ErrorText();
  answer = vb::Replace(answer, "\n", "/ ");
  const std::string text =
      session_.Mask(T(">>>> Fehler:") + std::to_string(code) + " " + GetWinINetErrorText(code) +
                    " " + vb::Trim(answer) + " bei " + action);
  if (strict)
    RaiseWorkState(state::kError, text);
  else
    RaiseInternalState(services::istate::kFailure, text);
}

services::TransferResult cWinINetV2::RunListing(const std::string& url, const char* verb,
                                                std::string& body) {
  body.clear();
  CURL* easy = PrepareLogin(session_, user_, password_, tls_);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  if (std::string(verb) == "NLST")
    curl_easy_setopt(easy, CURLOPT_DIRLISTONLY, 1L);
  else
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CollectBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  return session_.Run(commandStop_);
}

std::string cWinINetV2::ListDirectory(const std::string& pattern, bool strict) {
  std::string folder, mask = pattern;
  const size_t slash = pattern.rfind('/');
  if (slash != std::string::npos) {
    folder = pattern.substr(0, slash);
    mask = pattern.substr(slash + 1);
  }
  if (mask.empty()) mask = "*";
  const std::string url = Url(folder) + (folder.empty() ? "" : "/");
  // MLSD gives dates and tells files from folders, but many servers don't know it; NLST gives
  // bare names, and some servers refuse it for an empty folder, which LIST then shows.
  const struct {
    const char* verb;
    std::function<bool(const std::string&, std::string&, std::string&)> parse;
  } commands[] = {
      {"MLSD", &ParseMlsdLine},
      {"NLST",
       [](const std::string& l, std::string& n, std::string&) { return ParseNlstLine(l, n); }},
      {"LIST",
       [](const std::string& l, std::string& n, std::string&) { return ParseListLine(l, n); }},
  };
  std::string body;
  services::TransferResult result;
  for (const auto& command : commands) {
    result = RunListing(url, command.verb, body);
    if (result.ok()) {
      std::string text;
      for (const std::string& line : text::SplitLines(body)) {
        std::string name, when;
        if (line.empty() || !command.parse(line, name, when) || !MatchesMask(name, mask)) continue;
        text += "\r\n" + name + " " + when;
      }
      return text;
    }
    // Only a refusal is worth another command: a dead line stays dead.
    if (result.kind != services::TransferResult::Kind::kFailed || session_.ResponseCode() < 400)
      break;
  }
  ReportError("DIR " + pattern, strict, result.wininetError);
  return {};
}

Variant cWinINetV2::FtpCommand(const std::string& host, const std::string& user,
                               const std::string& password, const std::string& command, bool strict,
                               const std::string& proxy) {
  const std::string verb = vb::UCase(command.substr(0, command.find(' ')));
  const std::string rest =
      vb::Trim(command.size() > verb.size() ? command.substr(verb.size()) : std::string());
  Variant result;
  reply_.clear();
  if (Connect(host, user, password, strict, proxy)) {
    if (verb == "PUT") {
      const size_t lastBlank = rest.rfind(' ');
      const std::string remote = lastBlank == std::string::npos ? rest : rest.substr(lastBlank + 1);
      const std::string local =
          vb::Trim(lastBlank == std::string::npos ? std::string() : rest.substr(0, lastBlank));
      failed_ = false;
      std::string real = local;
      try {
        real = ResolveHostPath(local).string();
      } catch (const HostError&) {
        // PutFile reports the file it cannot open.
      }
      result = PutFile(real, remote, strict);
    } else if (verb == "DIR") {
      listing_ = ListDirectory(rest, strict);
      result = listing_;
    } else if (verb == "SIZE") {
      result = RemoteSize(rest);
    }
  }
  CloseConnection();
  return result;
}

Variant cWinINetV2::RemoteSize(const std::string& remoteName) {
  CURL* easy = PrepareLogin(session_, user_, password_, tls_);
  curl_easy_setopt(easy, CURLOPT_URL, (base_ + "/").c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  // Some servers refuse SIZE in ASCII mode, their default.
  services::CurlAccess::SetQuote(session_, {"*TYPE I", "SIZE " + remoteName});
  session_.Run(commandStop_);
  // The answer itself: a refusal is an answer too.
  reply_ = session_.AnswerTo("SIZE");
  if (!reply_.starts_with("213 ")) return Variant();
  return Variant(vb::Val(reply_.substr(4)));
}

std::string cWinINetV2::TestFtpZugang(const std::string& strHost, const std::string& strUser,
                                      const std::string& strPWD, const std::string& strProxy) {
  // Quietly: the advice below is the whole answer.
  const StateHandler work = std::move(WorkState), internal = std::move(InternalState);
  WorkState = nullptr;
  InternalState = nullptr;
  const bool ok = Connect(strHost, strUser, strPWD, false, strProxy);
  WorkState = work;
  InternalState = internal;
  if (ok) return {};
  return "\r\n" +
         T("Bitte überprüfen Sie die Schreibweise von 'Hostadresse', 'Login' und 'Passwort'.") +
         "\r\n" +
         T("Falls alle Angaben stimmen, dann fragen Sie bitte den Anbieter, "
           "ob Ihr Ftp-Zugang bereits freigeschaltet wurde.") +
         "\r\n" +
         T("Es könnte sich auch um eine vorübergehende Störung bei Ihrem Anbieter handeln.") +
         "\r\n" + T("Dann probieren Sie es bitte später noch einmal.");
}

}  // namespace fern
