// Whole runs over the demo host's OpenImmo portals: documents, their validity, delivery to a
// loopback portal and the status written back.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "demo/demo_data.h"
#include "demo/demo_host.h"
#include "openimmo_fixture.h"
#include "platform/process.h"
#include "support/ftp_server.h"
#include "support/http_server.h"
#include "support/sshd_server.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

const char* kFtpPortal = "ImmoPortal Demo";
const char* kHttpPortal = "Wohnen HTTP Demo";
const char* kNs = "http://www.openimmo.de";

// A portal on 127.0.0.1 that answers each post as `mode` says.
class LoopbackPortal {
 public:
  enum class Mode { kOk, kError, kServerError, kEmpty };
  std::atomic<Mode> mode{Mode::kOk};
  std::atomic<int> posts{0};
  std::string refused;  // a listing number whose post is answered ERROR; set before posts come

  LoopbackPortal() {
    http_.server.Post("/openimmo", [this](const httplib::Request& req, httplib::Response& res) {
      ++posts;
      const Mode m = mode;
      if (m == Mode::kEmpty) {
        res.status = 200;
        return;
      }
      std::string answer = "<antwort_dokument>";
      std::smatch match;
      std::string body = req.body;
      static const std::regex obid("<(?:imo:)?openimmo_obid>([^<]*)<");
      static const std::regex ext("<(?:imo:)?objektnr_extern>([^<]*)<");
      static const std::regex action("aktionart=\"([A-Z]*)\"");
      std::string id = std::regex_search(body, match, obid) ? match[1].str() : "";
      std::string nr = std::regex_search(body, match, ext) ? match[1].str() : "";
      {
        std::lock_guard<std::mutex> lock(mutex_);
        actions_[nr] = std::regex_search(body, match, action) ? match[1].str() : "?";
      }
      answer +=
          "<immobilie><openimmo_obid>" + id + "</openimmo_obid><expose_id>WH-&apos;" + nr +
          "</expose_id><antwort art=\"" + (m == Mode::kError ? "ERROR" : "OK") +
          "\"/><meldung><freitext>geprüft</freitext></meldung></immobilie></antwort_dokument>";
      if (!refused.empty() && nr == refused)
        answer = std::regex_replace(answer, std::regex("art=\"OK\""), "art=\"ERROR\"");
      res.status = m == Mode::kServerError ? 500 : 200;
      res.set_content(answer, "text/xml");
    });
    http_.Start();
  }
  void Stop() { http_.Stop(); }
  // The "aktionart" of the last post that carried this listing number, "" when none did.
  std::string Action(const std::string& nr) {
    std::lock_guard<std::mutex> lock(mutex_);
    return actions_.count(nr) ? actions_[nr] : std::string();
  }
  std::string Url() const { return "http://" + http_.Address("/openimmo"); }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> actions_;
  testing_servers::HttpServer http_;
};

class RunTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    work = UseWorkFolder();
  }
  void Run(const std::string& portal) { RunPhase("boersen_name = '" + portal + "'"); }
  std::vector<fs::path> Documents(const std::string& portal) {
    std::vector<fs::path> out;
    const fs::path folder = work / "TRANSFER" / "openimmo" / portal;
    if (fs::exists(folder))
      for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".xml" &&
            e.path().filename().string().find("answer") == std::string::npos)
          out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // Valid by libxml2 and by xmllint against the demo schema.
  void ExpectValid(const fs::path& file) {
    const std::string xsd = HostFile("System\\XML\\openimmo.xsd").string();
    XmlSchemaCache cache;
    cache.add(kNs, xsd);
    auto doc = XmlDocument::Create();
    ASSERT_TRUE(doc->load(file.string())) << file;
    const auto issues = cache.Validate(*doc);
    EXPECT_TRUE(issues.empty()) << file << ": " << (issues.empty() ? "" : issues[0].Text());
    const std::string cmd =
        "xmllint --noout --schema '" + xsd + "' '" + file.string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << file;
  }
  int StatusCount(int portal, int status) {
    auto rs = Rows("select count(*) as n from boersenobj where boersen_dsn like '%00000000000" +
                   std::to_string(portal) + "}' and status = " + std::to_string(status) +
                   " and letzte_uebertragung is not null");
    return static_cast<int>(cUtil::d(rs->Value("n")));
  }
  // The FTP portal on a loopback server; the upload lands in "remote/in" of the test's folder.
  std::unique_ptr<testing_servers::FtpServer> UseFtpPortal() {
    return PortalFtpServer(kFtpPortal, "immo", "immo-demo", ", zipping = 0");
  }
  void UseHttpPortal(const std::string& url) {
    Exec("update Boersen set boersen_host = '" + url + "' where boersen_name = '" + kHttpPortal +
         "'");
  }

  fs::path work;
};

