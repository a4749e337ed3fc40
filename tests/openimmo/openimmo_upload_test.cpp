// The upload step against real servers on 127.0.0.1: sshd for SFTP, pyftpdlib for FTP and FTPS,
// Debian's ncftpput.
#include "openimmo/openimmo_upload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/ini_file.h"
#include "platform/waits.h"
#include "services/cFTPTransferV2.h"
#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/scratch_dir.h"
#include "support/sshd_server.h"

namespace fern::openimmo {
namespace {

namespace fs = std::filesystem;
using services::ParseFingerprint;
using testing_servers::FtpServer;
using testing_servers::FtpServerOptions;
using testing_servers::SshdOptions;
using testing_servers::SshdServer;

constexpr const char* kPassword = "pw-7Zq!secret";
constexpr std::time_t kPast = 1577880000;  // 2020-01-01 12:00:00 UTC
constexpr const char* kDated[] = {"listing.xml", "second file.xml"};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The file names in a remote folder, sorted, joined by ",".
std::string Listed(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ",") + n;
  return out;
}

// The processes below `parent`.
std::vector<pid_t> Descendants(pid_t parent) {
  std::vector<pid_t> out;
  for (pid_t child : testing::ChildrenOf(parent)) {
    out.push_back(child);
    for (pid_t d : Descendants(child)) out.push_back(d);
  }
  return out;
}

// Once `file` on the server holds a megabyte, `drop` cuts the upload; gives up after 20 s.
std::thread DropWhenGrown(const fs::path& file, std::function<void()> drop) {
  return std::thread([file, drop = std::move(drop)] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < end) {
      if (fs::exists(file, ec) && fs::file_size(file, ec) >= (1 << 20) && !ec) {
        drop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
}

class Upload : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetEsc();
    IniCacheReset();
    host_ = dir_ / "host";
    fs::create_directories(host_ / "system");
    fs::create_directories(host_ / "Dat");
    local_ = dir_ / "transfer" / "out";
    dir_.Write("transfer/out/listing.xml", "<openimmo/>");
    dir_.Write("transfer/out/second.XML", "<openimmo/>");
    dir_.Write("transfer/out/pack.zip", "PK");
    fs::create_directories(dir_ / "remote");
    settings_.hostFolder = host_.string();
    settings_.transferDelay = 0;
    settings_.ncftpRedials = 0;
    settings_.limits.connectTimeoutMs = 3000;
    settings_.limits.responseSeconds = 5;
    settings_.limits.lowSpeedSeconds = 5;
    events_.WorkState = [this](int16_t s, const std::string& t) {
      lines_.push_back(std::to_string(s) + " " + t);
    };
  }
  void TearDown() override {
    ResetEsc();  // a stop a test made must not reach the next suite's tests
    for (const std::string& l : lines_) EXPECT_EQ(l.find(kPassword), std::string::npos) << l;
    const fs::path log = dir_ / "transfer" / "WinSCP_start.log";
    if (fs::exists(log)) {
      EXPECT_EQ(ReadAll(log).find(kPassword), std::string::npos);
      if (HasFailure()) std::cerr << ReadAll(log) << ReadAll(dir_ / "ftp_server.log");
    }
  }

  OpenImmoUpload Uploader(FtpSendFolderFn ftp = {}) {
    return OpenImmoUpload(settings_, nullptr, events_, std::move(ftp));
  }
  static UploadTarget To(const std::string& server, const std::string& user,
                         const std::string& password, const std::string& folder,
                         const std::string& options) {
    UploadTarget t;
    t.server = server;
    t.user = user;
    t.password = password;
    t.folder = folder;
    t.options = options;
    return t;
  }
  // Uploads a large file into "in" and stops once part of it arrived: the upload ends without
  // an error and without another attempt, tells of the stop once, and leaves no part behind.
  void StopInTheMiddleOfAFile(const std::string& protocol, const UploadTarget& target) {
    std::ofstream(local_ / "big.xml").close();
    fs::resize_file(local_ / "big.xml", 256u << 20);
    std::thread stop = DropWhenGrown(dir_ / "remote" / "in" / "big.xml", [] { SetEsc(); });
    bool ok = true;
    try {
      ok = Uploader().DoUpload(protocol, target, local_.string(), "xml");
    } catch (const HostError& e) {
      ADD_FAILURE() << e.description();
    }
    stop.join();
    EXPECT_FALSE(ok);
    ASSERT_TRUE(EscPressed()) << "the upload ended before the stop";
    EXPECT_EQ(Count("Unvollständige Datei in/big.xml auf dem Server gelöscht"), 1) << Lines();
    EXPECT_FALSE(fs::exists(dir_ / "remote" / "in" / "big.xml"));
    EXPECT_EQ(Count("100 \r\nProzess extern beendet"), 1) << Lines();
    EXPECT_EQ(Count("weiterer Versuch"), 0) << Lines();
  }
  // Sends files dated kPast with the host INI's [FTP] switches, as the exporter reads them.
  bool SendDated(const std::string& protocol, const UploadTarget& target, bool noPreserveTime,
                 bool batchPause = false) {
    for (const char* name : kDated) {
      const fs::path f = dir_.Write(fs::path("transfer/dated") / name, "<openimmo/>");
      const timeval times[2] = {{kPast, 0}, {kPast, 0}};
      EXPECT_EQ(::utimes(f.c_str(), times), 0);
    }
    IniWrite("FTP", "NoPreserveTime", noPreserveTime ? "1" : "0", host_ / "kavantor.ini");
    IniWrite("FTP", "SetBatchPause", batchPause ? "1" : "0", host_ / "kavantor.ini");
    IniCacheReset();
    settings_.transferCount = 1;
    ReadUploadSwitches(settings_);
    lines_.clear();
    uploadStart_ = std::time(nullptr);
    return Uploader().DoUpload(protocol, target, (dir_ / "transfer" / "dated").string(), "xml");
  }
  // The dated files arrived in `folder`, with their local time if `kept`, else the upload's.
  void ExpectTimes(const std::string& folder, bool kept) const {
    for (const char* name : kDated) {
      struct stat st {};
      ASSERT_EQ(::stat((dir_ / "remote" / folder / name).c_str(), &st), 0) << folder << name;
      EXPECT_TRUE(kept ? st.st_mtime == kPast : st.st_mtime >= uploadStart_ - 2)
          << folder << "/" << name << ": " << st.st_mtime;
    }
  }
  int UploadLogCount(const std::string& part) const {
    return Occurrences(ReadAll(dir_ / "transfer" / "WinSCP_start.log"), part);
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const std::string& l : lines_) n += l.find(part) != std::string::npos;
    return n;
  }
  std::string Lines() const {
    std::string all;
    for (const std::string& l : lines_) all += l + "\n";
    return all;
  }

