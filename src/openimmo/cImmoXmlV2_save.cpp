// Cleaning, saving and validating a finished document, then handing it to the delivery and the
// status write-back.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/openimmo_internal.h"
#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/waits.h"
#include "xml/xml_namespace.h"

namespace fern {

using namespace openimmo;

namespace {

bool IsDeclaration(const std::string& name) {
  return name == "xmlns" || name.rfind("xmlns:", 0) == 0;
}

// Names of the element's own attributes, namespace declarations left out.
std::vector<XmlNodePtr> OwnAttributes(XmlNode& node) {
  std::vector<XmlNodePtr> out;
  if (auto map = node.attributes())
    for (int32_t i = 0; i < map->length(); ++i)
      if (XmlNodePtr a = map->item(i); a && !IsDeclaration(a->nodeName())) out.push_back(a);
  return out;
}

// The files a document names beside itself: the "pfad" of every picture, attachment or photo
// kept outside the document.
void CollectFilesBeside(const XmlNodePtr& node, std::vector<std::string>& out) {
  for (const XmlNodePtr& child : node->ChildElements()) {
    if (child->baseName() == "pfad") {
      XmlNodePtr daten = child->parentNode();
      XmlNodePtr owner = daten ? daten->parentNode() : nullptr;
      const std::string name = vb::Trim(child->text());
      const std::string upper = vb::UCase(name);
      if (owner && Attr(owner, "location") == "EXTERN" && !name.empty() &&
          upper.find("://") == std::string::npos && upper.rfind("WWW.", 0) != 0)
        out.push_back(name);
    }
    CollectFilesBeside(child, out);
  }
}

}  // namespace

void cImmoXmlV2::TakeFilesAlong(XmlDocument& doc, const std::string& from, const std::string& to,
                                const std::string& path) {
  std::vector<std::string> names;
  if (XmlNodePtr root = doc.documentElement()) CollectFilesBeside(root, names);
  std::string missing;
  for (const std::string& name : names) {
    const std::filesystem::path target = Real(to + "\\" + name);
    const std::filesystem::path source = Real(from + "\\" + name);
    std::error_code ec, older;
    const bool sourceThere = std::filesystem::is_regular_file(source, ec);
    // A file the scripts put there after this run made its own stays; one left from an earlier
    // run in a folder the hook reuses is replaced.
    if (std::filesystem::exists(target, ec) &&
        (!sourceThere || std::filesystem::last_write_time(target, older) >=
                             std::filesystem::last_write_time(source, older)))
      continue;
    if (!sourceThere) {
      missing += (missing.empty() ? "" : ", ") + name;
      continue;
    }
    std::filesystem::create_directories(target.parent_path(), ec);
    if (!std::filesystem::copy_file(source, target,
                                    std::filesystem::copy_options::overwrite_existing, ec))
      missing += (missing.empty() ? "" : ", ") + name + " (" + ec.message() + ")";
  }
  if (!missing.empty())
    throw HostError(err::kFileNotFound,
                    T("Die Datei '%1' nennt Dateien, die nicht bereitstehen: %2", path, missing),
                    "SaveXmlFile");
}

HeldBack cImmoXmlV2::EarlierFiles(XmlDocument& doc, const std::string& folder,
                                  const std::string& workFolder, const std::string& base) const {
  std::error_code ec;
  if (folder == workFolder || std::filesystem::equivalent(Real(folder), Real(workFolder), ec))
    return {};
  std::vector<std::string> names;
  if (XmlNodePtr root = doc.documentElement()) CollectFilesBeside(root, names);
  std::vector<std::filesystem::path> keep = {Real(folder + "\\" + base + ".xml")};
  for (const std::string& name : names) keep.emplace_back(Real(folder + "\\" + name));
  return {Real(folder), exportStartStamp_, std::move(keep)};
}

std::string cImmoXmlV2::RemoveControlChars(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto u = static_cast<unsigned char>(ch);
    if (u >= 32 || ch == '\n' || ch == '\t' || ch == '\r') out += ch;
  }
  return out;
}

std::string cImmoXmlV2::DoRemoveNonAscii(const std::string& strPWD) {
  if (strPWD.find("%%") != std::string::npos) return strPWD;
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : cp1252::FromUtf8(strPWD)) {
    const auto code = static_cast<unsigned char>(ch);
    if ((code >= 48 && code <= 90) || (code >= 97 && code <= 122)) {
      out += ch;
      continue;
    }
    out += "%%";
    if (code >= 16) out += kHex[code >> 4];
    out += kHex[code & 15];
  }
  return out;
}