TEST_F(RunTest, FtpPortalUploadsOneCollectiveDocumentAndEveryStatus) {
  // Listing 3 is on the portal but no longer chosen: it is withdrawn.
  Exec(
      "update boersenobj set status = 1, kurz = 0, lang = 0 where boersen_dsn like "
      "'%000000000002}' and obj_dsn like '%000000000003}'");
  auto server = UseFtpPortal();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  std::vector<fs::path> sent;
  size_t pictures = 0;
  for (const auto& e : fs::directory_iterator(dir / "remote" / "in")) {
    if (e.path().extension() == ".xml") sent.push_back(e.path());
    pictures += e.path().extension() == ".jpg";
  }
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_GT(pictures, 28u);  // the listings' pictures go with the document
  EXPECT_EQ(sent[0].filename().string().rfind("ImmoPortal Demo-K-4702-2", 0), 0u);
  ExpectValid(sent[0]);
  // The listings come before the imprint.
  auto doc = XmlDocument::Create();
  ASSERT_TRUE(doc->load(sent[0].string()));
  doc->setProperty("SelectionNamespaces", Variant(std::string("xmlns:imo='") + kNs + "'"));
  auto anbieter = doc->documentElement()->selectSingleNode("imo:anbieter");
  EXPECT_EQ(anbieter->ChildElements("immobilie").size(), 28u);
  EXPECT_EQ(anbieter->ChildElements().back()->baseName(), "impressum");
  // Every purchase listing carries its price; values a listing lacks stay out, not 0.00.
  size_t purchases = 0, priced = 0;
  for (const XmlNodePtr& listing : anbieter->ChildElements("immobilie")) {
    const bool purchase = listing->selectSingleNode("imo:objektkategorie/imo:vermarktungsart")
                              ->getAttribute("KAUF") == "true";
    purchases += purchase;
    if (auto price = listing->selectSingleNode("imo:preise/imo:kaufpreis"))
      priced += purchase && cUtil::my_val(price->text()) > 0;
    for (const char* missing : {"imo:preise/imo:kaltmiete", "imo:flaechen/imo:anzahl_zimmer"}) {
      if (auto n = listing->selectSingleNode(missing)) {
        EXPECT_NE(n->text(), "0.00") << missing;
      }
    }
  }
  EXPECT_GT(purchases, 0u);
  EXPECT_EQ(priced, purchases);
  EXPECT_EQ(doc->documentElement()->selectSingleNode("imo:uebertragung")->getAttribute("art"),
            "OFFLINE");
  EXPECT_EQ(StatusCount(2, 1), 28);
  EXPECT_EQ(StatusCount(2, 3), 1);
  EXPECT_NE(Lines(6).find("Beenden der openimmo-Erstellung/-Übertragung"), std::string::npos);
  // The ids the document carries are the listings' stored ids (written together before it left).
  std::set<std::string> documentIds, storedIds;
  const XmlNodeListPtr obids = doc->selectNodes("//imo:openimmo_obid");
  for (const XmlNodePtr& id : *obids) documentIds.insert(id->text());
  for (auto rs = Rows("select immoxml_obid from obj where immoxml_obid <> ''"); !rs->Eof();
       rs->MoveNext())
    storedIds.insert(cUtil::k(rs->Value(size_t{0})));
  EXPECT_EQ(documentIds.size(), 28u);
  EXPECT_TRUE(
      std::includes(storedIds.begin(), storedIds.end(), documentIds.begin(), documentIds.end()));

  // A refused login: nothing is marked as sent.
  Exec("update boersenobj set status = 0, letzte_uebertragung = NULL");
  Exec("update Boersen set LOGINNAME = 'fremd' where boersen_name = '" + std::string(kFtpPortal) +
       "'");
  Ini("OPTIONS", "TRANSFERDELAY", "0");
  lines.clear();
  x_.reset();
  Run(kFtpPortal);
  EXPECT_GE(Errors(), 1);
  EXPECT_EQ(StatusCount(2, 1), 0);
}

