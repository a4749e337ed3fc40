#include <gtest/gtest.h>

#include "host/KavantorApplication.h"
#include "host/cKVHtml.h"
#include "host/cSkin.h"
#include "host/cUtil.h"
#include "host/host_objects.h"
#include "platform/msgbox.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

TEST(UtilFiles, HostPathsMasksAndErrors) {
  testing::ScratchDir dir;
  const std::string root = dir.path().string();
  dir.Write("DAT/a.ZIP", "1");
  dir.Write("DAT/b.zip", "22");
  dir.Write("DAT/keep.txt", "333");

  EXPECT_TRUE(cUtil::Exist(root + "\\dat\\KEEP.TXT"));
  EXPECT_TRUE(cUtil::Exist(root + "\\DAT"));
  EXPECT_FALSE(cUtil::Exist(root + "\\DAT\\none.txt"));
  EXPECT_FALSE(cUtil::Exist(""));
  EXPECT_EQ(cUtil::FileLen(root + "\\DAT\\b.zip"), 2);
  EXPECT_THROW(cUtil::FileLen(root + "\\DAT\\none.txt"), HostError);

  cUtil::Kill(root + "\\DAT\\*.zip");
  EXPECT_FALSE(std::filesystem::exists(dir / "DAT/a.ZIP"));
  EXPECT_FALSE(std::filesystem::exists(dir / "DAT/b.zip"));
  EXPECT_TRUE(std::filesystem::exists(dir / "DAT/keep.txt"));
  EXPECT_NO_THROW(cUtil::Kill(root + "\\DAT\\*.zip"));

  cUtil::MkFolder(root + "\\x\\y\\z");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "x/y/z"));
  dir.Write("datei", "");
  EXPECT_THROW(cUtil::MkFolder(root + "\\datei\\unter"), HostError);

  cUtil::LogFile(root + "\\DAT\\KavantorApi.Log", "eins;Größe");
  cUtil::LogFile(root + "\\DAT\\KavantorApi.Log", "zwei");
  EXPECT_EQ(dir.Read("DAT/KavantorApi.Log"),
            "eins;Gr\xF6\xDF"
            "e\r\nzwei\r\n");
  EXPECT_EQ(cUtil::File2Str(root + "\\DAT\\KavantorApi.Log"), "eins;Größe\r\nzwei\r\n");
  EXPECT_THROW(cUtil::File2Str(root + "\\nix.txt"), HostError);

  std::string t1 = cUtil::GetTempFile("ZIP"), t2 = cUtil::GetTempFile(".zip");
  EXPECT_NE(t1, t2);
  EXPECT_EQ(cUtil::GetFileExtender(t1), "ZIP");
  EXPECT_EQ(cUtil::GetTempPath().back(), '/');

  cUtil util;
  Variant fso = Variant(util.fso());
  EXPECT_EQ(CallByName(fso, "BuildPath", kMethod,
                       std::vector<Variant>{Variant("C:\\KV"), Variant("\\sql\\sql.ini")})
                .str(),
            "C:\\KV\\sql\\sql.ini");
  EXPECT_EQ(CallByName(fso, "BuildPath", kMethod,
                       std::vector<Variant>{Variant("C:\\KV"), Variant("a.ini")})
                .str(),
            "C:\\KV\\a.ini");
}

TEST(UtilIni, ReadsAndWritesThroughHostPaths) {
  testing::ScratchDir dir;
  dir.Write("Kavantor.INI", "[OPTIONS]\r\nTRANSFERPATH=C:\\temp\\\r\n");
  cUtil util;
  std::string ini = dir.path().string() + "\\KAVANTOR.ini";
  EXPECT_EQ(util.IniGet("options", "transferpath", "", ini), "C:\\temp\\");
  EXPECT_EQ(util.IniGet("OPTIONS", "FEHLT", "vorgabe", ini), "vorgabe");
  EXPECT_EQ(util.IniGet("OPTIONS", "X", "vorgabe", dir.path().string() + "\\none.ini"), "vorgabe");
  util.IniWrite("IS24", "Status", "läuft", ini);
  EXPECT_EQ(util.IniGet("IS24", "Status", "", ini), "läuft");
  dir.Write("Kavantor.INI", "[IS24]\r\nStatus=fertig\r\n");
  EXPECT_EQ(util.IniGet("IS24", "Status", "", ini), "läuft");  // cached
  util.IniCacheReset();
  EXPECT_EQ(util.IniGet("IS24", "Status", "", ini), "fertig");
}

