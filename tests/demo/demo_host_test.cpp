#include <gtest/gtest.h>

#include <QImageReader>
#include <set>

#include "demo/demo_host.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVBlob.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "host/host_database.h"
#include "platform/vb.h"
#include "support/scratch_dir.h"

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

  auto user =
      dal.GetRecordset(c, "select * from ben where login_name=" + cUtil::SqlStr(Variant("demo")));
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
  auto sel = dal.GetRecordset(
      c,
      "SELECT obj.*, boersenobj.kurz, boersenobj.lang, boersenobj.TransLang_LCID2057 FROM obj "
      "INNER JOIN boersenobj ON obj.DSN = boersenobj.obj_dsn INNER JOIN Boersen ON "
      "Boersen.DSN = boersenobj.boersen_dsn WHERE Boersen.boersentyp = 5 AND obj.transfer = 0 "
      "AND obj.FArchiv < 2 order by KENNUNG");
  EXPECT_GE(sel->RecordCount(), 10);

  auto top = dal.GetRecordset(
      c,
      "SELECT TOP 1 OBJDET.*,FLDART.* FROM OBJ INNER JOIN objdet on obj.dsn = objdet.obj_dsn "
      "INNER JOIN fldart ON objdet.fldart_dsn = fldart.dsn WHERE obj.dsn = '" +
          std::string("DE000002-0000-4000-8000-000000000001") +
          "' AND fldart.kürzel = 'rdm objektart'");
  ASSERT_FALSE(top->Eof());
  EXPECT_EQ(cUtil::k(top->Value("EINGABE")), "Haus");

  auto staff = dal.GetRecordset(
      c, "Select DSN, Login_name, Name from Ben where Aktiv = 1 order by Len(Name) DESC");
  EXPECT_EQ(staff->RecordCount(), 1);
}

