// Tracked listings, their activities and the activities' attachments. Every value that reaches
// the site goes through the literal builder; free text of the office (subjects, notes, kinds)
// reaches it as inert text, never as markup the site's pages would run.
#include <cmath>
#include <filesystem>
#include <map>

#include "host/cDal.h"
#include "host/cKVBlob.h"
#include "host/cKVHtml.h"
#include "host/cUtil.h"
#include "platform/host_path.h"
#include "platform/vb.h"
#include "services/cImmoHelperV2.h"
#include "website/cWebserverV2.h"
#include "website/sql_literals.h"
#include "website/text_helpers.h"

namespace fern {

using website::HtmlEscapeChars;
using website::HtmlEscapeValue;
using website::SqlGuid;
using website::SqlQuote;
using website::StringToHTML;
using website::StripBraces;

namespace {

namespace fs = std::filesystem;

constexpr const char* kTrackedListingsSql =
    "select OBJ.KENNUNG as OBJKENNUNG, OBJ.DSN as OBJDSN, OBJ.OBJ_DSN as OBJOBJDSN, "
    "OBJDET.EINGABE, "
    "AD.KENNUNG as ADKENNUNG, AD.EMAIL as ADEMAIL, AD.FIRMA as ADFIRMA, AD.NAME as ADNAME, "
    "AD.STRAßE as ADSTRASSE, AD.LAND_PLZ as ADPLZ, AD.ORT as ADORT, "
    "FLDART.NOTIZ, FLDART.KÜRZEL, FLDART.INTERN as FLDARTINTERN from OBJ "
    "inner join OBJDET on OBJ.DSN = OBJDET.OBJ_DSN "
    "inner join FLDART on FLDART.DSN = OBJDET.FLDART_DSN "
    "left join AD on OBJ.AD_ANBIETER_DSN = AD.DSN "
    "where OBJ.TRACKING > 0 "
    "and (FLDART.INTERN = 'HeadLine' or FLDART.INTERN = 'STRAßE' or FLDART.INTERN = "
    "'Land_PLZ_Ort') "
    "order by OBJ.KENNUNG, FLDART.KÜRZEL";

constexpr const char* kNoDate = "1900-01-01 00:00:00";

// A text for the site: the site's columns hold an empty text as '', not as NULL.
std::string Text(const std::string& text) {
  return text.empty() ? std::string("''") : website::SqlValue(Variant(text));
}

std::string Joined(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values) out += (out.empty() ? "" : ",") + Text(v);
  return out;
}

// The site prints these values into its pages as they stand: markup characters become
// entities, so a "<script>" is shown and never run.
std::string InertHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

std::string InertValue(const Variant& value) { return HtmlEscapeChars(InertHtml(cUtil::k(value))); }

std::string DateText(const Variant& value) {
  if (cUtil::k(value).empty() || !vb::IsDate(value)) return kNoDate;
  return vb::Format(Variant::Date(vb::CDate(value)), "yyyy-mm-dd hh:nn:ss");
}

// One tracked listing, gathered from its rows.
struct TrackedListing {
  std::string dsn, kennung, headline, street, plz, ort, login, password;
  std::string firma, name, ownerStreet, ownerPlz, ownerOrt, parent;
};

}  // namespace

// --- tracked listings --------------------------------------------------------------------------

