// A stop while the site's container flows to an FTP server that takes it slowly or freezes in
// the middle of it: the run ends at once and leaves nothing on the site, since the container
// unpacks to the database password.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/waits.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class SiteStopTest : public WebsiteTest {
 public:
  void TearDown() override { ResetEsc(); }
  // Starts the site on a server made by `options` (home and login filled in), runs the portal
  // and stops it, as SIGTERM does, once `flowing` says the container is on its way. The time
  // from the stop to the run's end.
  Clock::duration RunStoppedWhile(testing_servers::FtpServerOptions options,
                                  const std::function<bool(uintmax_t)>& flowing) {
    options.home = www();
    options.user = "web";
    options.password = "web-demo";
    ftp = std::make_unique<testing_servers::FtpServer>(options);
    StartWeb(ftp->port());
    ResetEsc();
    std::atomic<bool> done{false};
    Clock::time_point stopped{};
    // The signal handler's part: only the flag, from outside the run.
    std::thread stopper([&] {
      const fs::path container = www() / "kv_webserver" / "transfer_1.big";
      while (!done) {
        std::error_code ec;
        if (fs::exists(container, ec) && flowing(fs::file_size(container, ec))) {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          stopped = Clock::now();
          SetEsc();
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
    RunPortal();
    const auto end = Clock::now();
    done = true;
    stopper.join();
    EXPECT_TRUE(EscPressed()) << "the container never flowed\n" << Errors();
    std::printf("[ stopped  ] run over %.2f s after the stop\n",
                std::chrono::duration<double>(end - stopped).count());
    return end - stopped;
  }
  void ExpectNothingLeft() {
    EXPECT_FALSE(Said("auf dem Webserver nicht")) << Errors();
    EXPECT_EQ(SiteFiles("transfer"), "");
    EXPECT_EQ(Count("select count(*) from boersenobj where status<>0 and boersen_dsn in (select "
                    "DSN from Boersen where boersen_name='Eigene Homepage')"),
              0);
  }
};

TEST_F(SiteStopTest, AStopWhileTheContainerFlowsToASlowServerEndsTheRunAtOnce) {
  testing_servers::FtpServerOptions slow;
  slow.maxRate = 16 * 1024;
  EXPECT_LT(RunStoppedWhile(slow, [](uintmax_t) { return true; }), std::chrono::seconds(10));
  ExpectNothingLeft();
}

TEST_F(SiteStopTest, AStopWhileTheServerIsFrozenInTheContainerEndsTheRunAtOnce) {
  testing_servers::FtpServerOptions frozen;
  frozen.freezeAfter = 100 * 1024;
  EXPECT_LT(RunStoppedWhile(frozen, [](uintmax_t size) { return size >= 64 * 1024; }),
            std::chrono::seconds(10));
  ExpectNothingLeft();
}

// The clean-up's time counts from the stop, one budget with the removal of the file the stop
// cut short, not from the first step of the clean-up.
TEST_F(SiteStopTest, TheCleanUpTimeCountsFromTheStop) {
  testing_servers::FtpServerOptions o;
  o.stall = true;
  testing_servers::FtpServer stalled(o);
  cImmoHelperV2 helper;
  website::SiteTransport transport(helper);
  transport.cleanUpSeconds = 2;
  SetEsc();
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // a removal took the rest
  const auto start = Clock::now();
  EXPECT_EQ(transport.RemoveFile(stalled.host(), "web", "pw", "kv_webserver/transfer_1.big", ""),
            "keine Zeit mehr nach dem Abbruch");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace fern::testing
