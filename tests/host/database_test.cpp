#include <gtest/gtest.h>

#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVBlob.h"
#include "host/cUtil.h"
#include "host/cdbutil.h"
#include "host_db_fixture.h"
#include "platform/vb.h"

namespace fern {
namespace {

const char* kKey = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

TEST(SqlLiterals, RoundTripThroughRealStatements) {
  testing::HostDbFixture host;
  cDal dal;
  const std::string& c = host.connect();
  for (const std::string name : {"O'Brien", "Müller & Söhne", "''", "a\\b", "Straße 1", ""}) {
    dal.ExecQuery(c, "DELETE FROM AD");
    dal.ExecQuery(c, "INSERT INTO AD (DSN, Name) VALUES (" + cUtil::SqlUid(Variant(kKey)) + ", " +
                         cUtil::SqlStr(Variant(name)) + ")");
    auto rs =
        dal.GetRecordset(c, "SELECT Name FROM AD WHERE Name = " + cUtil::SqlStr(Variant(name)));
    ASSERT_FALSE(rs->Eof()) << name;
    EXPECT_EQ(cUtil::k(rs->Value("Name")), name);
  }
  // Umlauts compare without regard to case, ß as SS.
  dal.ExecQuery(c, "UPDATE AD SET Name = " + cUtil::SqlStr(Variant("Straße 1")));
  auto rs = dal.GetRecordset(
      c, "SELECT Name FROM AD WHERE Name = " + cUtil::SqlStr(Variant("STRASSE 1")));
  EXPECT_FALSE(rs->Eof());

  // A key written in one spelling is found in every other.
  for (const char* spelling :
       {"0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9", "{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}",
        "0A1B2C3D4E5F60718293A4B5C6D7E8F9"}) {
    auto byKey =
        dal.GetRecordset(c, "SELECT DSN FROM AD WHERE DSN = " + cUtil::SqlUid(Variant(spelling)));
    EXPECT_FALSE(byKey->Eof()) << spelling;
  }
  EXPECT_TRUE(
      dal.GetRecordset(c, "SELECT DSN FROM AD WHERE DSN = " + cUtil::SqlUid(Variant("")))->Eof());

  // Dates: stored by SQLDate, compared and read back as dates.
  double when = vb::DateSerial(2026, 12, 6) + vb::TimeSerial(8, 30, 0);
  dal.ExecQuery(c, "INSERT INTO AKT (DSN, DATUM) VALUES (" + cUtil::SqlUid(Variant(kKey)) + ", " +
                       cUtil::SQLDate(Variant::Date(when)) + ")");
  auto akt = dal.GetRecordset(c, "SELECT DATUM FROM AKT WHERE DATUM >= " +
                                     cUtil::SQLDate(Variant::Date(vb::DateSerial(2026, 12, 6))));
  ASSERT_FALSE(akt->Eof());
  EXPECT_NEAR(cUtil::d(akt->Value("DATUM")), when, 1e-6);
  EXPECT_TRUE(dal.GetRecordset(c, "SELECT DATUM FROM AKT WHERE DATUM >= " +
                                      cUtil::SQLDate(Variant::Date(vb::DateSerial(2026, 12, 7))))
                  ->Eof());
}

TEST(SqlLiterals, ExecQueryBatchIsAllOrNothing) {
  testing::HostDbFixture host;
  cDal dal;
  std::string batch =
      "INSERT INTO projekte (DSN, BEZEICHNUNG) VALUES ('{00000000-0000-0000-0000-000000000001}', "
      "'A')\r\n\r\n"
      "INSERT INTO nowhere (x) VALUES (1)";
  EXPECT_THROW(dal.ExecQuery(host.connect(), batch), HostError);
  EXPECT_TRUE(dal.GetRecordset(host.connect(), "SELECT * FROM projekte")->Eof());
}

TEST(SettingsTable, UserRowsOverrideCompanyRows) {
  testing::HostDbFixture host;
  cDbIni company, user;
  EXPECT_THROW(company.getStr("A", "B"), HostError);  // before Init
  company.Init(host.connect(), "");
  user.Init(host.connect(), kKey);

  EXPECT_EQ(user.getStr("JPGFrame", "OnlineFrameNegList", "leer"), "leer");
  company.WriteStr("JPGFrame", "OnlineFrameNegList", "PORTAL A\r\nPortal B");
  EXPECT_EQ(user.getStr("jpgframe", "ONLINEFRAMENEGLIST", ""), "PORTAL A\r\nPortal B");
  user.WriteStr("JPGFrame", "OnlineFrameNegList", "nur ich");
  EXPECT_EQ(user.getStr("JPGFrame", "OnlineFrameNegList", ""), "nur ich");
  EXPECT_EQ(company.getStr("JPGFrame", "OnlineFrameNegList", ""), "PORTAL A\r\nPortal B");

  user.WriteStr("WebServer", "SHOWMEMBERBUTTON", "1");
  user.WriteStr("WebServer", "COUNT", "12");
  user.WriteStr("WebServer", "BAD", "zwölf");
  EXPECT_TRUE(user.GetBool("WebServer", "SHOWMEMBERBUTTON", false));
  EXPECT_TRUE(user.GetBool("WebServer", "MISSING", true));
  EXPECT_EQ(user.getint("WebServer", "COUNT", 0), 12);
  EXPECT_EQ(user.getint("WebServer", "BAD", 7), 7);

  EXPECT_EQ(user.GetDate("FernDispatchr", "LastIs24RestTransfer"), 0);
  double when = vb::DateSerial(2026, 11, 30) + vb::TimeSerial(22, 15, 0);
  std::vector<Variant> args{Variant("FernDispatchr"), Variant("LastIs24RestTransfer"),
                            Variant::Date(when)};
  user.Invoke("WriteStr", kMethod, args);
  EXPECT_NEAR(user.GetDate("FernDispatchr", "LastIs24RestTransfer"), when, 1e-6);
  EXPECT_EQ(company.GetDate("FernDispatchr", "LastIs24RestTransfer"), 0);
}

TEST(Preferences, CompanyUserDefaultAndCache) {
  testing::HostDbFixture host;
  host.db().Execute(
      "INSERT INTO PREFERENCES (SCOPE, PREFKEY, VALUE) VALUES ('STD', 'RESTAPI.URL', "
      "'http://127.0.0.1:1/api');"
      "INSERT INTO PREFERENCES (SCOPE, PREFKEY, VALUE) VALUES ('STD', "
      "'KavantorAPIAvailabilityTestURL', '/ping');"
      "INSERT INTO PREFERENCES (SCOPE, PREFKEY, VALUE) VALUES ('STD', 'LEER', '');"
      "INSERT INTO PREFERENCES (SCOPE, PREFKEY, VALUE) VALUES "
      "('0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9', 'ALLOWED_USE_RESTAPI', '1')");
  cUtil util;
  const std::string& c = host.connect();
  EXPECT_EQ(util.GetPreferenceSTDEntry(c, "restapi.url"), "http://127.0.0.1:1/api");
  EXPECT_EQ(util.GetPreferenceSTDEntry(c, "RESTAPI.BASE.URL"), "");
  EXPECT_EQ(util.GetPreferenceOrDefault(c, "RESTAPI.BASE.URL", "/v1"), "/v1");
  EXPECT_EQ(util.GetPreferenceOrDefault(c, "LEER", "x"), "");  // stored empty is a value
  EXPECT_EQ(util.GetPreferenceOrDefault(c, "KavantorAPIAvailabilityTestURL ", "x"), "/ping");
  EXPECT_EQ(util.getUserpreference(c, kKey, "ALLOWED_USE_RESTAPI"), "1");
  EXPECT_EQ(util.getUserpreference(c, "", "ALLOWED_USE_RESTAPI"), "");

  host.db().Execute("UPDATE PREFERENCES SET VALUE = 'neu' WHERE PREFKEY = 'RESTAPI.URL'");
  EXPECT_EQ(util.GetPreferenceSTDEntry(c, "RESTAPI.URL"), "http://127.0.0.1:1/api");  // cached
  util.ResetPreferenceCache();
  EXPECT_EQ(util.GetPreferenceSTDEntry(c, "RESTAPI.URL"), "neu");
}

TEST(SqlIni, GoodAndBadSettingsNameTheFile) {
  testing::HostDbFixture host;
  cdbutil dbu;
  std::string connect = dbu.GetConnectString(host.sqlIni(), cdbutil::kConnectKey);
  EXPECT_EQ(host::DatabasePathOf(connect), (host.dir() / "DAT/kavantor.db").string());
  cDal dal;
  dal.Init(host.sqlIni());
  EXPECT_EQ(dal.ConnectString(), connect);

  auto expectError = [&](const std::string& ini, const std::string& mentions) {
    try {
      dbu.GetConnectString(ini);
      ADD_FAILURE() << "no error for " << ini;
    } catch (const HostError& e) {
      EXPECT_NE(e.description().find(mentions), std::string::npos) << e.description();
    }
  };
  expectError((host.dir() / "fehlt/sql.ini").string(), "fehlt/sql.ini");

  host.dir().Write("a/sql/sql.ini", std::string("\x00\xFF\xFE garbage \x01\x02", 14));
  expectError((host.dir() / "a/sql/sql.ini").string(), "a/sql/sql.ini");

  host.dir().Write("b/sql/sql.ini", "[SQLITE]\r\nDATABASE=DAT\\none.db\r\n");
  expectError((host.dir() / "b/sql/sql.ini").string(), "none.db");

  host.dir().Write("c/sql/sql.ini", "[SQLITE]\r\nDATABASE=DAT\\text.db\r\n");
  host.dir().Write("c/DAT/text.db", "this is no database at all, just text");
  expectError((host.dir() / "c/sql/sql.ini").string(), "text.db");
  EXPECT_EQ(host.dir().Read("c/DAT/text.db"), "this is no database at all, just text");

  host.dir().Write("d/sql/sql.ini", "[SQLITE]\r\nDATABASE=K:\\DAT\\kavantor.db\r\n[DRIVES]\r\nK=" +
                                        host.dir().path().string() + "\r\n");
  EXPECT_EQ(host::DatabasePathOf(dbu.GetConnectString((host.dir() / "d/sql/sql.ini").string())),
            (host.dir() / "DAT/kavantor.db").string());
  host.dir().Write("e/sql/sql.ini", "[SQLITE]\r\nDATABASE=Q:\\kavantor.db\r\n");
  expectError((host.dir() / "e/sql/sql.ini").string(), "Q:");
}

TEST(StoredFiles, AttachmentsAndContactPictures) {
  testing::HostDbFixture host;
  host.db().Execute(
      "INSERT INTO KVBLOB (DSN, OWNER_DSN, KIND, FILENAME, DATA) VALUES "
      "('{11111111-1111-1111-1111-111111111111}', NULL, 'FILE', 'plan.pdf', X'25504446000102');"
      "INSERT INTO KVBLOB (DSN, OWNER_DSN, KIND, FILENAME, DATA) VALUES "
      "('{22222222-2222-2222-2222-222222222222}', '" +
      std::string(kKey) + "', 'CONTACTPICTURE', 'foto.png', X'89504E47')");
  cKVBlob blob;
  std::string target = (host.dir() / "out/plan.pdf").string();
  std::filesystem::create_directories(host.dir() / "out");
  blob.GetSingleFileByBlobDsn(host.connect(), "11111111-1111-1111-1111-111111111111", target);
  EXPECT_EQ(host.dir().Read("out/plan.pdf"), std::string("%PDF\x00\x01\x02", 7));
  EXPECT_THROW(
      blob.GetSingleFileByBlobDsn(host.connect(), "{99999999-1111-1111-1111-111111111111}", target),
      HostError);

  std::string pic = blob.GetContactPicture(host.connect(), "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9");
  ASSERT_FALSE(pic.empty());
  EXPECT_EQ(cUtil::GetFileExtender(pic), "png");
  EXPECT_EQ(std::filesystem::file_size(pic), 4u);
  std::filesystem::remove(pic);
  EXPECT_EQ(blob.GetContactPicture(host.connect(), "{33333333-2222-2222-2222-222222222222}"), "");
}

TEST(Procedures, TrackingQueriesTakeKeysWithOrWithoutBraces) {
  testing::HostDbFixture host;
  host.db().Execute(
      "INSERT INTO AKTIVITÄTENARTEN (DSN, Name) VALUES ('{A0000000-0000-0000-0000-000000000001}', "
      "'Besichtigung');"
      "INSERT INTO AKT (DSN, DATUM, OBJ_DSN, ART_DSN, BETREFF, OBJTRACKINGSTATUS) VALUES "
      "('{A1000000-0000-0000-0000-000000000001}', '2026-12-01 10:00:00', '" +
      std::string(kKey) +
      "', '{A0000000-0000-0000-0000-000000000001}', 'Termin', 2);"
      "INSERT INTO AKTFILES (DSN, AKT_DSN, FILENAME, HASATTACH, BLOB_DSN) VALUES "
      "('{A2000000-0000-0000-0000-000000000001}', '{A1000000-0000-0000-0000-000000000001}', "
      "'x.pdf', 1, "
      "'{11111111-1111-1111-1111-111111111111}')");
  cDal dal;
  auto rs = dal.GetRecordset(host.connect(),
                             "exec ObjTracking '0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9'", 4);
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(cUtil::k(rs->Value("Name")), "Besichtigung");
  EXPECT_EQ(cUtil::k(rs->Value("Subject")), "Termin");
  EXPECT_EQ(vb::CLng(rs->Value("OBJTRACKINGSTATUS")), 2);
  auto files = dal.GetRecordset(
      host.connect(),
      "exec TrackingFiles "
      "'{B0000000-0000-0000-0000-000000000000}','{a1000000-0000-0000-0000-000000000001}'",
      4);
  ASSERT_FALSE(files->Eof());
  EXPECT_EQ(cUtil::k(files->Value("TRACKFILENAME")), "x.pdf");
  EXPECT_EQ(vb::CLng(files->Value("HASATTACH")), 1);
}

}  // namespace
}  // namespace fern
