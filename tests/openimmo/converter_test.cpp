// The IS24 converter road of portal type 11: a fake converter written by each test follows the
// host program's protocol over "IS24Xml.ini" (answers OK, rejects listings through the ".err"
// file, fails, or stays silent), and what it made goes to a loopback FTP server.
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "openimmo_fixture.h"
#include "platform/ini_file.h"
#include "platform/text_file.h"
#include "support/ftp_server.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

const char* kPortal = "IS24 XML Demo";

// The converter's behaviour, baked into the script it is written as.
struct Fake {
  std::string result = "#OK#";  // written as Result ("" writes nothing)
  std::string version = "2.5";  // written as IS24XmlConverterVersion ("" writes nothing)
  std::string errLines;         // written as the ".err" file when not empty
  bool hang = false;            // never answers and never ends
  int exitCode = 0;
};

std::string PyText(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\\' || c == '\'') out += '\\';
    if (c == '\n' || c == '\r') {
      out += c == '\n' ? "\\n" : "\\r";
      continue;
    }
    out += c;
  }
  return out + "'";
}

class ConverterTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    folder = dir / "work" / "TRANSFER" / "openimmo" / kPortal;
    fs::create_directories(folder);
    conv = folder.parent_path() / "IS24XmlConverter";
    Ini("OPTIONS", "TRANSFERDELAY", "0");
    Ini("OPTIONS", "TRANSFERCOUNT", "1");
    Exec(std::string("update Boersen set zipping = 0 where boersen_name = '") + kPortal + "'");
    std::ofstream(folder / (base + ".xml")) << "<openimmo/>";
  }

  // The exporter for type 11, made after the INI and the portal row are set.
  openimmo::Delivery& Converter() {
    if (!x_) {
      x_ = std::make_unique<cImmoXmlV2>();
      x_->events.WorkState = [this](int16_t s, const std::string& t) { lines.push_back({s, t}); };
      x_->Attach(app, Session().g_strConnect, 11);
      x_->SetRunStart(vb::Now());
      x_->Delivery().SetConverterWait(20, 100);
    }
    return x_->Delivery();
  }

  void Install(const Fake& f) {
    std::string py = "#!/usr/bin/python3\nimport os, re, sys, time, shutil\n";
    py += "ini = sys.argv[1]\nhere = os.path.dirname(ini)\n";
    py += "open(os.path.join(here, 'args.txt'), 'w').write('\\n'.join(sys.argv[1:]))\n";
    py += "open(os.path.join(here, 'pid.txt'), 'w').write(str(os.getpid()))\n";
    py += "text = open(ini, encoding='cp1252').read()\n";
    py += "src = re.search(r'^SourceFile=(.*?)\\r?$', text, re.M).group(1)\n";
    if (f.hang) py += "time.sleep(60)\n";
    py += "os.makedirs(os.path.join(here, 'root'), exist_ok=True)\n";
    py += "shutil.copy(src, os.path.join(here, 'root', 'converted.xml'))\n";
    if (!f.errLines.empty())
      py += "open(os.path.join(here, 'IS24Xml.err'), 'w', encoding='cp1252').write(" +
            PyText(f.errLines) + ")\n";
    if (!f.result.empty())
      py += "text = re.sub(r'^Result=.*?(\\r?)$', lambda m: 'Result=' + " + PyText(f.result) +
            " + m.group(1), text, flags=re.M)\n";
    if (!f.version.empty())
      py +=
          "text = re.sub(r'^IS24XmlConverterVersion=.*?(\\r?)$', lambda m: "
          "'IS24XmlConverterVersion=' + " +
          PyText(f.version) + " + m.group(1), text, flags=re.M)\n";
    py += "open(ini, 'w', encoding='cp1252', newline='').write(text)\n";
    py += "sys.exit(" + std::to_string(f.exitCode) + ")\n";
    const fs::path program = host() / "System" / "IS24XmlConverter.exe";
    std::ofstream(program, std::ios::trunc) << py;
    fs::permissions(program, fs::perms::owner_all);
  }

  XmlDocumentPtr ThreeListings() {
    std::string xml = "<openimmo><anbieter>";
    for (const char* id : {"A-1", "A-2", "A-3"})
      xml += std::string("<immobilie><verwaltung_techn><objektnr_intern>") + id +
             "</objektnr_intern></verwaltung_techn></immobilie>";
    return Parse(xml + "<impressum/></anbieter></openimmo>");
  }
  static std::vector<std::string> Ids(XmlDocument& doc) {
    std::vector<std::string> out;
    for (const auto& l :
         doc.documentElement()->ChildElements("anbieter")[0]->ChildElements("immobilie"))
      out.push_back(l->text());
    return out;
  }

  bool Send(XmlDocumentPtr& doc) {
    auto rs = Rows(std::string("select * from Boersen where boersen_name = '") + kPortal + "'");
    tMandant m;
    m.LoginName = "is24";
    m.Password = "is24-demo";
    XmlDocumentPtr answer;
    return Converter().SendXml(*rs, doc, m, folder.string(), answer, base);
  }

  // An FTP server for the portal, reached through the portal row's host.
  std::unique_ptr<testing_servers::FtpServer> Server() {
    return PortalFtpServer(kPortal, "is24", "is24-demo");
  }

  std::string Ini(const std::string& key) {
    IniCacheReset();
    return IniGet("IS24XmlConverter", key, "<none>", conv / "IS24Xml.ini");
  }
  using OpenImmoTest::Ini;

  fs::path folder, conv;
  std::string base = "IS24 XML Demo-K-4704-1";
};