TEST(UtilPrograms, RunAndWaitReportsExitCodesAndStartFailures) {
  EXPECT_EQ(cUtil::RunAndWait("/bin/sh -c \"exit 3\""), 3);
  EXPECT_EQ(cUtil::RunAndWait("true"), 0);
  EXPECT_THROW(cUtil::RunAndWait("/nonexistent/program.exe"), HostError);
  EXPECT_THROW(cUtil::StartApplication("/nonexistent/program.exe", "a b"), HostError);
}

TEST(UtilMessages, GoThroughTheAnswererWithoutBlocking) {
  std::vector<std::string> seen;
  SetMessageAnswerer(
      std::make_shared<UnattendedAnswerer>([&](const std::string& title, const std::string& text) {
        seen.push_back(title + "|" + text);
      }));
  cUtil util;
  EXPECT_EQ(util.MessageBox("Frage?", 52, "Titel"), mb::kYes);
  EXPECT_EQ(util.MessageBox("Info", 4096), mb::kOk);
  EXPECT_FALSE(util.MsgAsk("Fehlerprotokoll sehen?", false));
  util.msgstop("Läuft bereits");
  std::vector<Variant> args{Variant("per Name"), Variant(int16_t{16}), Variant("T")};
  EXPECT_EQ(util.Invoke("MessageBox", kMethod, args).intVal(), mb::kOk);
  SetMessageAnswerer(nullptr);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0], "Titel|Frage?");
  EXPECT_NE(seen[3].find("Läuft bereits"), std::string::npos);
}

TEST(HostHtml, PlainTextOfFragments) {
  EXPECT_EQ(cKVHtml::ExtractPlainText("<p>Sch&ouml;ne <b>Lage</b></p><p>Zeile&nbsp;2</p>"),
            "Schöne Lage\r\nZeile\u00a02");
  EXPECT_EQ(cKVHtml::ExtractPlainText("eins<br>zwei<script>alert(1)</script><style>p{}</style>"),
            "eins\r\nzwei");
  EXPECT_EQ(cKVHtml::ExtractPlainText("  nur   Text  "), "nur Text");
  EXPECT_EQ(cKVHtml::ExtractPlainText("<ul><li>a</li><li>b &amp; c</li></ul>"), "a\r\nb & c");
  EXPECT_EQ(cKVHtml::ExtractPlainText(""), "");
  EXPECT_EQ(cKVHtml::ExtractPlainText("<b>kaputt <i>nicht zu"), "kaputt nicht zu");
}

TEST(HostObjects, ByClassNameAndTheRunningHost) {
  for (const char* id :
       {"tolvastdc10.cDal", "TOLVASTDC10.CUTIL", "tolvaKVBOL10.cKVBlob", "tolvastdc10.cProgress",
        "tolvastdc10.CUDDictionary", "tolvaKVBol10.cKVHtml"})
    EXPECT_NE(host::CreateHostObject(id), nullptr) << id;
  EXPECT_EQ(host::CreateHostObject("Kavantor.Application"), nullptr);
  EXPECT_EQ(host::CreateHostObject("Scripting.Dictionary"), nullptr);

  try {
    KavantorApplication::GetRunning();
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 429);
    EXPECT_NE(e.description().find("no host application is running"), std::string::npos);
  }
  KavantorApplication::SetRunning(std::make_shared<KavantorApplication>("/srv/kv", "ANNA"));
  Variant app(std::shared_ptr<Dispatch>(KavantorApplication::GetRunning()));
  EXPECT_EQ(CallByName(app, "Folder", kPropGet, std::vector<Variant>{}).str(), "/srv/kv");
  Variant rs = CallByName(app, "CurrentUserRS", kPropGet, std::vector<Variant>{});
  EXPECT_EQ(cUtil::k(CallByName(rs, "", kMethod, std::vector<Variant>{Variant("LOGIN_NAME")})),
            "ANNA");
  KavantorApplication::SetRunning(nullptr);
}

TEST(HostSkin, ReadsTheHostSheetOrKeepsItsOwn) {
  testing::ScratchDir dir;
  cSkin skin;
  std::string folder = dir.path().string();
  skin.Init(0, Variant(), folder);
  EXPECT_EQ(skin.StyleSheet(), cSkin::DefaultStyleSheet());
  dir.Write("system/skin/FernDispatcher.qss", "QWidget { color: red; }");
  skin.Init(0, Variant(), folder);
  EXPECT_EQ(skin.StyleSheet(), "QWidget { color: red; }");
}

}  // namespace
}  // namespace fern
