// The host objects as scripts and by-name callers reach them: arguments that are recordset
// fields, by-reference results, and write-back through the database object.
#include <gtest/gtest.h>

#include "host/cDal.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "host_db_fixture.h"

namespace fern {
namespace {

Variant Call(Dispatch& d, const char* name, std::vector<Variant> args) {
  return d.Invoke(name, kMethod | kPropGet, args);
}

TEST(ByName, FieldsStandForTheirValues) {
  testing::HostDbFixture host;
  host.db().Execute(
      "INSERT INTO obj (DSN, KENNUNG, transfer, TOUCH) VALUES "
      "('{10000000-0000-0000-0000-000000000001}', 'FB-1', 1, NULL)");
  cDal dal;
  Variant rs(std::shared_ptr<Dispatch>(dal.GetRecordset(host.connect(), "SELECT * FROM obj", 4)));
  Variant kennung = CallByName(rs, "Fields", kPropGet, std::vector<Variant>{Variant("Kennung")});
  Variant touch = CallByName(rs, "Fields", kPropGet, std::vector<Variant>{Variant("TOUCH")});
  Variant transfer = CallByName(rs, "Fields", kPropGet, std::vector<Variant>{Variant("TRANSFER")});
  ASSERT_TRUE(kennung.IsObject());

  cUtil util;
  EXPECT_EQ(Call(util, "k", {kennung}).str(), "FB-1");
  EXPECT_EQ(Call(util, "k", {touch}).str(), "");
  EXPECT_TRUE(Call(util, "b", {transfer}).boolVal());
  EXPECT_FALSE(Call(util, "bln", {touch}).boolVal());
  EXPECT_EQ(Call(util, "d", {touch}).dateVal(), 0);
  EXPECT_EQ(Call(util, "SqlStr", {kennung}).str(), "'FB-1'");
  EXPECT_EQ(Call(util, "SqlUid",
                 {CallByName(rs, "Fields", kPropGet, std::vector<Variant>{Variant("DSN")})})
                .str(),
            "'{10000000-0000-0000-0000-000000000001}'");
  EXPECT_EQ(Call(util, "StrListNr", {Variant("a|b"), Variant("|"), transfer}).str(), "a");
}

TEST(ByName, UpdateRecordsetWritesBackByKey) {
  testing::HostDbFixture host;
  host.db().Execute(
      "INSERT INTO Boersen (DSN, boersen_name, boersentyp, LOGINNAME) VALUES "
      "('{20000000-0000-0000-0000-000000000001}', 'IS24', 113, '')");
  cDal dal;
  Variant connect(host.connect());
  std::vector<Variant> q{connect,
                         Variant("Select * from boersen where dsn = " +
                                 cUtil::SqlUid(Variant("20000000-0000-0000-0000-000000000001"))),
                         Variant(int32_t{4})};
  Variant rs = dal.Invoke("GetRecordset", kMethod, q);
  Variant field = CallByName(rs, "Fields", kPropGet, std::vector<Variant>{Variant("loginname")});
  CallByName(field, "Value", kPropLet, std::vector<Variant>{Variant("token-1")});
  std::vector<Variant> up{connect, rs};
  dal.Invoke("UpdateRecordset", kMethod, up);
  auto check = dal.GetRecordset(host.connect(), "SELECT LOGINNAME FROM Boersen");
  EXPECT_EQ(cUtil::k(check->Value("LOGINNAME")), "token-1");

  std::vector<Variant> bad{connect, Variant("no recordset")};
  EXPECT_THROW(dal.Invoke("UpdateRecordset", kMethod, bad), HostError);
}

TEST(ByName, PictureNamesComeBackByReference) {
  testing::ScratchDir dir;
  dir.Write("PIC.OBJ/Haus/H7_0.JPG", "x");
  dir.Write("PIC.OBJ/Haus/H7.TXT", "Vorderansicht\r\n");
  cKVUtil kv;
  std::vector<Variant> args{Variant(int16_t{0}),
                            Variant(dir.path().string()),
                            Variant("haus\\h7"),
                            Variant(""),
                            Variant(""),
                            Variant(),
                            Variant()};
  kv.Invoke("GetPicFileName", kMethod, args);
  EXPECT_EQ(args[5].str(), (dir / "PIC.OBJ/Haus/H7_0.JPG").string());
  EXPECT_EQ(args[6].str(), "Vorderansicht");

  args[0] = Variant(int32_t{-1});
  kv.Invoke("GetPicFileName", kMethod, args);
  EXPECT_EQ(args[5].str(), "");
  args[0] = Variant(int32_t{0});
  args[2] = Variant("");
  kv.Invoke("GetPicFileName", kMethod, args);
  EXPECT_EQ(args[5].str(), "");
}

TEST(ByName, SignatureSwitchPerCompany) {
  testing::ScratchDir dir;
  dir.Write("Kavantor.INI", "[SIGNATUR]\r\nALLE=1\r\n7=0\r\n");
  cKVUtil kv;
  std::string ini = dir.path().string() + "\\kavantor.ini";
  EXPECT_TRUE(kv.IsKVSignaturOn(ini, 1));
  EXPECT_FALSE(kv.IsKVSignaturOn(ini, 7));
  EXPECT_FALSE(kv.IsKVSignaturOn(dir.path().string() + "\\none.ini", 1));
  std::vector<Variant> args{Variant(ini), Variant(int32_t{1})};
  EXPECT_TRUE(Call(kv, "IsKVSignaturOn", args).boolVal());
  EXPECT_GT(Call(kv, "ComMajorVersion", {}).longVal(), 19);
  EXPECT_GE(Call(kv, "ComVersion", {}).longVal(), 510);
}

TEST(ByName, LanguagePackPropertiesFromTheStartUp) {
  testing::ScratchDir dir;
  dir.Write("System/Language/1033.dic", "[Strings]\nFehler\tError\n");
  cUtil util;
  Variant lp = Call(util, "LanguagePack", {});
  CallByName(lp, "DictionaryPath", kPropLet,
             std::vector<Variant>{Variant(dir.path().string() + "\\SYSTEM\\language")});
  CallByName(lp, "UserLCID", kPropLet, std::vector<Variant>{Variant(int32_t{1033})});
  CallByName(lp, "ContentLanguages", kPropLet, std::vector<Variant>{Variant("1031|1033")});
  CallByName(lp, "DefaultLCID", kPropLet, std::vector<Variant>{Variant(int32_t{1031})});
  EXPECT_EQ(
      CallByName(lp, "TranslateString", kMethod, std::vector<Variant>{Variant("Fehler")}).str(),
      "Error");
  EXPECT_EQ(CallByName(lp, "DefaultLCID", kPropGet, std::vector<Variant>{}).longVal(), 1031);
  EXPECT_TRUE(CallByName(lp, "MultiContentLanguages", kPropGet, std::vector<Variant>{}).boolVal());
  // The same pack every time: settings made at start-up reach every caller.
  EXPECT_EQ(Call(util, "LanguagePack", {}).obj(), lp.obj());
}

}  // namespace
}  // namespace fern