void cImmoXmlV2::txt_WriteAll(const std::string& file, const std::string& text) {
  std::ofstream out(Real(file), std::ios::binary | std::ios::trunc);
  out << cp1252::FromUtf8(text) << "\r\n";
}

std::string cImmoXmlV2::txt_ReadAll(const std::string& file) {
  std::ifstream in(Real(file), std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return cp1252::ToUtf8(s.str());
}

void cImmoXmlV2::SetXmlDeclaration(XmlDocument& doc) {
  if (type_ != 5 && type_ != 8 && type_ != 11) return;
  XmlNodePtr pi = doc.createProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\" ");
  XmlNodePtr first = doc.firstChild();
  if (first && first->nodeType() == XmlNodeType::ProcessingInstruction &&
      first->nodeName() == "xml")
    doc.removeChild(first);
  if (XmlNodePtr last = doc.lastChild()) doc.insertBefore(pi, last);
}

void cImmoXmlV2::RemoveEmptyNodes(const XmlNodePtr& node, int32_t version) {
  if (!node) return;
  if (node->hasChildNodes())
    for (const XmlNodePtr& child : node->ChildElements()) RemoveEmptyNodes(child, version);
  for (const XmlNodePtr& a : OwnAttributes(*node))
    if (a->text().empty()) node->removeAttribute(a->nodeName());
  std::vector<XmlNodePtr> attrs = OwnAttributes(*node);
  XmlNodePtr parent = node->parentNode();
  // "objektart_zusatz" is no kind: kept in place of the kind a listing lacks, it would make the
  // whole document invalid; removed, that listing alone fails the mandatory-field check.
  if (parent && parent->nodeType() == XmlNodeType::Element && parent->baseName() == "objektart" &&
      node->baseName() != "objektart_zusatz") {
    if (!attrs.empty()) {
      if (attrs.front()->text() == node->baseName())
        node->removeAttribute(attrs.front()->nodeName());
      return;
    }
    if (parent->previousSibling() && parent->ChildElements().size() == 1 &&
        !parent->firstChild()->nextSibling())
      return;
  }
  if (attrs.empty() && !node->hasChildNodes() && node->text().empty() && parent &&
      parent->nodeType() == XmlNodeType::Element)
    parent->removeChild(node);
}

void cImmoXmlV2::CleanSendAndSave(XmlDocumentPtr& doc, const tMandant& m, db::Recordset& rsboersen,
                                  const std::string& folder, db::Recordset* listings, bool sendFlag,
                                  int32_t version) {
  try {
    RemoveEmptyNodes(doc->documentElement(), version);
    if (sendFlag && !doc->documentElement()->selectSingleNode(".//" + set_.prefix + "immobilie"))
      return;
    if (EscPressed()) return;
    SaveNewIds();                // before the portal learns them
    std::string saved = folder;  // the scripts may move the file
    const std::string base = SaveXmlFile(rsboersen, doc, m, saved);
    if (EscPressed()) return;  // stopped while the save hook ran: nothing is packed or sent
    struct Release {
      HeldBack& rule;
      ~Release() { rule = {}; }
    } release{heldBack_};
    heldBack_ = EarlierFiles(*doc, saved, folder, base);
    XmlDocumentPtr answer;
    const bool sent = SendXml(rsboersen, doc, m, saved, answer, base);
    if (sent)
      for (const Withdrawal& w : withdrawn_) Work(state::kPerListing, w.line);
    if (sent && type_ != 8) SaveObjektStatus(rsboersen, *doc, answer.get(), m);
  } catch (const HostError& e) {
    std::string kennung;
    if (listings && !listings->Eof() && !listings->Bof() && listings->FindField("KENNUNG") >= 0)
      kennung = vb::Trim(cUtil::k(listings->Value("KENNUNG")));
    const std::string t = " " + T("[Objekt: %1] %2 Es wird daher nicht übertragen.", kennung,
                                  ": " + std::to_string(e.number()) + "(" + e.description() + "; " +
                                      e.source() + ")");
    lastState_ = ">>>> " + T("Fehler %1 ;[Börse: %2]", t, GetBoersenDisplayName(rsboersen, m)) +
                 " ;[Proc: CleanSendAndSave]";
    Work(state::kError, lastState_);
  }
}

