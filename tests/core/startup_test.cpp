#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST_F(StartupTest, ADatabaseTheUserMayNotReadSaysSo) {
  const fs::path dat = host() / "DAT";
  const fs::path db = dat / "kavantor.db";
  const fs::path said = dir / "said";
  ASSERT_TRUE(fs::is_regular_file(db));
  for (const auto& [folderMode, fileMode] : {std::pair{0700, 0}, std::pair{0, 0600}}) {
    fs::permissions(dat, static_cast<fs::perms>(folderMode));
    fs::permissions(db, static_cast<fs::perms>(fileMode));
    // A child that file permissions bind, as root too: it gives up the capabilities that let
    // root pass them.
    const pid_t pid = ::fork();
    if (pid == 0) {
      __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
      __user_cap_data_struct data[2] = {};
      ::syscall(SYS_capget, &head, data);
      data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
      if (::geteuid() == 0 && ::syscall(SYS_capset, &head, data) != 0) ::_exit(1);
      try {
        Start();
        InitHostSession();
      } catch (...) {
      }
      std::ofstream(said) << (answers->texts.empty() ? "no message" : answers->texts.back());
      ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    fs::permissions(dat, fs::perms::owner_all);
    fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write);
    const std::string message = dir.Read("said");
    fs::remove(said);
    EXPECT_NE(message.find("Datenbankdatei " + db.string() +
                           " kann nicht gelesen werden: keine Berechtigung"),
              std::string::npos)
        << message;
  }
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
