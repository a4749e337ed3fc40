// A listing's pictures and attachments: copied (pictures shrunk) into the transfer folder and
// described by `anhang` elements, with the customer's picture hooks in between.
#include <filesystem>
#include <system_error>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cDbIni.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlScriptV2.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/listing_attachments.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"
#include "platform/ini_file.h"
#include "services/cFTPTransferV2.h"

namespace fern::openimmo {

namespace {

constexpr int16_t kNotice = 32;

std::string HostFolder(const cFernDispatcher* app) {
  if (app) return app->Folder();
  std::string f = Session().g_strHostPath;
  if (!f.empty() && f.back() == '\\') f.pop_back();
  return f;
}

std::shared_ptr<db::Recordset> StdRow(const cFernDispatcher* app) {
  return app ? app->StdRS() : Session().g_StdRS;
}

std::string StdText(const cFernDispatcher* app, const char* field) {
  auto rs = StdRow(app);
  if (!rs || rs->Eof() || rs->FindField(field) < 0) return {};
  return cUtil::k(rs->Value(field));
}

// A missing column reads as Null, as the listing rows of a single test step may lack one.
Variant Field(db::Recordset& rs, const char* name) {
  return rs.FindField(name) >= 0 ? rs.Value(name) : Variant::Null();
}

// The name a file gets in the transfer folder; `strict` also drops every character a portal's
// file system might refuse.
std::string TargetName(const std::string& file, bool strict) {
  std::string name =
      vb::LCase(vb::Replace(cUtil::Replace_GermSonderzeichen(cUtil::GetFileName(file)), "#", "_"));
  return strict ? cUtil::OnlyAlphaChars(name, "_.") : name;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(Real(a), Real(b), ec);
}

// Removes a target left by an earlier run, so only this run's shrink can make it exist. A
// target that is the source itself is left alone (the shrink refuses it).
void RemoveStale(const std::string& source, const std::string& target) {
  if (SameFile(source, target)) return;
  std::error_code ec;
  std::filesystem::remove(Real(target), ec);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(Real(path), ec);
}

std::vector<std::string> SplitAt(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The child element `local` of `parent` in the parent's namespace; made (appended) when the
// template lacks it.
XmlNodePtr Child(XmlNode& parent, const std::string& local) {
  for (const XmlNodePtr& c : parent.ChildElements(local))
    if (c->namespaceURI() == parent.namespaceURI()) return c;
  XmlDocumentPtr doc = parent.ownerDocument();
  if (!doc) throw HostError(err::kObjectNotSet, "Object variable not set", "SetAnhang");
  const std::string prefix = parent.prefix();
  XmlNodePtr made =
      doc->createNode(1, prefix.empty() ? local : prefix + ":" + local, parent.namespaceURI());
  return parent.appendChild(made);
}

void RemoveChild(XmlNode& parent, const std::string& local) {
  for (const XmlNodePtr& c : parent.ChildElements(local))
    if (c->namespaceURI() == parent.namespaceURI()) parent.removeChild(c);
}

}  // namespace

std::string ListingAttachments::T(const std::string& german, const std::string& p1) const {
  return Translate(Session().g_oLanguagePack.get(), german, {p1});
}

std::string ListingAttachments::Ini(const std::string& section, const std::string& key,
                                    const std::string& def) const {
  return IniGet(section, key, def, Real(HostFolderOf(run_.app) + "\\kavantor.INI"));
}

void ListingAttachments::SetPictureFrames(const std::string& portalName) {
  bool frame = true, rama = true;
  if (run_.app) {
    cDbIni& ini = run_.app->DBIni();
    run_.util->JPGFrameInit(ini);
    const std::string portal = vb::UCase(portalName);
    auto listed = [&](const char* key) {
      for (std::string line : SplitAt(ini.getStr("JPGFrame", key, ""), '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (vb::UCase(line) == portal) return true;
      }
      return false;
    };
    frame = !listed("OnlineFrameNegList");
    rama = !listed("OnlineRamaNegList");
  }
  run_.data->m_JPGFrame = frame;
  run_.data->m_JPGRama = rama;
}

std::string ListingAttachments::PictureGroup(int32_t index, const std::string& title) {
  if (index == 1) return "TITELBILD";
  const std::string t = vb::LCase(title);
  if (Contains(t, "lageplan")) return "KARTEN_LAGEPLAN";
  if (Contains(t, "grundri")) return "GRUNDRISS";
  return "BILD";
}

void ListingAttachments::FillAnhaenge(XmlDocument& mapping, db::Recordset& rsboersen,
                                      db::Recordset& rsObj, db::Recordset& details,
                                      XmlDocument& schema, XmlNode& element,
                                      const std::string& folder, int32_t version) {
  FillBilder(rsboersen, rsObj, element, schema, folder);
  XmlNodePtr root = mapping.documentElement();
  if (!root) return;
  const std::vector<XmlNodePtr> entries = List(root->selectNodes("//anhaenge/*"));
  if (!entries.empty())
    FillAnhangDateien(entries, rsboersen, rsObj, details, element, folder, version);
}

namespace {

// The template `anhang`: the last one of the listing; 91 when a clone is wanted and there is
// none.
XmlNodePtr NewAnhang(XmlNode& element, const std::string& prefix) {
  std::vector<XmlNodePtr> all =
      List(element.selectNodes("./" + prefix + "anhaenge/" + prefix + "anhang"));
  if (all.empty())
    throw HostError(err::kObjectNotSet, "Object variable not set (anhang)", "FillAnhaenge");
  const XmlNodePtr& tmpl = all.back();
  return tmpl->parentNode()->insertBefore(tmpl->cloneNode(true), tmpl);
}

}  // namespace

void ListingAttachments::FillBilder(db::Recordset& rsboersen, db::Recordset& rsObj,
                                    XmlNode& element, XmlDocument&, const std::string& folder) {
  int32_t count = 1;
  if (cUtil::bln(Field(rsObj, "LANG"))) {
    count = ToLong(cUtil::k(Field(rsboersen, "lngMaxPicCount")));
    if (count == 0)
      count = 10;
    else if (count < 0)
      count = 0;
  }
  const std::string hostFolder = HostFolder(run_.app);
  std::string kurz = StdText(run_.app, "MMDateiKurz"), lang = StdText(run_.app, "MMDateiLang");
  const std::string datei = cUtil::k(Field(rsObj, "DATEI"));
  const bool inherit = cUtil::b(Variant(Ini("OPTIONS", "VERERBTE_OBJEKTBILDER", "1")));
  const bool zipping = ToLong(cUtil::k(Field(rsboersen, "zipping"))) == 1;
  auto notice = [this](const std::string& text) { run_.events.RaiseInternalState(kNotice, text); };

  // Each hook call gets a fresh message, so a notice carries only what that call said. The
  // cancel flag holds for the rest of the listing.
  bool cancel = false;
  std::string message;
  if (run_.scripts) {
    run_.scripts->Callback_OpenImmoPicInit(rsboersen, rsObj, kurz, lang, count, cancel, message);
    if (!message.empty()) notice(message);
  }

  // A listing of a partner keeps its pictures unframed; the next listing decides anew.
  const bool partner = ToLong(cUtil::k(Field(rsObj, "CoopObj"))) == 2;
  const bool frame = run_.data->m_JPGFrame && !partner;
  const std::string copyrightText = partner ? "FriendListing" : StdText(run_.app, "COPYRIGHT");
  const bool signature = partner ? false : run_.insertCopyright;

  cKVUtil* kv = Session().g_oKVUtil.get();
  for (int32_t i = 1; i <= count; ++i) {
    std::string file, title;
    if (i == 1 && run_.data->m_JPGRama) {
      if (kv) kv->GetPicFileName(1, hostFolder, datei, "", "Online", file, title);
      if (!file.empty() && !cUtil::Exist(file)) file.clear();
      if (file.empty() && inherit) file = run_.data->GetStammBilder(rsObj, -1, title, hostFolder);
    }
    if (file.empty() && kv) kv->GetPicFileName(i - 1, hostFolder, datei, kurz, lang, file, title);
    if (file.empty() && !Field(rsObj, "OBJ_DSN").IsNull() && inherit)
      file = run_.data->GetStammBilder(rsObj, i, title, hostFolder);
    if (run_.scripts) {
      message.clear();
      run_.scripts->Callback_OpenImmoPicGet(rsboersen, rsObj, i, file, title, cancel, message);
      if (!message.empty()) notice(message);
    }
    if (cancel || file.empty()) continue;

    std::string target = folder + "\\" + TargetName(file, !zipping);
    const bool floorPlan = Contains(vb::LCase(title), "grundri");
    int32_t size = floorPlan ? run_.settings.grundPicLength : run_.settings.picLength;
    int32_t width = floorPlan ? run_.settings.grundPicWidth : run_.settings.picWidth;
    std::string copyright = copyrightText;
    if (run_.scripts) {
      message.clear();
      run_.scripts->Callback_OpenImmoPicCopy(rsboersen, rsObj, i, file, target, size, width,
                                             copyright, cancel, message);
      if (!message.empty()) notice(message);
      if (cancel) continue;
    }

    // The hook's target is the one written, checked and referenced.
    // A shrink that failed wrote nothing, even where the target exists (it is the source).
    RemoveStale(file, target);
    bool written = true;
    try {
      if (i == 1 && frame)
        run_.util->JPGFrameShrink(file, target, size, width, signature, copyright, hostFolder);
      else
        run_.util->ShrinkJPG(file, target, size, width, signature, copyright);
    } catch (const HostError&) {
      written = false;
    }
    if (written && FileExists(target)) {
      notice(T("Bild '%1' wurde für Transfer bereitgestellt", file));
      XmlNodePtr anhang = NewAnhang(element, run_.settings.prefix);
      SetAnhang(rsboersen, *anhang, target, title, PictureGroup(i, title));
    } else {
      notice(T("Bild '%1' konnte nicht komprimiert werden", file));
    }
  }
}

void ListingAttachments::FillAnhangDateien(const std::vector<XmlNodePtr>& entries,
                                           db::Recordset& rsboersen, db::Recordset& rsObj,
                                           db::Recordset& details, XmlNode& element,
                                           const std::string& folder, int32_t version) {
  for (const XmlNodePtr& entry : entries) {
    const std::vector<XmlNodePtr> kids = entry->ChildElements();
    const std::string code =
        cImmoXmlV2::GetNodeValue(kids.empty() ? nullptr : kids.front(), "quelle", true);
    const std::string group = Attr(entry->selectSingleNode(".//option"), "option");
    if (group == "FILM" && version < 124) continue;
    for (const std::string& value :
         run_.data->GetFeldartWert(details, code, "", 0, *run_.dal, run_.connect)) {
      if (value.empty()) continue;
      std::string path, title;
      if (group == "LINKS" || (group == "FILMLINK" && version >= 124)) {
        const std::vector<std::string> parts = SplitAt(value, '#');
        path = parts.size() >= 2 ? parts[0] : value;
        if (parts.size() >= 2) title = parts[1];
      } else {
        path = CopyAnhangFile(value, folder, rsObj, title);
      }
      if (path.empty()) {
        run_.events.RaiseInternalState(kNotice,
                                       T("Anhangsdatei '%1' wurde nicht gefunden!", value));
        continue;
      }
      XmlNodePtr anhang = NewAnhang(element, run_.settings.prefix);
      SetAnhang(rsboersen, *anhang, path, title, group);
    }
  }
}

std::string ListingAttachments::CopyAnhangFile(const std::string& file,
                                               const std::string& targetFolder,
                                               db::Recordset& rsObj, std::string& title) {
  title.clear();
  try {
    const std::string pictures = HostFolder(run_.app) + "\\pic.obj";
    std::string source;
    if (FileExists(file)) {
      source = file;
    } else {
      const std::string beside =
          std::filesystem::path(Real(pictures + "\\" + cUtil::k(Field(rsObj, "DATEI"))))
              .parent_path()
              .string() +
          "\\" + file;
      if (FileExists(beside))
        source = beside;
      else if (FileExists(pictures + "\\" + file))
        source = pictures + "\\" + file;
    }
    if (source.empty()) return {};

    const std::string target = targetFolder + "\\" + TargetName(source, false);
    const size_t hash = file.find('#');
    if (hash != std::string::npos) {
      std::string named = cUtil::GetFileName(file.substr(hash + 1));
      const size_t dot = named.rfind('.');
      title = dot == std::string::npos ? named : named.substr(0, dot);
    }
    const std::string ext = vb::UCase(cUtil::GetFileExtender(source));
    if (ext == "JPG" || ext == "GIF") {
      RemoveStale(source, target);
      run_.util->ShrinkJPG(source, target, 64000, 400, run_.insertCopyright,
                           StdText(run_.app, "COPYRIGHT"));
    } else {
      std::filesystem::copy_file(Real(source), Real(target),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    return FileExists(target) ? target : std::string();
  } catch (const std::exception&) {
    title.clear();
    return {};
  }
}

void ListingAttachments::SetAnhang(db::Recordset& rsboersen, XmlNode& anhang,
                                   const std::string& path, const std::string& title,
                                   const std::string& group) {
  anhang.setAttribute("gruppe", group);
  Child(anhang, "anhangtitel")->setText(title);
  XmlNodePtr daten = Child(anhang, "daten");
  auto reference = [&](const std::string& text, const char* location) {
    RemoveChild(*daten, "anhanginhalt");
    Child(*daten, "pfad")->setText(text);
    anhang.setAttribute("location", location);
  };
  if (group == "FILMLINK" || group == "LINKS") {
    Child(anhang, "format")->setText(group);
    reference(path, "INTERN");
    return;
  }
  const std::string upper = vb::UCase(path);
  const bool web = Contains(upper, "WWW.") || Contains(upper, "HTTP:") || Contains(upper, "HTTPS:");
  Child(anhang, "format")->setText(web ? std::string() : cUtil::GetFileExtender(path));
  if (ToLong(cUtil::k(Field(rsboersen, "ftp_or_http"))) == 0) {
    RemoveChild(*daten, "pfad");
    Child(*daten, "anhanginhalt")->setText(cFTPTransferV2::EncodeFile(path));
    anhang.setAttribute("location", "INTERN");
  } else {
    reference(web ? path : cUtil::GetFileName(path), "EXTERN");
  }
}

}  // namespace fern::openimmo