void cImmoXmlV2::SendWithdrawalsOnly(XmlDocumentPtr& doc, const tMandant& m,
                                     db::Recordset& rsboersen, const std::string& folder,
                                     db::Recordset* listings, int32_t version, size_t held) {
  std::string reason;
  if (withdrawn_.size() < held) {
    // A listing that stays would go with the others.
    reason = T("andere Objekte der Börse bleiben gewählt");
  } else {
    XmlDocumentPtr empty = std::static_pointer_cast<XmlDocument>(doc->cloneNode(true));
    RemoveEmptyNodes(empty->documentElement(), version);
    const std::vector<XmlIssue> issues = ValidateAsSent(*empty, rsboersen);
    if (!issues.empty())
      reason = T("ein Dokument ohne Objekte entspricht nicht dem Schema '%1': %2",
                 std::filesystem::path(portalSchema_).filename().string(), issues.front().Text());
  }
  if (reason.empty()) {
    CleanSendAndSave(doc, m, rsboersen, folder, listings, false, version);
    return;
  }
  std::string names;
  for (const Withdrawal& w : withdrawn_) names += (names.empty() ? "'" : ", '") + w.kennung + "'";
  lastState_ = ">>>> " + T("Börse '%1': Die Objekte %2 sind nicht mehr gewählt, ihre Löschung "
                           "kann aber nicht übertragen werden (%3); sie bleiben auf der Börse",
                           GetBoersenDisplayName(rsboersen, m), names, reason);
  Work(state::kError, lastState_ + " ;[Proc: MakeAndSendOpenImmoLoop]");
}

std::string cImmoXmlV2::SaveXmlFile(db::Recordset& rsboersen, XmlDocumentPtr& doc,
                                    const tMandant& m, std::string& folder) {
  const Variant selection = doc->getProperty("SelectionNamespaces");
  std::string base;
  if (ToLong(cUtil::k(rsboersen.Value("ftp_or_http"))) == 1) {
    base = cUtil::k(rsboersen.Value("boersen_name")) + "-" + m.KundenNr + "-" +
           vb::Format(Variant::Date(vb::Now()), "yyyymmddhhnnss");
  } else {
    XmlNodePtr ext = doc->documentElement()->selectSingleNode(
        "./" + set_.prefix + "anbieter/" + set_.prefix + "immobilie/" + set_.prefix +
        "verwaltung_techn/" + set_.prefix + "objektnr_extern");
    base = Text(ext);
    if (!m.Filter.empty()) base += "_" + m.Filter;
  }
  CleanFileName(base);
  std::string path = folder + "\\" + base + ".xml";
  SaveXmlText(*doc, path, ToLong(cUtil::k(rsboersen.Value("xmlns"))));
  // From here on the file is the document: the built tree goes before the file is read back, so
  // a large document is never held twice.
  doc.reset();

  XmlDocumentPtr reloaded = XmlDocument::Create();
  reloaded->setValidateOnParse(false);
  if (!reloaded->load(Real(path)))
    throw HostError(reloaded->parseError()->errorCode, reloaded->parseError()->reason,
                    "SaveXmlFile");
  doc = std::move(reloaded);
  SetXmlDeclaration(*doc);
  std::string newFolder = folder, newBase = base;
  DoCallbackBeforeXmlSave(rsboersen, doc, newFolder, newBase);
  cUtil::CutRight(newFolder, "\\");
  CleanFileName(newBase);
  if (vb::Trim(newFolder).empty() || vb::Trim(newBase).empty())
    throw HostError(50015, T("Ungültiger Pfad '%1'.", newFolder + "\\" + newBase + ".xml"),
                    "Callback_BeforeXmlSave");
  const std::string first = path, workFolder = folder;
  if (newFolder != folder || newBase != base) {
    if (!cUtil::Exist(newFolder)) cUtil::MkFolder(newFolder);
    folder = newFolder;
    base = newBase;
    path = folder + "\\" + base + ".xml";
  }
  doc->save(Real(path));
  std::error_code sameEc;
  if (folder != workFolder && !std::filesystem::equivalent(Real(folder), Real(workFolder), sameEc))
    // What the document names was made beside it in the work folder; the portal gets the new
    // folder, so it has to find the files there too.
    TakeFilesAlong(*doc, workFolder, folder, path);
  if (path != first) {
    // The work folder is sent as a whole: the first file must not go beside the scripts' one.
    std::error_code ec;
    if (!std::filesystem::equivalent(Real(first), Real(path), ec))
      std::filesystem::remove(Real(first), ec);
  }
  const double kb = static_cast<double>(cUtil::FileLen(path)) / 1024.0;
  Work(state::kInfo, path + " " + vb::Format(Variant(kb), "0.00") + " kB");

  doc.reset();  // the checked copy takes its place
  XmlDocumentPtr checked = OpenXMLFile(path);
  // What the scripts left must still fit the portal's own schema before it is sent. A file
  // stripped of the namespace that a namespaced schema describes was checked before stripping.
  if (!checked->documentElement()->namespaceURI().empty() || PortalSchemaNamespace().empty())
    ThrowUnlessValid(*checked, path, "SaveXmlFile");
  checked->setProperty("SelectionNamespaces", selection);
  doc = checked;
  return base;
}

