// Clients from "MANDANTEN.INI", the portal's empty transfer file, the ids and the host string,
// and a status write that fails.
#include <sqlite3.h>

#include <filesystem>

#include "openimmo_fixture.h"
#include "platform/ini_file.h"
#include "platform/waits.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

class DriverTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    work = UseWorkFolder();
  }
  void Run(const std::string& where) { RunPhase(where); }
  fs::path work;
};

TEST_F(DriverTest, ClientsFromTheClientsFile) {
  const fs::path file = HostFile("System") / "MANDANTEN.INI";
  for (int n : {1, 2}) {
    const std::string sec = "MANDANT" + std::to_string(n);
    IniWrite(sec, "FIRMA_NAME", "Büro " + std::to_string(n), file);
    IniWrite(sec, "FIRMA_TEL", "030 " + std::to_string(n), file);
    IniWrite(sec, "FILTER", std::to_string(n - 1), file);
    IniWrite(sec, "OpenImmoANID", "ANID-" + std::to_string(n), file);
    IniWrite(sec, "openimmoImmoPortal Demo_BEZ", "KD-" + std::to_string(n), file);
  }
  IniCacheReset();
  Run("boersen_name = 'ImmoPortal Demo'");
  EXPECT_EQ(Errors(), 0) << Lines(102);
  // One folder per client, listings filtered by the client's department.
  for (int n : {1, 2}) {
    const fs::path folder =
        work / "TRANSFER" / "openimmo" / ("ImmoPortal Demo-" + std::to_string(n - 1));
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    int docs = 0;
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().extension() == ".xml") {
        ++docs;
        EXPECT_EQ(e.path().filename().string().rfind("ImmoPortal Demo-KD-" + std::to_string(n), 0),
                  0u);
        auto doc = XmlDocument::Create();
        ASSERT_TRUE(doc->load(e.path().string()));
        const std::string xml = doc->xml();
        EXPECT_NE(xml.find("<imo:firma>Büro " + std::to_string(n)), std::string::npos);
        EXPECT_NE(xml.find("ANID-" + std::to_string(n)), std::string::npos);
      }
    EXPECT_EQ(docs, 1);
  }
  EXPECT_NE(Lines(4).find("Setze Abteilungsfilter 1 für Mandaten: Büro 2"), std::string::npos);

  // A clients file without clients leaves the company as the only client.
  fs::remove(file);
  std::ofstream(file) << "[MANDANT1]\nFILTER=3\n";
  IniCacheReset();
  lines.clear();
  Run("boersen_name = 'ImmoPortal Demo'");
  EXPECT_EQ(Errors(), 0) << Lines(102);
  EXPECT_TRUE(fs::is_directory(work / "TRANSFER" / "openimmo" / "ImmoPortal Demo"));
}

TEST_F(DriverTest, EmptyTransferFileOnlyForListedFullTransfers) {
  Exec("update obj set transfer = 1");
  Exec("update Boersen set boersen_name = 'Immo.CH' where boersen_name = 'ImmoPortal Demo'");
  Run("boersen_name = 'Immo.CH'");
  EXPECT_EQ(Errors(), 0) << Lines(102);
  EXPECT_NE(Lines(8).find("Übertragung von EmptyTransferFile"), std::string::npos);
  EXPECT_NE(Lines(0).find("Immo.CH-K-4702-"), std::string::npos);

  // A list names the portals; entries keep their blanks.
  Ini("OPENIMMO", "EMPTYTRANSFERFILE", "other, immo.ch");
  lines.clear();
  Run("boersen_name = 'Immo.CH'");
  EXPECT_EQ(Lines(8).find("EmptyTransferFile"), std::string::npos);
  EXPECT_NE(Lines(12).find("Keine Daten zur Übertragung an Börse: 'Immo.CH"), std::string::npos);

  // A partial transfer never sends an empty document.
  Ini("OPENIMMO", "EMPTYTRANSFERFILE", "immo.ch");
  Exec("update Boersen set teil_or_voll = 1 where boersen_name = 'Immo.CH'");
  lines.clear();
  Run("boersen_name = 'Immo.CH'");
  EXPECT_EQ(Lines(8).find("EmptyTransferFile"), std::string::npos);
}

