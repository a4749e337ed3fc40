#include "openimmo/delivery.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/earlier_files.h"
#include "openimmo/openimmo_internal.h"
#include "openimmo/openimmo_packing.h"
#include "openimmo/openimmo_upload.h"
#include "platform/host_error.h"
#include "platform/ini_file.h"
#include "platform/waits.h"
#include "services/cZipV2.h"

namespace fern::openimmo {

namespace {

// The first element below `node` (document order) with this local name.
XmlNodePtr FirstDescendant(const XmlNodePtr& node, const std::string& local) {
  for (const XmlNodePtr& c : node->ChildElements()) {
    if (c->baseName() == local) return c;
    if (XmlNodePtr d = FirstDescendant(c, local)) return d;
  }
  return nullptr;
}

void CollectDescendants(const XmlNodePtr& node, const std::string& local,
                        std::vector<XmlNodePtr>& out) {
  for (const XmlNodePtr& c : node->ChildElements()) {
    if (c->baseName() == local) out.push_back(c);
    CollectDescendants(c, local, out);
  }
}

XmlNodePtr Child(const XmlNodePtr& node, const std::string& local) {
  if (!node) return nullptr;
  auto list = node->ChildElements(local);
  return list.empty() ? nullptr : list.front();
}

}  // namespace

Delivery::Delivery(DeliveryRun run) : run_(std::move(run)) {}

Delivery::~Delivery() = default;

std::string Delivery::T(const std::string& german, const std::string& p1, const std::string& p2,
                        const std::string& p3, const std::string& p4) const {
  return Translate(Session().g_oLanguagePack.get(), german, {p1, p2, p3, p4});
}

void Delivery::SplitHost(const std::string& host, std::string& protocol, std::string& server,
                         std::string& folder, std::string& options) {
  protocol.clear();
  folder.clear();
  options.clear();
  std::string rest = host;
  if (size_t p = rest.find("://"); p != std::string::npos) {
    protocol = rest.substr(0, p);
    rest = rest.substr(p + 3);
  }
  if (size_t p = rest.find(" -"); p != std::string::npos) {
    options = rest.substr(p + 1);
    rest = rest.substr(0, p);
  }
  if (size_t p = rest.find('/'); p != std::string::npos) {
    folder = rest.substr(p + 1);
    rest = rest.substr(0, p);
  }
  server = rest;
}

bool Delivery::SendXml(db::Recordset& rsboersen, XmlDocumentPtr& doc, const tMandant& m,
                       const std::string& folder, XmlDocumentPtr& answer, const std::string& base) {
  const bool ftp = ToLong(cUtil::k(rsboersen.Value("ftp_or_http"))) == 1;
  const bool zipping = ToLong(cUtil::k(rsboersen.Value("zipping"))) == 1;
  std::string hook;
  if (ftp && zipping) {
    hook = "ZIP";
    run_.beforeTransfer(rsboersen, true, folder, base, hook);
    if (EscPressed()) return false;  // stopped while the hook ran
    ZipAll(folder, base);
  } else {
    cUtil::Kill(folder + "\\*.xsd");
    run_.beforeTransfer(rsboersen, ftp, folder, base, hook);
  }
  // The converter road ignores the hook's answer.
  if (run_.type == 11) return SendThroughConverter(rsboersen, doc, m, folder, base);

  const std::string up = vb::UCase(hook);
  if (vb::Left(up, 12) == "FTPTRANSFER=") {
    const bool r = FTPTransfer(vb::Trim(vb::Mid(hook, 13)), rsboersen, m, base, doc);
    run_.afterTransfer(rsboersen, true, r);
    return r;
  }
  if (vb::Left(up, 5) == "ABORT") return false;
  if (vb::Left(up, 6) == "CANCEL") return true;

  const std::string name = cUtil::k(rsboersen.Value("boersen_name"));
  const std::string display = run_.displayName(rsboersen, m);
  Work(state::kTransferBegins,
       T("Beginne Übertragung von Daten: '%1' an Börse '%2'", vb::Trim(base), display));
  const std::string file = folder + "\\" + base + ".xml";
  if (StartsWithNoCase(name, "DUMMY")) {
    // A test portal: the document is shown instead of sent. Unattended, nobody would see it.
    if (run_.unattended)
      Work(state::kInfo, file);
    else {
      try {
        cUtil::StartDoc(file);
      } catch (const HostError& e) {
        Work(state::kInfo, e.description());
      }
    }
    return false;
  }
  bool result = false;
  if (!ftp) {
    const std::string url = cUtil::k(rsboersen.Value("boersen_host"));
    if (StartsWithNoCase(url, "DUMMY")) {
      result = true;
    } else {
      Work(state::kTransferBegins, T("Die Datei %1 wird gesendet - warten auf Antwort", base));
      const HttpPostOutcome o = PostDocument(url, doc->xml(), m.LoginName, m.Password);
      if (o.stopped) {
        services::ReportStop(run_.events, Session().g_oLanguagePack.get());
      } else if (!o.transportOk) {
        Work(state::kError, ">>>> " + T("Fehler bei HTTPRequest:") + " " +
                                std::to_string(o.errorNumber) + " " + o.error +
                                " ;[Börse: " + display + "] ;[Proc: SendXml]");
      } else {
        const std::string answerPath = folder + "\\" + vb::Replace(base, " ", "_") + "answer.xml";
        std::ofstream(Real(answerPath), std::ios::binary | std::ios::trunc) << o.body;
        if (o.status >= 400) {
          Work(state::kError, ">>>> " +
                                  T("Die Börse '%1' hat die Datei '%2' abgelehnt: HTTP %3", display,
                                    base, std::to_string(o.status)) +
                                  " ;[Proc: SendXml]");
        } else {
          XmlDocumentPtr a = XmlDocument::Create();
          a->setValidateOnParse(false);
          if (a->loadXML(o.body)) {
            Work(state::kTransferDone, T("Datei %1: Antwort erhalten", base));
            answer = a;
            result = true;
          } else {
            Work(state::kError, ">>>> " + T("Fehler bei HTTPRequest:") + " " +
                                    std::to_string(a->parseError()->errorCode) + " " +
                                    vb::Trim(a->parseError()->reason) + " ;[Börse: " + display +
                                    "] ;[Proc: SendXml]");
          }
        }
      }
    }
    run_.afterTransfer(rsboersen, false, result);
  } else {
    std::string protocol, server, remote, options;
    SplitHost(cUtil::k(rsboersen.Value("boersen_host")), protocol, server, remote, options);
    if (StartsWithNoCase(server, "DUMMY"))
      result = true;
    else
      result = DoUpload(protocol, server, m.LoginName, m.Password, folder, remote, hook, options);
    run_.afterTransfer(rsboersen, true, result);
  }
  Work(state::kTransferDone,
       T("Fertig mit Übertragung von Datei '%1' an Börse: '%2'", vb::Trim(base), display));
  return result;
}

bool Delivery::SaveObjektStatus(db::Recordset& rsboersen, XmlDocument& doc, XmlDocument* answer,
                                const tMandant& m) {
  const std::string display = run_.displayName(rsboersen, m);
  std::vector<std::string> statements;
  try {
    XmlNodePtr root = doc.documentElement();
    const std::string prefix = root->prefix().empty() ? "" : root->prefix() + ":";
    const bool ftp = ToLong(cUtil::k(rsboersen.Value("ftp_or_http"))) == 1;
    const bool withAnswer = !ftp && ToLong(cUtil::k(rsboersen.Value("httpantwort"))) == 1 && answer;
    std::vector<XmlNodePtr> ids;
    CollectDescendants(root, "objektnr_intern", ids);
    std::vector<XmlNodePtr> answerListings;
    if (withAnswer && answer->documentElement())
      CollectDescendants(answer->documentElement(), "immobilie", answerListings);
    for (const XmlNodePtr& node : ids) {
      if (node->nodeName() != prefix + "objektnr_intern") continue;
      const std::string id = node->text();
      XmlNodePtr parent = node->parentNode();
      const std::string obid = Text(Child(parent, run_.settings.obidName));
      const int status = Attr(Child(parent, "aktion"), "aktionart") == "DELETE" ? 3 : 1;
      std::string portalId;
      if (withAnswer) {
        XmlNodePtr found;
        for (const char* key : {run_.settings.obidName.c_str(), "immoxml_obid"}) {
          for (const XmlNodePtr& l : answerListings)
            if (XmlNodePtr k = Child(l, key); k && k->text() == obid) {
              found = l;
              break;
            }
          if (found) break;
        }
        if (!found) {
          std::string text = cImmoXmlV2::GetNodeValue(
              FirstDescendant(answer->documentElement(), "meldung"), "freitext", false);
          if (text.empty()) text = T("Keine gültige Antwort erhalten!");
          Work(state::kError, display + ": " + text + " ;[Proc: SaveObjektStatus3]");
          continue;
        }
        if (XmlNodePtr e = Child(found, "expose_id")) portalId = vb::Left(e->text(), 240);
        XmlNodePtr antwort = Child(found, "antwort");
        const std::string art = cImmoXmlV2::GetNodeValue(antwort, "art", true);
        std::string text = cUtil::k(rsboersen.Value("boersen_name")) + " / " + T("Objekt") + ": " +
                           vb::Trim(Text(Child(parent, "objektnr_extern"))) + " - Antwort: " + art;
        if (XmlNodePtr f = Child(Child(found, "meldung"), "freitext")) text += " : " + f->text();
        const std::string upper = vb::UCase(art);
        if (upper == "ERROR" || upper == "FEHLER") {
          Work(state::kError, text + " ;[Proc: SaveObjektStatus2]");
          continue;
        }
        Work(state::kPerListing, text + " ;[Proc: SaveObjektStatus1]");
      }
      statements.push_back(
          " UPDATE boersenobj  SET letzte_uebertragung = " +
          cUtil::SQLDate(Variant::Date(run_.runStart)) + " ,   status = " + std::to_string(status) +
          " " + (portalId.empty() ? "" : ", boersen_exp_id = " + cUtil::SqlStr(portalId)) +
          " WHERE boersenobj.boersen_dsn = " + cUtil::SqlUid(rsboersen.Value("DSN")) +
          " and boersenobj.obj_dsn = " + cUtil::SqlUid(id));
    }
    statements.insert(statements.end(), run_.statusQueue.begin(), run_.statusQueue.end());
    if (!statements.empty()) {
      // All or nothing: a half-written status would make the next run send the wrong listings.
      std::string batch;
      for (const std::string& s : statements) batch += (batch.empty() ? "" : "\r\n") + s;
      run_.dal->ExecQuery(run_.connect, batch);
    }
    run_.statusQueue.clear();
    return true;
  } catch (const HostError& e) {
    Work(state::kError,
         ">>>> " +
             T("Fehler Nr.: %1 (%2; %3) ist bei der Antwort-/Statusverabeitung aufgetreten!"
               " ;[Börse: %4]",
               std::to_string(e.number()), e.description(), e.source(),
               cUtil::k(rsboersen.Value("boersen_name"))) +
             " ;[Proc: SaveObjektStatus]");
    return false;
  }
}

bool Delivery::RemoveImmobilie(const std::string& objektnrIntern, XmlDocument& doc) {
  XmlNodePtr root = doc.documentElement();
  if (!root) return false;
  for (const XmlNodePtr& anbieter : root->ChildElements("anbieter"))
    for (const XmlNodePtr& listing : anbieter->ChildElements("immobilie")) {
      std::vector<XmlNodePtr> ids;
      CollectDescendants(listing, "objektnr_intern", ids);
      for (const XmlNodePtr& id : ids)
        if (id->text() == objektnrIntern) {
          anbieter->removeChild(listing);
          return true;
        }
    }
  return false;
}

// --- packing and upload: handed to their own classes ------------------------------------

void Delivery::ZipAll(const std::string& folder, const std::string& base) {
  // A phase makes its packer when it starts; a single step without a phase makes one here.
  if (!run_.zip) run_.zip = std::make_unique<cZipV2>();
  PackingSettings p;
  p.hostFolder = HostFolderOf(run_.app);
  p.zipTool = run_.settings.zipTool;
  p.transferTempPath = run_.transferTempPath();
  p.heldBack = run_.heldBack.Files();
  openimmo::ZipAll(folder, base, p, *run_.zip, Session().g_oLanguagePack.get(), run_.events);
}

bool Delivery::DoUpload(const std::string& protocol, const std::string& server,
                        const std::string& user, const std::string& password,
                        const std::string& localFolder, const std::string& remoteFolder,
                        const std::string& extension, const std::string& options) {
  UploadSettings u;
  u.hostFolder = HostFolderOf(run_.app);
  u.transferCount = run_.settings.transferCount;
  u.transferDelay = run_.settings.transferDelay;
  u.ftpProxy = run_.settings.ftpProxy;
  ReadUploadSwitches(u);
  cImmoHelperV2* data = run_.data.get();
  OpenImmoUpload upload(u, Session().g_oLanguagePack.get(), run_.events,
                        [data](const std::string& h, const std::string& us, const std::string& pw,
                               const std::string& local, const std::string& remote,
                               const std::string& ext, const std::string& proxy, bool strict) {
                          return data &&
                                 data->FtpSendFolder(h, us, pw, local, remote, ext, proxy, strict);
                        });
  UploadTarget target;
  target.server = server;
  target.folder = remoteFolder;
  target.user = user;
  target.password = password;
  target.options = options;
  // What an earlier run left in the folder stays there; the upload takes a copy without it.
  const std::vector<std::filesystem::path> heldBack = run_.heldBack.Files();
  const UploadSource source(localFolder, heldBack,
                            heldBack.empty()
                                ? std::filesystem::path()
                                : std::filesystem::path(Real(run_.transferTempPath())) /
                                      ("upload-" + std::to_string(::getpid())));
  return upload.DoUpload(protocol, target, source.folder(), extension);
}

}  // namespace fern::openimmo