TEST_F(RunTest, NamespaceFormsChangeNoContent) {
  // Listing 1 goes out in its content language 1031.
  Exec(
      "update ObjDet set EINGABE = 'Limo: imo:frisch', EINGABE_LCID1031 = 'Limo: imo:frisch' "
      "where Obj_Dsn like '%000000000001}' and Fldart_Dsn like '%000000000007}'");
  Exec("update Boersen set xmlns = 0 where boersen_name = '" + std::string(kFtpPortal) + "'");
  Run(kFtpPortal);
  auto docs = Documents(kFtpPortal);
  ASSERT_EQ(docs.size(), 1u);
  std::string text = Read(docs[0]);
  EXPECT_NE(text.find("Limo: imo:frisch"), std::string::npos);
  EXPECT_EQ(text.find("<imo:"), std::string::npos);
  EXPECT_NE(text.find("<openimmo xmlns=\"http://www.openimmo.de\""), std::string::npos);
  ExpectValid(docs[0]);

  // Prefix kept, but the portal wants no namespace at all.
  Exec("update Boersen set xmlns = 1 where boersen_name = '" + std::string(kFtpPortal) + "'");
  Ini("OPENIMMO", "EMPTYPREFIX", "1");
  lines.clear();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  docs = Documents(kFtpPortal);
  ASSERT_EQ(docs.size(), 1u);
  text = Read(docs[0]);
  EXPECT_NE(text.find("<openimmo>"), std::string::npos);
  EXPECT_EQ(text.find("xmlns"), std::string::npos);
  EXPECT_NE(text.find("Limo: imo:frisch"), std::string::npos);
}

TEST_F(RunTest, APortalSchemaWithoutNamespaceTakesTheDocumentWithoutNamespace) {
  // The published structure without a target namespace, as the association publishes it.
  const fs::path xsd = HostFile("System\\XML\\openimmo_V1.2.7.xsd");
  std::string schema = Read(xsd);
  for (const std::string part :
       {" xmlns=\"http://www.openimmo.de\"", " targetNamespace=\"http://www.openimmo.de\"",
        " elementFormDefault=\"qualified\""}) {
    ASSERT_NE(schema.find(part), std::string::npos) << part;
    schema.erase(schema.find(part), part.size());
  }
  std::ofstream(xsd, std::ios::binary | std::ios::trunc) << schema;
  auto server = UseFtpPortal();
  Exec("update Boersen set xmlns = 1 where boersen_name = '" + std::string(kFtpPortal) + "'");
  Ini("OPENIMMO", "EMPTYPREFIX", "1");
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  const std::vector<fs::path> sent = Arrived(".xml");
  ASSERT_EQ(sent.size(), 1u);
  const std::string text = Read(sent[0]);
  EXPECT_NE(text.find("<openimmo>"), std::string::npos);
  EXPECT_EQ(text.find("xmlns"), std::string::npos);
  const std::string cmd =
      "xmllint --noout --schema '" + xsd.string() + "' '" + sent[0].string() + "' 2>/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(StatusCount(2, 1), 29);
}

