#include "core/cScriptingV2.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/host_session.h"
#include "host/cDal.h"
#include "platform/msgbox.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "support/demo_host_fixture.h"

namespace fern {
namespace {

using testing::DemoHostTest;

class ScriptingV2Test : public ::testing::Test, public DemoHostTest {
 protected:
  void Open(const std::string& userDsn = "", bool allowGui = true) {
    Start();
    InitHostSession();
    sh = std::make_unique<cScriptingV2>();
    sh->Init(Session().g_strConnect, host().string(), userDsn, allowGui);
  }
  std::string Folder() const { return (dir / "scripts").string(); }
  std::string Text(const std::string& expr) { return vb::CStr(sh->ScriptControl().Eval(expr)); }
  std::string Login() { return vb::CStr(sh->CurrentUserRS()->Value("login_name")); }
  std::string DsnOf(const std::string& login) {
    cDal dal;
    dal.Init((host() / "sql" / "sql.ini").string());
    auto rs = dal.GetRecordset(dal.ConnectString(),
                               "SELECT DSN FROM ben WHERE login_name='" + login + "'");
    return vb::CStr(rs->Value("DSN"));
  }

  std::unique_ptr<cScriptingV2> sh;
};

TEST_F(ScriptingV2Test, LoadsOnlyVbsFilesInCaseInsensitiveNameOrder) {
  Open();
  const std::string folder = "host/System/Services/OpenImmo/";
  dir.Write(folder + "b.VBS", "Loaded = Loaded & \"B\"\r\n");
  dir.Write(folder + "A.vbs", "Dim Loaded\r\nLoaded = \"A\"\r\n");
  dir.Write(folder + "c.vbe", "Loaded = Loaded & \"C\"\r\n");
  dir.Write(folder + "d.txt", "Loaded = Loaded & \"D\"\r\n");
  dir.Write(folder + "sub.vbs/e.vbs", "Loaded = Loaded & \"E\"\r\n");
  // The folder as the hook classes name it: a host path in any letter case.
  sh->LoadScripts(host().string() + "\\system\\services\\openimmo");
  EXPECT_EQ(Text("Loaded"), "AB");
  EXPECT_TRUE(answers->texts.empty());

  sh->LoadScripts((dir / "nowhere").string());  // a missing folder loads nothing, quietly
  EXPECT_TRUE(answers->texts.empty());
}

TEST_F(ScriptingV2Test, LoadErrorsShowPathLineAndSourceAndLoadingGoesOn) {
  Open();
  dir.Write("scripts/1_syntax.vbs", "Dim Early\r\nEarly = 1\r\nIf x Then Then\r\n");
  dir.Write("scripts/2_runtime.vbs",
            "Loaded = \"2\"\r\n  x = 1 / 0\r\nLoaded = Loaded & \"never\"\r\n");
  dir.Write("scripts/3_loops.vbs", "Do\r\n  Loaded = Loaded\r\nLoop\r\n");
  dir.Write("scripts/4_ok.vbs", "Loaded = Loaded & \"4\"\r\n");
  sh->ScriptControl().SetTimeout(200);
  sh->LoadScripts(Folder());

  ASSERT_EQ(answers->texts.size(), 3u);
  const std::string first = Folder() + "\\1_syntax.vbs/ ";
  EXPECT_EQ(answers->texts[0].substr(0, first.size()), first);
  EXPECT_NE(answers->texts[0].find("\r\nLine: 3\r\nIf x Then Then"), std::string::npos)
      << answers->texts[0];
  EXPECT_EQ(answers->texts[1],
            Folder() + "\\2_runtime.vbs/ Division by zero\r\nLine: 2\r\n  x = 1 / 0");
  // A file that does not compile defines nothing; one that fails while running keeps what ran.
  EXPECT_EQ(Text("IsEmpty(Early)"), "True");
  EXPECT_NE(answers->texts[2].find("3_loops.vbs/ "), std::string::npos);  // stopped, not hung
  EXPECT_EQ(Text("Loaded"), "24");
  EXPECT_EQ(sh->ScriptControl().Error().number, 0);
}

TEST_F(ScriptingV2Test, NestingTooDeepIsALoadErrorAndEscStopsALoopingFile) {
  Open();
  const std::string deep(100000, '(');
  dir.Write("scripts/1_deep.vbs", "Loaded = \"1\"\r\nx = " + deep + "\r\n");
  dir.Write("scripts/2_ok.vbs", "Loaded = Loaded & \"2\"\r\n");
  dir.Write("loops/loops.vbs", "Loaded = Loaded & \"3\"\r\nDo\r\nLoop\r\n");
  sh->LoadScripts(Folder());
  ASSERT_EQ(answers->texts.size(), 1u);
  EXPECT_EQ(answers->texts[0].rfind(Folder() + "\\1_deep.vbs/ Out of stack space\r\nLine: 2", 0),
            0u)
      << answers->texts[0].substr(0, 200);
  EXPECT_EQ(Text("Loaded"), "2");
  // A cancelled run does not wait the minute of the time-out for a loop.
  SetEsc();
  sh->LoadScripts((dir / "loops").string());
  ResetEsc();
  ASSERT_EQ(answers->texts.size(), 2u);
  EXPECT_NE(answers->texts[1].find("the run was cancelled"), std::string::npos)
      << answers->texts[1];
  EXPECT_EQ(Text("Loaded"), "23");
}

TEST_F(ScriptingV2Test, UnattendedBoxesGoToTheSinkAndAnswerAtOnce) {
  Open();
  std::vector<std::string> sink;
  SetMessageAnswerer(std::make_shared<UnattendedAnswerer>(
      [&sink](const std::string&, const std::string& text) { sink.push_back(text); }));
  dir.Write("scripts/a.vbs",
            "Dim Answer\r\nAnswer = MsgBox(\"Weiter?\", vbYesNo + vbQuestion)\r\n");
  dir.Write("scripts/b.vbs", "Foo(\r\n");
  sh->LoadScripts(Folder());
  EXPECT_EQ(Text("Answer"), "6");
  ASSERT_EQ(sink.size(), 2u);
  EXPECT_EQ(sink[0], "Weiter?");
  EXPECT_NE(sink[1].find("b.vbs/ "), std::string::npos);

  // Without permission to show boxes, MsgBox fails, and that failure is what gets reported.
  sh->Init(Session().g_strConnect, host().string(), "", false);
  sh->Reset();
  sink.clear();
  dir.Write("scripts/b.vbs", "\r\n");
  sh->LoadScripts(Folder());
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_NE(sink[0].find("Line: 2"), std::string::npos) << sink[0];
  SetMessageAnswerer(answers);
}

TEST_F(ScriptingV2Test, InitChoosesTheUserRowOnce) {
  Open();
  EXPECT_EQ(Login(), "DEMO");  // the active boss
  EXPECT_EQ(sh->UserDSN(), DsnOf("DEMO"));
  auto first = sh->CurrentUserRS();
  auto std = sh->StdRS();
  ASSERT_TRUE(std);

  sh->Init(Session().g_strConnect, host().string(), "", true);
  EXPECT_EQ(sh->CurrentUserRS(), first);  // same key asked: no new row
  EXPECT_EQ(sh->StdRS(), std);            // std is loaded once

  sh->Init(Session().g_strConnect, host().string(), DsnOf("kvAdmin"), true);
  EXPECT_EQ(Login(), "kvAdmin");  // the key asked for, active or not
}

TEST_F(ScriptingV2Test, WithoutActiveBossKvAdminComesBeforeOtherActiveUsers) {
  Sql("UPDATE ben SET Chef=0\n"
      "UPDATE ben SET aktiv=1 WHERE login_name='kvAdmin'\n"
      "INSERT INTO ben (DSN, login_name, aktiv, Chef) "
      "VALUES ('{00000000-0000-0000-0000-0000000000A1}', 'Anton', 1, 0)");
  Open("{99999999-0000-0000-0000-000000000000}");  // no such user
  EXPECT_EQ(Login(), "kvAdmin");

  Sql("DELETE FROM ben WHERE login_name='kvAdmin'\nUPDATE ben SET aktiv=0");
  sh->Init(Session().g_strConnect, host().string(), "", true);
  EXPECT_EQ(Login(), "Anton");  // no active user left: the first of all
}

TEST_F(ScriptingV2Test, NoUserRowGivesAnEmptyKey) {
  Open();
  Sql("DELETE FROM ben");
  sh->Init(Session().g_strConnect, host().string(), "{00000000-0000-0000-0000-000000000001}");
  EXPECT_EQ(sh->UserDSN(), "");
}

TEST_F(ScriptingV2Test, UpdateRecordsetWritesThroughAndClearsTheFilter) {
  Open();
  dir.Write("scripts/a.vbs",
            "Dim rs\r\n"
            "Set rs = Application.GetRecordset(\"SELECT * FROM ben ORDER BY login_name\")\r\n"
            "rs.Filter = \"login_name='kvAdmin'\"\r\n"
            "rs(\"Name\") = \"Neu\"\r\n"
            "Application.UpdateRecordset rs\r\n");
  sh->LoadScripts(Folder());
  ASSERT_TRUE(answers->texts.empty()) << answers->texts.front();
  EXPECT_EQ(Text("rs.Filter"), "0");
  EXPECT_EQ(Text("rs.RecordCount"), "2");
  auto rs = sh->GetRecordset("SELECT Name FROM ben WHERE login_name='kvAdmin'");
  EXPECT_EQ(vb::CStr(rs->Value("Name")), "Neu");
}

TEST_F(ScriptingV2Test, ApplicationShowsTheHostToScripts) {
  Open();
  dir.Write("scripts/a.vbs",
            "Dim r\r\n"
            "r = Application.IsLoggedIn & \"|\" & (Application.Folder = \"" +
                host().string() +
                "\")\r\n"
                "r = r & \"|\" & Application.CurrentUserRS(\"login_name\")\r\n"
                "r = r & \"|\" & Application.Util.k(Null) & TypeName(Application.DBIni)\r\n"
                "r = r & \"|\" & IsEmpty(Application.StdRS(\"DSN\").Value)\r\n"
                "r = r & \"|\" & Application.EventsConsumers.Count\r\n"
                "Dim d\r\n"
                "Set d = CreateObject(\"Msxml2.DOMDocument.6.0\")\r\n"
                "d.loadXML \"<a>1</a>\"\r\n"
                "r = r & \"|\" & d.documentElement.text\r\n"
                "Set d = CreateObject(\"tolvastdc10.cUtil\")\r\n"
                "r = r & \"|\" & d.k(5)\r\n");
  sh->LoadScripts(Folder());
  ASSERT_TRUE(answers->texts.empty()) << answers->texts.front();
  EXPECT_EQ(Text("r"), "True|True|DEMO|cDbIni|False|0|1|5");
  EXPECT_EQ(sh->ScriptControl().Timeout(), cScriptingV2::kDefaultTimeoutMs);
}

TEST_F(ScriptingV2Test, ResetDiscardsTheLoadedCode) {
  Open();
  dir.Write("scripts/a.vbs", "Sub Hello()\r\nEnd Sub\r\n");
  sh->LoadScripts(Folder());
  ASSERT_TRUE(sh->ScriptControl().HasProcedure("Hello"));
  sh->Reset();
  EXPECT_FALSE(sh->ScriptControl().HasProcedure("Hello"));
}

}  // namespace
}  // namespace fern