bool cImmoXmlV2::StripsNamespace(int32_t prefixFlag) const {
  return prefixFlag != 0 && type_ == 5 &&
         vb::UCase(vb::Trim(Ini("OPENIMMO", "EMPTYPREFIX", ""))) == "1";
}

void cImmoXmlV2::StripNamespace(XmlDocument& doc) const {
  XmlNodePtr root = doc.documentElement();
  root->removeAttribute("xsi:schemaLocation");
  RemoveNamespace(doc, set_.ns);
  DropUnusedNamespaceDeclarations(*root);
}

const std::string& cImmoXmlV2::PortalSchemaNamespace() {
  if (!portalSchema_.empty() && (!portalCache_ || portalCacheFile_ != portalSchema_)) {
    // Filed under the schema's own namespace: the published one has none, a portal's may.
    XmlDocumentPtr xsd = XmlDocument::Create();
    xsd->setValidateOnParse(false);
    if (!xsd->load(portalSchema_))
      throw HostError(xsd->parseError()->errorCode, xsd->parseError()->reason, "ValidateForPortal");
    portalTarget_ = Attr(xsd->documentElement(), "targetNamespace");
    portalCache_ = std::make_shared<XmlSchemaCache>();
    portalCache_->add(portalTarget_, portalSchema_);
    portalCacheFile_ = portalSchema_;
  }
  return portalTarget_;
}

std::vector<XmlIssue> cImmoXmlV2::ValidateForPortal(const XmlDocument& doc) {
  if (portalSchema_.empty()) return {};
  PortalSchemaNamespace();
  return portalCache_->Validate(doc);
}

std::vector<XmlIssue> cImmoXmlV2::ValidateAsSent(XmlDocument& doc, db::Recordset& rsboersen) {
  if (portalSchema_.empty()) return {};
  if (PortalSchemaNamespace().empty() &&
      StripsNamespace(ToLong(cUtil::k(rsboersen.Value("xmlns"))))) {
    XmlDocumentPtr plain = std::static_pointer_cast<XmlDocument>(doc.cloneNode(true));
    StripNamespace(*plain);
    return ValidateForPortal(*plain);
  }
  return ValidateForPortal(doc);
}

void cImmoXmlV2::ThrowUnlessValid(const XmlDocument& doc, const std::string& path,
                                  const std::string& source) {
  const std::vector<XmlIssue> issues = ValidateForPortal(doc);
  if (issues.empty()) return;
  std::string list;
  for (size_t i = 0; i < issues.size() && i < 3; ++i) list += (i ? "; " : "") + issues[i].Text();
  throw HostError(50012,
                  T("Die Datei '%1' entspricht nicht dem Schema '%2': %3", path,
                    std::filesystem::path(portalSchema_).filename().string(), list),
                  source);
}

void cImmoXmlV2::SaveXmlText(XmlDocument& doc, const std::string& path, int32_t prefixFlag) {
  const std::string real = Real(path);
  if (prefixFlag != 0) {
    doc.save(real);
    if (StripsNamespace(prefixFlag)) {
      // The portal wants no namespace at all. Its schema is checked against the form it
      // describes: the stripped one when it has no namespace, else the document as built.
      XmlDocumentPtr plain = XmlDocument::Create();
      plain->setValidateOnParse(false);
      if (!plain->load(real))
        throw HostError(plain->parseError()->errorCode, plain->parseError()->reason, "SaveXmlText");
      const bool describesPlain = PortalSchemaNamespace().empty();
      if (!describesPlain) ThrowUnlessValid(*plain, path, "SaveXmlText");
      StripNamespace(*plain);
      if (describesPlain) ThrowUnlessValid(*plain, path, "SaveXmlText");
      plain->save(real);
    }
    return;
  }
  MoveNamespaceToDefault(doc, set_.ns);
  doc.save(real);
}

}  // namespace fern
