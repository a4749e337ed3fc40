// Upload of a portal's transfer folder with retries. cImmoXmlV2::DoUpload forwards here:
//   openimmo::OpenImmoUpload(settings, language, events, ftpSendFolder).DoUpload(...)
//
// Four routes, chosen by protocol ("sftp", "ftps" or "ftpes", compared in lower case) and the
// host switch [XML] UseNcFTP: SFTP, FTPS and ncftpput (services/portal_upload.h), otherwise the
// transfer layer's FtpSendFolder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/state_events.h"
#include "services/portal_upload.h"

namespace fern {

class LanguagePack;

namespace openimmo {

using services::kUploadFailed;
using services::UploadTarget;

struct UploadSettings : services::UploadRouteSettings {
  int32_t transferCount = 3;    // attempts; 1 or less still makes two
  int32_t transferDelay = 500;  // ms after a failed attempt; 10 or less: none
  std::string ftpProxy;         // [OPTIONS] FTP_PROXY, handed to FtpSendFolder
  bool useNcFtp = false;        // [XML] UseNcFTP
};

// [XML] UseNcFTP, [FTP] SetBatchPause and NoPreserveTime of the host folder's "kavantor.ini"
// into `s` (the other fields stay).
void ReadUploadSwitches(UploadSettings& s);

// FtpSendFolder(host, user, password, local, remote, extensions, proxy rule, strict).
using FtpSendFolderFn = std::function<bool(
    const std::string&, const std::string&, const std::string&, const std::string&,
    const std::string&, const std::string&, const std::string&, bool)>;

class OpenImmoUpload {
 public:
  // `language` may be null (texts stay German). `events` receives the WorkState lines.
  OpenImmoUpload(UploadSettings settings, const LanguagePack* language, const StateEvents& events,
                 FtpSendFolderFn ftpSendFolder);

  // Tries up to transferCount times. Failed attempts but the last become WorkState 8 lines
  // ("Übertragung: ..." and "FTP-Übertragung (server) weiterer Versuch..."); the last attempt
  // runs strict and its HostError reaches the caller. True when the last attempt made succeeded.
  // A stop (Esc, SIGTERM, the window's buttons) ends the attempt in flight and starts no other;
  // "Prozess extern beendet" (WorkState 100) then tells of it once, and the result is False.
  bool DoUpload(const std::string& protocol, const UploadTarget& target,
                const std::string& localFolder, const std::string& extension);

  // One attempt of each route (see services::UploadRoutes).
  bool DoUploadSFtp(const UploadTarget& target, const std::string& localFolder,
                    const std::string& extension);
  bool DoUploadFtpS(const UploadTarget& target, const std::string& localFolder,
                    const std::string& extension);
  bool DoUploadToFtpByNcFtpPut(const UploadTarget& target, const std::string& localFolder,
                               const std::string& extension);

  std::string SftpIniPath() const { return routes_.SftpIniPath(); }

 private:
  bool Attempt(const std::string& protocol, const UploadTarget& target,
               const std::string& localFolder, const std::string& extension, bool strict);
  std::string T(const std::string& german, const std::string& p1 = {}) const;
  void Work(const std::string& text) const { events_.RaiseWorkState(state::kPerListing, text); }

  UploadSettings s_;
  const LanguagePack* language_;
  const StateEvents& events_;
  FtpSendFolderFn ftpSendFolder_;
  services::UploadRoutes routes_;
};

}  // namespace openimmo
}  // namespace fern