TEST_F(RunTest, HttpPortalGetsOneDocumentPerListingAndThePortalsIds) {
  LoopbackPortal portal;
  UseHttpPortal(portal.Url());
  Run(kHttpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  EXPECT_EQ(portal.posts, 14);
  auto docs = Documents(kHttpPortal);
  ASSERT_EQ(docs.size(), 14u);
  EXPECT_EQ(docs[0].filename(), "FB-1002.xml");
  ExpectValid(docs[0]);
  EXPECT_EQ(StatusCount(3, 1), 14);
  auto rs = Rows(
      "select boersen_exp_id from boersenobj where boersen_dsn like '%000000000003}' "
      "and obj_dsn like '%000000000002}'");
  EXPECT_EQ(cUtil::k(rs->Value("boersen_exp_id")), "WH-'FB-1002");
  EXPECT_NE(Lines(8).find("Wohnen HTTP Demo / Objekt: FB-1002 - Antwort: OK : geprüft"),
            std::string::npos);
}

TEST_F(RunTest, RejectedOrFailedPostsWriteNoStatus) {
  LoopbackPortal portal;
  UseHttpPortal(portal.Url());
  for (auto mode : {LoopbackPortal::Mode::kError, LoopbackPortal::Mode::kServerError,
                    LoopbackPortal::Mode::kEmpty}) {
    lines.clear();
    portal.mode = mode;
    Run(kHttpPortal);
    EXPECT_EQ(Errors(), 14) << static_cast<int>(mode);
    EXPECT_EQ(StatusCount(3, 1), 0) << static_cast<int>(mode);
    if (mode == LoopbackPortal::Mode::kError) {
      EXPECT_NE(Lines(102).find("Antwort: ERROR : geprüft ;[Proc: SaveObjektStatus2]"),
                std::string::npos);
    }
    if (mode == LoopbackPortal::Mode::kServerError) {
      EXPECT_NE(Lines(102).find("HTTP 500"), std::string::npos);
    }
  }
  portal.Stop();
  lines.clear();
  Run(kHttpPortal);
  EXPECT_EQ(Errors(), 14);
  // The error's number goes before its text: 12029, no connection.
  EXPECT_NE(Lines(102).find("Fehler bei HTTPRequest: 12029 "), std::string::npos) << Lines(102);
  EXPECT_EQ(StatusCount(3, 1), 0);
}

// Puts a listing on portal `portal` (status 1), unticked, last sent at `sent`.
std::string OnPortalUnticked(int portal, int obj, const std::string& sent) {
  return "update boersenobj set status = 1, kurz = 0, lang = 0, letzte_uebertragung = '" + sent +
         "' where boersen_dsn like '%00000000000" + std::to_string(portal) +
         "}' and obj_dsn like '%00000000000" + std::to_string(obj) + "}'";
}

TEST_F(RunTest, AnUntickedListingIsWithdrawnByItsOwnPostWhateverItsChangeTime) {
  LoopbackPortal portal;
  UseHttpPortal(portal.Url());
  Exec("update Boersen set teil_or_voll = 0 where boersen_name = '" + std::string(kHttpPortal) +
       "'");
  // FB-1002 changed since, and the portal refuses it; FB-1004 unchanged; FB-1006 unchanged
  // but barred from export.
  Exec(OnPortalUnticked(3, 2, "2000-01-01"));
  Exec(OnPortalUnticked(3, 4, "2999-01-01"));
  Exec(OnPortalUnticked(3, 6, "2999-01-01"));
  Exec("update obj set transfer = 1 where dsn like '%000000000006}'");
  portal.refused = "FB-1002";
  Run(kHttpPortal);
  EXPECT_EQ(Errors(), 1) << Lines(102);
  EXPECT_NE(Lines(102).find("Antwort: ERROR"), std::string::npos);
  EXPECT_EQ(portal.Action("FB-1002"), "DELETE");
  EXPECT_EQ(portal.Action("FB-1004"), "DELETE");
  EXPECT_EQ(portal.Action("FB-1006"), "");
  EXPECT_EQ(Lines(8).find("wird gelöscht (nicht mehr übertragen)"), std::string::npos);
  auto status = [&](int p, int obj) {
    return cUtil::k(Rows("select status from boersenobj where boersen_dsn like '%00000000000" +
                         std::to_string(p) + "}' and obj_dsn like '%00000000000" +
                         std::to_string(obj) + "}'")
                        ->Value("status"));
  };
  EXPECT_EQ(status(3, 2), "1");  // still on the portal, sent again next time
  EXPECT_EQ(status(3, 4), "3");
  EXPECT_EQ(status(3, 6), "1");

  // A partial FTP portal: the unchanged, unticked listing goes with the document as DELETE.
  auto server = UseFtpPortal();
  Exec("update Boersen set teil_or_voll = 1 where boersen_name = '" + std::string(kFtpPortal) +
       "'");
  Exec(OnPortalUnticked(2, 4, "2999-01-01"));
  lines.clear();
  x_.reset();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  std::string sent;
  for (const fs::path& p : Arrived(".xml")) sent = Read(p);
  auto doc = XmlDocument::Create();
  ASSERT_TRUE(doc->loadXML(sent));
  doc->setProperty("SelectionNamespaces", Variant(std::string("xmlns:imo='") + kNs + "'"));
  auto aktion =
      doc->selectSingleNode("//imo:verwaltung_techn[imo:objektnr_extern='FB-1004']/imo:aktion");
  ASSERT_TRUE(aktion);
  EXPECT_EQ(aktion->getAttribute("aktionart"), "DELETE");
  EXPECT_EQ(status(2, 4), "3");
}

TEST_F(RunTest, WithdrawingEveryListingOfAFullFtpPortalSendsTheDocumentWithoutListings) {
  auto server = UseFtpPortal();
  // Every listing but the archived ones, which no run selects.
  Exec(
      "update boersenobj set status = 1, kurz = 0, lang = 0, letzte_uebertragung = "
      "'2999-01-01' where boersen_dsn like '%000000000002}' and obj_dsn in (select dsn from obj "
      "where FArchiv < 2)");
  const int held = StatusCount(2, 1);
  ASSERT_GT(held, 20);

  // A schema that wants at least one listing: nothing can withdraw them, and that is said.
  const fs::path xsd = HostFile("System\\XML\\openimmo_V1.2.7.xsd");  // the portal's version
  const std::string schema = Read(xsd);
  const std::string optional = "<xsd:element ref=\"immobilie\" minOccurs=\"0\"";
  ASSERT_NE(schema.find(optional), std::string::npos);
  std::string strict = schema;
  strict.replace(strict.find(optional), optional.size(), "<xsd:element ref=\"immobilie\"");
  std::ofstream(xsd, std::ios::binary | std::ios::trunc) << strict;
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 1) << Lines(102);
  EXPECT_NE(Lines(102).find("ImmoPortal Demo"), std::string::npos) << Lines(102);
  EXPECT_NE(Lines(102).find("FB-1001"), std::string::npos) << Lines(102);
  EXPECT_EQ(Lines(8).find("wird gelöscht (nicht mehr übertragen)"), std::string::npos);
  EXPECT_TRUE(Arrived().empty());
  EXPECT_EQ(StatusCount(2, 1), held);

  // The published shape: the portal gets the full document without listings, and all go.
  std::ofstream(xsd, std::ios::binary | std::ios::trunc) << schema;
  lines.clear();
  x_.reset();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  const auto sent = Arrived();
  ASSERT_EQ(sent.size(), 1u);
  ExpectValid(sent[0]);
  const std::string text = Read(sent[0]);
  EXPECT_NE(text.find("umfang=\"VOLL\""), std::string::npos);
  EXPECT_EQ(text.find("immobilie"), std::string::npos);
  EXPECT_NE(Lines(8).find("Objekt 'FB-1001' wird gelöscht (nicht mehr übertragen)!"),
            std::string::npos);
  EXPECT_EQ(StatusCount(2, 1), 0);
  EXPECT_EQ(StatusCount(2, 3), held);

  // Nothing held and nothing chosen: no data, as ever.
  lines.clear();
  x_.reset();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  EXPECT_NE(Lines(12).find("Keine Daten zur Übertragung an Börse"), std::string::npos);
  EXPECT_EQ(Arrived().size(), 1u);
}

