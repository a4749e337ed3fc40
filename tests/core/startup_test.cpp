#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "core/portal_grid.h"
#include "core/run_driver.h"
#include "core/startup.h"
#include "host/cUtil.h"
#include "platform/vb.h"
#include "support/demo_host_fixture.h"

namespace fern {
namespace {

namespace fs = std::filesystem;
using testing::DemoHostTest;

class StartupTest : public ::testing::Test, public DemoHostTest {};

TEST_F(StartupTest, OpensTheSessionOnTheDemoHost) {
  Start({"/USERKV", "demo"});
  InitHostSession();
  HostSession& s = Session();
  EXPECT_EQ(s.g_strUser, "DEMO");
  EXPECT_EQ(s.g_strProfilePath, "profiles\\Standard");
  EXPECT_FALSE(s.g_StdRS->Eof());
}

TEST_F(StartupTest, HostFolderNamedByItsSystemFolder) {
  ResetSession(CommandLine::FromArgs({"/PATHKV", (host() / "System").string(), "/USERKV", "DEMO"}),
               dir.path());
  InitHostPath();
  EXPECT_EQ(Session().g_strHostPath, host().string() + "/");
}

TEST_F(StartupTest, MissingHostProgramEndsWithTheHostFolderText) {
  fs::remove(host() / "KAVANTOR.EXE");
  Start();
  EXPECT_THROW(InitHostSession(), StartupFailure);
  ASSERT_EQ(answers->texts.size(), 1u);
  EXPECT_EQ(answers->texts[0], "Schwerwiegender Fehler.\r\nKAVANTOR.exe-System konnte im Pfad \"" +
                                   host().string() +
                                   "/\" nicht gefunden werden.\r\nProgramm wird abgebrochen!");
}

TEST_F(StartupTest, UnknownOrInactiveUserEndsWithTheUserText) {
  Start({"/USERKV", "nobody"});
  EXPECT_THROW(InitHostSession(), StartupFailure);
  EXPECT_EQ(answers->texts.back(), "Benutzer NOBODY nicht gefunden, bzw. nicht aktiv.");

  Sql("UPDATE ben SET aktiv=0 WHERE login_name='DEMO'");
  Start({"/USERKV", "DEMO"});
  EXPECT_THROW(InitHostSession(), StartupFailure);
  EXPECT_EQ(answers->texts.back(), "Benutzer DEMO nicht gefunden, bzw. nicht aktiv.");
}

TEST_F(StartupTest, UserWithApostropheIsQuotedNotInjected) {
  Start({"/USERKV", "x' OR '1'='1"});
  EXPECT_THROW(InitHostSession(), StartupFailure);
  EXPECT_EQ(answers->texts.back(), "Benutzer X' OR '1'='1 nicht gefunden, bzw. nicht aktiv.");
}

TEST_F(StartupTest, EmptyCompanyTableAndMissingUser) {
  Sql("DELETE FROM std");
  Start();
  EXPECT_THROW(InitHostSession(), StartupFailure);
  EXPECT_EQ(answers->texts.back(), "Datenbankverbindung ist fehlgeschlagen.");

  Start({});
  EXPECT_THROW(InitHostSession(), StartupFailure);
  EXPECT_EQ(answers->texts.back(), "Parameter für KAVANTOR-Benutzer '/USERKV' fehlt.");
}

class SessionLogsTest : public ::testing::Test, public DemoHostTest {
 protected:
  void SetUp() override {
    Start();
    InitHostSession();
  }
  fs::path Dat(const std::string& name) const { return host() / "DAT" / name; }
  void Grow(const fs::path& p, uintmax_t size) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << std::string(size, 'x');
  }
};

TEST_F(SessionLogsTest, TransferLogMovesToTheArchiveOnlyAboveTheLimit) {
  fs::create_directories(Dat("FernDispatcher"));
  Grow(Dat("Transfer.log"), 1000000);
  {
    cFernDispatcher fd;
    ASSERT_EQ(fd.Init(), cFernDispatcher::InitResult::kOpened);
  }
  EXPECT_EQ(fs::file_size(Dat("Transfer.log")), 1000000u);
  EXPECT_FALSE(fs::exists(Dat("FernDispatcher/Transfer.log")));

  Grow(Dat("FernDispatcher/Transfer.log"), 5);
  Grow(Dat("Transfer.log"), 1000001);
  {
    cFernDispatcher fd;
    fd.Init();
    fd.m_tTransferLog->WriteLine("neu");
  }
  EXPECT_EQ(fs::file_size(Dat("FernDispatcher/Transfer.log")), 1000001u);
  EXPECT_EQ(fs::file_size(Dat("Transfer.log")), 5u);
}

TEST_F(SessionLogsTest, WithoutArchiveFolderTheTransferLogKeepsGrowing) {
  fs::remove_all(Dat("FernDispatcher"));
  Grow(Dat("Transfer.log"), 1000001);
  cFernDispatcher fd;
  fd.Init();
  fd.m_tTransferLog->WriteLine("a");
  fd.Done();
  EXPECT_EQ(fs::file_size(Dat("Transfer.log")), 1000004u);
}

TEST_F(SessionLogsTest, SecondRunIsRefusedAndLeavesTheFirstRunsLogsAlone) {
  std::ofstream(Dat("Send.log")) << "first run\r\n";
  fs::path lock = Dat("FernDispatcher.lock");
  std::ofstream(lock).close();
  // A real second process holds the lock while this one starts.
  std::string cmd = "flock -n " + lock.string() + " sleep 3 & sleep 0.3";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  cFernDispatcher fd;
  EXPECT_EQ(fd.Init(), cFernDispatcher::InitResult::kRefusedEnd);
  EXPECT_EQ(fd.m_tSendLog, nullptr);

  Start({"/USERKV", "DEMO", "/NOTCLOSEONERROR", "1"});
  InitHostSession();
  cFernDispatcher shown;
  EXPECT_EQ(shown.Init(), cFernDispatcher::InitResult::kRefusedShown);
  EXPECT_NE(answers->texts.back().find("Die Portalübertragung läuft bereits"), std::string::npos);

  std::ifstream in(Dat("Send.log"));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "first run\r");
}