TEST_F(ConverterTest, AnAcceptedDocumentIsPackedAndUploaded) {
  auto server = Server();
  Install({});
  auto doc = ThreeListings();
  EXPECT_TRUE(Send(doc));
  EXPECT_EQ(Errors(), 0) << Lines(102);
  const std::string info = Lines(0);
  EXPECT_NE(info.find("START XmlConverter\n"), std::string::npos);
  EXPECT_NE(info.find("END XmlConverter (Version 2.5)\n"), std::string::npos);
  EXPECT_NE(info.find("Übertrage Zip-Datei"), std::string::npos);

  // The converter got the control file; the control file names the saved document.
  EXPECT_EQ(ReadText(conv / "args.txt"), (conv / "IS24Xml.ini").string());
  EXPECT_EQ(Ini("SourceFile"), (folder / (base + ".xml")).string());
  EXPECT_EQ(IniGet("FTPTransfer", "UploadDirList", "", conv / "IS24Xml.ini"), "root=§zip§");

  const fs::path zip = dir / "remote" / "in" / (base + ".zip");
  ASSERT_TRUE(fs::exists(zip));
  const std::string cmd = "unzip -l '" + zip.string() + "' | grep -q converted.xml";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(Ids(*doc).size(), 3u);
}

TEST_F(ConverterTest, RejectedListingsLeaveTheDocumentAndStaleAnswersAreForgotten) {
  auto server = Server();
  Fake rejecting;
  rejecting.errLines = "A-1|Wohnung Mitte|Preis fehlt.\r\nA-3\r\n\r\n";
  Install(rejecting);
  auto doc = ThreeListings();
  EXPECT_TRUE(Send(doc));
  EXPECT_EQ(Ids(*doc), std::vector<std::string>{"A-2"});
  const std::string errors = Lines(102);
  EXPECT_EQ(Errors(), 2) << errors;
  EXPECT_NE(errors.find(">>>> Fehler [Objekt Wohnung Mitte]: Preis fehlt. Es wird daher nicht "
                        "übernommen ;[Börse: "),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("; IS24XMLConverter ;[Proc: FTPTransfer]"), std::string::npos);
  // The rejections are reported before anything goes up.
  size_t firstUpload = lines.size(), lastError = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].state == 102) lastError = i;
    if (lines[i].text == "Übertrage Zip-Datei" && firstUpload == lines.size()) firstUpload = i;
  }
  EXPECT_LT(lastError, firstUpload);

  // The next run's converter rejects nothing: the list of the run before takes nothing out.
  lines.clear();
  Install({});
  doc = ThreeListings();
  EXPECT_TRUE(Send(doc));
  EXPECT_EQ(Ids(*doc).size(), 3u);
  EXPECT_EQ(Errors(), 0) << Lines(102);
}

TEST_F(ConverterTest, AFailingMissingOrSilentConverterSendsNothing) {
  auto server = Server();
  const fs::path zip = dir / "remote" / "in" / (base + ".zip");

  Fake failing;
  failing.result = "Fehler im Schema";
  Install(failing);
  auto doc = ThreeListings();
  EXPECT_FALSE(Send(doc));
  EXPECT_EQ(Lines(102), "Fehler im Schema (Version 2.5)\n");

  // Ends at once without a word: the version of the run before is not taken for an answer.
  lines.clear();
  Fake mute;
  mute.result = mute.version = "";
  mute.exitCode = 3;
  Install(mute);
  EXPECT_FALSE(Send(doc));
  EXPECT_EQ(Ini("IS24XmlConverterVersion"), "");
  std::string errors = Lines(102);
  EXPECT_NE(errors.find("konnte nicht gestartet werden."), std::string::npos) << errors;
  EXPECT_EQ(errors.find("Version"), std::string::npos) << errors;

  // Silent until the time-out: it is ended and the run goes on.
  lines.clear();
  Fake silent;
  silent.hang = true;
  Install(silent);
  EXPECT_FALSE(Send(doc));
  errors = Lines(102);
  EXPECT_NE(errors.find("IS24XmlConverter.exe"), std::string::npos) << errors;
  const pid_t pid = std::stoi(ReadText(conv / "pid.txt"));
  EXPECT_NE(kill(pid, 0), 0) << "the converter still runs";

  // No converter at all: a counted error naming it.
  lines.clear();
  fs::remove(host() / "System" / "IS24XmlConverter.exe");
  EXPECT_FALSE(Send(doc));
  errors = Lines(102);
  EXPECT_EQ(Errors(), 1);
  EXPECT_NE(errors.find("system\\IS24XmlConverter.exe' nicht gefunden"), std::string::npos)
      << errors;

  EXPECT_FALSE(fs::exists(zip));
  EXPECT_EQ(Ids(*doc).size(), 3u);
}

