// Members whose full behaviour (country and street look-ups, contact persons, pictures, parking
// spaces) comes with the later OpenImmo work: each does only what keeps a document valid from the
// listing's and the client's own data, and invents no value. The script hooks, packing and the
// upload with retries forward to their own classes.
#include <regex>

#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/openimmo_internal.h"
#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "openimmo/cImmoXmlScriptV2.h"
#include "openimmo/openimmo_packing.h"
#include "openimmo/openimmo_upload.h"
#include "services/cZipV2.h"

namespace fern {

using namespace openimmo;

namespace {

std::string HostFolderOf(const cFernDispatcher* app) {
  if (app) return app->Folder();
  std::string f = Session().g_strHostPath;
  if (!f.empty() && f.back() == '\\') f.pop_back();
  return f;
}

// The mapped source text of an entry, as the engine reads FELDART and FELD values.
std::string SourceText(cImmoXmlV2& x, XmlNode& entry, const cImmoXmlV2::MapContext& c) {
  const std::string src = vb::Trim(entry.getAttribute("quelle").value_or(""));
  const std::string typ = vb::UCase(vb::Trim(entry.getAttribute("quelltyp").value_or("")));
  if (typ == "FELDART") {
    auto v = x.Helper().GetFeldartWert(*c.details, src, "");
    return v.empty() ? std::string() : vb::Trim(v[0]);
  }
  if (typ == "FELD" && c.obj->FindField(src) >= 0) return vb::Trim(cUtil::k(c.obj->Value(src)));
  return {};
}

void SetIfEmpty(const XmlNodePtr& parent, const std::string& local, const std::string& text) {
  if (!parent || text.empty()) return;
  for (const XmlNodePtr& c : parent->ChildElements(local))
    if (c->text().empty()) {
      c->setText(text);
      return;
    }
}

}  // namespace

void cImmoXmlV2::FillGeoFromLandPlzOrt(XmlNode& entry, XmlNode& target, const MapContext& c) {
  // "D-10115 Berlin", "DEU-12345 Oberstdorf" or "12345 Oberstdorf": postcode and place only; the
  // country code needs the country table of the later look-ups.
  const std::string value = SourceText(*this, entry, c);
  static const std::regex form(R"(^(?:[A-Za-z]{1,3}-)?(\d{4,5})\s+(.+)$)");
  std::smatch m;
  if (!std::regex_match(value, m, form)) return;
  XmlNodePtr geo = target.parentNode();
  SetIfEmpty(geo, "plz", m[1].str());
  SetIfEmpty(geo, "ort", vb::Trim(m[2].str()));
}

void cImmoXmlV2::FillHausnummer(XmlNode& entry, XmlNode& target, const MapContext& c) {
  const std::string value = SourceText(*this, entry, c);
  if (!value.empty()) target.setText(RemoveControlChars(value));
}

XmlNodePtr cImmoXmlV2::CopyUserDefinedAnyfield(XmlNode& listing, const std::string& name) {
  for (const XmlNodePtr& any : listing.ChildElements("user_defined_anyfield")) {
    auto found = any->ChildElements(name);
    if (!found.empty()) return found.front();
  }
  return nullptr;
}

void cImmoXmlV2::FillUserDefinedAnyfield(XmlDocument&, XmlDocument&) {}

std::string cImmoXmlV2::LoadContentLanguages(db::Recordset&) { return {}; }

std::string cImmoXmlV2::GetWaehrungIso(const std::string& currency) const {
  const std::string c = vb::UCase(vb::Trim(currency));
  if (c == "€" || c == "EURO" || c == "EUR") return "EUR";
  static const std::regex iso("^[A-Z]{3}$");
  return std::regex_match(c, iso) ? c : std::string();
}

void cImmoXmlV2::FillStellplatz(XmlNode&, db::Recordset&) {}

void cImmoXmlV2::FillAnhaenge(XmlNode&, db::Recordset&, const std::string&) {}

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
  return upload.DoUpload(protocol, server, user, password, localFolder, remoteFolder, extension,
                         options);
}

}  // namespace fern