TEST_F(RunTest, AnInvalidDocumentIsReportedAndNotSent) {
  LoopbackPortal portal;
  UseHttpPortal(portal.Url());
  std::string mapping = Read(HostFile("System\\XML\\immoportal.xml"));
  mapping.replace(mapping.rfind("</zuordnungen>"), 14,
                  "<zustand_angaben><zuordnung><element element=\"zustand\"><attribut "
                  "attribut=\"zustand_art\"><option quelle=\"Überschrift\" "
                  "quelltyp=\"FELDART\"/></attribut></element></zuordnung></zustand_angaben>"
                  "</zuordnungen>");
  std::ofstream(HostFile("System\\XML") / "bad.xml", std::ios::binary) << mapping;
  Exec("update Boersen set zuordnungsdatei = 'bad.xml' where boersen_name = '" +
       std::string(kHttpPortal) + "'");
  Run(kHttpPortal);
  EXPECT_EQ(portal.posts, 0);
  EXPECT_EQ(Errors(), 14);
  const std::string errors = Lines(102);
  EXPECT_NE(errors.find("FB-1002.xml"), std::string::npos) << errors;
  EXPECT_NE(errors.find("zustand_art"), std::string::npos) << errors;
  EXPECT_NE(errors.find("Es wird daher nicht übertragen."), std::string::npos);
  EXPECT_EQ(StatusCount(3, 1), 0);
}

// A hook that moves and renames the document; `before` runs first in the hook.
void WriteMovingHook(const fs::path& host, const std::string& before = "",
                     const std::string& folder = "strPath & \"\\eigen\"") {
  const fs::path hooks = host / "System" / "Services" / "OpenImmo";
  fs::create_directories(hooks);
  std::ofstream(hooks / "rename.vbs", std::ios::trunc)
      << "Class Rename\r\n"
         "  Public Function Callback_BeforeXmlSave(rs, oXmlDoc, strPath, strFileName)\r\n"
      << before << "    strPath = " << folder
      << "\r\n"
         "    strFileName = \"Bestand_\" & strFileName\r\n"
         "  End Function\r\n"
         "End Class\r\n"
         "Dim oHook\r\nSet oHook = New Rename\r\nApplication.EventsConsumers.Add oHook\r\n";
}

// The files a document names beside itself ("pfad" of an EXTERN picture or photo).
std::set<std::string> ReferencedFiles(const std::string& xml) {
  std::set<std::string> out;
  static const std::regex pfad("<(?:imo:)?pfad>([^<]*)<");
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), pfad); it != std::sregex_iterator();
       ++it)
    out.insert((*it)[1].str());
  return out;
}

