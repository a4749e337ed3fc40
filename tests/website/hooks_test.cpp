// The customer's hooks around an own-server run, and the site addresses they return.
#include <gtest/gtest.h>

#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHooks = R"VBS(
Class First
  Public Function Callback_BeforeTransfer(rs, path, cancel)
    rs.MoveNext
    Callback_BeforeTransfer = "erster"
  End Function
  Public Function Callback_AfterTransfer(rs, urls)
    urls = "/hook1.php?x=1"
    Callback_AfterTransfer = ""
  End Function
End Class
Class Second
  Public Function Callback_BeforeTransfer(rs, path, cancel)
    Callback_BeforeTransfer = "zweiter"
  End Function
  Public Function Callback_AfterTransfer(rs, urls)
    urls = "/hook2.php|/hook3.php"
  End Function
End Class
Application.EventsConsumers.Add New First
Application.EventsConsumers.Add New Second
)VBS";

TEST_F(WebsiteTest, HookAddressesAreRequestedInOrderAndAFailingOneIsReported) {
  Hook(kHooks);
  StartSite();
  dir.Write("www/kv_webserver/hook1.php", "<?php echo 'SUCCESS';");
  dir.Write("www/kv_webserver/hook3.php", "<?php");
  RunPortal();
  EXPECT_TRUE(Said("Scripting: erster\r\nzweiter"));
  // The hooks moved their own copy of the portal row, not the run's.
  EXPECT_FALSE(portalRows->Eof());
  // hook2.php is missing: with DEBUGMODE 0 that is reported all the same, and hook3 waits.
  EXPECT_TRUE(Said("Scripting: /hook2.php konnte nicht gestartet werden. (HTTP 404)")) << Errors();
  const std::string log = php->Log();
  EXPECT_NE(log.find("GET /kv_webserver/hook1.php?x=1"), std::string::npos);
  EXPECT_EQ(log.find("hook3.php"), std::string::npos);
  EXPECT_EQ(php->Complaints(), "");
}

TEST_F(WebsiteTest, AHookThatCancelsEndsTheRunBeforeAnythingIsSent) {
  Hook(R"VBS(
Class Stopper
  Public Function Callback_BeforeTransfer(rs, path, cancel)
    cancel = True
  End Function
End Class
Class NeverAsked
  Public Function Callback_BeforeTransfer(rs, path, cancel)
    Callback_BeforeTransfer = "gefragt"
  End Function
End Class
Application.EventsConsumers.Add New Stopper
Application.EventsConsumers.Add New NeverAsked
)VBS");
  StartSite();
  RunPortal();
  EXPECT_EQ(Errors(), "");
  EXPECT_FALSE(Said("gefragt"));
  EXPECT_FALSE(Said("Ende der Übertragung an:"));
  EXPECT_TRUE(fs::exists(dir / "work" / "kvws" / "WS_Eigene_Homepage" / "kv_webserver"));
  EXPECT_FALSE(fs::exists(www() / "kv_webserver"));
}

TEST_F(WebsiteTest, SettingsComeFromTheIniWithTheirDefaults) {
  Ini("WebServer", "THUMBNAILBREITE", "abc");
  Ini("WebServer", "PROTOKOLLMAIL", "");
  Ini("OPTIONS", "HTTP_PROXY", "proxy:1");
  Ini("WebServer", "ID", "ABCDEFGHIJKLM");
  Ini("WebServer", "Eigene Homepage", "immo");
  cWebserverV2 w;
  w.Init(Session().g_strConnect, app, Variant(false));
  w.portalName = "Eigene Homepage";
  w.LoadWebServerSettings("", "");
  EXPECT_EQ(w.settings.THUMBNAILBREITE, 0);
  EXPECT_EQ(w.settings.PROTOKOLLMAIL, "ja");
  EXPECT_EQ(w.settings.HTTP_PROXY, "proxy:1");
  EXPECT_EQ(w.settings.customerFolder, "kv_abcdefghij");
  EXPECT_EQ(w.settings.tablePrefix, "kv_abcdefghij");
  EXPECT_EQ(w.settings.urlSubPath, "/immo");
  EXPECT_EQ(w.settings.MAXLINES, "500");
  EXPECT_EQ(w.ContentLanguageCount(), 2);  // the demo host's 1031 and 2057
  // Only what lies below the transfer temp folder's "kvws" is ever deleted.
  fs::create_directories(dir / "work" / "kvws" / "x");
  fs::create_directories(dir / "keep");
  w.DeleteFolder("");
  w.DeleteFolder((dir / "keep").string());
  w.DeleteFolder((dir / "work" / "kvws" / ".." / "..").string() + "\\keep");
  EXPECT_TRUE(fs::exists(dir / "keep"));
  w.DeleteFolder((dir / "work").string() + "\\kvws\\x\\");
  EXPECT_FALSE(fs::exists(dir / "work" / "kvws" / "x"));
  Ini("OPTIONS", "TRANSFERPATH", (dir / "nowhere").string());
  cWebserverV2 missing;
  missing.Init(Session().g_strConnect, app, Variant(false));
  try {
    missing.GetTransferTempPath();
    ADD_FAILURE() << "no error for a missing TRANSFERPATH";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 50017);
  }
}

TEST_F(WebsiteTest, MessageKindsGiveTheirStatesAndTexts) {
  cWebserverV2 w;
  std::vector<Line> got;
  w.events.WorkState = [&](int16_t s, const std::string& t) { got.push_back({s, t}); };
  w.portalName = "P";
  const struct {
    const char* kind;
    int16_t state;
    const char* text;
  } cases[] = {{"iWSSilentError", 7, "X"},
               {"iWSObjekt", 8, "Die Daten für das Objekt X werden bereitgestellt."},
               {"iWSBeginn", 4, "Beginn der Übertragung an:  < P > "},
               {"iWSError", 102, "Abbruch der Übertragung an:  < P >  ---  X"},
               {"Fertig", 4, "X"},
               {"fertig", 0, "X"},
               {"", 0, "X"}};
  for (const auto& c : cases) {
    got.clear();
    w.WSMessage(c.kind, "X");
    ASSERT_FALSE(got.empty()) << c.kind;
    EXPECT_EQ(got[0].state, c.state) << c.kind;
    EXPECT_EQ(got[0].text.substr(0, std::string(c.text).size()), c.text) << c.kind;
  }
  got.clear();
  w.m_oImmoHelper_InternalState(20, "STOR /x/PIC.OBJ/a.JPG");
  w.m_oImmoHelper_InternalState(20, "STOR /x/db/kvws_import1.php");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text.substr(0, 30), "Datei   /x/PIC.OBJ/a.JPG  wird");
}

}  // namespace
}  // namespace fern::testing