// The exporters' own SQL texts, spelled as they send them, each with at least one row.
TEST_F(DemoHost, SchemaAnswersTheExportersQueries) {
  const std::string obj1 = "{DE000002-0000-4000-8000-000000000001}";
  const std::string obj26 = "DE000002-0000-4000-8000-00000000001A";  // a unit, braceless
  const std::string portal = "{DE000001-0000-4000-8000-000000000002}";
  const std::string queries[] = {
      "SELECT version FROM version",
      "SELECT * FROM Ben WHERE Aktiv=1 AND Chef=1 ORDER BY LOGIN_NAME, Dsn",
      " select dsn, cast('1' as tinyint) as uebertragen, (boersen_name) as beschriftung, "
      "boersen_name  from boersen order by boersen_name ",
      " Select obj.*, boersenobj.kurz, boersenobj.lang, boersenobj.adresse_zeigen, "
      "boersenobj.status, "
      "boersenobj.letzte_uebertragung, boersenobj.boersen_exp_id, boersenobj.TransLang , "
      "boersenobj.TransLang_LCID1031, boersenobj.TransLang_LCID2057 FROM boersenobj inner join obj "
      "on "
      "boersenobj.obj_dsn = obj.dsn  WHERE obj.FArchiv<2 AND (boersenobj.kurz=1 or "
      "boersenobj.lang=1 "
      "or boersenobj.status=1 )AND boersenobj.boersen_dsn = " +
          cUtil::SqlUid(Variant(portal)) + " AND obj.abteilung = 1 order by Kennung ",
      "SELECT obj.DSN, FLDART.INTERN, FLDART.KÜRZEL, FLDART.BLNKURZEXPOSE, FLDART.EXPOSE "
      ",objdet.fldart_dsn, "
      "ObjDet.EINGABE_LCID2057, ObjDet.BIS_STR, ObjDet.VON_STR, ObjDet.LINK_DSN, ObjDet.BIS_NUM, "
      "ObjDet.VON_NUM, FLDART.TYP, FLDART.BEZKURZEXPOSE, FLDARTOP.WERT, FLDARTOP.BEZEICHNUNG, "
      "FLDART.BEZEXTERN, FLDART.FORMATIERUNG , FLDART.lngFirmenNr, FLDART.Intervall  From OBJ "
      "INNER "
      "JOIN ObjDet ON OBJ.DSN = ObjDet.Obj_Dsn INNER JOIN FLDART ON ObjDet.Fldart_Dsn = FLDART.DSN "
      "LEFT OUTER JOIN FLDARTOP ON ObjDet.Fldartop_DSN = FLDARTOP.DSN WHERE obj.DSN = " +
          cUtil::SqlUid(Variant(obj1)) + "  Order by Sortierung",
      "select STATUS, KURZ, LANG, ADRESSE_ZEIGEN, LETZTE_UEBERTRAGUNG, OBJ.* from BOERSENOBJ inner "
      "join "
      "OBJ on BOERSENOBJ.OBJ_DSN = OBJ.DSN where OBJ.TRANSFER=0 AND obj.FArchiv<2 and (LANG = 1 or "
      "KURZ = 1) and BOERSEN_DSN = '" +
          portal + "' order by KENNUNG",
      "select FLDART.DSN, FLDART.KÜRZEL, FLDART.TYP, FLDART.WEBSERVERSTATUS from FLDART  where "
      "FLDART.KÜRZEL in ('Zimmer', 'wohnfläche') order by FLDART.KÜRZEL, FLDART.WEBSERVERSTATUS "
      "DESC",
      "select distinct FLDARTOP.DSN, FLDART.KÜRZEL, FLDARTOP.WERT, FLDARTOP.BEZEICHNUNG from "
      "FLDART "
      "inner join FLDARTOP on FLDART.DSN = FLDARTOP.FLDART_DSN where FLDART.AKTIV=1 and "
      "FLDART.OBJ=1 "
      "and FLDART.WEBSERVERSTATUS>0 ",
      "select DSN from FLDART where OBJ=1 and AKTIV=1 and Kürzel='ZIMMER'",
      "select OBJ.KENNUNG as OBJKENNUNG, OBJ.DSN as OBJDSN, OBJ.OBJ_DSN as OBJOBJDSN, "
      "OBJDET.EINGABE, "
      "AD.KENNUNG as ADKENNUNG, AD.EMAIL as ADEMAIL, AD.FIRMA as ADFIRMA, AD.NAME as ADNAME, "
      "AD.STRAßE as ADSTRASSE, AD.LAND_PLZ as ADPLZ, AD.ORT as ADORT, FLDART.NOTIZ, FLDART.KÜRZEL, "
      "FLDART.INTERN as FLDARTINTERN from OBJ inner join OBJDET on OBJ.DSN = OBJDET.OBJ_DSN inner "
      "join FLDART on FLDART.DSN = OBJDET.FLDART_DSN left join AD on OBJ.AD_ANBIETER_DSN = AD.DSN "
      "where OBJ.TRACKING > 0 and (FLDART.INTERN = 'HeadLine' or FLDART.INTERN = 'STRAßE' or "
      "FLDART.INTERN = 'Land_PLZ_Ort') order by OBJ.KENNUNG, FLDART.KÜRZEL",
      "SELECT TOP 1 OBJDET.*,FLDART.* FROM OBJ INNER JOIN objdet on obj.dsn = objdet.obj_dsn INNER "
      "JOIN fldart ON objdet.fldart_dsn = fldart.dsn WHERE (obj.dsn = '" +
          obj26 + "'   OR obj.dsn IN ( SELECT obj_dsn FROM obj WHERE dsn='" + obj26 +
          "') ) AND fldart.kürzel = 'Projekt' ORDER BY obj.OBJ_DSN DESC",
      "select DSN, DATUM, DATUM_BIS from AKT where OBJ_DSN in ('" + obj1 + "','{}') ",
      "SELECT EstatePicture.DSN, Headline, FileName, PlaceholderDSN, Placeholder.Name As "
      "Placeholder, "
      "Placeholder.Sorting FROM EstatePicture JOIN Placeholder ON Placeholder.DSN = "
      "EstatePicture.PlaceholderDSN WHERE EstatePicture.EstateDSN = '" +
          obj1 + "' AND Placeholder.Online > 0 ORDER BY Sorting, Name ",
      "Select DSN,Login_Name,Paßwort FROM BEN WHERE DSN = '{DE000006-0000-4000-8000-000000000001}'",
      "select Details.AD_DSN,AD.EMAIL,AD.ANREDEKURZ,AD.NAME,Details.DSN,DetailsDet.Eingabe from "
      "Details inner join AD on Details.AD_DSN = AD.DSN inner join DetailsDet on Details.DSN = "
      "DetailsDet.Details_DSN",
      "Select anfdet.eingabe from anf inner join anfdet on anf.dsn = anfdet.anf_dsn inner join "
      "fldart "
      "on anfdet.fldart_dsn = fldart.dsn where fldart.kürzel = 'land_plz_ort'",
      "select count(1) as AnzahlTracking from OBJ where TRACKING = 1",
      "SELECT dsn, name FROM Aktivitätenarten WHERE name like 'besicht%'",
  };
  cDal dal;
  for (const std::string& sql : queries) {
    try {
      auto rs = dal.GetRecordset(summary_.connect, sql, 4);
      EXPECT_FALSE(rs->Eof()) << sql;
    } catch (const HostError& e) {
      ADD_FAILURE() << e.description() << "\n" << sql;
    }
  }
  // The unit's own row wins over its parent's although the parent has no parent.
  auto unit = dal.GetRecordset(summary_.connect, queries[10]);
  EXPECT_EQ(cUtil::k(unit->Value("Obj_Dsn")), "{" + obj26 + "}");

  // The status write-backs of the exporters.
  dal.ExecQuery(summary_.connect,
                " UPDATE boersenobj  SET letzte_uebertragung = " +
                    cUtil::SQLDate(Variant::Date(vb::DateSerial(2026, 12, 6))) +
                    " ,   status = 1 , boersen_exp_id = " + cUtil::SqlStr(Variant("O'1")) +
                    " WHERE boersenobj.boersen_dsn = " + cUtil::SqlUid(Variant(portal)) +
                    " and boersenobj.obj_dsn = " + cUtil::SqlUid(Variant(obj1)) + "\r\n\r\n" +
                    "update BOERSENOBJ set status=3 , letzte_uebertragung = " +
                    cUtil::SQLDate(Variant::Date(vb::DateSerial(2026, 12, 6))) +
                    " where boersen_dsn = '" + portal +
                    "' and ( (kurz=0 and lang=0 and status=1) OR "
                    "(NOT (obj_dsn IN (SELECT dsn FROM Obj WHERE Transfer=0 AND FArchiv<2))  and "
                    "status=1) )");
  auto st = dal.GetRecordset(
      summary_.connect, "SELECT status, boersen_exp_id FROM boersenobj WHERE obj_dsn = '" + obj1 +
                            "' AND boersen_dsn = '" + portal + "'");
  EXPECT_EQ(vb::CLng(st->Value("status")), 1);
  EXPECT_EQ(cUtil::k(st->Value("boersen_exp_id")), "O'1");
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
                                   "ALLOWED_USE_RESTAPI"),
            "1");
  EXPECT_EQ(util.IniGet("OPTIONS", "CONTENTLANGUAGES", "", Folder() + "\\SQL\\SQL.INI"),
            "1031,2057");

  cKVBlob blob;
  EXPECT_FALSE(
      blob.GetContactPicture(summary_.connect, "{DE000008-0000-4000-8000-000000000001}").empty());
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