  testing::ScratchDir dir_;
  fs::path host_, local_;
  UploadSettings settings_;
  StateEvents events_;
  std::vector<std::string> lines_;
  std::time_t uploadStart_ = 0;
};

// --- the retry loop -----------------------------------------------------------------------

TEST_F(Upload, FailingAttemptsGiveRetryLinesAndOnlyTheLastRunsStrict) {
  std::vector<bool> strict;
  auto up = Uploader([&](auto&&, auto&&, auto&&, auto&&, auto&&, auto&&, auto&&, bool s) {
    strict.push_back(s);
    return false;
  });
  EXPECT_FALSE(up.DoUpload("", To("ftp.example", "u", kPassword, "", ""), local_.string(), ""));
  EXPECT_EQ(strict, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(Count("8 FTP-Übertragung (ftp.example) weiterer Versuch..."), 2) << Lines();

  settings_.transferCount = 0;
  strict.clear();
  EXPECT_FALSE(Uploader([&](auto&&, auto&&, auto&&, auto&&, auto&&, auto&&, auto&&, bool s) {
                 strict.push_back(s);
                 return false;
               }).DoUpload("", To("h", "u", kPassword, "", ""), local_.string(), ""));
  EXPECT_EQ(strict, (std::vector<bool>{false, true}));  // a count of 0 or 1 is two attempts
}

TEST_F(Upload, SuccessStopsTheRetries) {
  int calls = 0;
  EXPECT_TRUE(Uploader([&](auto&&...) {
                return ++calls == 2;
              }).DoUpload("", To("h", "u", kPassword, "", ""), local_.string(), ""));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Count("weiterer Versuch"), 1);
}

