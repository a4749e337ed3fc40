// One listing's `immobilie`: mapping passes, administrative elements, the fix-ups that depend on
// the schema version, cleaning and the mandatory-field check.
#include "core/cFernDispatcher.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"

namespace fern {

using namespace openimmo;

namespace {

std::string First(const std::vector<std::string>& v) { return v.empty() ? std::string() : v[0]; }

void FalseWhenEmpty(const XmlNodePtr& node, std::initializer_list<const char*> names) {
  if (!node) return;
  for (const char* n : names) {
    auto v = node->getAttribute(n);
    if (!v || v->empty()) node->setAttribute(n, "false");
  }
}

void RemoveChildrenContaining(const XmlNodePtr& node, const std::string& part) {
  if (!node) return;
  for (const XmlNodePtr& c : node->ChildElements())
    if (c->nodeName().find(part) != std::string::npos) node->removeChild(c);
}

}  // namespace

XmlNodePtr cImmoXmlV2::Sel(XmlNode& node, const std::string& path) const {
  std::string xp = ".";
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    xp += "/" + set_.prefix + path.substr(start, slash - start);
    start = slash + 1;
  }
  return node.selectSingleNode(xp);
}

void cImmoXmlV2::MakeOpenImmo(XmlNodePtr& element, const XmlDocumentPtr& mapping,
                              db::Recordset& rsboersen, db::Recordset& rsObj,
                              std::shared_ptr<db::Recordset>& details, const XmlDocumentPtr& schema,
                              const tMandant& m, const std::string& folder,
                              const XmlDocumentPtr& user1, const XmlDocumentPtr& user2,
                              int32_t version) {
  const std::string kennung = vb::Trim(cUtil::k(rsObj.Value("KENNUNG")));
  const std::string display = GetBoersenDisplayName(rsboersen, m);
  try {
    const std::string lang = LoadContentLanguages(rsObj);
    helper_->strTransLang(lang);
    if (!lang.empty()) Work(state::kPerListing, T("Übertragungssprache") + ": " + lang);

    std::vector<std::string> lfao;
    details = helper_->GetObjektDetails(rsObj, "", "", lfao);
    std::array<std::string, 4> texts;
    for (size_t i = 0; i < texts.size() && i < lfao.size(); ++i) texts[i] = lfao[i];
    std::array<bool, 5> flags{};
    const cImmoHelperV2::ListingState state = helper_->GetBoersenObjStatus(rsboersen, rsObj);
    for (size_t i = 0; i < flags.size(); ++i) flags[i] = state[i] != 0;
    const bool full = cUtil::d(rsboersen.Value("teil_or_voll")) == 0;
    const bool collective = full && ToLong(cUtil::k(rsboersen.Value("ftp_or_http"))) == 1;
    // Only a full collective document withdraws by leaving a listing out. Elsewhere nothing
    // would ever withdraw an unchanged listing, so it goes out as DELETE now.
    if (!flags[0] && flags[1] && !collective) flags[0] = true;
    const std::string position = std::to_string(rsObj.AbsolutePosition());
    const std::string count = std::to_string(rsObj.RecordCount());

    if (flags[0]) {
      Work(state::kPerListing, T("Beginne Verarbeitung des Objektes '%1'", kennung));
      if (vb::UCase(vb::Trim(Ini("IS24Transfer", "CopyObjRootDetails", ""))) == "1" &&
          !rsObj.Value("OBJ_DSN").IsNull()) {
        auto parent = dal_->GetRecordset(
            connect_, "Select * from obj where dsn = " + cUtil::SqlUid(rsObj.Value("OBJ_DSN")));
        Work(state::kPerListing, T("Beginne Vererbung des Objektes '%1'", kennung));
        if (parent && !parent->Eof()) {
          for (const char* f : {"PROV_INT", "PROV_ANB", "PROV_QUELLE", "PROV_EIGENE",
                                "PROV_PARTNER", "COMMISSIONFLAG", "PROVINFO"})
            if (rsObj.FindField(f) >= 0 && parent->FindField(f) >= 0)
              rsObj.SetValue(f, parent->Value(f));
          Work(state::kPerListing, T("Objekt") + ": " +
                                       vb::Replace(cUtil::k(parent->Value("KENNUNG")), " ", "") +
                                       " " + vb::Replace(kennung, " ", "") + "  ProvUpdate ");
        }
      }
      if (user1) FillFromZuordnungen(*user1, element, rsboersen, rsObj, *details, *schema);
      FillVerwaltung(rsObj, *details, *schema, *element, mapping, texts, flags, m, rsboersen,
                     folder, version);
      FillFromZuordnungen(*mapping, element, rsboersen, rsObj, *details, *schema);
      if (user2) FillFromZuordnungen(*user2, element, rsboersen, rsObj, *details, *schema);
      ApplyVersionFixups(*element, *details, mapping, version);
      RemoveEmptyNodes(element, version);
      CheckPflichtfelder(*schema, *element, version);
      if (!full || flags[2])
        Work(state::kPerListing,
             T("Börse '%1': %2/%3 Objekt '%4' wird bereitgestellt, Status: %5", display, position,
               count, kennung, flags[2] ? "aktiv" : "gelöscht"));
    } else {
      // Not sent: the unfilled copy must not stand in the document for a listing.
      element = nullptr;
    }
    if (!flags[0] && flags[1] && full && (type_ == 5 || type_ == 11)) {
      // The collective document without this listing withdraws it; the status is written,
      // and the withdrawal told, only when that document was delivered.
      withdrawn_.push_back(
          {kennung, T("Börse '%1': %2/%3 Objekt '%4' wird gelöscht (nicht mehr übertragen)!",
                      display, position, count, kennung)});
      statusQueue_.push_back(" UPDATE boersenobj  SET letzte_uebertragung = " +
                             cUtil::SQLDate(Variant::Date(runStart_)) + " ,   status = 3  WHERE" +
                             " boersenobj.boersen_dsn = " + cUtil::SqlUid(rsboersen.Value("DSN")) +
                             " and boersenobj.obj_dsn = " + cUtil::SqlUid(rsObj.Value("DSN")));
    }
  } catch (const HostError& e) {
    Work(state::kError,
         ">>>> " +
             T("Fehler [Objekt %1]: %2 (%3; %4). Es wird daher nicht übernommen ;[Börse: %5]",
               kennung, std::to_string(e.number()), e.description(), e.source(), display) +
             " ;[Proc: MakeOpenImmo]");
    element = nullptr;
  } catch (const std::exception& e) {
    Work(state::kError,
         ">>>> " +
             T("Fehler [Objekt %1]: %2 (%3; %4). Es wird daher nicht übernommen ;[Börse: %5]",
               kennung, "5", e.what(), "MakeOpenImmo", display) +
             " ;[Proc: MakeOpenImmo]");
    element = nullptr;
  }
}

