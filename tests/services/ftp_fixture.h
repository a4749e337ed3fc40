// What the FTP tests of the services share: a scratch root holding the local folder to send
// and the loopback server's home, both empty at the start, and a clean Esc state around each
// test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/waits.h"
#include "services/curl_session.h"
#include "support/ftp_server.h"
#include "support/scratch_dir.h"

namespace fern::testing_servers {

template <typename Base = ::testing::Test>
class FtpFolders : public Base {
 protected:
  FtpFolders() = default;

  void SetUp() override {
    ResetEsc();
    root_ = scratch_.path();
    local_ = root_ / "local";
    home_ = root_ / "home";
    std::filesystem::create_directories(local_);
    std::filesystem::create_directories(home_);
  }
  void TearDown() override { ResetEsc(); }

  // A server on home_ that writes its log into the root, for a test to read.
  FtpServerOptions Options() const {
    FtpServerOptions o;
    o.home = home_;
    o.log = root_ / "server.log";
    return o;
  }

  // A short leash, so a dead server fails the test quickly instead of hanging it.
  static void ShortLimits(services::TransferLimits& limits) {
    limits.connectTimeoutMs = 1500;
    limits.responseSeconds = 2;
    limits.lowSpeedSeconds = 2;
  }

  fern::testing::ScratchDir scratch_;
  std::filesystem::path root_, local_, home_;
};

}  // namespace fern::testing_servers