TEST_F(Upload, AStopDuringThePauseStartsNoFurtherAttempt) {
  settings_.transferDelay = 60000;
  int calls = 0;
  const auto upload = [&](bool succeeds) {
    return Uploader([&](auto&&...) {
             ++calls;
             return succeeds;
           })
        .DoUpload("", To("h", "u", kPassword, "", ""), local_.string(), "");
  };
  SetPumpHook([] { SetEsc(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(upload(false));
  SetPumpHook(nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(Count("weiterer Versuch"), 0) << Lines();
  EXPECT_EQ(Count("100 \r\nProzess extern beendet"), 1) << Lines();
  // Nothing starts after a stop.
  EXPECT_FALSE(upload(true));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Count("100 \r\nProzess extern beendet"), 2) << Lines();
}

TEST_F(Upload, ToolErrorsBecomeStateLinesAndTheLastReachesTheCaller) {
  // SFTP to a closed port with a stored key: every attempt fails with the log's text.
  const int port = SshdServer::FreePort();
  const std::string server = "127.0.0.1:" + std::to_string(port);
  IniWrite(server, "fingerprint", "ssh-ed25519 255 " + std::string(43, 'A'), host_ / "sftp.ini");
  try {
    Uploader().DoUpload("SFTP", To(server, "u", kPassword, "", ""), local_.string(), "");
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "DoUploadToSFtpByWinScp");
    EXPECT_EQ(e.description().rfind("SFTP Übertragung. Hinweis: Fehlerbeschreibung siehe "
                                    "LOG-Datei '",
                                    0),
              0u)
        << e.description();
  }
  EXPECT_EQ(Count("8 Übertragung: SFTP Übertragung. Hinweis: Fehlerbeschreibung"), 2) << Lines();
  EXPECT_EQ(Count("weiterer Versuch"), 2);
  EXPECT_NE(ReadAll(dir_ / "transfer" / "WinSCP_start.log").find("Error:"), std::string::npos);
}

// --- SFTP against sshd --------------------------------------------------------------------

class Sftp : public Upload {
 protected:
  void SetUp() override {
    Upload::SetUp();
    ASSERT_TRUE(testing_servers::MakeSshKey(dir_ / "client_key"));
    Restart();
  }
  // `denied`: SFTP requests the server refuses.
  void Restart(const std::string& denied = {}) {
    sshd_.reset();
    SshdOptions o;
    o.dir = dir_.path();
    o.home = dir_ / "remote";
    o.hostKey = dir_ / "host_key";
    o.clientPub = dir_ / "client_key.pub";
    o.sftpDenied = denied;
    sshd_ = std::make_unique<SshdServer>(o);
  }
  void TearDown() override {
    sshd_.reset();
    Upload::TearDown();
  }
  // The key login, in the host folder's "sftp.ini" or the system folder's.
  void KeyLogin(const fs::path& ini) {
    IniWrite(sshd_->host(), "privateKeyfile", (dir_ / "client_key").string(), ini);
  }
  // The key login to a host whose key is known.
  UploadTarget KnownHost(const std::string& folder) {
    KeyLogin(host_ / "sftp.ini");
    IniWrite(sshd_->host(), "fingerprint",
             testing_servers::KeygenFingerprint(dir_ / "host_key.pub", "sha256"),
             host_ / "sftp.ini");
    return To(sshd_->host(), testing_servers::CurrentUser(), "", folder, "");
  }
  std::string Stored(const fs::path& ini) {
    IniCacheReset();
    return IniGet(sshd_->host(), "fingerprint", "", ini);
  }

  std::unique_ptr<SshdServer> sshd_;
};

TEST_F(Sftp, NewHostStoresItsKeyAndTheRetryUploads) {
  // The host folder's file is empty, so the system folder's is the one used.
  dir_.Write("host/sftp.ini", "");
  const fs::path ini = host_ / "system" / "sftp.ini";
  KeyLogin(ini);
  EXPECT_TRUE(Uploader().DoUpload(
      "SFTP", To(sshd_->host(), testing_servers::CurrentUser(), kPassword, "in/", ""),
      local_.string(), "xml"));
  const std::string fp = Stored(ini);
  const std::string sha = testing_servers::KeygenFingerprint(dir_ / "host_key.pub", "sha256");
  EXPECT_EQ(ParseFingerprint(fp).value, ParseFingerprint(sha).value) << fp << " / " << sha;
  EXPECT_EQ(fp.rfind("ssh-ed25519 255 ", 0), 0u);
  EXPECT_EQ(Count("Neuer Fingerprint '" + fp + "' für diesen Host in sftp.ini eingetragen."), 1)
      << Lines();
  EXPECT_EQ(Count("Nutze folgende sftp.ini: " + ini.string() + " in DoUploadToSFtpByWinScp"), 2);
  EXPECT_EQ(ReadAll(dir_ / "remote" / "in" / "listing.xml"), "<openimmo/>");
  EXPECT_EQ(Listed(dir_ / "remote" / "in"), "listing.xml,second.XML");
  EXPECT_NE(ReadAll(dir_ / "transfer" / "WinSCP_start.log").find(" Transfer done: "),
            std::string::npos);
}

TEST_F(Sftp, KnownHostInEitherStoredFormUploadsAtOnce) {
  const fs::path ini = host_ / "sftp.ini";
  KeyLogin(ini);
  settings_.transferCount = 1;
  const std::string md5 = testing_servers::KeygenFingerprint(dir_ / "host_key.pub", "md5");
  const std::string sha = testing_servers::KeygenFingerprint(dir_ / "host_key.pub", "sha256");
  for (const std::string& stored :
       {"ssh-ed25519 255 " + md5.substr(4), sha + "=", "ssh-ed25519 255 " + sha.substr(7)}) {
    IniWrite(sshd_->host(), "fingerprint", stored, ini);
    fs::remove_all(dir_ / "remote" / "abs");
    EXPECT_TRUE(Uploader().DoUpload("sftp",
                                    To(sshd_->host(), testing_servers::CurrentUser(), "",
                                       (dir_ / "remote" / "abs").string(), ""),
                                    local_.string(), "ZIP"))
        << stored << "\n"
        << Lines();
    EXPECT_EQ(Listed(dir_ / "remote" / "abs"), "pack.zip");
  }
  EXPECT_EQ(Count("WinSCP Status True"), 3);
}

TEST_F(Sftp, ChangedHostKeyIsRefused) {
  const fs::path ini = host_ / "sftp.ini";
  KeyLogin(ini);
  ASSERT_TRUE(testing_servers::MakeSshKey(dir_ / "other_key"));
  settings_.transferCount = 2;
  for (const char* hash : {"sha256", "md5"}) {
    lines_.clear();
    const std::string other = testing_servers::KeygenFingerprint(dir_ / "other_key.pub", hash);
    IniWrite(sshd_->host(), "fingerprint", other, ini);
    try {
      Uploader().DoUpload("SFTP", To(sshd_->host(), testing_servers::CurrentUser(), "", "", ""),
                          local_.string(), "");
      ADD_FAILURE() << "no error";
    } catch (const HostError& e) {
      // The reason itself, not only the log that the next attempt starts anew.
      EXPECT_NE(e.description().find("does not match the stored fingerprint"), std::string::npos)
          << e.description();
    }
    EXPECT_EQ(Count("8 Übertragung: "), 1) << Lines();
    EXPECT_EQ(Count("does not match the stored fingerprint"), 1) << Lines();
    EXPECT_FALSE(fs::exists(dir_ / "remote" / "listing.xml")) << hash;
    EXPECT_EQ(Stored(ini), other);  // a refused key never replaces the stored one
  }
  EXPECT_NE(ReadAll(dir_ / "transfer" / "WinSCP_start.log").find("does not match"),
            std::string::npos);
}

TEST_F(Sftp, ADroppedUploadLeavesNoPartialFileOnTheServer) {
  const fs::path ini = host_ / "sftp.ini";
  KeyLogin(ini);
  IniWrite(sshd_->host(), "fingerprint",
           testing_servers::KeygenFingerprint(dir_ / "host_key.pub", "sha256"), ini);
  settings_.transferCount = 1;
  // Large enough that the cut comes long before the end.
  std::ofstream(local_ / "a drop.xml").close();
  fs::resize_file(local_ / "a drop.xml", 256u << 20);
  const pid_t listener = std::stoi(ReadAll(dir_ / "sshd.pid"));
  std::thread drop = DropWhenGrown(dir_ / "remote" / "in" / "a drop.xml", [listener] {
    // The session's processes go; the listener stays for the next connection.
    for (pid_t p : Descendants(listener)) kill(p, SIGKILL);
  });
  // One attempt: a retry would send the whole file.
  EXPECT_THROW(
      Uploader().DoUploadSFtp(To(sshd_->host(), testing_servers::CurrentUser(), "", "in", ""),
                              local_.string(), "xml"),
      HostError);
  drop.join();
  EXPECT_EQ(Count("Unvollständige Datei in/a drop.xml auf dem Server gelöscht"), 1) << Lines();
  EXPECT_FALSE(fs::exists(dir_ / "remote" / "in" / "a drop.xml"));
}

TEST_F(Sftp, AStopInTheMiddleOfAFileRemovesItAndEndsTheUpload) {
  StopInTheMiddleOfAFile("sftp", KnownHost("in"));
}

TEST_F(Sftp, TheLocalTimeStaysUnlessNoPreserveTimeIsOn) {
  EXPECT_TRUE(SendDated("sftp", KnownHost("kept"), false)) << Lines();
  ExpectTimes("kept", true);
  EXPECT_TRUE(SendDated("SFTP", KnownHost((dir_ / "remote" / "fresh").string()), true)) << Lines();
  ExpectTimes("fresh", false);
  EXPECT_EQ(UploadLogCount("not kept"), 0) << Lines();

  Restart("setstat,fsetstat");
  EXPECT_TRUE(SendDated("sftp", KnownHost("refused"), false)) << Lines();
  ExpectTimes("refused", false);
  EXPECT_EQ(Count("8 Übertragung:"), 0) << Lines();
  EXPECT_EQ(Count("WinSCP Status True"), 1) << Lines();
  EXPECT_EQ(UploadLogCount("Modification time not kept on the server"), 1) << Lines();
}

TEST_F(Sftp, WrongPasswordAndMissingKeyFileHaveTheirTexts) {
  // No user's password is known here, so the password road is proven by its refusal.
  const fs::path ini = host_ / "sftp.ini";
  IniWrite(sshd_->host(), "fingerprint",
           testing_servers::KeygenFingerprint(dir_ / "host_key.pub", "sha256"), ini);
  settings_.transferCount = 1;
  try {
    Uploader().DoUpload("sftp",
                        To(sshd_->host(), testing_servers::CurrentUser(), kPassword, "", ""),
                        local_.string(), "");
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.description(), "SFTP Übertragung. Hinweis: Benutzername oder Kennwort ist falsch.");
  }
  IniWrite(sshd_->host(), "privateKeyfile", (dir_ / "missing_key").string(), ini);
  try {
    Uploader().DoUpload("sftp", To(sshd_->host(), "u", kPassword, "", ""), local_.string(), "");
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_NE(e.description().find("missing_key nicht gefunden."), std::string::npos);
  }
}

// --- FTPS, SFTP with useTls, plain FTP ----------------------------------------------------

class Ftp : public Upload {
 protected:
  std::unique_ptr<FtpServer> Start(bool tls, long dropAfter = 0, const std::string& perm = {},
                                   bool noMfmt = false) {
    FtpServerOptions o;
    o.dropAfter = dropAfter;
    o.perm = perm;
    o.noMfmt = noMfmt;
    o.home = dir_ / "remote";
    o.password = kPassword;
    o.log = dir_ / "ftp_server.log";
    if (tls) {
      o.cert = dir_ / "cert.pem";
      o.key = dir_ / "key.pem";
      EXPECT_TRUE(testing_servers::MakeSelfSignedCert(o.cert, o.key));
    }
    return std::make_unique<FtpServer>(o);
  }
  // How often the server was sent `verb` since the last clearing, from its own log.
  int Sent(const std::string& verb) const {
    return Occurrences(ReadAll(dir_ / "ftp_server.log"), "CMD " + verb + "\n");
  }
  void ClearServerLog() const { fs::resize_file(dir_ / "ftp_server.log", 0); }
};

TEST_F(Ftp, FtpsUploadsIntoTheRemoteFolderAndRefusesAWrongPassword) {
  auto server = Start(true);
  settings_.transferCount = 1;
  EXPECT_TRUE(Uploader().DoUpload("FTPS",
                                  To(server->host(), "fern", kPassword, "sub/dir", "-passive=1"),
                                  local_.string(), "XML"))
      << Lines();
  EXPECT_EQ(Listed(dir_ / "remote" / "sub" / "dir"), "listing.xml,second.XML");
  try {
    Uploader().DoUpload("ftps", To(server->host(), "fern", "wrong", "", ""), local_.string(), "");
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "DoUploadToFtpSByWinScp");
    EXPECT_EQ(e.description(), "SFTP Übertragung. Hinweis: Benutzername oder Kennwort ist falsch.");
  }
}

