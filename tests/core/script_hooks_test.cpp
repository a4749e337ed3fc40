// The hook relays against consumers written as script classes in loaded .vbs files, as the
// customers write them.
#include "core/script_hooks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/cScriptingV2.h"
#include "core/host_session.h"
#include "platform/vb.h"
#include "support/demo_host_fixture.h"
#include "xml/xml_dom.h"

namespace fern {
namespace {

using testing::DemoHostTest;

class ScriptHooksTest : public ::testing::Test, public DemoHostTest {
 protected:
  void SetUp() override {
    Start();
    InitHostSession();
    host_ = std::make_unique<cScriptingV2>();
    host_->Init(Session().g_strConnect, host().string(), "", true);
    dir.Write("hooks/00_trace.vbs", "Dim Trace\r\nTrace = \"\"\r\n");
  }

  // One consumer class per file, registered the way customer scripts do it.
  void Consumer(const std::string& file, const std::string& cls, const std::string& body) {
    dir.Write("hooks/" + file, "Class " + cls + "\r\n" + body + "\r\nEnd Class\r\n" + "Dim o" +
                                   cls + "\r\nSet o" + cls + " = New " + cls +
                                   "\r\nApplication.EventsConsumers.Add o" + cls + "\r\n");
  }
  void Load() {
    host_->LoadScripts((dir / "hooks").string());
    ASSERT_TRUE(answers->texts.empty()) << answers->texts.front();
  }
  std::string Trace() { return vb::CStr(host_->ScriptControl().Eval("Trace")); }

