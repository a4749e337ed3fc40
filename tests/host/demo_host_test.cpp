#include <gtest/gtest.h>

#include <QImageReader>
#include <set>

#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVBlob.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "host/demo_host.h"
#include "host/host_cipher.h"
#include "host/host_database.h"
#include "platform/scratch_dir.h"
#include "platform/vb.h"

namespace fern {
namespace {

class DemoHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::ScratchDir;
    summary_ = host::BuildDemoHost(dir_->path() / "demo-host");
  }
  static void TearDownTestSuite() {
    host::CloseDatabases();
    delete dir_;
  }
  static std::string Folder() { return summary_.folder.string(); }

  static testing::ScratchDir* dir_;
  static host::DemoHostSummary summary_;
};
testing::ScratchDir* DemoHost::dir_ = nullptr;
host::DemoHostSummary DemoHost::summary_;

TEST_F(DemoHost, OpensThroughItsSqlIniAndAnswersTheHostQueries) {
  cDal dal;
  dal.Init(Folder() + "\\sql\\sql.ini");
  const std::string c = dal.ConnectString();
  EXPECT_EQ(c, summary_.connect);

  auto user = dal.GetRecordset(c, "select * from ben where login_name=" + cUtil::SqlStr(Variant("demo")));
  ASSERT_FALSE(user->Eof());
  EXPECT_TRUE(cUtil::b(user->Value("aktiv")));
  EXPECT_EQ(host::Decipher(cUtil::k(user->Value("Paßwort")), host::kUserPasswordKey), "demo");

  auto portals = dal.GetRecordset(c, "SELECT * FROM Boersen ORDER BY boersen_name", 4);
  std::set<int> types;
  for (; !portals->Eof(); portals->MoveNext()) {
    types.insert(vb::CLng(portals->Value("boersentyp")));
    std::string pw = cUtil::k(portals->Value("PASSWORD"));
    if (!pw.empty()) {
      EXPECT_FALSE(cUtil::Decrypt(pw, host::kPortalPasswordKey).empty());
    }
  }
  EXPECT_EQ(types, (std::set<int>{5, 6, 10, 11, 113}));

  // The listing selection joins listings and portal rows by keys in any spelling.
  auto sel = dal.GetRecordset(c,
      "SELECT obj.*, boersenobj.kurz, boersenobj.lang, boersenobj.TransLang_LCID2057 FROM obj "
      "INNER JOIN boersenobj ON obj.DSN = boersenobj.obj_dsn INNER JOIN Boersen ON "
      "Boersen.DSN = boersenobj.boersen_dsn WHERE Boersen.boersentyp = 5 AND obj.transfer = 0 "
      "AND obj.FArchiv < 2 order by KENNUNG");
  EXPECT_GE(sel->RecordCount(), 10);

  auto top = dal.GetRecordset(c,
      "SELECT TOP 1 OBJDET.*,FLDART.* FROM OBJ INNER JOIN objdet on obj.dsn = objdet.obj_dsn "
      "INNER JOIN fldart ON objdet.fldart_dsn = fldart.dsn WHERE obj.dsn = '" +
      std::string("DE000002-0000-4000-8000-000000000001") + "' AND fldart.kürzel = 'rdm objektart'");
  ASSERT_FALSE(top->Eof());
  EXPECT_EQ(cUtil::k(top->Value("EINGABE")), "Haus");

  auto staff = dal.GetRecordset(c, "Select DSN, Login_name, Name from Ben where Aktiv = 1 order by Len(Name) DESC");
  EXPECT_EQ(staff->RecordCount(), 1);
}

TEST_F(DemoHost, PicturesSettingsAndFilesAreInPlace) {
  cKVUtil kv;
  std::string path, title;
  kv.GetPicFileName(0, Folder(), "fb\\fb1", "", "", path, title);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(title, "Titelbild FB-1001");
  EXPECT_FALSE(QImageReader(QString::fromStdString(path)).size().isEmpty());
  kv.GetPicFileName(1, Folder(), "fb\\fb1", "", "Online", path, title);
  EXPECT_NE(path.find("fb1_online.jpg"), std::string::npos);
  EXPECT_EQ(title, "Online-Titelbild FB-1001");
  kv.GetPicFileName(1, Folder(), "fb\\fb2", "", "Online", path, title);
  EXPECT_EQ(path, "");
  kv.GetPicFileName(9, Folder(), "fb\\fb2", "", "", path, title);
  EXPECT_EQ(path, "");
  EXPECT_TRUE(kv.IsKVSignaturOn(Folder() + "\\KAVANTOR.INI", 1));

  cDbIni ini;
  ini.Init(summary_.connect, "{DE000006-0000-4000-8000-000000000001}");
  EXPECT_TRUE(ini.GetBool("JPGFrame", "OnlineFrameVisible", false));
  cUtil util;
  EXPECT_EQ(util.getUserpreference(summary_.connect, "{DE000006-0000-4000-8000-000000000001}",
                                   "ALLOWED_USE_RESTAPI"), "1");
  EXPECT_EQ(util.IniGet("OPTIONS", "CONTENTLANGUAGES", "", Folder() + "\\SQL\\SQL.INI"), "1031,2057");

  cKVBlob blob;
  EXPECT_FALSE(blob.GetContactPicture(summary_.connect, "{DE000008-0000-4000-8000-000000000001}").empty());
  for (const char* f : {"KAVANTOR.EXE", "DAT", "System", "profiles/Standard/gui.ini"})
    EXPECT_TRUE(std::filesystem::exists(summary_.folder / f)) << f;
}

TEST_F(DemoHost, RebuildsItselfButNeverAnotherFolder) {
  testing::ScratchDir other;
  other.Write("wichtig.txt", "nicht löschen");
  EXPECT_THROW(host::BuildDemoHost(other.path()), HostError);
  EXPECT_EQ(other.Read("wichtig.txt"), "nicht löschen");

  testing::ScratchDir again;
  host::BuildDemoHost(again.path() / "h");
  auto first = std::filesystem::file_size(again.path() / "h/pic.obj/fb/fb7_1.jpg");
  host::BuildDemoHost(again.path() / "h");
  EXPECT_EQ(std::filesystem::file_size(again.path() / "h/pic.obj/fb/fb7_1.jpg"), first);
}

}  // namespace
}  // namespace fern
