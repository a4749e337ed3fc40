// The host switches [FTP] NoPreserveTime and SetBatchPause on the SFTP and FTPS uploads, checked
// on what the real servers hold afterwards (sshd, pyftpdlib over TLS) and on what they were told.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "openimmo/openimmo_upload.h"
#include "platform/ini_file.h"
#include "platform/waits.h"
#include "support/ftp_server.h"
#include "support/scratch_dir.h"
#include "support/sshd_server.h"

namespace fern::openimmo {
namespace {

namespace fs = std::filesystem;
using testing_servers::FtpServer;
using testing_servers::FtpServerOptions;
using testing_servers::SshdOptions;
using testing_servers::SshdServer;

constexpr const char* kPassword = "pw-4Kt!switch";
constexpr std::time_t kLocalTime = 1577880000;  // 2020-01-01 12:00:00 UTC

std::time_t MTime(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? st.st_mtime : -1;
}

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class Switches : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetEsc();
    IniCacheReset();
    host_ = dir_ / "host";
    fs::create_directories(host_ / "system");
    local_ = dir_ / "transfer" / "out";
    for (const char* name : {"listing.xml", "second file.xml"}) {
      const fs::path f = dir_.Write(fs::path("transfer/out") / name, "<openimmo/>");
      const timeval times[2] = {{kLocalTime, 0}, {kLocalTime, 0}};
      ASSERT_EQ(::utimes(f.c_str(), times), 0);
    }
    fs::create_directories(dir_ / "remote");
    events_.WorkState = [this](int16_t s, const std::string& t) {
      lines_.push_back(std::to_string(s) + " " + t);
    };
  }

  // One upload with the host INI's switches, as the exporter makes it.
  bool Send(const std::string& protocol, const UploadTarget& target, bool noPreserveTime,
            bool batchPause = false) {
    const fs::path ini = host_ / "kavantor.ini";
    IniWrite("FTP", "NoPreserveTime", noPreserveTime ? "1" : "0", ini);
    IniWrite("FTP", "SetBatchPause", batchPause ? "1" : "0", ini);
    IniCacheReset();
    UploadSettings s;
    s.hostFolder = host_.string();
    s.transferCount = 1;
    s.transferDelay = 0;
    s.limits.connectTimeoutMs = 3000;
    s.limits.responseSeconds = 5;
    s.limits.lowSpeedSeconds = 5;
    ReadUploadSwitches(s);
    uploadStart_ = std::time(nullptr);
    return OpenImmoUpload(s, nullptr, events_, {})
        .DoUpload(protocol, target, local_.string(), "xml");
  }
  UploadTarget To(const std::string& server, const std::string& user,
                  const std::string& folder) const {
    UploadTarget t;
    t.server = server;
    t.user = user;
    t.password = kPassword;
    t.folder = folder;
    return t;
  }
  // Both files arrived; `kept`: with the local time, else with a time of this upload.
  void ExpectTimes(const std::string& folder, bool kept) const {
    for (const char* name : {"listing.xml", "second file.xml"}) {
      const std::time_t t = MTime(dir_ / "remote" / folder / name);
      if (kept)
        EXPECT_EQ(t, kLocalTime) << folder << "/" << name;
      else
        EXPECT_GE(t, uploadStart_ - 2) << folder << "/" << name;
    }
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const std::string& l : lines_) n += l.find(part) != std::string::npos;
    return n;
  }
  int LogCount(const std::string& part) const {
    return Occurrences(dir_.Read("transfer/WinSCP_start.log"), part);
  }
  std::string Lines() const {
    std::string all;
    for (const std::string& l : lines_) all += l + "\n";
    return all + dir_.Read("transfer/WinSCP_start.log");
  }

  testing::ScratchDir dir_;
  fs::path host_, local_;
  StateEvents events_;
  std::vector<std::string> lines_;
  std::time_t uploadStart_ = 0;
};

// --- SFTP against sshd --------------------------------------------------------------------

class SftpSwitches : public Switches {
 protected:
  void StartSshd(const std::string& denied = {}) {
    ASSERT_TRUE(testing_servers::MakeSshKey(dir_ / "client_key"));
    SshdOptions o;
    o.dir = dir_.path();
    o.home = dir_ / "remote";
    o.hostKey = dir_ / "host_key";
    o.clientPub = dir_ / "client_key.pub";
    o.sftpDenied = denied;
    sshd_ = std::make_unique<SshdServer>(o);
    const fs::path ini = host_ / "sftp.ini";
    IniWrite(sshd_->host(), "privateKeyfile", (dir_ / "client_key").string(), ini);
    IniWrite(sshd_->host(), "fingerprint",
             testing_servers::KeygenFingerprint(dir_ / "host_key.pub", "sha256"), ini);
  }
  UploadTarget Target(const std::string& folder) const {
    return To(sshd_->host(), testing_servers::CurrentUser(), folder);
  }

  std::unique_ptr<SshdServer> sshd_;
};