TEST_F(Ftp, ATransferCountOfOneOrLessStillLogsInTwice) {
  auto server = Start(true);
  for (int count : {1, 0}) {
    std::error_code ec;
    fs::resize_file(dir_ / "ftp_server.log", 0, ec);
    settings_.transferCount = count;
    EXPECT_THROW(Uploader().DoUpload("ftps", To(server->host(), "fern", "wrong", "", ""),
                                     local_.string(), ""),
                 HostError);
    const std::string log = ReadAll(dir_ / "ftp_server.log");
    size_t logins = 0;
    for (size_t at = log.find("CMD PASS"); at != std::string::npos;
         at = log.find("CMD PASS", at + 1))
      ++logins;
    EXPECT_EQ(logins, 2u) << count;
  }
}

TEST_F(Ftp, FtpsAskedForActiveModeNeverSendsUnprotectedData) {
  // The server refuses unprotected data channels: where libcurl would skip the handshake on an
  // active data connection, the upload stays passive and still arrives.
  auto server = Start(true);
  settings_.transferCount = 1;
  EXPECT_TRUE(Uploader().DoUpload(
      "FTPS", To(server->host(), "fern", kPassword, "aktiv", "-passive=0"), local_.string(), "XML"))
      << Lines();
  EXPECT_EQ(Listed(dir_ / "remote" / "aktiv"), "listing.xml,second.XML");
}