void cImmoXmlV2::FillVerwaltung(db::Recordset& rsObj, db::Recordset& details, XmlDocument& schema,
                                XmlNode& element, const XmlDocumentPtr& mapping,
                                const std::array<std::string, 4>& texts,
                                const std::array<bool, 5>& flags, const tMandant& m,
                                db::Recordset& rsboersen, const std::string& folder,
                                int32_t version) {
  const std::string p = set_.prefix;
  SetTextIfEmpty(element, "./" + p + "verwaltung_objekt/" + p + "objektadresse_freigeben",
                 flags[4] ? "true" : "false");
  if (XmlNodePtr aktion = Sel(element, "verwaltung_techn/aktion"))
    aktion->setAttribute("aktionart", flags[2] ? "CHANGE" : "DELETE");
  const std::string vt = "./" + p + "verwaltung_techn/" + p;
  SetTextIfEmpty(element, vt + "objektnr_intern", cUtil::k(rsObj.Value("DSN")));
  SetTextIfEmpty(element, vt + "objektnr_extern", vb::Trim(cUtil::k(rsObj.Value("KENNUNG"))));
  SetTextIfEmpty(element, vt + vb::LCase(set_.obidName), GetImmoXmlId(rsObj, true));
  const Variant& touch = rsObj.Value("TOUCH");
  SetTextIfEmpty(element, vt + "stand_vom",
                 touch.IsNull() ? std::string() : vb::Format(touch, "yyyy-mm-dd"));
  SetTextIfEmpty(element, vt + "kennung_ursprung", "KAVANTOR");
  if (flags[3]) {
    const std::string ft = "./" + p + "freitexte/" + p;
    SetTextIfEmpty(element, ft + "lage", texts[0]);
    SetTextIfEmpty(element, ft + "sonstige_angaben", texts[1]);
    SetTextIfEmpty(element, ft + "ausstatt_beschr", texts[2]);
    SetTextIfEmpty(element, ft + "objektbeschreibung", texts[3]);
  }
  if (XmlNodePtr w = Sel(element, "preise/waehrung")) {
    std::string currency;
    if (app_) {
      auto stdRs = app_->StdRS();
      if (stdRs && stdRs->FindField("WÄHRUNG") >= 0) currency = cUtil::k(stdRs->Value("WÄHRUNG"));
    }
    w->setAttribute("iso_waehrung", GetWaehrungIso(currency));
  }
  if (mapping)
    MapKontaktperson(*mapping, rsObj, details, schema, element, m, folder, std::to_string(version));
  if (mapping) {
    if (version > 125 && ToLong(Ini("IS24Transfer", "UseStellplatzTyp125", "0")) == 0)
      FillStellplatzPreise(*mapping, element, details);
    else
      FillStellplatz(*mapping, element, details);
  }
  if (mapping) FillAnhaenge(*mapping, rsboersen, rsObj, details, schema, element, folder, version);
}