TEST_F(ConverterTest, ControlFileOfAHookUploadsTheFoldersItLists) {
  auto server = Server();
  // Upper-case extension: the rejection list is "ctl.err", never the control file itself.
  const fs::path ctl = dir / "hook" / "ctl.INI";
  fs::create_directories(ctl.parent_path() / "root");
  fs::create_directories(ctl.parent_path() / "bilder");
  std::ofstream(ctl.parent_path() / "root" / "a.xml") << "<a/>";
  std::ofstream(ctl.parent_path() / "bilder" / "b.jpg") << "jpg";
  IniWrite("FTPTransfer", "Host", "§DEFAULT§", ctl);
  IniWrite("FTPTransfer", "HostDir", "§DEFAULT§", ctl);
  IniWrite("FTPTransfer", "UploadDirList", "fehlt=Hinweis fehlt|ROOT=|bilder=Bilder folgen", ctl);
  WriteTextFile(ctl.parent_path() / "ctl.err", "A-2|Haus|kein Bild");

  auto rs = Rows(std::string("select * from Boersen where boersen_name = '") + kPortal + "'");
  auto doc = ThreeListings();
  tMandant m;
  m.LoginName = "is24";
  m.Password = "is24-demo";
  EXPECT_TRUE(Converter().FTPTransfer(ctl.string(), *rs, m, base, doc));
  EXPECT_EQ(Errors(), 1) << Lines(102);
  EXPECT_EQ(Ids(*doc), (std::vector<std::string>{"A-1", "A-3"}));
  EXPECT_TRUE(fs::exists(dir / "remote" / "in" / "a.xml"));
  EXPECT_TRUE(fs::exists(dir / "remote" / "in" / "bilder" / "b.jpg"));
  EXPECT_NE(Lines(0).find("Bilder folgen"), std::string::npos);
  EXPECT_EQ(Lines(0).find("Hinweis fehlt"), std::string::npos);

  // Nothing listed exists: nothing to do counts as done.
  lines.clear();
  IniWrite("FTPTransfer", "UploadDirList", "fort=§ZIP§", ctl);
  EXPECT_TRUE(Converter().FTPTransfer(ctl.string(), *rs, m, base, doc));
}

// Not the converter's, but the same send: "ABORT" is a word, whatever follows it.
TEST_F(ConverterTest, AHookAnswerBeginningWithAbortStopsTheSend) {
  const fs::path hooks = host() / "System" / "Services" / "OpenImmo";
  fs::create_directories(hooks);
  std::ofstream(hooks / "abort.vbs")
      << "Class AbortHook\r\n"
         "  Public Function Callback_BeforeTransfer(rs, blnIsFtp, strPath, strFile, strFilter)\r\n"
         "    strFilter = \"Abort: Portal in Wartung\"\r\n"
         "  End Function\r\n"
         "End Class\r\n"
         "Dim oHook\r\nSet oHook = New AbortHook\r\nApplication.EventsConsumers.Add oHook\r\n";
  Ini("OPTIONS", "TRANSFERPATH", (dir / "work").string());
  // "ImmoPortal Demo" counts as sent without a network unless the send stops first.
  auto rs = Rows("select * from Boersen where boersen_name = 'ImmoPortal Demo'");
  X().StartImmoXML(app, Session().g_strConnect, *rs, false, true, 5);
  EXPECT_EQ(Lines(10).find("Beginne Übertragung"), std::string::npos) << Lines(10);
  auto sent = Rows(
      "select count(*) as n from boersenobj where boersen_dsn like '%000000000002}' "
      "and letzte_uebertragung is not null");
  EXPECT_EQ(cUtil::d(sent->Value("n")), 0);
}

}  // namespace
}  // namespace fern::testing
