// The OpenImmo hooks against consumer classes in .vbs files of the host's OpenImmo script
// folder, as customers write them.
#include "openimmo/cImmoXmlScriptV2.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/cScriptingV2.h"
#include "core/host_session.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "support/demo_host_fixture.h"
#include "xml/xml_dom.h"

namespace fern {
namespace {

using testing::DemoHostTest;

class ImmoHooks : public ::testing::Test, public DemoHostTest {
 protected:
  void SetUp() override {
    Start();
    InitHostSession();
    portal_ = Session().g_oDal->GetRecordset(Session().g_strConnect,
                                             "SELECT * FROM Boersen ORDER BY DSN");
    listing_ = Session().g_oDal->GetRecordset(Session().g_strConnect, "SELECT * FROM Obj");
    ASSERT_FALSE(portal_->Eof());
    hooks_ = std::make_unique<cImmoXmlScriptV2>();  // takes the session's host objects
    hooks_->events.WorkState = [this](int16_t s, const std::string& t) {
      lines_.push_back(std::to_string(s) + " " + t);
    };
    // The folder name in another letter case than the exporter asks for.
    Script("00_trace.vbs", "Dim Trace\r\nTrace = \"\"\r\n");
  }

  void Script(const std::string& file, const std::string& text) {
    dir.Write("host/System/Services/openimmo/" + file, text);
  }
  // One consumer class per file, registered the way customer scripts do it.
  void Consumer(const std::string& file, const std::string& cls, const std::string& body) {
    Script(file, "Class " + cls + "\r\n" + body + "\r\nEnd Class\r\nDim o" + cls + "\r\nSet o" +
                     cls + " = New " + cls + "\r\nApplication.EventsConsumers.Add o" + cls +
                     "\r\n");
  }
  void Init() {
    hooks_->Init(Session().g_strConnect, host().string());
    ASSERT_TRUE(answers->texts.empty()) << answers->texts.front();
  }
  std::string Trace() { return vb::CStr(hooks_->ScriptHost()->ScriptControl().Eval("Trace")); }