void cImmoXmlV2::ApplyVersionFixups(XmlNode& element, db::Recordset& details,
                                    const XmlDocumentPtr& mapping, int32_t version) {
  if (version < 120) return;
  FalseWhenEmpty(Sel(element, "objektkategorie/vermarktungsart"),
                 {"KAUF", "MIETE_PACHT", "ERBPACHT", "LEASING"});
  XmlNodePtr nutzung = Sel(element, "objektkategorie/nutzungsart");
  FalseWhenEmpty(nutzung, {"GEWERBE", "WOHNEN", "ANLAGE", "WAZ"});
  if (version >= 122) {
    XmlNodePtr epart = Sel(element, "zustand_angaben/energiepass/epart");
    if (epart) {
      if (epart->text() == "2")
        epart->setText("BEDARF");
      else if (epart->text() == "3")
        epart->setText("VERBRAUCH");
    }
    XmlNodePtr eeb = Sel(element, "zustand_angaben/energiepass/endenergiebedarf");
    XmlNodePtr evk = Sel(element, "zustand_angaben/energiepass/energieverbrauchkennwert");
    if (epart && eeb && evk) {
      const std::string value = First(Feldart(details, "Energiekennwert", ""));
      if (!value.empty()) {
        if (epart->text() == "BEDARF") {
          eeb->setText(value);
          evk->setText("");
        } else if (epart->text() == "VERBRAUCH") {
          evk->setText(value);
          eeb->setText("");
        }
      }
    }
  }
  if (version >= 125) {
    if (XmlNodePtr g = Sel(element, "verwaltung_techn/gruppen_kennung"))
      if (g->text().empty() && vb::Trim(Ini("OPENIMMO", "EMPTYGROUPKEY", "")) != "1")
        g->setText("0");
    if (XmlNodePtr s = Sel(element, "verwaltung_techn/sprache"))
      if (s->text().empty()) s->setText("de-DE");
  }
  if (version < 126) return;
  if (XmlNodePtr g = Sel(element, "zustand_angaben/energiepass/gebaeudeart"))
    g->setText(nutzung && nutzung->getAttribute("WOHNEN").value_or("") == "true" ? "wohn"
                                                                                 : "nichtwohn");
  RemoveChildrenContaining(Sel(element, "zustand_angaben"), "user_defined");
  if (XmlNodePtr b = Sel(element, "zustand_angaben/baujahr")) {
    const std::string year = First(Feldart(details, "baujahr", "VON_STR"));
    if (cUtil::my_val(year) > 0) b->setText(year);
  }
  if (XmlNodePtr b = Sel(element, "zustand_angaben/energiepass/baujahr")) {
    const std::string mod = First(Feldart(details, "Modernisierung/Sanierung", "VON_STR"));
    if (!mod.empty() && mod != b->text()) {
      std::string t = b->text();
      if (!t.empty()) t += ",";
      b->setText(t + mod);
    }
  }
  if (XmlNodePtr kp = Sel(element, "preise/kaufpreis")) {
    const std::string bis = First(Feldart(details, "kaufpreis", "BIS_STR"));
    const std::string von = First(Feldart(details, "kaufpreis", "VON_NUM"));
    if (!von.empty()) {
      kp->setText(
          FormatNumber("0.00", vb::NumberToText(cUtil::RoundKorrekt(cUtil::my_val(von), 2))));
      std::string src;
      if (mapping)
        if (XmlNodePtr q = mapping->selectSingleNode(
                "/zuordnungen/preise/zuordnung/element/attribut[@attribut='auf_anfrage']/@quelle"))
          src = vb::Trim(q->text());
      const std::string onRequest =
          src.empty() ? std::string() : First(Feldart(details, src, "VON_NUM"));
      if (vb::IsNumeric(Variant(onRequest)) && cUtil::my_val(onRequest) != 0) {
        kp->setText("0");
        kp->setAttribute("auf_anfrage", "true");
      } else if (bis.empty()) {
        kp->setText("");
      }
    }
  }
  if (XmlNodePtr any = Sel(element, "user_defined_anyfield"))
    RemoveChildrenContaining(any, "preisaufanfrage_ja");
  if (XmlNodePtr preise = Sel(element, "preise"))
    for (const XmlNodePtr& c : preise->ChildElements())
      if (c->nodeName().rfind(set_.prefix + "stp_", 0) == 0 && !c->getAttribute("anzahl"))
        c->setAttribute("anzahl", "");
  if (XmlNodePtr a = Sel(element, "flaechen/anzahl_stellplaetze")) a->setText("");
}