TEST_F(RunTest, TheSaveHookMayMoveAndRenameTheDocumentAndItsFilesGoWithIt) {
  WriteMovingHook(host());
  auto server = UseFtpPortal();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  // The portal gets the document under the hook's name, and every file it names beside it.
  std::vector<std::string> arrived;
  std::set<std::string> files;
  for (const auto& e : fs::directory_iterator(dir / "remote" / "in")) {
    if (e.path().extension() == ".xml") arrived.push_back(e.path().filename().string());
    files.insert(e.path().filename().string());
  }
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(arrived[0].rfind("Bestand_ImmoPortal Demo-K-4702-2", 0), 0u) << arrived[0];
  EXPECT_EQ(Documents(kFtpPortal), std::vector<fs::path>{});
  const fs::path moved = work / "TRANSFER" / "openimmo" / kFtpPortal / "eigen" / arrived[0];
  ExpectValid(moved);
  const std::set<std::string> named = ReferencedFiles(Read(dir / "remote" / "in" / arrived[0]));
  EXPECT_GT(named.size(), 28u);
  for (const std::string& f : named) EXPECT_EQ(files.count(f), 1u) << f << " did not arrive";
  EXPECT_NE(Lines(0).find(arrived[0]), std::string::npos);
  EXPECT_EQ(StatusCount(2, 1), 29);

  // A zipping portal, the hook moving to a folder of its own that it uses every night: the
  // archive holds the document and every file it names, none left there by the night before.
  const fs::path own = dir / "hook folder";
  WriteMovingHook(host(), "", "\"" + own.string() + "\"");
  const std::string stale = *named.begin();
  fs::create_directories(own);
  std::ofstream(own / stale, std::ios::trunc) << "stale";
  fs::last_write_time(own / stale, fs::last_write_time(own / stale) - std::chrono::hours(24));
  fs::remove_all(dir / "remote" / "in");
  fs::create_directories(dir / "remote" / "in");
  Exec("update boersenobj set status = 0, letzte_uebertragung = NULL");
  Exec("update Boersen set zipping = 1 where boersen_name = '" + std::string(kFtpPortal) + "'");
  lines.clear();
  x_.reset();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  const std::vector<fs::path> zips = Arrived();
  ASSERT_EQ(zips.size(), 1u);
  EXPECT_EQ(zips[0].extension(), ".zip");
  ProcessOptions o;
  o.captureStdout = o.captureStderr = true;
  o.timeout = std::chrono::seconds(20);
  const ProcessResult listing = RunProcess({"unzip", "-Z1", zips[0].string()}, o);
  ASSERT_TRUE(listing.Succeeded()) << listing.err;
  std::set<std::string> entries;
  std::string xmlEntry;
  std::istringstream in(listing.out);
  for (std::string line; std::getline(in, line);) {
    entries.insert(line);
    if (line.size() > 4 && line.substr(line.size() - 4) == ".xml") xmlEntry = line;
  }
  ASSERT_EQ(xmlEntry.rfind("Bestand_ImmoPortal Demo-K-4702-2", 0), 0u) << listing.out;
  const ProcessResult text = RunProcess({"unzip", "-p", zips[0].string(), xmlEntry}, o);
  const std::set<std::string> packedNames = ReferencedFiles(text.out);
  EXPECT_GT(packedNames.size(), 28u);
  for (const std::string& f : packedNames) EXPECT_EQ(entries.count(f), 1u) << f << " not packed";
  EXPECT_NE(RunProcess({"unzip", "-p", zips[0].string(), stale}, o).out, "stale");
  EXPECT_EQ(StatusCount(2, 1), 29);
}

