// SIGTERM (as systemd sends; "Abbrechen" and "Schließen" set the same stop) while a portal's
// server has taken the connection and never answers: the real program on a demo host.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "host/cUtil.h"
#include "office_fixture.h"
#include "platform/cp1252.h"
#include "platform/vb.h"
#include "support/child_process.h"
#include "support/stalled_portal.h"

namespace fern::testing {
namespace {

using Clock = std::chrono::steady_clock;

struct Road {
  const char* name;
  const char* portal;   // the demo portal that goes there
  const char* host;     // "@" stands for "127.0.0.1:<port>"
  const char* switch_;  // "section/key" of a Kavantor.INI switch that selects the road, or ""
};
void PrintTo(const Road& road, std::ostream* os) { *os << road.name; }

class UploadStop : public OfficeTest, public ::testing::WithParamInterface<Road> {
 protected:
  ~UploadStop() override { StopChildGroup(pid_); }

  std::string Log(const std::string& name) {
    return cp1252::ToUtf8(testing_files::ReadAll(host() / "DAT" / name));
  }

  StalledPortal server_;
  pid_t pid_ = -1;
};

TEST_P(UploadStop, SigtermEndsTheUploadAtOnceWithOneRecordOfTheStop) {
  const Road& road = GetParam();
  const std::string url = server_.Url();
  const std::string address = url.substr(7, url.rfind('/') - 7);
  Sql("UPDATE Boersen SET boersen_host = '" + vb::Replace(road.host, "@", address) +
      "' WHERE boersen_name = '" + road.portal + "'");
  const std::string ini = road.switch_;
  if (!ini.empty())
    cUtil().IniWrite(ini.substr(0, ini.find('/')), ini.substr(ini.find('/') + 1), "1",
                     (host() / "Kavantor.INI").string());
  // A known host key, so the SFTP road goes to the upload rather than to learning the key.
  dir.Write("host/sftp.ini", "[" + address +
                                 "]\nfingerprint=ssh-ed25519 255 "
                                 "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\n");

  pid_ = SpawnInGroup({FERN_DISPATCHER_EXE, "/PATHKV", host().string(), "/USERKV", "DEMO",
                       "/PORTAL", vb::Replace(road.portal, " ", "§")},
                      {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}, {}, dir / "app.log");
  ASSERT_GT(pid_, 0);
  for (const auto end = Clock::now() + std::chrono::seconds(30);
       !server_.Called() && Clock::now() < end &&
       WaitExit(pid_, std::chrono::milliseconds(0)) == -1;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(server_.Called()) << "the server was never called\n"
                                << testing_files::ReadAll(dir / "app.log") << Log("Send.log");
  // The upload settles into waiting for the server's first word.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const auto stopped = Clock::now();
  // As systemd stops a job: every process of it, the upload program it runs too, one after
  // another, so the program may hear of the stop only after its child has died of it.
  for (pid_t child : ChildrenOf(pid_)) kill(child, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid_, SIGTERM);
  const int status = WaitExit(pid_, std::chrono::seconds(10));
  const auto took = Clock::now() - stopped;
  ASSERT_NE(status, -1) << "still running 10 s after SIGTERM\n" << Log("Send.log");
  pid_ = -1;
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 4) << testing_files::ReadAll(dir / "app.log");
  EXPECT_LT(took, std::chrono::seconds(5));  // 2 s, with room for a slow machine

  const std::string sent = Log("Send.log");
  // Once, as the transfer layer's ForceCancel says it: behind a line break.
  const size_t stop = sent.find("; \r\nProzess extern beendet\r\n");
  EXPECT_NE(stop, std::string::npos) << sent;
  EXPECT_EQ(sent.rfind("Prozess extern beendet"), stop + 4) << sent;
  EXPECT_EQ(sent.find("weiterer Versuch"), std::string::npos) << sent;
  // The upload program's end is the stop's doing, not its failure.
  EXPECT_EQ(sent.find("Anwendungsfehler"), std::string::npos) << sent;
  EXPECT_NE(sent.find("SIGTERM"), std::string::npos) << sent;
  // A stop is no failure of the portal's server.
  EXPECT_EQ(Log("Error.log").find("102; "), std::string::npos) << Log("Error.log");
  // Counted: the transfer layer's record of the stop and the run's.
  EXPECT_EQ(RunLineErrors(std::string(road.portal) + "|"), 2) << Log("Transfer.log");
}

INSTANTIATE_TEST_SUITE_P(
    EveryRoad, UploadStop,
    ::testing::Values(Road{"PassiveFtp", "ImmoPortal Demo", "@/in", ""},
                      Road{"ActiveFtp", "ImmoPortal Demo", "@/in", "FTP/ACTIVE_FTP"},
                      Road{"NcFtpPut", "ImmoPortal Demo", "@/in", "XML/UseNcFTP"},
                      Road{"Ftps", "ImmoPortal Demo", "ftps://@/in", ""},
                      Road{"Sftp", "ImmoPortal Demo", "sftp://@/upload", ""},
                      Road{"Http", "Wohnen HTTP Demo", "http://@/openimmo", ""}),
    [](const ::testing::TestParamInfo<Road>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fern::testing