void cImmoXmlV2::CheckPflichtfelder(XmlDocument& schema, XmlNode& element, int32_t version) {
  auto fail = [](const std::string& text) { throw HostError(23456, text, "CheckPflichtfelder"); };
  const std::string p = set_.prefix;
  auto category = element.selectNodes("./" + p + "objektkategorie//*");
  if (category->length() < 4)
    fail(
        "Falsche oder fehlende Objektart. Bitte wählen Sie eine andere Objektart."
        "In der XML-Datei sind die Pflichtelemente 'nutzungsart','vermarktungsart' und "
        "'objektart' nicht vollständig vorhanden!");
  if (category->length() > 4) {
    CheckObjektkategorie(element, version);
    category = element.selectNodes("./" + p + "objektkategorie//*");
  }
  if (XmlNodePtr kind = category->item(3)) {
    auto attrs = kind->attributes();
    XmlNodePtr first = attrs && attrs->length() > 0 ? attrs->item(0) : nullptr;
    if (first && first->nodeName().rfind("xmlns", 0) != 0 && !first->baseName().empty() &&
        !first->text().empty()) {
      const std::string value = first->text();
      bool allowed = false;
      schema.setProperty("SelectionNamespaces", Variant(std::string("xmlns:xsd='") + kXsdNs + "'"));
      for (const XmlNodePtr& e : List(schema.selectNodes(
               ".//xsd:attribute[@name=$n]/xsd:simpleType/xsd:restriction/xsd:enumeration",
               {{"n", first->baseName()}})))
        allowed = allowed || e->getAttribute("value").value_or("") == value;
      if (!allowed) kind->setAttribute(first->nodeName(), "");
    }
  }
  if (!Sel(element, "freitexte/objekttitel"))
    fail(T("Das Pflichtfeld '%1' enthält keinen Wert.", "Headline"));
  if (!Sel(element, "geo/plz") && !Sel(element, "geo/ort") && !Sel(element, "geo/geokoordinaten"))
    fail(
        "Fehlerhafte Eingabe in Land_Plz_Ort. Bitte Länge der PLZ überprüfen und ggf. "
        "Länderkennzeichen voranstellen. z.B.: '12345 Oberstdorf' oder 'DEU-12345 Oberstdorf'.");
  bool contact = false;
  for (const char* c :
       {"email_zentrale", "email_direkt", "tel_zentrale", "tel_durchw", "tel_fax", "tel_handy"})
    contact = contact || Sel(element, std::string("kontaktperson/") + c);
  if (!contact)
    fail(
        "Es sind keine Daten für das Pflichtelement 'kontaktperson' vorhanden! "
        "Bitte erfassen Sie unter Extras/Grundeinstellungen/Firmendaten mindestens Firmenname "
        "und Telefonnummer.");
  if (XmlNodePtr preise = Sel(element, "preise"))
    for (const XmlNodePtr& c : preise->ChildElements())
      if (c->nodeName().rfind(p + "stp_", 0) == 0) {
        const bool priced = !GetNodeValue(c, "stellplatzmiete", true).empty() ||
                            !GetNodeValue(c, "stellplatzkaufpreis", true).empty();
        if (priced && GetNodeValue(c, "anzahl", true).empty()) c->setAttribute("anzahl", "0");
      }
}

void cImmoXmlV2::CheckObjektkategorie(XmlNode& element, int32_t) {
  XmlNodePtr cat = Sel(element, "objektkategorie");
  if (!cat) return;
  for (const char* name : {"nutzungsart", "vermarktungsart"}) {
    auto list = cat->ChildElements(name);
    for (size_t i = list.size(); i-- > 1;) cat->removeChild(list[i]);
  }
  if (XmlNodePtr art = Sel(*cat, "objektart")) {
    auto list = art->ChildElements();
    for (size_t i = list.size(); i-- > 1;) art->removeChild(list[i]);
  }
}

}  // namespace fern