  std::shared_ptr<db::Recordset> portal_, listing_;
  std::unique_ptr<cImmoXmlScriptV2> hooks_;
  std::vector<std::string> lines_;
};

constexpr const char* kPicInit =
    "Public Sub Callback_OpenImmoPicInit(rsboersen, rsObj, strMMDateiKurz, strMMDateiLang, "
    "lngMaxCounter, blnCancel, strResultMsg)\r\n";
constexpr const char* kPicGet =
    "Public Sub Callback_OpenImmoPicGet(rsboersen, rsObj, lngNr, strPathAndFileName, strTitel, "
    "blnCancel, strResultMsg)\r\n";
constexpr const char* kPicCopy =
    "Public Sub Callback_OpenImmoPicCopy(rsboersen, rsObj, lngNr, strFileName1, strFileName2, "
    "lngGroesse, lngBreite, strCopyright, blnCancel, strResultMsg)\r\n";
constexpr const char* kAfter =
    "Public Function Callback_AfterTransfer(rsboersen, blnIsFtp, blnTransferOk)\r\n";
constexpr const char* kBefore =
    "Public Function Callback_BeforeTransfer(rsboersen, blnIsFtp, strPath, strFileName, "
    "strFileFilter)\r\n";
constexpr const char* kBeforeSave =
    "Public Function Callback_BeforeXmlSave(rsboersen, oXmlDoc, strPath, strFileName)\r\n";

TEST_F(ImmoHooks, WithoutScriptsEveryCallbackLeavesItsArgumentsAndReportsNothing) {
  // Before Init there is no script host; after it, a folder without consumers.
  for (bool initialised : {false, true}) {
    SCOPED_TRACE(initialised);
    if (initialised) Init();
    std::string kurz = "k", lang = "l", message = "m", file = "f.jpg", target = "t.jpg";
    int32_t count = 5, size = 100, width = 640;
    bool cancel = false;
    hooks_->Callback_OpenImmoPicInit(*portal_, *listing_, kurz, lang, count, cancel, message);
    hooks_->Callback_OpenImmoPicCopy(*portal_, *listing_, 1, file, target, size, width, kurz,
                                     cancel, message);
    EXPECT_EQ(kurz + lang + message + file + target, "klmf.jpgt.jpg");
    EXPECT_EQ(count + size + width, 745);
    EXPECT_FALSE(cancel);

    XmlDocumentPtr doc = XmlDocument::Create();
    ASSERT_TRUE(doc->loadXML("<openimmo/>"));
    XmlDocumentPtr same = doc;
    std::string path = "C:\\out", base = "a", filter = "*.xml";
    hooks_->DoCallbackBeforeXmlSave(*portal_, doc, path, base);
    hooks_->DoCallbackBeforeTransfer(*portal_, true, path, base, filter);
    hooks_->DoCallbackAfterTransfer(*portal_, true, true);
    EXPECT_EQ(doc, same);
    EXPECT_EQ(path + base + filter, "C:\\outa*.xml");
    EXPECT_TRUE(lines_.empty());
  }
}

TEST_F(ImmoHooks, PictureHooksChainTextsPrependMessagesAndKeepACancel) {
  Consumer("10_a.vbs", "A",
           std::string(kPicInit) +
               "  strMMDateiKurz = strMMDateiKurz & \"-a\"\r\n"
               "  lngMaxCounter = lngMaxCounter + 1\r\n"
               "End Sub\r\n" +
               kPicGet +
               "  Trace = Trace & \"A\" & lngNr & rsboersen(\"boersen_name\")\r\n"
               "  strTitel = strTitel & \"-a\"\r\n"
               "  strResultMsg = \"x\"\r\n"
               "  Set rsboersen = Nothing\r\n"
               "End Sub\r\n" +
               kPicCopy +
               "  blnCancel = True\r\n"
               "  lngBreite = 800\r\n"
               "End Sub");
  Consumer("20_none.vbs", "NoPictures", kAfter + std::string("End Function"));
  Consumer("30_fails.vbs", "Fails",
           std::string(kPicGet) +
               "  strTitel = \"lost\"\r\n  strResultMsg = \"lost\"\r\n  blnCancel = True\r\n"
               "  Err.Raise 5\r\n"
               "End Sub\r\n" +
               kPicInit + "  strMMDateiLang = \"lost\"\r\n  x = 1 / 0\r\nEnd Sub");
  Consumer("40_b.vbs", "B",
           std::string(kPicInit) +
               "  Trace = Trace & \"I\" & lngMaxCounter & strMMDateiKurz & \"|\"\r\n"
               "  strMMDateiLang = \"L\"\r\n"
               "End Sub\r\n" +
               kPicGet +
               "  Trace = Trace & \"B\" & TypeName(rsboersen) & lngNr & strTitel\r\n"
               "  strPathAndFileName = \"C:\\pics\\1.jpg\"\r\n"
               "  strResultMsg = \"y\"\r\n"
               "End Sub\r\n" +
               kPicCopy +
               "  Trace = Trace & \"C\" & CStr(blnCancel) & lngBreite\r\n"
               "  blnCancel = False\r\n"
               "  strFileName2 = Replace(strFileName2, \".jpg\", \"_2.jpg\")\r\n"
               "  strCopyright = \"(c) B\"\r\n"
               "  lngGroesse = lngGroesse * 2\r\n"
               "End Sub");
  Init();
  const std::string name = vb::CStr(portal_->Value("boersen_name"));

  std::string kurz = "k", lang = "l", message;
  int32_t count = 3;
  bool cancel = false;
  hooks_->Callback_OpenImmoPicInit(*portal_, *listing_, kurz, lang, count, cancel, message);
  EXPECT_EQ(kurz + "|" + lang + "|" + std::to_string(count) + "|" + message, "k-a|L|4|");
  EXPECT_FALSE(cancel);

  std::string file, titel = "t";
  message = "old";
  hooks_->Callback_OpenImmoPicGet(*portal_, *listing_, 2, file, titel, cancel, message);
  // Messages: the newest first, the caller's text last.
  EXPECT_EQ(file + "|" + titel + "|" + message, "C:\\pics\\1.jpg|t-a|y\r\nx\r\nold");
  EXPECT_FALSE(cancel);  // the failing consumer's cancel went with it

  std::string source = "a.jpg", target = "b.jpg", copyright;
  int32_t size = 1000, width = 640;
  message.clear();
  hooks_->Callback_OpenImmoPicCopy(*portal_, *listing_, 2, source, target, size, width, copyright,
                                   cancel, message);
  EXPECT_TRUE(cancel);  // set by the first consumer, though the last one answers False
  EXPECT_EQ(source + "|" + target + "|" + std::to_string(width) + "|" + std::to_string(size) + "|" +
                copyright,
            "a.jpg|b_2.jpg|800|2000|(c) B");
  EXPECT_EQ(Trace(), "I4k-a|A2" + name + "BNothing2t-aCTrue800");
}

TEST_F(ImmoHooks, DescriptionHooksFlagsAndTexts) {
  Consumer("1.vbs", "A",
           "Public Sub Callback_RemaxCheckFeature(rsboersen, rsObj, rsdetails, lngNr, "
           "blnEnabled)\r\n"
           "  blnEnabled = Not blnEnabled\r\n"
           "End Sub\r\n"
           "Public Sub Callback_RemaxPropertyDescriptionGet(rsboersen, rsObj, rsdetails, "
           "arrText, strDescription, blnCancel, strResultMsg)\r\n"
           "  strDescription = strDescription & arrText(1)\r\n"
           "  blnCancel = \"1\"\r\n"
           "  strResultMsg = \"a\"\r\n"
           "End Sub");
  Init();

  bool enabled = true;  // goes in as it is; the last consumer's answer decides
  hooks_->Callback_RemaxCheckFeature(*portal_, *listing_, *listing_, 1, enabled);
  EXPECT_FALSE(enabled);

  std::string description = "d:", message = "m";
  bool cancel = false;
  hooks_->Callback_RemaxPropertyDescriptionGet(
      *portal_, *listing_, *listing_, Variant(VArray::FromList({Variant("x"), Variant("t")})),
      description, cancel, message);
  EXPECT_EQ(description, "d:t");
  EXPECT_TRUE(cancel);
  EXPECT_EQ(message, "a\r\nm");
}

TEST_F(ImmoHooks, TransferAnswersBecomeScriptingLinesInConsumerOrder) {
  Consumer("1.vbs", "A",
           std::string(kAfter) +
               "  blnTransferOk = False\r\n"
               "  Callback_AfterTransfer = \"a\"\r\n"
               "End Function\r\n" +
               kBefore +
               "  strFileFilter = strFileFilter & \";*.jpg\"\r\n"
               "  Callback_BeforeTransfer = \"filter \" & strFileFilter & vbCrLf & vbCrLf & "
               "strPath & \"\\\" & strFileName\r\n"
               "End Function");
  Consumer("2.vbs", "Fails", std::string(kAfter) + "  x = 1 / 0\r\nEnd Function");
  Consumer("3.vbs", "B",
           std::string(kAfter) +
               "  Callback_AfterTransfer = \"b \" & CStr(blnIsFtp) & CStr(blnTransferOk)\r\n"
               "End Function\r\n" +
               kBefore + "  strPath = \"changed\"\r\n  strFileName = \"changed\"\r\nEnd Function");
  Init();

  hooks_->DoCallbackAfterTransfer(*portal_, true, true);
  EXPECT_EQ(lines_, (std::vector<std::string>{"14 Scripting: a", "14 Scripting: b TrueFalse"}));

  lines_.clear();
  std::string path = "C:\\out", base = "export", filter = "*.xml";
  hooks_->DoCallbackBeforeTransfer(*portal_, false, path, base, filter);
  EXPECT_EQ(filter, "*.xml;*.jpg");
  EXPECT_EQ(path + base, "C:\\outexport");  // reach later consumers only
  EXPECT_EQ(lines_, (std::vector<std::string>{"14 Scripting: filter *.xml;*.jpg",
                                              "14 Scripting: C:\\out\\export"}));
}

TEST_F(ImmoHooks, StopLineEndsTheStepAfterTheLinesBeforeIt) {
  Consumer("1.vbs", "A",
           std::string(kBefore) +
               "  strFileFilter = \"*.zip\"\r\n"
               "  Callback_BeforeTransfer = \"ok\" & vbCrLf & \">>>> Portal gesperrt\" & vbCrLf & "
               "\"later\"\r\n"
               "End Function");
  Init();

  std::string path = "C:\\out", base = "export", filter = "*.xml";
  try {
    hooks_->DoCallbackBeforeTransfer(*portal_, true, path, base, filter);
    FAIL() << "no stop";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 50021);
    EXPECT_EQ(e.source(), "Callback_BeforeTransfer");
    EXPECT_EQ(e.description(), ">>>> Portal gesperrt");
  }
  EXPECT_EQ(lines_, std::vector<std::string>{"14 Scripting: ok"});
  EXPECT_EQ(filter, "*.zip");  // the answer reached the caller before the stop

