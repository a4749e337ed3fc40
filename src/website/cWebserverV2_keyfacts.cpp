// The key-facts block ("Eckdaten") of a listing: a headline and a two-column table with one
// row per field marked for the exposé. A failing step is logged and the block goes on without
// it, so one bad field never stops an unattended run.
#include "core/cFernDispatcher.h"
#include "host/CUDDictionary.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "website/cWebserverV2.h"
#include "website/placeholder_grammar.h"

namespace fern {

namespace {

bool Missing(const Variant& v) { return v.IsNull() || v.IsEmpty(); }

}  // namespace

std::string cWebserverV2::FormatAmount(const Variant& value) {
  return website::FormatAmountText(value);
}

std::string cWebserverV2::CreateEckdatenHtml(db::Recordset* details, int32_t language) {
  if (!details || details->RecordCount() <= 0) return {};
  auto attempt = [this](const std::function<void()>& step) {
    try {
      step();
    } catch (const HostError& e) {
      WSMessage("iWSSilentError", "CreateEckdatenHtml: " + e.description());
    } catch (const std::exception& e) {
      WSMessage("iWSSilentError", std::string("CreateEckdatenHtml: ") + e.what());
    }
  };

  const CUDDictionary* dict = nullptr;
  std::string html = "<P class=\"headline_2\">Eckdaten:</P><TABLE class=\"eck\">";
  attempt([&] {
    if (language == 0) return;
    if (language < 0 || static_cast<size_t>(language) >= dictionaries_.size())
      throw HostError(err::kSubscript,
                      "Kein Wörterbuch für die Inhaltssprache " + std::to_string(language) + ".",
                      "CreateEckdatenHtml");
    dict = dictionaries_[static_cast<size_t>(language)].get();
    html = vb::Replace(html, "Eckdaten:", dict->FLDART("Eckdaten:", 1));
  });
  auto word = [&](const std::string& german) { return dict ? dict->FLDART(german, 1) : german; };

  bool rowsLeft = false;
  attempt([&] {
    details->SetFilter(" EXPOSE <> 0");
    rowsLeft = !details->Eof();
  });
  bool perSquareMetre = false;
  while (rowsLeft) {
    std::string label, value;
    attempt([&] {
      const std::string code = cUtil::k(details->Value("kürzel"));
      if (dict) label = dict->FLDART(code, 2);
      if (label.empty()) label = cUtil::k(details->Value("bezextern"));
      const std::string upper = vb::UCase(code);
      if (upper.find("QMMIETE") != std::string::npos) perSquareMetre = true;
      if (perSquareMetre && upper.find("NEBENKOSTEN") != std::string::npos) {
        label = vb::Trim(vb::Replace(label, ":", "")) + " pro m²:";
        if (dict) label = vb::Replace(label, "pro ", dict->FLDART("pro", 1) + " ");
      }
    });
    attempt([&] { value = KeyFactsValue(*details, dict, word); });
    html += "<TR><TD class=\"eck_sp1\"><P class=\"txt_sp1\">" + label +
            "&nbsp</P></TD><TD class=\"eck_sp2\" ><P class=\"txt_sp2\">" + value + "</P></TD></TR>";
    rowsLeft = false;
    attempt([&] {
      details->MoveNext();
      rowsLeft = !details->Eof();
    });
  }
  attempt([&] { details->ClearFilter(); });
  return html + "</TABLE>";
}

std::string cWebserverV2::KeyFactsValue(
    const db::Recordset& row, const CUDDictionary* dict,
    const std::function<std::string(const std::string&)>& word) {
  const Variant typeCode = row.Value("typ");
  const int32_t typ = Missing(typeCode) ? -1 : vb::CLng(typeCode);
  auto interval = [&](const std::string& v) {
    const Variant intervall = row.Value("intervall");
    const bool translate = dict && !Missing(intervall) && vb::CDbl(intervall) == 1;
    return translate ? website::TranslateIntervalWords(v, word) : v;
  };
  switch (typ) {
    case 0: {
      const std::string caption = cUtil::k(row.Value("Bezeichnung"));
      if (!dict) return caption;
      const std::string translated = dict->FLDARTOP(cUtil::k(row.Value("kürzel")), caption);
      return translated.empty() ? caption : translated;
    }
    case 1: {
      std::string value =
          interval(website::KeyFactsRange(row.Value("von_num"), row.Value("bis_num")));
      const std::string currency =
          KVApp_ && KVApp_->StdRS() ? cUtil::k(KVApp_->StdRS()->Value("währung")) : "";
      if (!value.empty() && !currency.empty()) value += " " + currency;
      return value;
    }
    case 2:
    case 6:
      return interval(cUtil::k(row.Value("eingabe")));
    case 3: {
      std::string text;
      if (dict) text = cUtil::k(row.Value("Eingabe_LCID" + std::to_string(dict->LCID())));
      if (text.empty()) text = cUtil::k(row.Value("Eingabe"));
      return website::LinkText(text);
    }
    case 4: {
      const Variant von = row.Value("von_num");
      return word(!Missing(von) && vb::CDbl(von) != 0 ? "Ja" : "Nein");
    }
    case 7:
      return AddressLink(row);
    case 10: {
      const Variant link = row.Value("LINK_DSN");
      if (link.IsNull()) return {};
      auto project =
          Query(" SELECT BEZEICHNUNG from PROJEKTE  WHERE PROJEKTE.DSN = " + cUtil::SqlUid(link));
      return project->Eof() ? std::string() : cUtil::k(project->Value("BEZEICHNUNG"));
    }
    default:
      return cUtil::k(row.Value("eingabe"));
  }
}

std::string cWebserverV2::AddressLink(const db::Recordset& row) {
  const Variant link = row.Value("LINK_DSN");
  if (link.IsNull()) return cUtil::k(row.Value("Eingabe"));
  auto ad = Query(" SELECT * from AD  WHERE AD.DSN = " + cUtil::SqlUid(link));
  if (ad->Eof()) return {};
  std::string value =
      KVApp_ ? KVApp_->ReplacePlatzhalter(settings.ADDRESSLINK, ad.get()) : settings.ADDRESSLINK;
  auto contact = Query(
      " SELECT FLDART.INTERN, FLDART.KÜRZEL,  detailsdet.EINGABE , fldart.BEZKURZEXPOSE, "
      "fldart.BEZEXTERN   FROM details INNER JOIN    detailsdet ON details.DSN = "
      "detailsdet.details_Dsn   INNER JOIN    FLDART ON    detailsdet.Fldart_Dsn = fldart.dsn  "
      " WHERE (fldart.intern  = 'AD_Telefon' OR fldart.intern  = 'AD_Email' ) and "
      "details.ad_dsn = " +
      cUtil::SqlUid(link));
  for (; !contact->Eof(); contact->MoveNext()) {
    const std::string intern = cUtil::k(contact->Value("INTERN"));
    const std::string entry = cUtil::k(contact->Value("Eingabe"));
    const bool phone = vb::StrComp(intern, "AD_Telefon", true) == 0;
    const bool mail = vb::StrComp(intern, "AD_Email", true) == 0;
    if (phone || (mail && !entry.empty()))
      value += "<BR>" + cUtil::k(contact->Value("BEZEXTERN")) + " " + entry;
  }
  return value;
}

}  // namespace fern
