// The work tree, the PHP unpack library and stubs, and the site's two configuration scripts.
#include <filesystem>
#include <fstream>

#include "core/cFernDispatcher.h"
#include "host/LanguagePack.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/private_temp.h"
#include "platform/text_file.h"
#include "platform/vb.h"
#include "website/cWebserverV2.h"
#include "website/php_resources.h"
#include "website/sql_literals.h"
#include "website/text_helpers.h"

namespace fern {

namespace fs = std::filesystem;
using website::PhpSingleQuoted;
using website::StringToHTML;

namespace {

fs::path Real(const std::string& hostPath) { return ResolveHostPath(hostPath); }

// True when `inner` is `outer` or lies below it (both made absolute and normal).
bool Within(const fs::path& inner, const fs::path& outer) {
  const fs::path a = fs::weakly_canonical(inner), b = fs::weakly_canonical(outer);
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;  // a trailing separator
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

// A configuration script as it stands: its lines end in CR LF already, and a lone line break
// inside a value is part of the value.
void WriteScript(const fs::path& path, const std::string& text) {
  WriteBytes(path, cp1252::FromUtf8(text));
}

// A value line of the configuration scripts: "$name=" 'value' "; ".
std::string ValueLine(const std::string& variable, const std::string& value) {
  return variable + PhpSingleQuoted(value) + "; ";
}

}  // namespace

// --- work tree -------------------------------------------------------------------------------

void cWebserverV2::CreateFolderTree(const std::string& path) {
  if (path.size() <= 4) return;
  fs::create_directories(Real(path));
}

void cWebserverV2::CreateTransferFolders() {
  try {
    CreateFolderTree(m_TmpPfad);
  } catch (const std::exception&) {
    // A folder that can't be made shows when the first file is written into it.
  }
  DeleteFolder(SiteFolder());
  for (const char* sub : {"", "\\pic.obj", "\\classes", "\\db", "\\grafiken", "\\trackfiles"}) {
    std::error_code ec;
    fs::create_directories(Real(SiteFolder() + sub), ec);
  }
}

void cWebserverV2::DeleteTransferFiles(const std::string& name) {
  if (name.empty() || m_TmpPfad.empty()) return;
  for (const char* ext : {".big", ".dir", ".php"}) DeleteFile(m_TmpPfad + "\\" + name + ext);
}

void cWebserverV2::DeleteTempFolder() { DeleteFolder(m_TmpPfad); }

void cWebserverV2::MarkKeptOnPurpose() {
  if (!keptOnPurpose_ || m_TmpPfad.empty()) return;
  try {
    std::error_code ec;
    if (!fs::is_directory(Real(m_TmpPfad), ec)) return;
    std::ofstream(Real(GetTransferTempPath() + kSiteWorkFolder) / kSiteWorkKept)
        << "STOPOVER: kept for testing until the next web-site run.\n";
  } catch (const std::exception&) {
    // Unmarked, the work goes with the next run of another portal, as a killed run's does.
  }
}

void cWebserverV2::DeleteFolder(const std::string& path) {
  try {
    std::string p = path;
    cUtil::CutRight(p, "\\");
    cUtil::CutRight(p, "/");
    if (p.empty()) return;
    const fs::path target = Real(p);
    const fs::path root = Real(GetTransferTempPath() + "kvws");
    if (!Within(target, root)) return;
    std::error_code ec;
    fs::remove_all(target, ec);
  } catch (const std::exception&) {
    // Nothing there, or nothing this run may delete: the next run's clear-up tries again.
  }
}

void cWebserverV2::DeleteFile(const std::string& path) {
  try {
    const fs::path file = Real(path);
    std::error_code ec;
    const auto perms = fs::status(file, ec).permissions();
    if (ec || (perms & fs::perms::owner_write) == fs::perms::none) return;
    fs::remove(file, ec);
  } catch (const std::exception&) {
    // A file that isn't there or can't go is left; only the work folder holds it.
  }
}

void cWebserverV2::CopyLogo(const std::string& target, const std::string& source) {
  try {
    const std::string from = KVApp_->Folder() + "\\logos\\" + source;
    if (cUtil::Exist(from) && cUtil::FileLen(from) > 0)
      util_->ShrinkJPG(from, SiteFolder() + "\\grafiken\\" + target, settings.FILELENGTH,
                       settings.PICWIDTH, false, "");
  } catch (const std::exception&) {
    // A logo that can't be copied leaves the site with its own picture.
  }
}

// --- unpack scripts ----------------------------------------------------------------------------

std::string cWebserverV2::CreateExtractStub(const std::string& library,
                                            const std::string& container) {
  const std::string big = container + ".big";
  // The container holds the database script with its password in a web-served folder: it goes
  // however the stub ends.
  return "register_shutdown_function(function () { if (file_exists(__DIR__ . '/' . " +
         PhpSingleQuoted(big) + ")) @unlink(__DIR__ . '/' . " + PhpSingleQuoted(big) +
         "); });\n"
         "include(" +
         PhpSingleQuoted(library + ".php") +
         ");\n"
         "\n"
         "echo " +
         PhpSingleQuoted("<br>" + big + " wird geöffnet.") +
         ";\n"
         "\n"
         "bigfile_extract(" +
         PhpSingleQuoted(big) +
         ", '');\n"
         "\n"
         "echo '<br>Dateien angelegt.';\n"
         "\n"
         "echo '<br>SUCCESS<br>';\n"
         "\n"
         "if (unlink(" +
         PhpSingleQuoted(big) +
         "))\n"
         "  echo " +
         PhpSingleQuoted("<br>" + big + " gelöscht.") + ";\n";
}

bool cWebserverV2::CreateTransferScript(const std::string& strFileName,
                                        const std::string& strBigName, int32_t lCount) {
  try {
    WriteTextFile(Real(strFileName + ".php"), website::kBigfileLibraryPhp);
    for (int32_t k = 1; k <= lCount; ++k) {
      const std::string n = std::to_string(k);
      WriteTextFile(Real(strFileName + "_" + n + ".php"),
                    "<?php\n\n" + CreateExtractStub(strBigName, strBigName + "_" + n) + "\n?>\n");
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool cWebserverV2::CreateStatScript(const std::string& strFileName, const std::string& strBigName) {
  try {
    std::string library = website::kBigfileLibraryPhp;
    const size_t end = library.rfind("?>");
    if (end != std::string::npos) library.erase(end);
    std::string stub = CreateExtractStub(strBigName, strBigName);
    stub.erase(0, stub.find("echo "));  // no include: the library stands above
    WriteTextFile(Real(strFileName), library + stub + "\n?>\n");
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// --- configuration scripts ---------------------------------------------------------------------

bool cWebserverV2::CreateDBDataScript(db::Recordset& rsboersen) {
  const char* fields[] = {"webdb_database", "webdb_host", "webdb_user", "webdb_password"};
  std::vector<std::string> v;
  for (const char* f : fields) {
    const Variant& value = rsboersen.Value(f);
    if (value.IsNull() && !serviceMode) return false;
    v.push_back(cUtil::k(value));
  }
  std::string text = "<?php\r\n\r\ndefine(\"dbdata_inc\", true);\r\n\r\n";
  if (serviceMode) {
    std::string root = settings.SERVICE_WEBROOT;
    if (!root.empty() && root.back() != '/') root += '/';
    text +=
        "require(" + PhpSingleQuoted(root + "kvadmin_v2/kvws_dbconnectmaster.php") + ");\r\n\r\n";
    text += "$host=$master_host;\r\n$dbname=$master_dbname;\r\n$user=$master_user;\r\n";
    text += "$passwd=$master_passwd;\r\n";
  } else {
    text += "//Datenbankverbindung\r\n";
    text += ValueLine("$host=", v[1]) + "\r\n";
    text += ValueLine("$dbname=", v[0]) + "\r\n";
    text += ValueLine("$user=", v[2]) + "\r\n";
    text += ValueLine("$passwd=", cUtil::Decrypt(v[3], host::kPortalPasswordKey)) + "\r\n";
  }
  text += "\r\n//Tabellennamen\r\n$table_root=" + PhpSingleQuoted(settings.tablePrefix) + ";\r\n";
  for (const char* table : {"akttrack", "dat", "fart", "interessenten", "login", "objtrack", "pic",
                            "prot", "sessions", "termine", "user", "trackfiles"}) {
    const std::string t = table;
    text += "$table_" + t + (t == "akttrack" ? "= " : "=") + "$table_root.'" + t + "';\r\n";
  }
  text += "\r\n?>\r\n";
  WriteScript(Real(SiteFolder() + "\\classes\\dbdata.php"), text);
  return true;
}

bool cWebserverV2::CreateDataScript(db::Recordset& rsboersen) {
  auto company = KVApp_->StdRS();
  // One line per value: a field the company row lacks leaves its line out.
  auto field = [&](const std::string& name, std::string& out) {
    try {
      if (!company || company->Eof() || company->FindField(name) < 0) return false;
      out = cUtil::k(company->Value(name));
      return true;
    } catch (const std::exception&) {
      return false;
    }
  };
  std::string text = "<?php\r\n\r\ndefine(\"data_inc\", true);\r\n";
  for (const char* logo : {"WSLOGOBANNER", "WSLOGOMENUE", "WSLOGOWILLKOMMEN"}) {
    std::string name;
    if (field(logo, name) && !name.empty()) CopyLogo(name, name);
  }
  auto sh = [&](const std::string& variable, const std::string& name) {
    std::string value;
    if (field(name, value)) text += ValueLine(variable, StringToHTML(Variant(value))) + "\r\n";
  };
  auto lowerLine = [&](const std::string& variable, const std::string& prefix,
                       const std::string& name) {
    std::string value;
    if (field(name, value))
      text += variable + vb::LCase(PhpSingleQuoted(prefix + StringToHTML(Variant(value))) + "; ") +
              "\r\n";
  };
  text += "\r\n//Grundeinstellungen Firmendaten\r\n";
  sh("$eigenname=", "Firma1Name");
  sh("$eigenzusatz=", "Firma1Zusatz");
  sh("$eigenplz=", "Firma1PLZ");
  sh("$eigenort=", "Firma1Ort");
  sh("$eigenstrasse=", "Firma1Strasse");
  sh("$eigenfax=", "Firma1Fax");
  sh("$eigenemail=", "Firma1EMail");
  sh("$eigeninternet=", "Firma1Internet");
  sh("$eigentelefon=", "Firma1Telefon");
  text += "\r\n//Grundeinstellungen Schnittstelle\r\n";
  try {
    text += ValueLine("$trackingpwd=",
                      serviceMode ? StringToHTML(Variant(settings.webServicePassword))
                                  : cUtil::Decrypt(cUtil::k(rsboersen.Value("webdb_password")),
                                                   host::kPortalPasswordKey)) +
            "\r\n";
  } catch (const std::exception&) {
    // Without a readable password the line is left out; the site's pages use their default.
  }
  text += "\r\n//Grundeinstellungen Webserver\r\n";
  sh("$eigenwsemail=", "WSEMAIL");
  lowerLine("$eigenwscssdatei=", "css/", "WSCSSDATEI");
  lowerLine("$eigenwslogomenue=", "", "WSLOGOMENUE");
  lowerLine("$eigenwslogowillkommen=", "", "WSLOGOWILLKOMMEN");
  lowerLine("$eigenwslogobanner=", "", "WSLOGOBANNER");
  sh("$eigenwstextbanner=", "WSTEXTBANNER");
  sh("$eigenwsaktuell = ", "WSAKTUELL");

  LanguagePack& pack = KVApp_->Language();
  const struct {
    const char* variable;
    const char* field;
    bool html;
  } texts[] = {{"$eigenwswillkommen", "WSHOME", true},
               {"$eigenwswirueberuns", "WSWIRUEBERUNS", true},
               {"$eigenwstextimpressum", "WSTEXTIMPRESSUM", true},
               {"$eigenwspartnerlinks", "WSPARTNERLINKS", false}};
  auto siteText = [&](const std::string& variable, const std::string& name, bool html) {
    std::string value;
    if (field(name, value))
      text += ValueLine(variable, html ? StringToHTML(Variant(value)) : value) + "\r\n";
  };
  std::string languageList;
  if (pack.MultiContentLanguages()) {
    const std::vector<std::string> lcids = pack.ContentLangList();
    for (size_t i = 0; i < lcids.size(); ++i) {
      const std::string& l = lcids[i];
      std::string caption = LanguagePack::GetCaptionFromLCID(vb::CLng(Variant(l)));
      caption = caption.substr(0, caption.find(" ("));
      languageList += "\"" + website::PhpDoubleQuotedText(l) + "\" => \"" +
                      website::PhpDoubleQuotedText(vb::Replace(caption, "\"", "")) + "\",";
      for (const auto& t : texts)
        siteText(std::string(t.variable) + "[" + l + "] = ",
                 i == 0 ? std::string(t.field) : std::string(t.field) + "_LCID" + l, t.html);
    }
    if (!languageList.empty()) languageList.pop_back();
  } else {
    for (const auto& t : texts) siteText(std::string(t.variable) + " = ", t.field, t.html);
  }

  text += "\r\n//Optionen\r\n";
  text += ValueLine("$pfaderweiterung=", StringToHTML(Variant(settings.tablePrefix))) + "\r\n";
  text += ValueLine("$objekteproseite=", StringToHTML(Variant(settings.OBJEKTEPROSEITE))) + "\r\n";
  text += ValueLine("$thumbnailbreite=", std::to_string(settings.THUMBNAILBREITE)) + "\r\n";
  text += ValueLine("$thumbnailgroesse=", std::to_string(settings.THUMBNAILGROESSE)) + "\r\n";
  text += ValueLine("$protokollmail=", StringToHTML(Variant(settings.PROTOKOLLMAIL))) + "\r\n";
  sh("$std_land=", "Land");
  sh("$std_waehrung=", "Währung");
  // The host's editions, each with the flag the site's pages test.
  try {
    const std::string edition =
        vb::UCase(util_->IniGet("MODULE", "edition", "", KVApp_->Folder() + "\\module.ini"));
    if (!edition.empty())
      for (const auto& e :
           {std::pair<const char*, const char*>{"PROFESSIONAL", "$kvedition_professional"},
            std::pair<const char*, const char*>{"NETWORK", "$kvedition_network"}})
        if (edition.find(e.first) != std::string::npos)
          text += ValueLine(std::string(e.second) + "=", "1") + "\r\n";
  } catch (const std::exception&) {
    // Without a readable module.ini the site shows no edition.
  }
  text += "\r\n//Clubversion\r\n";
  text += ValueLine("$schaltermitgliederbereich = ", settings.SHOWMEMBERBUTTON == "1" ? "1" : "0") +
          "\r\n";
  text += ValueLine("$schaltergesuche = ", settings.SHOWPLEASBUTTON == "1" ? "1" : "0") + "\r\n";
  text +=
      ValueLine("$schalterpartnerlinks = ", settings.SHOWPARTNERLINKS == "1" ? "1" : "0") + "\r\n";
  text += "\r\n//Languagepack\r\n";
  text += ValueLine("$switchlanguagesupport = ", pack.Enabled() ? "1" : "0") + "\r\n";
  text += ValueLine("$defaultlanguage = ", std::to_string(pack.DefaultLCID())) + "\r\n";
  if (pack.MultiContentLanguages()) text += "$languages = array(" + languageList + ");\r\n";
  text += "\r\n?>\r\n";
  WriteScript(Real(SiteFolder() + "\\classes\\data.php"), text);
  return true;
}

}  // namespace fern
