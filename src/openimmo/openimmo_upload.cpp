#include "openimmo/openimmo_upload.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>

#include "host/LanguagePack.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/upload_walk.h"

namespace fern::openimmo {

namespace {

constexpr int32_t kShortestDelayMs = 10;  // a delay up to this is no delay

}  // namespace

void ReadUploadSwitches(UploadSettings& s) {
  std::string folder = s.hostFolder;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  const std::filesystem::path ini = ResolveHostPath(folder + "\\kavantor.ini");
  s.useNcFtp = IniGet("XML", "UseNcFTP", "0", ini) == "1";
  s.setBatchPause = IniGet("FTP", "SetBatchPause", "0", ini) == "1";
  s.noPreserveTime = IniGet("FTP", "NoPreserveTime", "0", ini) == "1";
}

OpenImmoUpload::OpenImmoUpload(UploadSettings settings, const LanguagePack* language,
                               const StateEvents& events, FtpSendFolderFn ftpSendFolder)
    : s_(std::move(settings)),
      language_(language),
      events_(events),
      ftpSendFolder_(std::move(ftpSendFolder)),
      routes_(s_, language, events) {}

std::string OpenImmoUpload::T(const std::string& german, const std::string& p1) const {
  return Translate(language_, german, {p1});
}

bool OpenImmoUpload::DoUpload(const std::string& protocol, const UploadTarget& target,
                              const std::string& localFolder, const std::string& extension) {
  // After a stop nothing starts: an attempt it cut short has said so itself, otherwise the
  // stop is reported here, once.
  auto stoppedBefore = [&] {
    services::ReportStop(events_, language_);
    return false;
  };
  if (EscPressed()) return stoppedBefore();
  bool ok = false;
  // The trapped attempts, at least one, then the strict last one.
  const int32_t trapped = std::max<int32_t>(1, s_.transferCount - 1);
  for (int32_t i = 0; i < trapped && !ok; ++i) {
    try {
      ok = Attempt(protocol, target, localFolder, extension, false);
    } catch (const HostError& e) {
      ok = false;
      Work(T("Übertragung") + ": " + e.description());
    } catch (const std::exception& e) {
      ok = false;
      Work(T("Übertragung") + ": " + e.what());
    }
    if (!ok) {
      if (EscPressed()) return false;
      if (s_.transferDelay > kShortestDelayMs && !SleepUnlessStopped(s_.transferDelay))
        return stoppedBefore();
      Work(T("FTP-Übertragung (%1) weiterer Versuch...", target.server));
    }
  }
  if (!ok) ok = Attempt(protocol, target, localFolder, extension, true);
  return ok;
}

bool OpenImmoUpload::Attempt(const std::string& protocol, const UploadTarget& target,
                             const std::string& localFolder, const std::string& extension,
                             bool strict) {
  const std::string p = text::LowerAscii(protocol);
  if (p == "sftp") return DoUploadSFtp(target, localFolder, extension);
  // "ftpes" asks for TLS by its name: never plain FTP, whatever else the host switches choose.
  if (p == "ftps" || p == "ftpes") return DoUploadFtpS(target, localFolder, extension);
  if (s_.useNcFtp) return DoUploadToFtpByNcFtpPut(target, localFolder, extension);
  if (!ftpSendFolder_) throw HostError(kUploadFailed, "FtpSendFolder is not connected", "DoUpload");
  std::string server = target.server;
  if (target.port > 0) server += ":" + std::to_string(target.port);
  return ftpSendFolder_(server, target.user, target.password, localFolder, target.folder, extension,
                        s_.ftpProxy, strict);
}

bool OpenImmoUpload::DoUploadSFtp(const UploadTarget& target, const std::string& localFolder,
                                  const std::string& extension) {
  return routes_.Sftp(target, localFolder, extension);
}

bool OpenImmoUpload::DoUploadFtpS(const UploadTarget& target, const std::string& localFolder,
                                  const std::string& extension) {
  return routes_.Ftps(target, localFolder, extension);
}

bool OpenImmoUpload::DoUploadToFtpByNcFtpPut(const UploadTarget& target,
                                             const std::string& localFolder,
                                             const std::string& extension) {
  return routes_.NcFtpPut(target, localFolder, extension);
}

}  // namespace fern::openimmo