TEST_F(Ftp, ADroppedFtpsUploadLeavesNoPartialFileOnTheServer) {
  // The server ends the session once it holds 50,000 bytes of the file.
  auto server = Start(true, 50000);
  settings_.transferCount = 1;
  dir_.Write("transfer/out/a drop.xml", std::string(500000, 'x'));
  EXPECT_THROW(Uploader().DoUploadFtpS(To(server->host(), "fern", kPassword, "in", ""),
                                       local_.string(), "xml"),
               HostError);
  EXPECT_EQ(Count("Unvollständige Datei in/a drop.xml auf dem Server gelöscht"), 1) << Lines();
  EXPECT_FALSE(fs::exists(dir_ / "remote" / "in" / "a drop.xml"));
}

TEST_F(Ftp, AStopInTheMiddleOfAnFtpsFileRemovesItAndEndsTheUpload) {
  auto server = Start(true);
  StopInTheMiddleOfAFile("ftps", To(server->host(), "fern", kPassword, "in", ""));
}

TEST_F(Ftp, FtpsAndSftpWithUseTlsKeepTheLocalTimeUnlessNoPreserveTimeIsOn) {
  auto server = Start(true);
  for (const std::string protocol : {"ftps", "sftp"}) {
    if (protocol == "sftp") IniWrite(server->host(), "useTls", "1", host_ / "sftp.ini");
    for (const bool keep : {true, false}) {
      const std::string folder = protocol + (keep ? "-kept" : "-fresh");
      SCOPED_TRACE(folder);
      const bool pause = keep && protocol == "ftps";
      ClearServerLog();
      EXPECT_TRUE(
          SendDated(protocol, To(server->host(), "fern", kPassword, folder, ""), !keep, pause))
          << Lines();
      ExpectTimes(folder, keep);
      EXPECT_EQ(Sent("FEAT"), keep ? 1 : 0);
      EXPECT_EQ(Sent("MFMT"), keep ? 2 : 0);
      EXPECT_EQ(Sent("PASS"), 1);  // asking FEAT needs no login of its own
      EXPECT_EQ(UploadLogCount("not kept"), 0) << Lines();
      EXPECT_EQ(Count("SetBatchPause"), pause ? 1 : 0) << Lines();
      EXPECT_EQ(Count("8 DoUploadToFtpSByWinScp: SetBatchPause=1 hat hier keine Wirkung"),
                pause ? 1 : 0)
          << Lines();
    }
  }
}