TEST_F(SftpSwitches, TheLocalTimeStaysUnlessNoPreserveTimeIsOn) {
  StartSshd();
  EXPECT_TRUE(Send("sftp", Target("kept"), false)) << Lines();
  ExpectTimes("kept", true);
  EXPECT_TRUE(Send("SFTP", Target((dir_ / "remote" / "fresh").string()), true)) << Lines();
  ExpectTimes("fresh", false);
  EXPECT_EQ(LogCount("not kept"), 0) << Lines();
}

TEST_F(SftpSwitches, AServerRefusingTheTimeStillGetsTheFiles) {
  StartSshd("setstat,fsetstat");
  EXPECT_TRUE(Send("sftp", Target("in"), false)) << Lines();
  ExpectTimes("in", false);
  EXPECT_EQ(Count("8 Übertragung:"), 0) << Lines();
  EXPECT_EQ(Count("WinSCP Status True"), 1) << Lines();
  EXPECT_EQ(LogCount("Modification time not kept on the server"), 1) << Lines();
}

// --- FTPS, and SFTP with useTls -------------------------------------------------------------

class FtpsSwitches : public Switches {
 protected:
  void StartFtps(const std::string& perm = {}, bool noMfmt = false) {
    FtpServerOptions o;
    o.home = dir_ / "remote";
    o.password = kPassword;
    o.log = dir_ / "ftp_server.log";
    o.perm = perm;
    o.noMfmt = noMfmt;
    o.cert = dir_ / "cert.pem";
    o.key = dir_ / "key.pem";
    ASSERT_TRUE(testing_servers::MakeSelfSignedCert(o.cert, o.key));
    server_ = std::make_unique<FtpServer>(o);
  }
  // How often the server was sent `verb`, from its own log.
  int Sent(const std::string& verb) const {
    return Occurrences(dir_.Read("ftp_server.log"), "CMD " + verb + "\n");
  }
  void ClearServerLog() const { fs::resize_file(dir_ / "ftp_server.log", 0); }

  std::unique_ptr<FtpServer> server_;
};

TEST_F(FtpsSwitches, TheLocalTimeStaysUnlessNoPreserveTimeIsOn) {
  StartFtps();
  EXPECT_TRUE(Send("ftps", To(server_->host(), "fern", "kept"), false)) << Lines();
  ExpectTimes("kept", true);
  EXPECT_EQ(Sent("FEAT"), 1);
  EXPECT_EQ(Sent("MFMT"), 2);
  EXPECT_EQ(Sent("PASS"), 1);  // asking FEAT needs no login of its own

  ClearServerLog();
  EXPECT_TRUE(Send("FTPS", To(server_->host(), "fern", "fresh"), true)) << Lines();
  ExpectTimes("fresh", false);
  EXPECT_EQ(Sent("MFMT"), 0);
  EXPECT_EQ(Sent("FEAT"), 0);
  EXPECT_EQ(LogCount("not kept"), 0) << Lines();
}

TEST_F(FtpsSwitches, SftpWithUseTlsKeepsTheTimeToo) {
  StartFtps();
  IniWrite(server_->host(), "useTls", "1", host_ / "sftp.ini");
  EXPECT_TRUE(Send("sftp", To(server_->host(), "fern", "tls"), false)) << Lines();
  ExpectTimes("tls", true);
  ClearServerLog();
  EXPECT_TRUE(Send("sftp", To(server_->host(), "fern", "tls2"), true)) << Lines();
  ExpectTimes("tls2", false);
  EXPECT_EQ(Sent("MFMT"), 0);
}

TEST_F(FtpsSwitches, ARefusedOrUnlistedTimeIsLoggedOnceAndTheUploadCounts) {
  // pyftpdlib without "T" lists MFMT but refuses it.
  StartFtps("elradfmwM");
  EXPECT_TRUE(Send("ftps", To(server_->host(), "fern", "refused"), false)) << Lines();
  ExpectTimes("refused", false);
  EXPECT_EQ(LogCount("Modification time not kept on the server"), 1) << Lines();
  EXPECT_EQ(Count("8 Übertragung:"), 0) << Lines();

  server_.reset();
  StartFtps({}, true);
  EXPECT_TRUE(Send("ftps", To(server_->host(), "fern", "unlisted"), false)) << Lines();
  ExpectTimes("unlisted", false);
  EXPECT_EQ(Sent("FEAT"), 1);
  EXPECT_EQ(Sent("MFMT"), 0);  // never asked of a server that does not list it
  EXPECT_EQ(LogCount("Modification time not kept on the server ('listing.xml'): the server "
                     "does not list MFMT"),
            1)
      << Lines();
}

TEST_F(FtpsSwitches, SetBatchPauseIsReportedAsWithoutEffect) {
  StartFtps();
  EXPECT_TRUE(Send("ftps", To(server_->host(), "fern", ""), false, true)) << Lines();
  EXPECT_EQ(Count("8 DoUploadToFtpSByWinScp: SetBatchPause=1 hat hier keine Wirkung"), 1)
      << Lines();
  lines_.clear();
  EXPECT_TRUE(Send("ftps", To(server_->host(), "fern", ""), false, false)) << Lines();
  EXPECT_EQ(Count("SetBatchPause"), 0) << Lines();
}

}  // namespace
}  // namespace fern::openimmo