  std::unique_ptr<cScriptingV2> host_;
};

constexpr const char* kPicGet =
    "Public Sub Callback_OpenImmoPicGet(rsboersen, rsObj, lngNr, strPathAndFileName, strTitel, "
    "blnCancel, strResultMsg)\r\n";

TEST_F(ScriptHooksTest, ProcedureChainsTextsPrependsMessagesAndSkipsMissingOrFailingConsumers) {
  Consumer("10_a.vbs", "A",
           std::string(kPicGet) +
               "  Trace = Trace & \"A\"\r\n"
               "  strTitel = strTitel & \"-a\"\r\n"
               "  lngNr = lngNr + 1\r\n"
               "  strResultMsg = \"x\"\r\n"
               "End Sub");
  Consumer("20_b.vbs", "B", "Public Sub SomethingElse()\r\nEnd Sub");
  Consumer("30_c.vbs", "C",
           std::string(kPicGet) +
               "  strTitel = \"broken\"\r\n"
               "  strResultMsg = \"lost\"\r\n"
               "  blnCancel = True\r\n"
               "  Err.Raise 5\r\n"
               "End Sub");
  Consumer("40_d.vbs", "D",
           std::string(kPicGet) +
               "  Trace = Trace & \"D\" & lngNr & \"|\" & strTitel\r\n"
               "  strTitel = strTitel & \"-d\"\r\n"
               "  strPathAndFileName = \"C:\\pics\\1.jpg\"\r\n"
               "  strResultMsg = \"y\"\r\n"
               "End Sub");
  Load();

  int32_t lngNr = 7;
  std::string path, titel = "t", message;
  bool cancel = false;
  HookArgs args;
  args.In(Variant::Nothing())
      .In(Variant::Nothing())
      .In(Variant(lngNr))
      .Back(path)
      .Back(titel)
      .Back(cancel)
      .Back(message);
  RelayProcedure(host_.get(), "Callback_OpenImmoPicGet", args, {5, FlagRule::kSticky, 6});

  EXPECT_EQ(titel, "t-a-d");
  EXPECT_EQ(path, "C:\\pics\\1.jpg");
  EXPECT_EQ(message, "y\r\nx");  // the newest first
  EXPECT_FALSE(cancel);          // the failing consumer's cancel was undone with the rest
  EXPECT_EQ(lngNr, 7);           // not a back argument, but the next consumer saw the change
  EXPECT_EQ(Trace(), "AD8|t-a");
  EXPECT_EQ(host_->ScriptControl().Error().number, 0);
}

TEST_F(ScriptHooksTest, CancelOnceSetStaysSetAndCallerMessageStaysLast) {
  const std::string sig =
      "Public Sub Callback_OpenImmoPicCopy(rsboersen, rsObj, lngNr, strFileName1, strFileName2, "
      "lngGroesse, lngBreite, strCopyright, blnCancel, strResultMsg)\r\n";
  Consumer("1.vbs", "A", sig + "  blnCancel = True\r\n  lngGroesse = 2000\r\nEnd Sub");
  Consumer("2.vbs", "B",
           sig +
               "  Trace = Trace & CStr(blnCancel) & lngGroesse\r\n"
               "  blnCancel = False\r\n  strResultMsg = \"m\"\r\nEnd Sub");
  Load();

  std::string f1 = "a.jpg", f2 = "b.jpg", copyright, message = "old";
  int32_t size = 0, width = 640;
  bool cancel = false;
  HookArgs args;
  args.In(Variant::Nothing())
      .In(Variant::Nothing())
      .In(Variant(1))
      .Back(f1)
      .Back(f2)
      .Back(size)
      .Back(width)
      .Back(copyright)
      .Back(cancel)
      .Back(message);
  RelayProcedure(host_.get(), "Callback_OpenImmoPicCopy", args, {8, FlagRule::kSticky, 9});

  EXPECT_TRUE(cancel);
  EXPECT_EQ(size, 2000);
  EXPECT_EQ(message, "m\r\nold");
  EXPECT_EQ(Trace(), "True2000");
}

TEST_F(ScriptHooksTest, LastConsumerDecidesAFlagItIsHandedInTurn) {
  const std::string sig =
      "Public Sub Callback_RemaxCheckFeature(rsboersen, rsObj, rsdetails, lngNr, blnEnabled)\r\n";
  Consumer("1.vbs", "A", sig + "  blnEnabled = Not blnEnabled\r\nEnd Sub");
  Consumer("2.vbs", "B",
           sig + "  Trace = Trace & CStr(blnEnabled)\r\n  blnEnabled = \"1\"\r\nEnd Sub");
  Load();

  bool enabled = true;
  HookArgs args;
  args.In(Variant::Nothing())
      .In(Variant::Nothing())
      .In(Variant::Nothing())
      .In(Variant(3))
      .Back(enabled);
  RelayProcedure(host_.get(), "Callback_RemaxCheckFeature", args, {4, FlagRule::kLastDecides, {}});
  EXPECT_TRUE(enabled);  // "1" read as a host flag
  EXPECT_EQ(Trace(), "False");
}

TEST_F(ScriptHooksTest, FunctionResultsJoinedInConsumerOrder) {
  const std::string sig =
      "Public Function Callback_AfterTransfer(rsboersen, blnIsFtp, blnTransferOk)\r\n";
  Consumer("1.vbs", "Missing", "Public Sub Other()\r\nEnd Sub");
  Consumer("2.vbs", "A",
           sig + "  blnTransferOk = False\r\n  Callback_AfterTransfer = \"a\"\r\nEnd Function");
  Consumer("3.vbs", "Fails",
           sig + "  Callback_AfterTransfer = \"never\"\r\n  x = 1 / 0\r\nEnd Function");
  Consumer(
      "4.vbs", "C",
      sig + "  Trace = CStr(blnTransferOk)\r\n  Callback_AfterTransfer = True\r\nEnd Function");
  Load();

  HookArgs args;
  args.In(Variant::Nothing()).In(Variant(true)).In(Variant(true));
  // A missing method first adds nothing; the failing one in the middle an empty line.
  EXPECT_EQ(RelayFunction(host_.get(), "Callback_AfterTransfer", args), "a\r\n\r\nTrue");
  EXPECT_EQ(Trace(), "False");  // chained to later consumers
}

TEST_F(ScriptHooksTest, ObjectsReplacedByAConsumerReachTheCaller) {
  Consumer("1.vbs", "A",
           "Public Function Callback_BeforeXmlSave(rsboersen, oXmlDoc, strPath, strFileName)\r\n"
           "  Dim d\r\n"
           "  Set d = CreateObject(\"MSXML2.DOMDocument.4.0\")\r\n"
           "  d.loadXML \"<neu/>\"\r\n"
           "  Set oXmlDoc = d\r\n"
           "  strFileName = \"x_\" & strFileName\r\n"
           "  Set rsboersen = Nothing\r\n"
           "End Function");
  Load();

  XmlDocumentPtr doc = XmlDocument::Create();
  ASSERT_TRUE(doc->loadXML("<alt/>"));
  auto portal = Session().g_oDal->GetRecordset(Session().g_strConnect, "SELECT * FROM Boersen");
  std::string path = "C:\\out", file = "a.xml";
  HookArgs args;
  args.In(Variant(std::static_pointer_cast<Dispatch>(portal))).Back(doc).Back(path).Back(file);
  RelayFunction(host_.get(), "Callback_BeforeXmlSave", args);

  ASSERT_TRUE(doc);
  EXPECT_NE(doc->xml().find("<neu/>"), std::string::npos);
  EXPECT_EQ(file, "x_a.xml");
  EXPECT_EQ(path, "C:\\out");
}

TEST_F(ScriptHooksTest, RunawayConsumerIsStoppedAndTheNextOneStillRuns) {
  host_->ScriptControl().SetTimeout(200);
  const std::string sig = "Public Function Callback_BeforeTransfer(rs, path, cancel)\r\n";
  Consumer("1.vbs", "Loops", sig + "  Do\r\n    Trace = \"looping\"\r\n  Loop\r\nEnd Function");
  Consumer("2.vbs", "B", sig + "  Callback_BeforeTransfer = \"b\"\r\nEnd Function");
  Load();

  std::vector<std::string> reported;
  host_->TimeoutReported = [&](const std::string& text) { reported.push_back(text); };

  // The runaway costs its time-out once, is reported once and then left out.
  for (int call = 0; call < 3; ++call) {
    HookArgs args;
    args.In(Variant::Nothing()).In(Variant("p")).In(Variant(false));
    EXPECT_EQ(RelayFunction(host_.get(), "Callback_BeforeTransfer", args), "b");
  }
  EXPECT_EQ(reported, std::vector<std::string>{
                          ">>>> Script \"" + (dir / "hooks").string() +
                          "\\1.vbs\": Callback_BeforeTransfer hat die Zeitgrenze überschritten "
                          "und wurde abgebrochen; es wird in diesem Lauf nicht mehr aufgerufen"});
  host_->ScriptControl().ExecuteStatement("Trace = \"\"");
  HookArgs args;
  args.In(Variant::Nothing()).In(Variant("p")).In(Variant(false));
  RelayFunction(host_.get(), "Callback_BeforeTransfer", args);
  EXPECT_EQ(Trace(), "");
  EXPECT_EQ(vb::CLng(host_->ScriptControl().Eval("1 + 1")), 2);  // the engine stays usable
}

TEST_F(ScriptHooksTest, OwnCombiningWithStopAndPerConsumerReset) {
  // The web-site exporter's shape: a list variable emptied before each consumer, lists joined
  // with "|", and a cancel that ends the walk.
  const std::string sig = "Public Function Callback_AfterTransfer(rs, urls)\r\n";
  Consumer("1.vbs", "A", sig + "  urls = \"a.php\"\r\nEnd Function");
  Consumer("2.vbs", "B",
           sig +
               "  Trace = Trace & \"[\" & urls & \"]\"\r\n  urls = \"b.php|c.php\"\r\n"
               "End Function");
  Load();

  std::vector<Variant> args{Variant::Nothing(), Variant()};
  std::string list;
  size_t called = CallConsumers(
      host_.get(), "Callback_AfterTransfer", args,
      [&](std::vector<Variant>& a, const Variant&, bool) {
        std::string urls = HookText(a[1]);
        if (!urls.empty()) list = list.empty() ? urls : list + "|" + urls;
        return true;
      },
      [](std::vector<Variant>& a) { a[1] = Variant(); });
  EXPECT_EQ(called, 2u);
  EXPECT_EQ(list, "a.php|b.php|c.php");
  EXPECT_EQ(Trace(), "[]");

  called = CallConsumers(host_.get(), "Callback_AfterTransfer", args,
                         [](std::vector<Variant>&, const Variant&, bool) { return false; });
  EXPECT_EQ(called, 1u);
}

TEST_F(ScriptHooksTest, MessageEventStopsAtTheFirstConsumerThatCancels) {
  const std::string sig = "Public Sub MessageReceived(value, rs, result)\r\n";
  Consumer("1.vbs", "A", sig + "  Trace = Trace & \"A\" & value\r\n  result = False\r\nEnd Sub");
  Consumer("2.vbs", "B",
           sig + "  Trace = Trace & \"B\"\r\n  result = \"1\"\r\n  Set rs = Nothing\r\nEnd Sub");
  Consumer("3.vbs", "C", sig + "  Trace = Trace & \"C\"\r\nEnd Sub");
  Load();

  auto rs = Session().g_oDal->GetRecordset(Session().g_strConnect, "SELECT * FROM Std");
  Variant recordset(std::static_pointer_cast<Dispatch>(rs));
  bool cancel = false;
  host_->RaiseMessageReceived(Variant("m"), recordset, cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(Trace(), "AmB");
  EXPECT_TRUE(recordset.IsNothing());
}

TEST_F(ScriptHooksTest, WithoutScriptHostOrConsumersNothingChanges) {
  std::string text = "keep";
  bool cancel = true;
  HookArgs args;
  args.Back(text).Back(cancel);
  EXPECT_EQ(RelayFunction(nullptr, "Callback_AfterTransfer", args), "");
  RelayProcedure(nullptr, "Callback_OpenImmoPicInit", args, {1, FlagRule::kSticky, 0});
  EXPECT_EQ(text, "keep");
  EXPECT_TRUE(cancel);

  Load();  // only the trace file: no consumer
  std::string message;
  bool flag = false;
  HookArgs none;
  none.Back(flag).Back(message);
  RelayProcedure(host_.get(), "Callback_OpenImmoPicInit", none, {0, FlagRule::kSticky, 1});
  EXPECT_FALSE(flag);
  EXPECT_EQ(message, "");
}

}  // namespace
}  // namespace fern
