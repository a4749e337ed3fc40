// Picture preparation of the REST transfer: every online picture of the listings to be sent
// (and of their parents, with picture inheritance on) is shrunk and stamped into the branded
// folder, which is renewed when its decorations may be out of date.
#include <cmath>
#include <filesystem>
#include <system_error>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "restportal/cIS24RestTransfer.h"
#include "services/cImmoHelperV2.h"

namespace fern {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

// One plain folder name: no path, no drive, not the folder itself or its parent.
bool PlainFolderName(const std::string& name) {
  return !vb::Trim(name).empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string::npos;
}

// A picture's place below a folder, which must stay below it.
bool SafeRelative(const std::string& fileName) {
  if (fileName.empty() || fileName.front() == '\\' || fileName.find(':') != std::string::npos)
    return false;
  for (size_t pos = 0; pos <= fileName.size();) {
    size_t next = fileName.find('\\', pos);
    if (next == std::string::npos) next = fileName.size();
    if (fileName.compare(pos, next - pos, "..") == 0) return false;
    pos = next + 1;
  }
  return true;
}

// VB's DateDiff("h"): the hour boundaries between two dates.
double HourBoundaries(double from, double to) {
  constexpr double kEps = 1e-7;
  return std::floor(to * 24.0 + kEps) - std::floor(from * 24.0 + kEps);
}

}  // namespace

void cIS24RestTransfer::MakePicturesApiReady(db::Recordset& rsboersen) {
  State(0, T("Beginne mit dem Vorbereiten der Objektbilder für die Übertragung."));
  if (!PrepareBrandedPictureFolder()) return;
  const std::string negList =
      vb::UCase(kCrLf + app_->DBIni().getStr("JPGFrame", "OnlineFrameNegList", "") + kCrLf);
  const bool copyRoot = vb::Val(vb::UCase(vb::Trim(util_->IniGet(
                            "IS24Transfer", "CopyObjRootDetails", "", HostIni())))) == 1;
  for (rsboersen.MoveFirst(); !rsboersen.Eof(); rsboersen.MoveNext()) {
    const std::string portal = vb::UCase(cUtil::k(rsboersen.Value("boersen_name")));
    frame_ = negList.find(kCrLf + portal + kCrLf) == std::string::npos;
    auto listings = helper_->GetBoersenObjekte(rsboersen, "");
    State(0, T("Vorbereiten der Objektbilder für") + ": " + portal);
    for (listings->MoveFirst(); !listings->Eof(); listings->MoveNext()) {
      if (helper_->GetBoersenObjStatus(rsboersen, *listings)[cImmoHelperV2::kSend] == 0) continue;
      State(0,
            "  " + T("Objekt") + ": " + vb::Replace(cUtil::k(listings->Value("Kennung")), " ", ""));
      std::set<std::string> visited;
      PrepareEstatePictures(cUtil::k(listings->Value("DSN")), visited);
      if (copyRoot && !listings->Value("OBJ_DSN").IsNull()) CopyCommission(*listings);
    }
  }
  State(0, T("Vorbereiten der Objektbilder für die Übertragung abgeschlossen."));
}

void cIS24RestTransfer::CopyCommission(db::Recordset& listing) {
  static const char* const kFields[] = {"PROV_INT",    "PROV_ANB",     "PROV_QUELLE",
                                        "PROV_EIGENE", "PROV_PARTNER", "COMMISSIONFLAG",
                                        "PROVINFO"};
  auto parent = dal_->GetRecordset(
      connect_, "Select * from obj where dsn = " + cUtil::SqlUid(listing.Value("OBJ_DSN")));
  auto own = dal_->GetRecordset(
      connect_, "Select * from obj where dsn = " + cUtil::SqlUid(listing.Value("DSN")), 4);
  if (parent->Eof() || own->Eof()) return;
  for (const char* field : kFields) own->SetValue(field, parent->Value(field));
  dal_->UpdateRecordset(connect_, *own);
  State(0, "  ProvUpdate " + T("Objekt") + ": " +
               vb::Replace(cUtil::k(parent->Value("Kennung")), " ", "") + "/" +
               vb::Replace(cUtil::k(listing.Value("Kennung")), " ", ""));
}

void cIS24RestTransfer::PrepareEstatePictures(const std::string& dsn,
                                              std::set<std::string>& visited) {
  // A key goes into SQL only when it is one; a parent chain that loops ends at the repeat.
  if (!cUtil::isGuid(dsn)) return;
  std::string key = dsn;
  if (!visited.insert(vb::UCase(cUtil::removeBrace(key))).second) return;
  auto obj = dal_->GetRecordset(
      connect_, "SELECT DSN, KENNUNG, OBJ_DSN, COOPOBJ FROM OBJ WHERE DSN = '" + dsn + "'");
  if (obj->Eof()) return;
  if (cUtil::b(Variant(util_->IniGet("OPTIONS", "VERERBTE_OBJEKTBILDER", "1", HostIni()))) &&
      !obj->Value("OBJ_DSN").IsNull())
    PrepareEstatePictures(cUtil::k(obj->Value("OBJ_DSN")), visited);
  const bool coop =
      !obj->Value("COOPOBJ").IsNull() && vb::Val(cUtil::k(obj->Value("COOPOBJ"))) == 2;

  auto pictures = dal_->GetRecordset(
      connect_,
      "SELECT EstatePicture.DSN, Headline, FileName, PlaceholderDSN, Placeholder.Name As "
      "Placeholder, Placeholder.Sorting FROM EstatePicture "
      "JOIN Placeholder ON Placeholder.DSN = EstatePicture.PlaceholderDSN "
      "WHERE EstatePicture.EstateDSN = '" +
          dsn + "' AND Placeholder.Online > 0 ORDER BY Sorting, Name ");
  Debug("Es geht in die Bilderschleife");
  for (pictures->MoveFirst(); !pictures->Eof(); pictures->MoveNext()) {
    const Variant& sorting = pictures->Value("Sorting");
    ShrinkPicture(vb::Replace(cUtil::k(pictures->Value("FileName")), "/", "\\"),
                  cUtil::k(pictures->Value("Headline")),
                  !sorting.IsNull() && vb::Val(cUtil::k(sorting)) == 1, coop);
    PumpEvents();
  }
}