TEST_F(SessionLogsTest, ALockThatCantBeTakenRefusesTheRunWithAMessage) {
  fs::create_directories(Dat("FernDispatcher.lock"));  // a folder where the lock file belongs
  cFernDispatcher fd;
  EXPECT_EQ(fd.Init(), cFernDispatcher::InitResult::kLockFailed);
  EXPECT_EQ(fd.m_tSendLog, nullptr);
  ASSERT_FALSE(answers->texts.empty());
  EXPECT_NE(answers->texts.back().find("Die Sperrdatei " + Dat("FernDispatcher.lock").string() +
                                       " kann nicht angelegt oder gesperrt werden"),
            std::string::npos)
      << answers->texts.back();

  PortalGrid grid;
  grid.LoadPortalGrid();
  RunDriver driver(grid);
  EXPECT_EQ(RunUnattended(grid, driver, "ImmoPortal Demo|"), exitcode::kStartupFailed);
  EXPECT_FALSE(fs::exists(Dat("Transfer.log")) && fs::file_size(Dat("Transfer.log")) > 0);
}

TEST_F(SessionLogsTest, MembersByName) {
  cFernDispatcher fd;
  EXPECT_EQ(fd.Folder() + "/", Session().g_strHostPath);
  EXPECT_GT(fd.VersionMajor(), 19);
  std::vector<Variant> args{Variant("{AD_NAME}"), Variant::Nothing()};
  EXPECT_EQ(vb::CStr(fd.Invoke("ReplacePlatzhalter", kMethod, args)), "{AD_NAME}");
  auto ad = fd.GetRecordset("SELECT Name FROM AD");
  ASSERT_FALSE(ad->Eof());
  EXPECT_EQ(fd.ReplacePlatzhalter("{AD_NAME}", ad.get()), cUtil::k(ad->Value("Name")));
  EXPECT_EQ(fd.ReplacePlatzhalter("x {AD_NAME}", ad.get()), "x {AD_NAME}");
  EXPECT_EQ(fd.GetArtDsn("nichts", ""), "");
}

}  // namespace
}  // namespace fern