  // Only the first four characters mark a stop.
  lines_.clear();
  hooks_->ReportScriptLines("Callback_AfterTransfer", " >>>> x\r\n>>> y\r\n\r\nz>>>>");
  EXPECT_EQ(lines_, (std::vector<std::string>{"14 Scripting:  >>>> x", "14 Scripting: >>> y",
                                              "14 Scripting: z>>>>"}));
}

TEST_F(ImmoHooks, DocumentChangedReplacedAndNeverLost) {
  Consumer("1.vbs", "Adds",
           std::string(kBeforeSave) +
               "  Dim e\r\n"
               "  Set e = oXmlDoc.createElement(\"hinweis\")\r\n"
               "  e.text = rsboersen(\"boersen_name\")\r\n"
               "  oXmlDoc.documentElement.appendChild e\r\n"
               "  strFileName = strFileName & \"_1\"\r\n"
               "  Callback_BeforeXmlSave = \"added\"\r\n"
               "End Function");
  Consumer("2.vbs", "Replaces",
           std::string(kBeforeSave) +
               "  Dim d, e\r\n"
               "  Set d = CreateObject(\"MSXML2.DOMDocument.4.0\")\r\n"
               "  d.loadXML \"<openimmo><neu/></openimmo>\"\r\n"
               "  Set e = oXmlDoc.documentElement.lastChild\r\n"
               "  d.documentElement.appendChild e.cloneNode(True)\r\n"
               "  Set oXmlDoc = d\r\n"
               "  strPath = strPath & \"\\sub\"\r\n"
               "End Function");
  Consumer("3.vbs", "Drops", std::string(kBeforeSave) + "  Set oXmlDoc = Nothing\r\nEnd Function");
  Consumer("4.vbs", "NotADocument",
           std::string(kBeforeSave) + "  Set oXmlDoc = rsboersen\r\nEnd Function");
  Consumer("5.vbs", "Reads",
           std::string(kBeforeSave) +
               "  Trace = oXmlDoc.documentElement.childNodes.length & strFileName\r\n"
               "  oXmlDoc.documentElement.setAttribute \"geprueft\", \"1\"\r\n"
               "End Function");
  Init();
  const std::string name = vb::CStr(portal_->Value("boersen_name"));

  XmlDocumentPtr doc = XmlDocument::Create();
  ASSERT_TRUE(doc->loadXML("<openimmo><uebertragung/></openimmo>"));
  XmlDocumentPtr original = doc;
  std::string path = "C:\\out", base = "export";
  hooks_->DoCallbackBeforeXmlSave(*portal_, doc, path, base);

  ASSERT_TRUE(doc);
  EXPECT_NE(doc, original);
  EXPECT_EQ(doc->xml().find("<uebertragung"), std::string::npos);
  EXPECT_NE(doc->xml().find("<neu/><hinweis>" + name + "</hinweis>"), std::string::npos)
      << doc->xml();
  EXPECT_NE(doc->xml().find("geprueft=\"1\""), std::string::npos);
  EXPECT_NE(original->xml().find("<hinweis>"), std::string::npos);  // changed in place first
  EXPECT_EQ(path + "|" + base, "C:\\out\\sub|export_1");
  EXPECT_EQ(Trace(), "2export_1");
  // Empty answers of the later consumers add empty lines, which are not reported.
  EXPECT_EQ(lines_, std::vector<std::string>{"14 Scripting: added"});
}

TEST_F(ImmoHooks, ALoopingPictureHookIsACountedErrorOnceAndNotCalledAgain) {
  Consumer("10_loop.vbs", "Loops", std::string(kPicCopy) + "  Do\r\n  Loop\r\nEnd Sub");
  Init();
  hooks_->ScriptHost()->ScriptControl().SetTimeout(100);
  for (int32_t nr = 1; nr <= 3; ++nr) {
    std::string f1, f2, copyright, msg;
    int32_t size = 0, width = 0;
    bool cancel = false;
    hooks_->Callback_OpenImmoPicCopy(*portal_, *listing_, nr, f1, f2, size, width, copyright,
                                     cancel, msg);
  }
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_TRUE(lines_[0].starts_with("102 >>>> Script \"")) << lines_[0];
  EXPECT_NE(lines_[0].find("10_loop.vbs\": Callback_OpenImmoPicCopy hat die Zeitgrenze"),
            std::string::npos)
      << lines_[0];
}

TEST_F(ImmoHooks, InitAgainReplacesTheScriptsInsteadOfAddingThem) {
  Consumer("1.vbs", "A", std::string(kAfter) + "  Callback_AfterTransfer = \"a\"\r\nEnd Function");
  Init();
  Init();
  EXPECT_EQ(hooks_->Callback_AfterTransfer(*portal_, false, true), "a");
  EXPECT_EQ(hooks_->KVPath(), host().string());
}

TEST_F(ImmoHooks, SampleScriptOfTheDemoHost) {
  const char* source = FERN_SOURCE_DIR;
  std::ifstream in(std::filesystem::path(source) / "demo/scripts/openimmo/sample_hooks.vbs",
                   std::ios::binary);
  ASSERT_TRUE(in);
  std::stringstream text;
  text << in.rdbuf();
  Script("sample_hooks.vbs", text.str());
  Init();

  XmlDocumentPtr doc = XmlDocument::Create();
  ASSERT_TRUE(doc->loadXML("<openimmo><uebertragung/></openimmo>"));
  std::string path = "C:\\out", base = "export";
  hooks_->DoCallbackBeforeXmlSave(*portal_, doc, path, base);
  EXPECT_NE(doc->xml().find("<openimmo><!-- Export export --><uebertragung/>"), std::string::npos)
      << doc->xml();
  EXPECT_EQ(lines_, std::vector<std::string>{"14 Scripting: Kommentar in export gesetzt"});

  std::string from = "C:\\pics\\a b.jpg", target = "C:\\Ex port\\Haus 1.jpg", copyright, message;
  int32_t size = 0, width = 0;
  bool cancel = false;
  hooks_->Callback_OpenImmoPicCopy(*portal_, *listing_, 3, from, target, size, width, copyright,
                                   cancel, message);
  // The folder keeps its name.
  EXPECT_EQ(from + "|" + target + "|" + message,
            "C:\\pics\\a b.jpg|C:\\Ex port\\Haus_1.jpg|Bild 3: Leerzeichen im Dateinamen ersetzt");
  EXPECT_FALSE(cancel);
}

}  // namespace
}  // namespace fern
