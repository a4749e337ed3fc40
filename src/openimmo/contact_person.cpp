#include "openimmo/contact_person.h"

#include <filesystem>
#include <system_error>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cKVBlob.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"
#include "services/cImmoHelperV2.h"

namespace fern::openimmo {

namespace {

std::string First(const std::vector<std::string>& v) { return v.empty() ? std::string() : v[0]; }

// The first element of that local name at or below `node`, in document order.
XmlNodePtr FindElement(const XmlNodePtr& node, const std::string& local) {
  if (!node) return nullptr;
  for (const XmlNodePtr& c : node->ChildElements()) {
    if (c->baseName() == local) return c;
    if (XmlNodePtr deeper = FindElement(c, local)) return deeper;
  }
  return nullptr;
}

// The section's entries: every `element` of its `zuordnung` children.
std::vector<XmlNodePtr> SectionEntries(const XmlNodePtr& section) {
  std::vector<XmlNodePtr> out;
  if (!section) return out;
  for (const XmlNodePtr& z : section->ChildElements())
    for (const XmlNodePtr& e : z->ChildElements("element")) out.push_back(e);
  return out;
}

// The name entry selects the person: its source is an address key or the text a user's name
// is found in, never the name itself, which the person pass writes.
bool IsKeyEntry(const XmlNodePtr& entry) { return Attr(entry, "element") == "name"; }

bool IsEmptyElement(const XmlNodePtr& node) { return node && node->text().empty(); }

// Runs one step of a pass; a failing step leaves its element and the pass goes on.
template <class F>
void Step(F&& f) {
  try {
    f();
  } catch (const HostError&) {
  } catch (const std::exception&) {
  }
}

}  // namespace

std::string ContactPerson::T(const std::string& german) const {
  return Translate(Session().g_oLanguagePack.get(), german, {});
}

void ContactPerson::StartKontaktPhase() {
  kontaktCache_.clear();
  kontaktFotos_.clear();
  activeUsers_.reset();
  activeFieldTypes_.reset();
}

void ContactPerson::LoadKontaktLists() {
  if (!activeUsers_)
    activeUsers_ = run_.dal->GetRecordset(
        run_.connect,
        std::string("Select DSN, Login_name, Name, AD_DSN, TelefonBuero, TelefonFunk, Fax, Email "
                    " from Ben where Aktiv = 1") +
            " order by Len(Name) DESC");
  if (!activeFieldTypes_)
    activeFieldTypes_ =
        run_.dal->GetRecordset(run_.connect, "Select * from FLDART Where AKTIV = 1");
}

void ContactPerson::WriteLogLine(const std::string& text, bool error) {
  run_.events.RaiseInternalState(error ? state::kLoggedNotListed : state::kInfo, text);
  if (Session().g_blnDebugLog) WriteDebugLog(text);
}

void ContactPerson::MapKontaktperson(XmlDocument& mapping, db::Recordset& rsObj,
                                     db::Recordset& details, XmlDocument& schema, XmlNode& element,
                                     const tMandant& m, const std::string& folder,
                                     const std::string& version) {
  try {
    LoadKontaktLists();
    const XmlNodePtr section = FindElement(mapping.documentElement(), "kontaktperson");
    XmlNodePtr nameEntry;
    for (const XmlNodePtr& e : SectionEntries(section))
      if (Attr(e, "element") == "name") {
        nameEntry = e;
        break;
      }
    const std::string quelltyp = vb::UCase(Attr(nameEntry, "quelltyp"));
    const std::string quelle = Attr(nameEntry, "quelle");

    std::string key;
    int32_t typ = 0;
    std::string link;
    if (quelltyp == "FELD") {
      key = cUtil::k(rsObj.Value(quelle));
    } else if (quelltyp == "FELDART") {
      typ = ToLong(First(run_.mapping.Feldart(details, quelle, "TYP")));
      if (typ == 7) {
        link = First(run_.mapping.Feldart(details, quelle, "LINK_DSN"));
        key = link;
      } else {
        key = First(run_.mapping.Feldart(details, quelle, "Eingabe" + run_.data->strTransLang()));
        if (key.empty()) key = First(run_.mapping.Feldart(details, quelle, "Eingabe"));
      }
    } else {
      WriteLogLine(">>>> " + T("Fehler: Fehlerhafte Definition bei Kontaktzuordnung !"), true);
    }

    std::shared_ptr<tKontakt> contact;
    if (auto hit = kontaktCache_.find(key); hit != kontaktCache_.end()) {
      contact = hit->second;
    } else {
      contact = std::make_shared<tKontakt>();
      contact->strKontaktid = key;
      if (quelltyp == "FELD") {
        contact->strADDSN = key;
        GetKontaktFromAD(contact->strADDSN, *contact);
      } else if (quelltyp == "FELDART" && typ == 7) {
        contact->strADDSN = link;
        GetKontaktFromAD(contact->strADDSN, *contact);
      } else if (quelltyp == "FELDART" && typ == 3) {
        GetKontaktFelder(*contact, key);
      } else {
        WriteLogLine(
            ">>>> " +
                T("Fehler: Keine Text- oder AdressFeldart bei Definition der Kontaktzuordnung!"),
            true);
      }
      kontaktCache_[contact->strKontaktid] = contact;
    }

    std::shared_ptr<db::Recordset> contactDetails;
    bool onlyContactFields = false;
    if (!contact->strADDSN.empty()) {
      std::vector<std::string> codes;
      size_t asked = 0;
      for (const XmlNodePtr& e : SectionEntries(section)) {
        if (vb::UCase(Attr(e, "quelltyp")) != "FELDART" || Attr(e, "element") == "name") continue;
        ++asked;
        const std::string code = Attr(e, "quelle");
        activeFieldTypes_->SetFilter(" Kürzel = '" + vb::Replace(code, "'", "''") + "'");
        bool detail = false;
        for (; !activeFieldTypes_->Eof(); activeFieldTypes_->MoveNext())
          if (cUtil::my_val(cUtil::k(activeFieldTypes_->Value("Details"))) == 1) detail = true;
        activeFieldTypes_->ClearFilter();
        if (detail) codes.push_back(code);
      }
      if (!codes.empty()) contactDetails = GetKontaktDetails(codes, contact->strADDSN);
      onlyContactFields = codes.size() == asked;
    }

    XmlNodePtr kontakt = element.selectSingleNode("./" + run_.settings.prefix + "kontaktperson");
    if (!kontakt) return;
    FillKontaktperson(section, kontakt, rsObj, details, contactDetails.get(), onlyContactFields,
                      schema, m, *contact, folder, version);
  } catch (const HostError& e) {
    // The listing goes on without its contact person; the cause goes to the send log.
    WriteLogLine(">>>> " + e.description() + " ;[Proc: MapKontaktperson]", true);
  } catch (const std::exception& e) {
    WriteLogLine(std::string(">>>> ") + e.what() + " ;[Proc: MapKontaktperson]", true);
  }
}

void ContactPerson::GetKontaktFromAD(const std::string& key, tKontakt& contact) {
  auto rs = run_.dal->GetRecordset(
      run_.connect, " SELECT * from AD WHERE AD.DSN = " + cUtil::SqlUid(Variant(key)));
  if (!rs || rs->Eof()) return;
  contact.strAnrede = cUtil::k(rs->Value("anredekurz"));
  contact.strName = cUtil::k(rs->Value("idx_name"));
  contact.strVorName = vb::Trim(vb::Replace(cUtil::k(rs->Value("name")), contact.strName, ""));
  if (auto& blob = Session().g_oKVBlob)
    contact.strBildPfad = blob->GetContactPicture(run_.connect, cUtil::k(rs->Value("DSN")));

  std::string titles;
  std::shared_ptr<db::Recordset> stdRs = run_.app ? run_.app->StdRS() : Session().g_StdRS;
  if (stdRs && !stdRs->Eof() && stdRs->FindField("Titel") >= 0)
    titles = cUtil::k(stdRs->Value("Titel"));
  // Every match shortens the first name, so the restarted scan ends.
  std::string list = titles;
  while (!list.empty()) {
    const std::string t = cUtil::StrList_DeleteFirst(list, "\r\n");
    if (t.empty()) continue;
    if (cUtil::beg(contact.strVorName + " ", vb::UCase(t) + " ")) {
      contact.strVorName =
          vb::Trim(vb::Mid(contact.strVorName, static_cast<int64_t>(vb::Len(t)) + 1));
      contact.strTitel = vb::Trim(contact.strTitel + " " + vb::Trim(t));
      list = titles;
    }
  }
}

std::string ContactPerson::GetKontaktFelder(tKontakt& contact, const std::string& text) {
  LoadKontaktLists();
  db::Recordset& users = *activeUsers_;
  if (users.RecordCount() == 0) return {};
  for (users.MoveFirst(); !users.Eof(); users.MoveNext()) {
    const std::string name = cUtil::k(users.Value("NAME"));
    // A user without a name is found in no text; a name is matched as it stands, so brackets
    // or wildcards in it are no pattern.
    if (name.empty() || vb::InStr(1, text, name) == 0) continue;
    contact.strADDSN = cUtil::k(users.Value("AD_DSN"));
    contact.strAnsprechEingabe = text;
    contact.strBenDsn = cUtil::k(users.Value("DSN"));
    contact.strEmailDirekt = cUtil::k(users.Value("Email"));
    contact.strName = name;
    contact.strTelDurchw = cUtil::k(users.Value("TelefonBuero"));
    contact.strFaxDirekt = cUtil::k(users.Value("Fax"));
    contact.strTelMobil = cUtil::k(users.Value("TelefonFunk"));
    if (!contact.strADDSN.empty())
      if (auto& blob = Session().g_oKVBlob)
        contact.strBildPfad = blob->GetContactPicture(run_.connect, contact.strADDSN);
    return contact.strBenDsn;
  }
  return {};
}

std::string ContactPerson::KontaktDetailsSql(const std::vector<std::string>& codes,
                                             const std::string& key) const {
  std::string where = " WHERE ( ";
  for (const std::string& code : codes)
    where += " FLDART.KÜRZEL  = " + cUtil::SqlStr(Variant(vb::UCase(code))) + "  OR";
  where = where.substr(0, where.size() - 2) + ") ";
  std::string sql =
      std::string(" SELECT ad.DSN , FLDART.INTERN, FLDART.KÜRZEL, ") +
      " detailsdet.BIS_STR, detailsdet.VON_STR, detailsdet.LINK_DSN, detailsdet.BIS_NUM, "
      "detailsdet.VON_NUM, " +
      " detailsdet.EINGABE, fldart.TYP, fldart.BEZKURZEXPOSE, fldart.BEZEXTERN  ";
  if (!run_.data->strTransLang().empty()) sql += ", detailsdet.EINGABE" + run_.data->strTransLang();
  sql += std::string(" FROM ad INNER JOIN  details ON Ad.dsn = details.ad_dsn  ") +
         " INNER JOIN    detailsdet ON details.DSN = detailsdet.details_Dsn  " +
         " INNER JOIN    FLDART ON    detailsdet.Fldart_Dsn = fldart.dsn  " + where +
         " and ad.dsn = " + cUtil::SqlUid(Variant(key));
  return sql;
}

std::shared_ptr<db::Recordset> ContactPerson::GetKontaktDetails(
    const std::vector<std::string>& codes, const std::string& key) {
  if (codes.empty()) return nullptr;
  auto rs = run_.dal->GetRecordset(run_.connect, KontaktDetailsSql(codes, key));
  if (!rs || rs->RecordCount() == 0) return nullptr;
  return rs;
}

void ContactPerson::GetLangValue(XmlNode& entry, XmlNodePtr& target, const MapContext& c,
                                 tElementInfo* info) {
  // The person's own fields have no language columns: the base text is read.
  const std::string lang = run_.data->strTransLang();
  run_.data->strTransLang("");
  try {
    run_.mapping.GetSourceValue(entry, target, c, info);
  } catch (...) {
    run_.data->strTransLang(lang);
    throw;
  }
  run_.data->strTransLang(lang);
}

std::string ContactPerson::CopyKontaktFoto(const std::string& file, const std::string& folder) {
  // Copied as an attachment without a listing, so only a file that exists at its path is taken.
  if (file.empty() || !cUtil::Exist(file)) return {};
  // Every listing of the person refers to the same copy; it is made again only when gone.
  std::string& copied = kontaktFotos_[{file, folder}];
  std::error_code ec;
  if (!copied.empty() && std::filesystem::is_regular_file(Real(copied), ec)) return copied;
  auto noListing = db::Recordset::Create({});
  std::string title;
  copied = run_.attachments.CopyAnhangFile(file, folder, *noListing, title);
  return copied;
}

void ContactPerson::FillKontaktperson(const XmlNodePtr& section, const XmlNodePtr& kontakt,
                                      db::Recordset& rsObj, db::Recordset& details,
                                      db::Recordset* contactDetails, bool onlyContactFields,
                                      XmlDocument& schema, const tMandant& m,
                                      const tKontakt& contact, const std::string& folder,
                                      const std::string& version) {
  const std::string p = run_.settings.prefix;
  auto child = [&](const std::string& name) { return kontakt->selectSingleNode("./" + p + name); };

  // 1. The person's own detail fields.
  if (contactDetails && section) {
    MapContext c{nullptr, &rsObj, contactDetails, &schema, nullptr};
    for (const XmlNodePtr& entry : List(section->selectNodes(".//element"))) {
      if (IsKeyEntry(entry)) continue;
      Step([&] {
        XmlNodePtr target = child(Attr(entry, "element"));
        if (target) GetLangValue(*entry, target, c, nullptr);
      });
    }
  }

  // 2. The listing's own fields where the mapping names some that are no contact details.
  if (!onlyContactFields && section) {
    if (Session().g_blnDebugLog) WriteDebugLog("blnNurADDetFelder = False");
    MapContext c{nullptr, &rsObj, &details, &schema, nullptr};
    for (const XmlNodePtr& entry : SectionEntries(section)) {
      if (IsKeyEntry(entry)) continue;
      Step([&] {
        XmlNodePtr target = child(Attr(entry, "element"));
        if (IsEmptyElement(target)) run_.mapping.GetSourceValue(*entry, target, c, nullptr);
      });
    }
  }

  // 3. The person's name, phones, e-mail and photo.
  const bool withFoto = ToLong(version) >= 125 && !contact.strBildPfad.empty();
  for (const XmlNodePtr& node : kontakt->ChildElements()) {
    Step([&] {
      if (!IsEmptyElement(node)) return;
      const std::string local = node->baseName();
      const std::string* value = nullptr;
      if (local == "name")
        value = &contact.strName;
      else if (local == "anrede")
        value = &contact.strAnrede;
      else if (local == "titel")
        value = &contact.strTitel;
      else if (local == "vorname")
        value = &contact.strVorName;
      else if (local == "email_direkt")
        value = &contact.strEmailDirekt;
      else if (local == "tel_handy")
        value = &contact.strTelMobil;
      else if (local == "tel_durchw")
        value = &contact.strTelDurchw;
      else if (local == "tel_fax")
        value = &contact.strFaxDirekt;
      if (value) {
        node->setText(cImmoXmlV2::RemoveControlChars(*value));
      } else if (local == "foto" && withFoto) {
        const std::string copied = CopyKontaktFoto(contact.strBildPfad, folder);
        if (copied.empty()) return;  // no reference to a picture that is not there
        node->setAttribute("location", "EXTERN");
        if (XmlNodePtr format = node->selectSingleNode("./" + p + "format"))
          format->setText(cUtil::GetFileExtender(copied));
        if (XmlNodePtr pfad = node->selectSingleNode("./" + p + "daten/" + p + "pfad"))
          pfad->setText(cUtil::GetFileName(copied));
      }
    });
  }

  // 4. The client's company for whatever is still empty.
  for (const XmlNodePtr& node : kontakt->ChildElements()) {
    Step([&] {
      if (!IsEmptyElement(node)) return;
      const std::string local = node->baseName();
      std::string value;
      if (local == "name" || local == "firma")
        value = m.FirmaName;
      else if (local == "email_zentrale")
        value = m.FirmaEmail;
      else if (local == "tel_zentrale")
        value = m.FirmaTel;
      else if (local == "tel_fax")
        value = m.FirmaFax;
      else if (local == "plz")
        value = m.FirmaPlz;
      else if (local == "ort")
        value = m.FirmaOrt;
      else if (local == "url")
        value = m.FirmaWeb;
      else if (local == "strasse") {
        const auto parts = cImmoHelperV2::GetStrasseHausnummer(m.FirmaStrasse, false);
        value = parts[0];
        if (XmlNodePtr nr = kontakt->selectSingleNode("./" + p + "hausnummer"))
          nr->setText(cImmoXmlV2::RemoveControlChars(parts[1]));
      } else if (local == "land") {
        std::string land = m.FirmaLand;
        node->setAttribute("iso_land", cImmoHelperV2::LKZzuordnen(land));
        return;
      } else {
        return;
      }
      node->setText(cImmoXmlV2::RemoveControlChars(value));
    });
  }
}

}  // namespace fern::openimmo