TEST_F(Ftp, AnFtpsTimeRefusedOrNotListedIsLoggedOnceAndTheUploadCounts) {
  for (const bool listed : {true, false}) {
    SCOPED_TRACE(listed ? "refused" : "not listed");
    // pyftpdlib without "T" lists MFMT but refuses it.
    auto server = Start(true, 0, listed ? "elradfmwM" : "", !listed);
    ClearServerLog();
    EXPECT_TRUE(SendDated("ftps", To(server->host(), "fern", kPassword, "in", ""), false))
        << Lines();
    ExpectTimes("in", false);
    EXPECT_EQ(Count("8 Übertragung:"), 0) << Lines();
    EXPECT_EQ(UploadLogCount("Modification time not kept on the server"), 1) << Lines();
    if (listed) continue;
    EXPECT_EQ(Sent("FEAT"), 1);
    EXPECT_EQ(Sent("MFMT"), 0);
    EXPECT_EQ(UploadLogCount("not kept on the server ('listing.xml'): the server does not list "
                             "MFMT"),
              1)
        << Lines();
  }
}

TEST_F(Ftp, SftpWithUseTlsNeedsNoFingerprint) {
  auto server = Start(true);
  IniWrite(server->host(), "useTls", "1", host_ / "sftp.ini");
  settings_.transferCount = 1;
  EXPECT_TRUE(Uploader().DoUpload("sftp", To(server->host(), "fern", kPassword, "", ""),
                                  local_.string(), ""))
      << Lines();
  EXPECT_TRUE(fs::exists(dir_ / "remote" / "pack.zip"));
  IniCacheReset();
  EXPECT_EQ(IniGet(server->host(), "fingerprint", "-", host_ / "sftp.ini"), "-");
}