TEST_F(RunTest, AHookFolderUsedEveryNightSendsOnlyThatNightsDocumentAndItsFiles) {
  // The office's own folder: the save hook writes a note there, the transfer hook rewrites a
  // list that has been there since the day before.
  const fs::path own = dir / "hook folder";
  fs::create_directories(own);
  const auto write = [](const fs::path& file, const std::string& line) {
    return "    Set o = CreateObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" +
           file.string() + "\", True)\r\n    o.WriteLine " + line + "\r\n    o.Close\r\n";
  };
  WriteMovingHook(host(), write(own / "note.txt", "\"heute\""), "\"" + own.string() + "\"");
  std::ofstream(host() / "System" / "Services" / "OpenImmo" / "transfer.vbs")
      << "Class Transfer\r\n  Public Function Callback_BeforeTransfer(rs, blnIsFtp, strPath, "
         "strFileName, strFileFilter)\r\n"
      << write(own / "list.txt", "strFileName")
      << "  End Function\r\nEnd Class\r\nDim oTransfer\r\nSet oTransfer = New Transfer\r\n"
         "Application.EventsConsumers.Add oTransfer\r\n";
  std::ofstream(own / "list.txt") << "gestern";
  fs::last_write_time(own / "list.txt",
                      fs::last_write_time(own / "list.txt") - std::chrono::hours(24));
  auto server = UseFtpPortal();
  std::vector<fs::path> earlier;
  for (const bool zipping : {false, true}) {
    Exec("update Boersen set zipping = " + std::string(zipping ? "1" : "0") +
         " where boersen_name = '" + kFtpPortal + "'");
    for (int night = 1; night <= 3; ++night) {
      SCOPED_TRACE((zipping ? "zipping, night " : "night ") + std::to_string(night));
      fs::remove_all(dir / "remote" / "in");
      fs::create_directories(dir / "remote" / "in");
      lines.clear();
      x_.reset();
      Run(kFtpPortal);
      EXPECT_EQ(Errors(), 0) << Lines(102);
      // What the portal got: the files themselves, or the entries of the one archive.
      std::set<std::string> got;
      const std::vector<fs::path> arrived = Arrived();
      if (zipping) {
        ASSERT_EQ(arrived.size(), 1u);
        ASSERT_EQ(arrived[0].extension(), ".zip");
        std::istringstream in(ZipEntries(arrived[0]));
        for (std::string line; std::getline(in, line);) got.insert(line);
      } else {
        for (const fs::path& p : arrived) got.insert(p.filename().string());
      }
      const auto document = std::find_if(got.begin(), got.end(), [](const std::string& name) {
        return fs::path(name).extension() == ".xml";
      });
      ASSERT_NE(document, got.end());
      ASSERT_EQ(document->rfind("Bestand_ImmoPortal Demo-K-4702-2", 0), 0u) << *document;
      std::set<std::string> expected = ReferencedFiles(Read(own / *document));
      EXPECT_GT(expected.size(), 28u);
      expected.insert({*document, "note.txt", "list.txt"});
      EXPECT_EQ(got, expected);
      // This night's document and archive become earlier nights' ones, which stay.
      for (const auto& e : fs::directory_iterator(own))
        if (e.path().filename().string().rfind("Bestand_", 0) == 0) {
          earlier.push_back(own / (std::to_string(earlier.size()) + e.path().filename().string()));
          fs::rename(e.path(), earlier.back());
        }
    }
  }
  for (const fs::path& p : earlier) EXPECT_TRUE(fs::exists(p)) << p;
}

