// Viewing appointments, pictures and documents of the site's listings.
#include <cmath>
#include <filesystem>

#include "core/cFernDispatcher.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "platform/cp1252.h"
#include "platform/host_path.h"
#include "platform/vb.h"
#include "services/cImmoHelperV2.h"
#include "website/cWebserverV2.h"
#include "website/sql_literals.h"
#include "website/text_helpers.h"

namespace fern {

namespace fs = std::filesystem;
using website::SqlQuote;
using website::SqlValue;
using website::StripBraces;

namespace {

constexpr int32_t kServicePictures = 15;
constexpr int32_t kOwnServerPictures = 100;

// A date in a fixed pattern, German whatever the process locale.
std::string DateText(double serial, std::string_view pattern) {
  return vb::Format(Variant::Date(serial), pattern);
}

bool IsDateValue(const Variant& v) { return !v.IsNull() && !v.IsEmpty() && vb::IsDate(v); }

// The name a file gets on the site: umlauts spelled out, lower case. Only the name: the work
// folder above it keeps its spelling.
std::string SiteFileName(const std::string& path) {
  return vb::LCase(cUtil::Replace_GermSonderzeichen(cUtil::GetFileName(path)));
}

// A name the transfer files and the import carry unchanged: Windows-1252, and no "|", line
// break or double quote (the import turns every double quote into a blank).
bool SiteCanTake(const std::string& name) {
  return name.find_first_of("|\r\n\"") == std::string::npos && cp1252::Representable(name);
}

// The description a document's file name carries after its first "#", without the extension:
// "fb1-doc1#Grundriss.pdf" -> "Grundriss".
std::string DocumentDescription(const std::string& fileName, const std::string& extension) {
  const size_t hash = fileName.find('#');
  if (hash == std::string::npos) return {};
  std::string text = fileName.substr(hash + 1);
  if (extension.empty()) return text;
  if (text.size() > extension.size() + 1) return text.substr(0, text.size() - extension.size() - 1);
  return {};
}

bool Exists(const std::string& hostPath) {
  try {
    return cUtil::Exist(hostPath);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

// --- appointments ------------------------------------------------------------------------------

void cWebserverV2::CreateImportScript_InsertTable_TERMINE(const std::string& key,
                                                          const std::string& parentKey) {
  std::shared_ptr<db::Recordset> rs;
  try {
    auto kinds = Query("select DSN from Aktivitätenarten where (Name=" +
                       cUtil::SqlStr(Variant(settings.VISITATION)) + ") ");
    if (!kinds || kinds->Eof()) return;
    const std::string kind = cUtil::k(kinds->Value("DSN"));
    const std::string listing = cUtil::SqlStr(Variant("{" + key + "}"));
    const std::string owners = parentKey.empty()
                                   ? "where OBJ_DSN=" + listing + " "
                                   : "where OBJ_DSN in (" + listing + "," +
                                         cUtil::SqlStr(Variant("{" + parentKey + "}")) + ") ";
    const double today = std::floor(vb::Now());
    rs = Query("select DSN, DATUM, DATUM_BIS from AKT " + owners +
               "and ART_DSN=" + cUtil::SqlStr(Variant(kind)) + " and DATUM is not null " +
               "and DATUM >= " + cUtil::SQLDate(Variant::Date(today)) + " order by DATUM");
  } catch (const std::exception&) {
    return;
  }
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    try {
      const Variant from = rs->Value("DATUM");
      const Variant to = rs->Value("DATUM_BIS");
      std::string start = "NULL", end = "NULL", shown;
      if (IsDateValue(from)) {
        start = "'" + DateText(vb::CDate(from), "yyyy-mm-dd hh:nn") + "'";
        shown = DateText(vb::CDate(from), "dd.mm.yyyy") + "@" + DateText(vb::CDate(from), "hh:nn");
      }
      if (IsDateValue(to)) {
        const std::string until = DateText(vb::CDate(to), "hh:nn");
        end = "'" + until + "'";
        shown = "am " + vb::Replace(shown, "@", " von ") + " bis " + until;
      } else {
        shown = "am " + vb::Replace(shown, "@", " um ");
      }
      if (start == "NULL") continue;
      WriteImportStatement(
          "insert into $table_termine (TERM_DSN,TERM_DATUM,TERM_ENDE,TERM_DAT_DSN) values(" +
          SqlQuote(StripBraces(cUtil::k(rs->Value("DSN")))) + "," + start + "," + end + "," +
          SqlQuote(key) + ")");
      WSMessage("iWSDate", shown);
    } catch (const std::exception&) {
      // An appointment the host can't give is left out; the listing's others still go.
    }
  }
}

// --- pictures and documents --------------------------------------------------------------------

void cWebserverV2::TransferObjectPictures(db::Recordset& rsObj, db::Recordset&) {
  try {
    // Only a listing changed since its last transfer; one without a change time counts as
    // changed, or its pictures would never reach the site.
    const Variant touch = rsObj.Value("TOUCH");
    if (!touch.IsNull() && !(cUtil::d(touch) > cUtil::d(rsObj.Value("LETZTE_UEBERTRAGUNG"))))
      return;
  } catch (const std::exception&) {
    return;
  }
  try {
    WriteImportStatement("delete from $table_pic where DSN = " + SqlQuote(currentListingKey));
  } catch (const std::exception&) {
    // The writer keeps a failed write as its own and fails the whole import with it.
  }
  const std::string host = KVApp_ ? KVApp_->Folder() : std::string();
  const std::string pictures = SiteFolder() + "\\pic.obj\\";
  std::string datei, kurz, lang;
  bool inherit = false;
  // A value or picture file that can't be had is left out; a picture missing its files is
  // reported below and gets no row.
  auto step = [](auto&& call) {
    try {
      call();
    } catch (const std::exception&) {
    }
  };
  step([&] { datei = cUtil::k(rsObj.Value("DATEI")); });
  step([&] {
    if (auto company = KVApp_->StdRS(); company && !company->Eof()) {
      kurz = cUtil::k(company->Value("MMDATEIKURZ"));
      lang = cUtil::k(company->Value("MMDATEILANG"));
    }
  });
  step([&] {
    inherit = !rsObj.Value("OBJ_DSN").IsNull() &&
              cUtil::b(Variant(
                  util_->IniGet("OPTIONS", "VERERBTE_OBJEKTBILDER", "1", host + "\\kavantor.ini")));
  });
  m_oImmoHelper->m_JPGFrame = frameOnline;
  m_oImmoHelper->m_JPGRama = ramaOnline;

  auto warn = [this](const std::string& source, const std::string& target) {
    WSMessage("iWSText", T("Warnung: Das Bild %1 konnte nicht", source));
    WSMessage("iWSText", T("in den temporären Ordner %1 kopiert werden.", target));
  };
  const int32_t limit = serviceMode ? kServicePictures : kOwnServerPictures;
  for (int32_t i = 1; i <= limit; ++i) {
    std::string source, description;
    try {
      if (i == 1 && ramaOnline) {
        kvUtil_->GetPicFileName(1, host, datei, "", "Online", source, description);
        if (!source.empty() && !Exists(source)) source.clear();
      }
      if (source.empty())
        kvUtil_->GetPicFileName(i - 1, host, datei, kurz, lang, source, description);
      if (source.empty() && inherit)
        source = m_oImmoHelper->GetStammBilder(rsObj, i, description, host);
    } catch (const std::exception&) {
      // Taken as no picture under this number, as a missing file is.
    }
    const std::string name = SiteFileName(source);
    if (name.empty()) continue;  // no picture with this number
    const std::string picture = pictures + name;
    const std::string thumbnail = pictures + "tn_" + name;
    if (!SiteCanTake(name)) {
      warn(source, thumbnail);
      continue;
    }
    if (i == 1 && frameOnline) {
      step([&] {
        util_->JPGFrameShrink(source, picture, settings.FILELENGTH, settings.PICWIDTH, copyright,
                              copyrightText, host);
      });
      step([&] {
        util_->JPGFrameShrink(source, thumbnail, settings.THUMBNAILGROESSE,
                              settings.THUMBNAILBREITE, copyright, copyrightText, host, true);
      });
    } else {
      step([&] {
        util_->ShrinkJPG(source, picture, settings.FILELENGTH, settings.PICWIDTH, copyright,
                         copyrightText);
      });
      step([&] {
        util_->ShrinkJPG(source, thumbnail, settings.THUMBNAILGROESSE, settings.THUMBNAILBREITE,
                         false, "");
      });
    }
    // A row only for a picture whose both files are there: the site shows the one and links
    // the other.
    if (Exists(thumbnail) && Exists(picture)) {
      WSMessage("iWSPics", source);
      WritePicRow("pic.obj/" + name, description, i, 0);
    } else {
      warn(source, thumbnail);
    }
  }

  if (datei.empty()) return;
  const size_t cut = datei.find_last_of('\\');
  const std::string folder = cut == std::string::npos ? std::string() : datei.substr(0, cut + 1);
  const std::string base = cut == std::string::npos ? datei : datei.substr(cut + 1);
  // Searched in the folder's kept listing: the picture folder holds every listing's files, and
  // listing it again for each listing would make a night's run grow with its square.
  std::vector<std::string> found{std::string()};
  try {
    std::string start = host + "\\pic.obj\\" + folder;
    start.pop_back();
    const std::string separator = start.back() == '\\' || start.back() == '/' ? "" : "\\";
    for (const std::string& name : FindKeptFiles(ResolveHostPath(start), base + "-doc*.*"))
      found.push_back(start + separator + name);
  } catch (const std::exception&) {
    // A folder that can't be named or read holds no documents for this listing.
  }
  for (size_t n = 1; n < found.size(); ++n) {
    try {
      const std::string& path = found[n];
      const std::string fileName = cUtil::GetFileName(path);
      const std::string extension = cUtil::GetFileExtender(path);
      const std::string description = DocumentDescription(fileName, extension);
      const std::string name = "pic.obj\\" + SiteFileName(fileName);
      const std::string target = SiteFolder() + "\\" + name;
      // A script among the documents would run on the hosting service's server.
      if (serviceMode && vb::LCase(extension).find("php") != std::string::npos) continue;
      if (!SiteCanTake(name)) {
        WSMessage("iWSText", T("Warnung: Die Datei %1 konnte nicht", path));
        WSMessage("iWSText", T("in den temporären Ordner %1 kopiert werden.", target));
        continue;
      }
      std::error_code ec;
      fs::copy_file(ResolveHostPath(path), ResolveHostPath(target),
                    fs::copy_options::overwrite_existing, ec);
      if (!Exists(target)) continue;
      WSMessage("iWSDocs", path);
      WritePicRow(vb::Replace(name, "\\", "/"), description, static_cast<int32_t>(n), 1);
    } catch (const std::exception&) {
      // A document that can't be copied gets no row; the listing's others still go.
    }
  }
}

void cWebserverV2::WritePicRow(const std::string& url, const std::string& description, int32_t typ,
                               int32_t type) {
  // The description has no apostrophe left after the escape; SqlQuote still makes "\" and "$"
  // inert and writes an empty one as ''.
  WriteImportStatement("insert into $table_pic (DSN, URL, BESCHREIBUNG, TYP, TYPE) values (" +
                       SqlQuote(currentListingKey) + "," + SqlValue(Variant(url)) + "," +
                       SqlQuote(website::HtmlEscapeValue(Variant(description))) + "," +
                       std::to_string(typ) + ", " + std::to_string(type) + ")");
}

}  // namespace fern