TEST_F(DriverTest, IdsAndHostStrings) {
  auto rs = Rows("select * from obj where DSN like '%000000000005}'");
  const std::string a = X().CreateImmoXmlId(*rs, "O");
  const std::string b = X().CreateImmoXmlId(*rs, "O");
  EXPECT_EQ(a.size(), 31u);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.substr(0, 4), "OKVA");
  for (size_t i = 0; i < 10; ++i) EXPECT_NE(std::isalpha(a[21 + i]) != 0, i % 2 == 1) << a;
  EXPECT_EQ(cUtil::k(Rows("select immoxml_obid from obj where DSN like '%000000000005}'")
                         ->Value("immoxml_obid")),
            b);
  EXPECT_EQ(X().GetImmoXmlId(*rs, true), b);  // the row holds it now

  for (const auto& [host, parts] :
       {std::pair{"sftp://host.example/in/box -p 2222", "sftp|host.example|in/box|-p 2222"},
        std::pair{"ftp.example", "|ftp.example||"},
        std::pair{"ftp.example -P", "|ftp.example||-P"}}) {
    std::string protocol, server, folder, options;
    openimmo::Delivery::SplitHost(host, protocol, server, folder, options);
    EXPECT_EQ(protocol + "|" + server + "|" + folder + "|" + options, parts);
  }
}

TEST_F(DriverTest, AFailedStatusWriteIsCountedAndWritesNothing) {
  // The host database refuses one listing's status.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((host() / "DAT" / "kavantor.db").string().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TRIGGER no_status BEFORE UPDATE ON boersenobj WHEN NEW.obj_dsn "
                         "LIKE '%000000000009}' BEGIN SELECT RAISE(ABORT, 'gesperrt'); END",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Run("boersen_name = 'ImmoPortal Demo'");
  EXPECT_EQ(Errors(), 1) << Lines(102);
  EXPECT_NE(Lines(102).find("Antwort-/Statusverabeitung"), std::string::npos);
  auto rs = Rows("select count(*) as n from boersenobj where letzte_uebertragung is not null");
  EXPECT_EQ(cUtil::d(rs->Value("n")), 0);
}

TEST_F(DriverTest, EscStopsAfterTheCurrentListing) {
  SetEsc();
  Run("boersen_name = 'ImmoPortal Demo'");
  ResetEsc();
  EXPECT_EQ(Errors(), 0) << Lines(102);
  // One listing was filled, the collective document is not sent, the phase says why it ended.
  EXPECT_EQ(Lines(0).find(".xml"), std::string::npos);
  EXPECT_NE(Lines(6).find("Abbruch der openimmo-Erstellung/-Übertragung durch Anwender"),
            std::string::npos);
  auto rs = Rows("select count(*) as n from boersenobj where letzte_uebertragung is not null");
  EXPECT_EQ(cUtil::d(rs->Value("n")), 0);
}

TEST_F(DriverTest, SettingsAndSchemaChoice) {
  Ini("OPTIONS", "XMLTYP", "OpenImmo");
  Ini("OPTIONS", "XMLGRUND_PICLENGTH", "5000");
  Ini("OPTIONS", "XML_PICWIDTH", "5000");
  Ini("Immo", "XML_PICLENGTH", "5000");
  X().LoadImmoXmlSettings(5, "Immo");
  const auto& set = X().settings();
  EXPECT_EQ(set.schemaType + "|" + set.ns, "openimmo|http://www.openimmo.de");
  // Picture limits are capped; the portal's own section wins.
  EXPECT_EQ(std::to_string(set.grundPicLength) + "|" + std::to_string(set.picWidth) + "|" +
                std::to_string(set.picLength),
            "20000|2048|5000");

  // A stored version needs its own schema file.
  Exec("update Boersen set strVersion = '1.9.9' where boersen_name = 'ImmoPortal Demo'");
  Run("boersen_name = 'ImmoPortal Demo'");
  ASSERT_EQ(Errors(), 1);
  EXPECT_NE(Lines(102).find("openimmo_V1.9.9.xsd' nicht gefunden."), std::string::npos);
  EXPECT_NE(Lines(102).find("[Proc: StartImmoXML]"), std::string::npos);
}

}  // namespace
}  // namespace fern::testing