void cIS24RestTransfer::ShrinkPicture(const std::string& fileName, const std::string& headline,
                                      bool title, bool coop) {
  const std::string source = picFolder_ + fileName;
  if (!cUtil::Exist(source)) return;
  const std::string target = branded_ + "\\" + fileName;
  auto failed = [&] {
    const std::string text = T("Bild '%1' konnte nicht komprimiert werden", source);
    events.RaiseInternalState(32, text);
    State(102, text);
  };
  if (!SafeRelative(fileName)) return failed();
  cUtil::MkFolder(target.substr(0, target.size() - cUtil::GetFileName(target).size()));

  bool signature =
      kvUtil_->IsKVSignaturOn(HostIni(), vb::CLng(app_->StdRS()->Value("FIRMEN_NR").IsNull()
                                                      ? Variant(int32_t{0})
                                                      : app_->StdRS()->Value("FIRMEN_NR")));
  std::string copyright = "FriendListing";
  if (coop)
    signature = false;
  else
    copyright = cUtil::k(app_->StdRS()->Value("COPYRIGHT"));
  const bool floorPlan = vb::Like(vb::LCase(headline), "*grundri*");
  const int32_t length = floorPlan ? limits_[0] : limits_[2];
  const int32_t width = floorPlan ? limits_[1] : limits_[3];
  Debug("Shrinken von " + source + " nach " + target);

  // A target left from an earlier run must not pass for this run's result.
  std::error_code ec;
  fs::remove(ResolveHostPath(target), ec);
  try {
    if (!title || !frame_ || coop)
      util_->ShrinkJPG(source, target, length, width, signature, copyright);
    else
      app_->Util().JPGFrameShrink(source, target, length, width, signature, copyright,
                                  app_->Folder());
  } catch (const std::exception&) {
    // Reported below, as a picture that was not produced.
  }
  if (!cUtil::Exist(target)) failed();
}

bool cIS24RestTransfer::PrepareBrandedPictureFolder() {
  if (!PlainFolderName(brandedName_)) {
    State(102, T("Der Ordnername '%1' für die Bilder der Übertragung ist ungültig (Kavantor.INI, "
                 "[PicObj] IS24RestFolderNameForBrandedPictures); erlaubt ist ein einfacher "
                 "Ordnername.",
                 brandedName_));
    return false;
  }
  fs::path folder, pictures;
  try {
    pictures = ResolveHostPath(picFolder_);
    folder = ResolveHostPath(branded_);
  } catch (const std::exception& e) {
    State(102, T("Verzeichnis '%1' konnte nicht erstellt werden. (%2)", branded_, e.what()));
    return false;
  }
  std::error_code ec;
  // Only a real folder directly below the picture folder is ever emptied or written into.
  auto normal = [](fs::path p) {
    p = p.lexically_normal();
    return p.has_filename() ? p : p.parent_path();
  };
  if (fs::is_symlink(fs::symlink_status(folder, ec)) ||
      normal(folder).parent_path() != normal(pictures)) {
    State(102, T("Verzeichnis '%1' konnte nicht erstellt werden. (%2)", branded_,
                 "kein Ordner direkt unter dem Bilderordner"));
    return false;
  }
  if (fs::is_directory(folder, ec) && !fs::is_empty(folder, ec)) {
    bool empty = false;
    try {
      const bool signature =
          kvUtil_->IsKVSignaturOn(HostIni(), vb::CLng(app_->StdRS()->Value("FIRMEN_NR").IsNull()
                                                          ? Variant(int32_t{0})
                                                          : app_->StdRS()->Value("FIRMEN_NR")));
      const bool frame = app_->DBIni().GetBool("JPGFrame", "OnlineFrameVisible", false);
      const bool eyecatcher = app_->DBIni().GetBool("JPGFrame", "OnlineEyecatcherVisible", false);
      if (!signature && !frame && !eyecatcher) {
        empty = true;
      } else {
        const double last = app_->DBIni().GetDate("FernDispatchr", "LastIs24RestTransfer");
        empty = last > 0 && HourBoundaries(last, vb::Now()) > 24;
      }
    } catch (const std::exception&) {
      // Settings that can't be read leave the folder as it is.
    }
    if (empty) {
      fs::remove_all(folder, ec);
      if (ec) {
        State(102,
              T("Verzeichnis '%1' konnte nicht gelöscht werden. (%2)", branded_, ec.message()));
        return false;
      }
      try {
        app_->DBIni().WriteStr("FernDispatchr", "LastIs24RestTransfer",
                               vb::CStr(Variant::Date(vb::Now())));
      } catch (const std::exception&) {
      }
    }
  }
  if (!fs::is_directory(folder, ec)) {
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
      State(102, T("Verzeichnis '%1' konnte nicht erstellt werden. (%2)", branded_,
                   ec ? ec.message() : std::string("?")));
      return false;
    }
  }
  return true;
}

}  // namespace fern