void cWebserverV2::CreateImportScript_InsertTable_OBJTRACK() {
  // The listing step filled the same list with every listing it wrote; only tracked listings
  // may bring their activities to the site.
  trackingArray.clear();
  std::shared_ptr<db::Recordset> rs;
  try {
    rs = dal_->GetRecordset(strConnect_, kTrackedListingsSql, 4);
  } catch (const std::exception&) {
    return;
  }
  if (!rs || rs->RecordCount() <= 0) return;

  // Gathered by key, not by neighbouring rows: the order by ID lets two listings with one ID
  // interleave.
  std::vector<TrackedListing> tracked;
  std::map<std::string, size_t> byKey;
  const std::string headline = vb::UCase("HeadLine"), street = vb::UCase("STRAßE"),
                    location = vb::UCase("Land_PLZ_Ort");
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    try {
      const std::string dsn =
          StripBraces(StringToHTML(Variant(HtmlEscapeValue(rs->Value("OBJDSN")))));
      const auto [at, added] = byKey.try_emplace(vb::UCase(dsn), tracked.size());
      if (added) {
        TrackedListing t;
        t.dsn = dsn;
        t.kennung = StringToHTML(Variant(HtmlEscapeValue(rs->Value("OBJKENNUNG"))));
        t.parent = StripBraces(StringToHTML(Variant(HtmlEscapeValue(rs->Value("OBJOBJDSN")))));
        tracked.push_back(t);
      }
      TrackedListing& t = tracked[at->second];
      // By the internal name, which the office cannot rename; the code can be.
      const std::string intern = vb::UCase(cUtil::k(rs->Value("FLDARTINTERN")));
      const std::string value = HtmlEscapeValue(rs->Value("EINGABE"));
      if (intern == headline) {
        t.headline = value;
      } else if (intern == street || intern == "STRASSE") {
        t.street = value;
      } else if (intern == location) {
        const std::vector<std::string> parts = m_oImmoHelper->GetLKZPLZOrtFromString(value);
        t.plz = parts.size() > 1 ? parts[1] : std::string();
        t.ort = parts.size() > 2 ? HtmlEscapeChars(parts[2]) : std::string();
      }
      const std::string email = HtmlEscapeValue(rs->Value("ADEMAIL"));
      if (!email.empty()) {
        auto owner = [&](const char* column) {
          return StringToHTML(Variant(HtmlEscapeValue(rs->Value(column))));
        };
        t.login = vb::Trim(email);
        t.password = StringToHTML(
            Variant(vb::Replace(vb::Trim(HtmlEscapeValue(rs->Value("ADKENNUNG"))), " ", "")));
        t.firma = owner("ADFIRMA");
        t.name = owner("ADNAME");
        t.ownerStreet = owner("ADSTRASSE");
        t.ownerPlz = owner("ADPLZ");
        t.ownerOrt = owner("ADORT");
      }
    } catch (const std::exception&) {
      // A row that can't be read is passed over; the listing's other rows still count.
    }
  }

  for (const TrackedListing& t : tracked) {
    try {
      WSMessage("iWSTracking", t.kennung);
      trackingArray.push_back(
          {StringToHTML(Variant(t.dsn)), StringToHTML(Variant(t.kennung)), std::floor(vb::Now())});
      WriteImportStatement(
          "insert into $table_objtrack (OBJDSN, OBJKENNUNG, HEADLINE, STRASSE, PLZ, ORT, LOGIN, "
          "PASSWORT, USERFIRMA, USERNAME, USERSTRASSE, USERPLZ, USERORT, PARENTDSN ) values (" +
          Joined({t.dsn, HtmlEscapeChars(t.kennung), HtmlEscapeChars(t.headline), t.street, t.plz,
                  t.ort, t.login, t.password, t.firma, t.name, t.ownerStreet, t.ownerPlz,
                  t.ownerOrt, t.parent}) +
          ")");
    } catch (const std::exception&) {
      // A listing whose row can't be read is left out; the writer keeps a failed write itself.
    }
  }
}

// --- activities --------------------------------------------------------------------------------