TEST_F(RunTest, PortalsSharingAHookFolderInOnePhaseEachGetOnlyTheirOwnDocumentAndFiles) {
  // Every portal's document goes to one folder of the office's, with a note per document.
  const fs::path own = dir / "hook folder";
  fs::create_directories(own);
  WriteMovingHook(host(),
                  "    Set o = CreateObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" +
                      own.string() +
                      "/note-\" & strFileName & \".txt\", True)\r\n    o.WriteLine "
                      "strFileName\r\n    o.Close\r\n",
                  "\"" + own.string() + "\"");
  testing_servers::FtpServerOptions ftpOptions;
  ftpOptions.home = dir / "ftp";
  ftpOptions.user = "immo";
  ftpOptions.password = "immo-demo";
  fs::create_directories(ftpOptions.home / "in");
  testing_servers::FtpServer ftp(ftpOptions);
  ASSERT_TRUE(testing_servers::MakeSshKey(dir / "client_key"));
  fs::create_directories(dir / "sshd");
  fs::create_directories(dir / "sftp" / "upload");
  testing_servers::SshdServer sshd(
      {dir / "sshd", dir / "sftp", dir / "host_key", dir / "client_key.pub", ""});
  host::DemoUploadServers servers;
  servers.ftpPort = ftp.port();
  servers.sftpPort = sshd.port();
  servers.sftpUser = testing_servers::CurrentUser();
  servers.sftpKey = dir / "client_key";
  ASSERT_EQ(host::AddDemoUploadPortals(host(), servers), 2);
  std::ofstream(host() / "sftp.ini", std::ios::app)
      << "fingerprint=" << testing_servers::KeygenFingerprint(dir / "host_key.pub", "sha256")
      << "\n";
  // FB-1013 is on the SFTP portal but no longer chosen there: that portal withdraws it, while
  // the FTP portal, sent first, carries it.
  namespace dd = host::demo_data;
  Exec("update boersenobj set status = 1, kurz = 0, lang = 0 where boersen_dsn = '" +
       dd::Key(dd::kBoersen, 8) + "' and obj_dsn = '" + dd::Key(dd::kObj, 13) + "'");

  RunPhase("boersen_name in ('ImmoPortal FTP Demo', 'ImmoPortal SFTP Demo') order by boersen_name");
  EXPECT_EQ(Errors(), 0) << Lines(102);
  for (const auto& [name, inbox, number] :
       {std::tuple<std::string, fs::path, std::string>{"ImmoPortal FTP Demo", dir / "ftp" / "in",
                                                       "K-4707"},
        {"ImmoPortal SFTP Demo", dir / "sftp" / "upload", "K-4708"}}) {
    SCOPED_TRACE(name);
    std::vector<fs::path> arrived;
    std::string names;
    for (const auto& e : fs::directory_iterator(inbox)) {
      arrived.push_back(e.path());
      names += e.path().filename().string() + "\n";
    }
    ASSERT_EQ(arrived.size(), 1u) << names;
    ASSERT_EQ(arrived[0].extension(), ".zip");
    std::set<std::string> got;
    std::istringstream in(ZipEntries(arrived[0]));
    for (std::string line; std::getline(in, line);) got.insert(line);
    const std::string base = "Bestand_" + name + "-" + number + "-";
    const auto document = std::find_if(got.begin(), got.end(), [&](const std::string& entry) {
      return fs::path(entry).extension() == ".xml";
    });
    ASSERT_NE(document, got.end());
    ASSERT_EQ(document->rfind(base, 0), 0u) << *document;
    const std::string text = Read(own / *document);
    EXPECT_EQ(text.find("FB-1013") != std::string::npos, name == "ImmoPortal FTP Demo");
    std::set<std::string> expected = ReferencedFiles(text);
    EXPECT_GT(expected.size(), 5u);
    expected.insert({*document, "note-" + document->substr(8, document->size() - 12) + ".txt"});
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(StatusCount(8, 3), 1);
}

TEST_F(RunTest, AMovedDocumentWhoseFilesAreMissingIsNotSent) {
  // The hook takes the pictures away before it moves the document.
  WriteMovingHook(host(),
                  "    CreateObject(\"Scripting.FileSystemObject\").DeleteFile strPath & "
                  "\"\\*.jpg\"\r\n");
  auto server = UseFtpPortal();
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 1) << Lines(102);
  EXPECT_NE(Lines(102).find("Bestand_ImmoPortal Demo-K-4702-2"), std::string::npos) << Lines(102);
  EXPECT_TRUE(fs::is_empty(dir / "remote" / "in"));
  EXPECT_EQ(StatusCount(2, 1), 0);
}

TEST_F(RunTest, ActiveFtpShowsTheWholeNameOfEachFileItSends) {
  auto server = UseFtpPortal();
  Ini("FTP", "ACTIVE_FTP", "1");
  Ini("OPTIONS", "FTP_PROXY", "");
  Exec("update Boersen set zipping = 1, boersen_host = '127.0.0.1:" +
       std::to_string(server->port()) + "/in' where boersen_name = '" + kFtpPortal + "'");
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  const std::vector<fs::path> arrived = Arrived();
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(Lines(20), "Übertrage Datei 'in/" + arrived[0].filename().string() + "'\n");
}

TEST_F(RunTest, AWorkFolderThatCannotBeMadeSaysCreateFolder) {
  // A file where the portals' folders should go.
  fs::create_directories(work / "TRANSFER");
  std::ofstream(work / "TRANSFER" / "openimmo") << "kein Ordner";
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 1) << Lines(102);
  EXPECT_NE(Lines(102).find("CreateFolder: "), std::string::npos) << Lines(102);
  EXPECT_EQ(Lines(102).find("Ordner kann nicht angelegt werden"), std::string::npos);
}

TEST_F(RunTest, ImportRowsAreSkippedOneByOne) {
  Exec("update Boersen set boersen_name = 'Import Demo' where boersen_name = '" +
       std::string(kFtpPortal) + "'");
  auto rs = Rows("select * from Boersen where boersentyp = 5 order by boersen_name");
  ASSERT_EQ(rs->RecordCount(), 2);
  LoopbackPortal portal;
  UseHttpPortal(portal.Url());
  rs = Rows("select * from Boersen where boersentyp = 5 order by boersen_name");
  X().StartImmoXML(app, Session().g_strConnect, *rs, false, true, 5);
  EXPECT_EQ(portal.posts, 14);
  EXPECT_EQ(StatusCount(2, 1), 0);

  // A phase of import rows only says nothing at all.
  lines.clear();
  rs = Rows("select * from Boersen where boersen_name = 'Import Demo'");
  X().StartImmoXML(app, Session().g_strConnect, *rs, false, true, 5);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace fern::testing
