// Members whose full behaviour (country and street look-ups, contact persons, pictures, parking
// spaces) comes with the later OpenImmo work: each does only what keeps a document valid from the
// listing's and the client's own data, and invents no value. The script hooks, packing and the
// upload with retries forward to their own classes.
#include <regex>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlScriptV2.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/openimmo_internal.h"
#include "openimmo/openimmo_packing.h"
#include "openimmo/openimmo_upload.h"
#include "services/cZipV2.h"

namespace fern {

using namespace openimmo;

void cImmoXmlV2::DoCallbackBeforeXmlSave(db::Recordset& rsboersen, XmlDocumentPtr& doc,
                                         const std::string& folder, const std::string& base) {
  if (!script_) return;
  std::string path = folder, name = base;
  script_->DoCallbackBeforeXmlSave(rsboersen, doc, path, name);
}

void cImmoXmlV2::DoCallbackBeforeTransfer(db::Recordset& rsboersen, bool ftp,
                                          const std::string& folder, const std::string& base,
                                          std::string& answer) {
  if (script_) script_->DoCallbackBeforeTransfer(rsboersen, ftp, folder, base, answer);
}

void cImmoXmlV2::DoCallbackAfterTransfer(db::Recordset& rsboersen, bool ftp, bool sent) {
  if (script_) script_->DoCallbackAfterTransfer(rsboersen, ftp, sent);
}

void cImmoXmlV2::ZipAll(const std::string& folder, const std::string& base) {
  if (!zip_) zip_ = std::make_unique<cZipV2>();
  openimmo::PackingSettings p;
  p.hostFolder = HostFolderOf(app_);
  p.zipTool = set_.zipTool;
  p.transferTempPath = GetTransferTempPath();
  openimmo::ZipAll(folder, base, p, *zip_, Session().g_oLanguagePack.get(), events);
}

bool cImmoXmlV2::DoUpload(const std::string& protocol, const std::string& server,
                          const std::string& user, const std::string& password,
                          const std::string& localFolder, const std::string& remoteFolder,
                          const std::string& extension, const std::string& options) {
  openimmo::UploadSettings u;
  u.hostFolder = HostFolderOf(app_);
  u.transferCount = set_.transferCount;
  u.transferDelay = set_.transferDelay;
  u.ftpProxy = set_.ftpProxy;
  openimmo::ReadUploadSwitches(u);
  ListingData* data = helper_.get();
  openimmo::OpenImmoUpload upload(
      u, Session().g_oLanguagePack.get(), events,
      [data](const std::string& h, const std::string& us, const std::string& pw,
             const std::string& local, const std::string& remote, const std::string& ext,
             const std::string& proxy, bool strict) {
        return data && data->FtpSendFolder(h, us, pw, local, remote, ext, proxy, strict);
      });
  openimmo::UploadTarget target;
  target.server = server;
  target.folder = remoteFolder;
  target.user = user;
  target.password = password;
  target.options = options;
  return upload.DoUpload(protocol, target, localFolder, extension);
}

}  // namespace fern