TEST_F(Ftp, PlainFtpGoesThroughTheTransferLayer) {
  auto server = Start(false);
  cUtil util;
  cFTPTransferV2 ftp;
  TransferHost th;
  th.Util = &util;
  th.Folder = host_.string();
  ftp.Init("", th);
  settings_.ftpProxy = ":" + std::to_string(server->port());  // passive: the port comes from here
  auto up = Uploader(
      [&](const std::string& h, const std::string& u, const std::string& p, const std::string& l,
          const std::string& r, const std::string& e, const std::string& proxy,
          bool strict) { return ftp.FtpSendFolder(h, u, p, l, r, e, proxy, strict); });
  EXPECT_TRUE(
      up.DoUpload("", To("127.0.0.1", "fern", kPassword, "plain", ""), local_.string(), "ZIP"));
  EXPECT_EQ(Listed(dir_ / "remote" / "plain"), "pack.zip");
}

// --- ncftpput -----------------------------------------------------------------------------

TEST_F(Ftp, NcFtpPutSendsIntoTheRemoteFolderWithAPrivateLogin) {
  auto server = Start(false);
  fs::create_directories(dir_ / "remote" / "nc");
  settings_.useNcFtp = true;
  settings_.transferCount = 1;
  EXPECT_TRUE(Uploader().DoUpload("", To(server->host(), "fern", kPassword, "nc", ""),
                                  local_.string(), "xml"));
  EXPECT_EQ(Listed(dir_ / "remote" / "nc"),
            "listing.xml,second.XML");  // our expansion ignores case
  const std::string log = ReadAll(host_ / "Dat" / "ftp_ncftpput.log");
  EXPECT_FALSE(log.empty());
  EXPECT_EQ(log.find(kPassword), std::string::npos);
}

