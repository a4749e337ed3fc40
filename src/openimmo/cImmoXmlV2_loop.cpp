// One portal and client: the work folder, the mapping files, the listings and the documents
// (one collective document for FTP portals, one per listing for HTTP portals).
#include <filesystem>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"
#include "platform/ini_file.h"
#include "platform/private_temp.h"
#include "platform/waits.h"

namespace fern {

using namespace openimmo;

namespace {

constexpr int kMajor = 1, kMinor = 0, kRevision = 0;

// The provider element and its imprint, where listings go in front of the imprint. Looked up
// once per document: a search over a growing collective document per listing would cost time
// in proportion to the listings already in it.
struct ListingSlot {
  XmlNodePtr anbieter;
  XmlNodePtr impressum;
};

ListingSlot SlotOf(XmlDocument& doc, const std::string& prefix) {
  ListingSlot slot;
  slot.anbieter = doc.documentElement()->selectSingleNode(".//" + prefix + "anbieter");
  if (!slot.anbieter)
    throw HostError(50012, "XML-Struktur ist nicht korrekt!", "MakeAndSendOpenImmoLoop");
  slot.impressum = slot.anbieter->selectSingleNode(".//" + prefix + "impressum");
  if (slot.impressum && slot.impressum->parentNode()->raw() != slot.anbieter->raw())
    slot.impressum = nullptr;
  return slot;
}

void Insert(const ListingSlot& slot, const XmlNodePtr& listing) {
  if (slot.impressum)
    slot.anbieter->insertBefore(listing, slot.impressum);
  else
    slot.anbieter->appendChild(listing);
}

}  // namespace

void cImmoXmlV2::MakeAndSendOpenImmoLoop(db::Recordset& rsboersen, const XmlDocumentPtr& tmpl,
                                         const XmlDocumentPtr& schema, const tMandant& m,
                                         int32_t version) {
  const std::string display = GetBoersenDisplayName(rsboersen, m);
  // Withdrawals belong to this portal and client's document alone.
  statusQueue_.clear();
  withdrawn_.clear();
  struct ClearQueue {
    cImmoXmlV2& x;
    ~ClearQueue() {
      x.statusQueue_.clear();
      x.withdrawn_.clear();
    }
  } clearAtEnd{*this};
  collectIds_ = true;
  // A folder the hooks share keeps what the portals before this one wrote in the same run.
  exportStartStamp_ = FileStampFromNow();
  try {
    const std::string transfer = GetTransferTempPath() + "TRANSFER";
    if (const std::filesystem::path link = LinkedTransferFolder(); !link.empty())
      throw HostError(err::kPathFileAccess, LinkLeftAlone(link), "MakeAndSendOpenImmoLoop");
    if (!cUtil::Exist(transfer)) MakeFolder(transfer);
    if (!cUtil::Exist(transfer + set_.typeFolder)) MakeFolder(transfer + set_.typeFolder);
    std::string portal = cUtil::k(rsboersen.Value("boersen_name"));
    std::string folder = transfer + set_.typeFolder + "\\" + CleanFileName(portal);
    if (!m.Filter.empty()) folder += "-" + m.Filter;
    if (cUtil::Exist(folder)) {
      std::error_code ec;
      std::filesystem::remove_all(Real(folder), ec);
      if (ec)
        throw HostError(75, "DeleteFolder '" + folder + "' : " + ec.message(), "RemoveFolder");
    }
    MakeFolder(folder);
    schema->save(Real(folder + "\\" + set_.schemaType + ".xsd"));
    schema->save(Real(folder + "\\" + GetXmlFileName(schema->url())));

    Work(state::kStepBegins, std::string(80, '*'));
    Work(state::kStepBegins,
         T("Beginne %1 für Börse: '%2' zu erstellen", set_.schemaType, display));
    const std::string mapName = cUtil::k(rsboersen.Value("zuordnungsdatei"));
    if (mapName.empty())
      Work(state::kError,
           ">>>> " + T("Fehler: Es wurde keine Zuordnungsdatei angegeben. [Börse: %1]", display));
    const std::string mapPath = set_.xmlFolder + "\\" + mapName;
    if (mapName.empty() || !cUtil::Exist(mapPath))
      Work(state::kError, ">>>> " + T("Fehler: Zuordnungsdatei %1 nicht gefunden. ;[Börse: %2]",
                                      mapPath, display));
    const std::string lower = vb::LCase(mapPath);
    const std::string user1Path = vb::Replace(lower, ".xml", "_user1.xml");
    const std::string user2Path = vb::Replace(lower, ".xml", "_user2.xml");
    XmlDocumentPtr user1 = cUtil::Exist(user1Path) ? OpenXMLFile(user1Path) : nullptr;
    XmlDocumentPtr mapping = OpenXMLFile(mapPath);
    XmlDocumentPtr user2 = cUtil::Exist(user2Path) ? OpenXMLFile(user2Path) : nullptr;

    std::shared_ptr<db::Recordset> listings = helper_->GetBoersenObjekte(rsboersen, "");
    bool data = listings && !listings->Eof() && !listings->Bof();
    const bool full = cUtil::d(rsboersen.Value("teil_or_voll")) == 0;
    const bool ftp = ToLong(cUtil::k(rsboersen.Value("ftp_or_http"))) == 1;
    const std::string upperName = vb::UCase(cUtil::k(rsboersen.Value("boersen_name")));
    const bool ch = upperName.size() >= 3 && upperName.substr(upperName.size() - 3) == ".CH";
    if (ch && full && data) {
      data = false;
      for (listings->MoveFirst(); !listings->Eof(); listings->MoveNext())
        if (cUtil::d(listings->Value("transfer")) == 0 &&
            (cUtil::d(listings->Value("kurz")) == 1 || cUtil::d(listings->Value("lang")) == 1))
          data = true;
    }

    if (data) {
      listings->MoveFirst();
      XmlDocumentPtr portalDoc = std::static_pointer_cast<XmlDocument>(tmpl->cloneNode(true));
      XmlDocumentPtr collective;
      if (type_ == 5 || type_ == 11) {
        if (user1) FillUserDefinedAnyfield(*portalDoc, *user1);
        FillUserDefinedAnyfield(*portalDoc, *mapping);
        if (user2) FillUserDefinedAnyfield(*portalDoc, *user2);
        FillHeader(rsboersen, *schema, *portalDoc, m, version);
      }
      collective = std::static_pointer_cast<XmlDocument>(portalDoc->cloneNode(true));
      if (XmlNodePtr first =
              collective->documentElement()->selectSingleNode(".//" + set_.prefix + "immobilie"))
        first->parentNode()->removeChild(first);
      if (!m.Filter.empty()) {
        listings->SetFilter(" Abteilung = " + m.Filter);
        Work(state::kStepBegins,
             T("Setze Abteilungsfilter %1 für Mandaten: %2", m.Filter, m.FirmaName));
      }
      XmlNodePtr templateListing =
          portalDoc->documentElement()->selectSingleNode(".//" + set_.prefix + "immobilie");
      if (!templateListing)
        throw HostError(50012, "XML-Struktur ist nicht korrekt!", "MakeAndSendOpenImmoLoop");
      std::shared_ptr<db::Recordset> details;
      ListingSlot collectiveSlot = SlotOf(*collective, set_.prefix);
      bool esc = false;
      size_t held = 0;  // listings on the portal
      bool inserted = false;
      if (!listings->Eof()) listings->MoveFirst();
      while (!listings->Eof()) {
        held += cUtil::d(listings->Value("status")) == 1;
        XmlNodePtr element = templateListing->cloneNode(true);
        PumpEvents();
        MakeOpenImmo(element, mapping, rsboersen, *listings, details, schema, m, folder, user1,
                     user2, version);
        if (element) {
          if (ftp) {
            Insert(collectiveSlot, element);
            inserted = true;
          } else {
            XmlDocumentPtr single =
                std::static_pointer_cast<XmlDocument>(portalDoc->cloneNode(true));
            if (XmlNodePtr t =
                    single->documentElement()->selectSingleNode(".//" + set_.prefix + "immobilie"))
              t->parentNode()->removeChild(t);
            Insert(SlotOf(*single, set_.prefix), element);
            CleanSendAndSave(single, m, rsboersen, folder, listings.get(), true, version);
          }
        }
        if (EscPressed()) {
          esc = true;
          break;
        }
        listings->MoveNext();
      }
      // The slot's nodes would keep the built document alive beside the saved one.
      collectiveSlot = {};
      templateListing.reset();
      portalDoc.reset();
      if (!esc && ftp) {
        if (!withdrawn_.empty() && !inserted)
          SendWithdrawalsOnly(collective, m, rsboersen, folder, listings.get(), version, held);
        else
          CleanSendAndSave(collective, m, rsboersen, folder, listings.get(), true, version);
      }
      Work(state::kRunEnd, T("Fertig mit %1 für '%2'", set_.schemaType, display));
      ClearElementCache();
    } else {
      std::string list = vb::UCase(vb::Trim(Ini("OPENIMMO", "EMPTYTRANSFERFILE", "")));
      if (list.empty() && ch) list = upperName;
      bool listed = false;
      std::string rest = list;
      while (!rest.empty() && !listed) listed = cUtil::StrList_DeleteFirst(rest, ",") == upperName;
      if (listed && full && (type_ == 5 || type_ == 11)) {
        Work(state::kPerListing, T("Übertragung von EmptyTransferFile"));
        XmlDocumentPtr portalDoc = std::static_pointer_cast<XmlDocument>(tmpl->cloneNode(true));
        if (user1) FillUserDefinedAnyfield(*portalDoc, *user1);
        FillUserDefinedAnyfield(*portalDoc, *mapping);
        if (user2) FillUserDefinedAnyfield(*portalDoc, *user2);
        FillHeader(rsboersen, *schema, *portalDoc, m, version);
        CleanSendAndSave(portalDoc, m, rsboersen, folder, listings.get(), false, version);
      } else {
        Work(state::kTransferDone,
             T("Keine Daten zur Übertragung an Börse: '%1' vorhanden!", display) + " ;[" +
                 T("Börse") + ": " + display + "]");
      }
    }
  } catch (const HostError& e) {
    lastState_ =
        ">>>> " + T("Fehler Nr.: %1 (%2; %3) ist bei Erstellung von %4 aufgetreten! ;[Börse: %5]",
                    std::to_string(e.number()), e.description(), e.source(), set_.schemaType,
                    display);
    Work(state::kError, lastState_ + " ;[Proc: MakeAndSendOpenImmoLoop]");
  } catch (const std::exception& e) {
    lastState_ =
        ">>>> " + T("Fehler Nr.: %1 (%2; %3) ist bei Erstellung von %4 aufgetreten! ;[Börse: %5]",
                    "5", e.what(), "MakeAndSendOpenImmoLoop", set_.schemaType, display);
    Work(state::kError, lastState_ + " ;[Proc: MakeAndSendOpenImmoLoop]");
  }
  // Also the ids of listings that were not sent: the next run gives them the same.
  collectIds_ = false;
  SaveNewIds();
}

void cImmoXmlV2::MakeFolder(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path real = Real(path);
  std::filesystem::create_directories(real, ec);
  if (!ec && !std::filesystem::is_directory(real, ec))
    ec = std::make_error_code(std::errc::not_a_directory);
  if (ec)
    throw HostError(err::kPathFileAccess, "CreateFolder: " + ec.message() + " '" + path + "'",
                    "MakeFolder");
}

void cImmoXmlV2::FillHeader(db::Recordset& rsboersen, XmlDocument& schema, XmlDocument& doc,
                            const tMandant& m, int32_t version) {
  const std::string p = set_.prefix;
  XmlNodePtr root = doc.documentElement();
  XmlNodePtr ue = root->selectSingleNode("./" + p + "uebertragung");
  if (!ue) throw HostError(91, "Object variable or With block variable not set", "FillHeader");
  ue->setAttribute("art",
                   ToLong(cUtil::k(rsboersen.Value("ftp_or_http"))) != 0 ? "OFFLINE" : "ONLINE");
  ue->setAttribute("umfang", cUtil::d(rsboersen.Value("teil_or_voll")) != 0 ? "TEIL" : "VOLL");
  if (version < 120) {
    XmlNodePtr sroot = schema.documentElement();
    ue->setAttribute("version", Attr(sroot, "version"));
  } else {
    ue->setAttribute("version", vb::Left(cUtil::k(rsboersen.Value("strVersion")), 5));
  }
  const std::string folder = app_ ? app_->Folder() : std::string();
  const std::string build = IniGet("Version", "Build", "", Real(folder + "\\module.INI"));
  const std::string own =
      std::to_string(kMajor) + "." + std::to_string(kMinor) + "." + std::to_string(kRevision);
  if (version < 120) {
    ue->setAttribute("sendersoftware", "KAVANTOR-Build" + build + "/FD/" + own);
  } else {
    ue->setAttribute("sendersoftware", "KAVANTOR");
    ue->setAttribute("senderversion", "KV-Build" + build + "/" + own);
  }
  std::string email;
  if (app_)
    if (auto user = app_->CurrentUserRS(); user && !user->Eof() && user->FindField("Email") >= 0)
      email = cUtil::k(user->Value("Email"));
  ue->setAttribute("techn_email", email);

  XmlNodePtr anbieter = root->selectSingleNode("./" + p + "anbieter");
  if (!anbieter)
    throw HostError(91, "Object variable or With block variable not set", "FillHeader");
  SetTextIfEmpty(*anbieter, "./" + p + "anbieternr", m.KundenNr);
  SetTextIfEmpty(*anbieter, "./" + p + "firma", m.FirmaName);
  SetTextIfEmpty(*anbieter, "./" + p + set_.anidName, m.Anid);
  if (XmlNodePtr impressum = anbieter->selectSingleNode("./" + p + "impressum")) {
    std::string text;
    if (app_)
      if (auto s = app_->StdRS()) {
        const std::string col = "WSTEXTIMPRESSUM" + helper_->strTransLang();
        if (s->FindField(col) >= 0) text = cUtil::k(s->Value(col));
      }
    impressum->setText(RemoveControlChars(text));
  }
  if (Text(anbieter->selectSingleNode("./" + p + "firma")).empty())
    throw HostError(23456, "Pflichtelemente für Anbieter (Firmenname) sind nicht vollständig!",
                    "FillHeader");
}

ExporterFactory DefaultExporters() {
  ExporterFactory f;
  f.openImmo = [] { return std::make_unique<cImmoXmlV2>(); };
  return f.WithDefaults();
}

}  // namespace fern