void cWebserverV2::CreateImportScript_InsertTable_AKTTRACK(const std::string& portalDsn) {
  // A script in a note is worth a line in the list; the note still goes out, as text.
  auto checkActivityScript = [&](db::Recordset& rs) {
    const std::string note = cUtil::k(rs.Value("Notiz"));
    if (vb::UCase(note).find("<SCRIPT") == std::string::npos) return note;
    std::string kennung, subject, kind, date;
    try {
      kennung = cUtil::k(rs.Value("Kennung"));
      subject = cUtil::k(rs.Value("Subject"));
      kind = cUtil::k(rs.Value("Name"));
      date = DateText(rs.Value("DATUM"));
    } catch (const std::exception&) {
      // A column that can't be read leaves its value empty.
    }
    WSMessage("iWSText", T("**** WARNUNG: HTML-Script in Aktivität") + " " + kind + " " + kennung +
                             " " + subject + " [" + date + "]");
    return note;
  };

  for (const TrackEntry& entry : trackingArray) {
    auto rs =
        dal_->GetRecordset(strConnect_, "exec ObjTracking " + cUtil::SqlStr(Variant(entry.dsn)), 4);
    if (!rs || rs->Eof()) continue;
    WSMessage("iWSAKTTracking", entry.kennung);
    for (; !rs->Eof(); rs->MoveNext()) {
      const std::string akt = cUtil::k(rs->Value("DSN"));
      const Variant& statusValue = rs->Value("OBJTRACKINGSTATUS");
      const int32_t status = vb::IsNumeric(statusValue) ? vb::CLng(statusValue) : 0;
      if (status < 1 || status > 5) continue;
      std::string columns = "AKTDSN, OBJDSN, OBJKENNUNG, DATUM";
      std::vector<std::string> values = {entry.dsn, entry.kennung, DateText(rs->Value("DATUM"))};
      if (status >= 2 && status <= 4) {
        columns += ", BETREFF";
        values.push_back(InertValue(rs->Value("Subject")));
      }
      if (status == 3 || status == 4) {
        columns += ", NOTIZ";
        values.push_back(HtmlEscapeChars(TrackingPlainText(checkActivityScript(*rs))));
      }
      if (status <= 4) {
        columns += ", STATUS, AktArt";
        values.push_back(cUtil::k(statusValue));
        values.push_back(InertValue(rs->Value("Name")));
      }
      if (status >= 4) CreateTrackFilesScript(portalDsn, akt);
      WriteImportStatement("insert into $table_akttrack (" + columns + ") values (" + SqlGuid(akt) +
                           ", " + Joined(values) + ")");
    }
  }
}

std::string cWebserverV2::TrackingPlainText(const std::string& note) {
  // Always plain text: the site prints the note into its pages, so markup left in it would
  // run there. A note without markup keeps its line breaks, which the extraction would fold.
  if (note.find_first_of("<&") == std::string::npos) return InertHtml(note);
  return InertHtml(cKVHtml::ExtractPlainText(note));
}

// --- attachments -------------------------------------------------------------------------------

void cWebserverV2::CreateTrackFilesScript(const std::string& portalDsn, const std::string& aktDsn) {
  auto rs = dal_->GetRecordset(strConnect_,
                               "exec TrackingFiles " + cUtil::SqlStr(Variant(portalDsn)) + "," +
                                   cUtil::SqlStr(Variant(aktDsn)),
                               4);
  // Also when no attachment is left: the site must lose the ones it had.
  WriteImportStatement("delete from $table_trackfiles where AKTDSN=" + SqlGuid(aktDsn));
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    const std::string source = cUtil::k(rs->Value("TRACKFILENAME"));
    // The file's own name: the office's folders are none of the site's business.
    const std::string name =
        website::ReplaceString(source.substr(source.find_last_of("\\/") + 1), "_", ".");
    const Variant& hasAttach = rs->Value("HASATTACH");
    if (name.empty() || !vb::IsNumeric(hasAttach) || vb::CLng(hasAttach) != 1) continue;
    const std::string fileDsn = cUtil::k(rs->Value("FILEDSN"));
    WSMessage("iWSTrackFiles", name);
    const std::string target = SiteFolder() + "\\trackfiles\\" + StripBraces(fileDsn) + "-" + name;
    try {
      std::error_code ec;
      if (!source.empty() && fs::is_regular_file(ResolveHostPath(source), ec))
        fs::copy_file(ResolveHostPath(source), ResolveHostPath(target),
                      fs::copy_options::overwrite_existing);
      else
        kvBlob_->GetSingleFileByBlobDsn(strConnect_, fileDsn, target);
    } catch (const std::exception& e) {
      // One attachment the host can't give is no reason to stop the site's whole import.
      WSMessage("iWSSilentError", e.what());
    }
    std::error_code ec;
    const fs::path copy = ResolveHostPath(target);
    if (!fs::is_regular_file(copy, ec) || fs::file_size(copy, ec) < 1 || ec) {
      WSMessage("iWSTrackFilesError", target);
      continue;
    }
    WriteImportStatement("insert into $table_trackfiles (AKTDSN, FILEDSN, FILENAME) values (" +
                         SqlGuid(cUtil::k(rs->Value("AKTDSN"))) + ", " + SqlGuid(fileDsn) + ", " +
                         SqlQuote(name) + ")");
  }
}

}  // namespace fern