// As on the other roads, the server's SIZE after the upload: a file it keeps in part fails the
// attempt and goes, and the next attempt sends it whole.
TEST_F(Ftp, NcFtpPutUploadsAreComparedWithTheServersSize) {
  FtpServerOptions o;
  o.home = dir_ / "remote";
  o.password = kPassword;
  o.cutOnce = true;
  FtpServer server(o);
  fs::create_directories(dir_ / "remote" / "nc");
  std::string whole(300000, 'x');
  for (size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<char>(i * 7919 % 251);
  dir_.Write("transfer/out/cut.xml", whole);
  settings_.useNcFtp = true;
  settings_.transferCount = 2;
  EXPECT_TRUE(Uploader().DoUpload("", To(server.host(), "fern", kPassword, "nc", ""),
                                  local_.string(), "xml"));
  EXPECT_TRUE(ReadAll(dir_ / "remote" / "nc" / "cut.xml") == whole);
  EXPECT_EQ(Count("The server holds 150000 of the 300000 bytes sent of 'cut.xml'"), 1) << Lines();
  EXPECT_EQ(Count("Unvollständige Datei nc/cut.xml auf dem Server gelöscht"), 1) << Lines();
}

// After a stop, what ncftpput's log shows of each file decides with the server's SIZE: a whole
// file stays and is not called incomplete, a cut one goes, one the server no longer holds is
// named as taken. The stand-in logs as ncftpput does, leaves the files and fails at the stop.
TEST_F(Ftp, AfterAStopNcFtpPutsFilesAreCheckedOneByOne) {
  auto server = Start(false);
  const fs::path inbox = dir_ / "remote" / "nc";
  fs::create_directories(inbox);
  for (const char* name : {"whole.xml", "cut.xml", "taken.xml", "unsent.xml"})
    dir_.Write(fs::path("transfer/out") / name, std::string(1000, 'w'));
  dir_.Write("remote/nc/whole.xml", std::string(1000, 'w'));
  dir_.Write("remote/nc/cut.xml", std::string(400, 'w'));
  dir_.Write("remote/nc/unsent.xml", "an earlier delivery's");
  const fs::path fake =
      dir_.Write("fake_ncftpput",
                 "#!/bin/sh\n"
                 "printf '  Cmd: STOR whole.xml\\n  150: Opening\\n  226: Transfer complete.\\n"
                 "  Cmd: STOR taken.xml\\n  150: Opening\\n"
                 "  Cmd: STOR cut.xml\\n  150: Opening\\n' >> \"$5\"\n"
                 "sleep 0.5\nexit 3\n");
  fs::permissions(fake, fs::perms::owner_all);
  settings_.ncftpput = fake.string();
  settings_.useNcFtp = true;
  settings_.transferCount = 1;
  SetPumpHook([] { SetEsc(); });
  EXPECT_FALSE(Uploader().DoUpload("", To(server->host(), "fern", kPassword, "nc", ""),
                                   local_.string(), "xml"));
  SetPumpHook(nullptr);
  EXPECT_EQ(ReadAll(inbox / "whole.xml"), std::string(1000, 'w'));
  EXPECT_FALSE(fs::exists(inbox / "cut.xml"));
  EXPECT_EQ(ReadAll(inbox / "unsent.xml"), "an earlier delivery's");
  EXPECT_EQ(Count("Unvollständige Datei"), 1) << Lines();
  EXPECT_EQ(Count("Unvollständige Datei nc/cut.xml auf dem Server gelöscht"), 1) << Lines();
  EXPECT_EQ(
      Count("Datei nc/taken.xml wurde vom Server übernommen, bevor sie geprüft werden konnte"), 1)
      << Lines();
  EXPECT_EQ(Count("100 \r\nProzess extern beendet"), 1) << Lines();
}

TEST_F(Upload, NcFtpPutNeverSeesThePasswordOnItsCommandLine) {
  // A stand-in that records its arguments and the login file it was given.
  const fs::path seen = dir_ / "seen.txt";
  const fs::path fake = dir_.Write(
      "fake_ncftpput", "#!/bin/sh\necho \"$@\" > " + seen.string() + "\nstat -c %a \"$2\" >> " +
                           seen.string() + "\ncat \"$2\" >> " + seen.string() +
                           "\necho \"$2\" >> " + seen.string() + "\nexit 0\n");
  fs::permissions(fake, fs::perms::owner_all);
  settings_.ncftpput = fake.string();
  settings_.useNcFtp = true;
  EXPECT_TRUE(Uploader().DoUpload("", To("ftp.example:2121", "fern", kPassword, "", ""),
                                  local_.string(), ""));
  std::istringstream lines(ReadAll(seen));
  std::string args, mode, loginPath, line, content;
  std::getline(lines, args);
  std::getline(lines, mode);
  while (std::getline(lines, line)) {
    content += line + "\n";
    loginPath = line;
  }
  EXPECT_EQ(args.find(kPassword), std::string::npos) << args;
  EXPECT_NE(args.find("-P 2121 / "), std::string::npos) << args;  // no remote folder: the root
  EXPECT_NE(args.find("pack.zip"), std::string::npos);
  EXPECT_EQ(mode, "600");
  EXPECT_NE(content.find("host ftp.example\nuser fern\npass " + std::string(kPassword)),
            std::string::npos);
  EXPECT_FALSE(fs::exists(loginPath)) << "the login file stays behind";
}

TEST_F(Upload, NcFtpPutToAClosedPortGivesTheExitText) {
  settings_.useNcFtp = true;
  settings_.transferCount = 2;
  const std::string server = "127.0.0.1:" + std::to_string(SshdServer::FreePort());
  try {
    Uploader().DoUpload("", To(server, "fern", kPassword, "", ""), local_.string(), "");
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 1);
    EXPECT_EQ(e.source(), "DoUploadToFtpByNcFtpPut");
    EXPECT_EQ(e.description(), "Konnte keine Verbindung zum Server aufbauen. Log-File: " +
                                   host_.string() + "\\Dat\\ftp_ncftpput.log");
  }
  EXPECT_EQ(Count("8 Übertragung: Konnte keine Verbindung zum Server aufbauen."), 1) << Lines();
}

}  // namespace
}  // namespace fern::openimmo
