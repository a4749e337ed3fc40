// The PHP unpack library and stubs under php-cli, on containers packed by cBigFileV2.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/cp1252.h"
#include "services/cBigFileV2.h"
#include "site_servers.h"
#include "support/scratch_dir.h"
#include "website/cWebserverV2.h"

namespace fern {
namespace {

namespace fs = std::filesystem;
using testing::RunTool;
using testing::ScratchDir;

std::string Invert(std::string s) {
  for (char& c : s) c = static_cast<char>(~static_cast<unsigned char>(c));
  return s;
}
std::string Length(size_t n) {
  std::string digits = std::to_string(n);
  return Invert(std::string(12 - digits.size(), '0') + digits);
}
// One record of mode 0 (data as it stands).
std::string Record(const std::string& name, const std::string& path, const std::string& data) {
  const std::string info = "|" + name + "|" + path + "|" + std::to_string(data.size()) + "|d|0|0|";
  return Length(info.size()) + Invert(info) + Length(data.size()) + data;
}

ProcessResult RunStub(const fs::path& folder, const std::string& stub) {
  ProcessOptions o;
  o.captureStdout = o.captureStderr = true;
  o.workingDir = folder;
  o.timeout = std::chrono::seconds(30);
  o.cancelOnEsc = false;
  return RunProcess({"php", "-d", "error_reporting=E_ALL", "-d", "display_errors=stderr", stub}, o);
}

TEST(UnpackScripts, OurContainersUnpackByteIdentically) {
  ScratchDir dir;
  std::string binary;
  uint32_t x = 2463534242u;  // xorshift: bytes that do not compress
  for (int i = 0; i < 70000; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    binary += static_cast<char>(x & 0xFF);
  }
  const std::string umlaut = cp1252::FromUtf8("grundriß_äö.txt");  // names travel in Windows-1252
  dir.Write("site/a/b/c/deep.txt", "tief unten");
  dir.Write("site/empty.txt", "");
  dir.Write("site/pic.obj/bild.jpg", binary);
  dir.Write("site/" + std::string("grundriß_äö.txt"), "Umlaute");
  cBigFileV2 big;
  big.MaxTransferBytes(40);  // the picture overflows the first container
  std::string name = (dir / "out" / "transfer.big").string();
  fs::create_directories(dir / "out");
  big.bigOpenWrite(name);
  big.bigWriteFolder((dir / "site").string(), "");
  big.bigClose();
  ASSERT_EQ(big.CountFiles(), 2);

  cWebserverV2 web;
  ASSERT_TRUE(web.CreateTransferScript((dir / "out" / "transfer").string(), "transfer", 2));
  for (int k = 1; k <= 2; ++k) {
    const ProcessResult r = RunStub(dir / "out", "transfer_" + std::to_string(k) + ".php");
    EXPECT_TRUE(r.Succeeded()) << r.err;
    EXPECT_NE(r.out.find("SUCCESS"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir / "out" / ("transfer_" + std::to_string(k) + ".big")));
  }
  EXPECT_EQ(dir.Read("out/a/b/c/deep.txt"), "tief unten");
  EXPECT_TRUE(fs::exists(dir / "out" / "empty.txt"));
  EXPECT_EQ(fs::file_size(dir / "out" / "empty.txt"), 0u);
  EXPECT_EQ(dir.Read("out/pic.obj/bild.jpg"), binary);
  EXPECT_EQ(dir.Read(fs::path("out") / umlaut), "Umlaute");
  // The library's text is Windows-1252 with CR LF, and it parses.
  const std::string library = dir.Read("out/transfer.php");
  EXPECT_EQ(library.rfind("<?php\r\n", 0), 0u);
  EXPECT_NE(library.find("\r\n?>"), std::string::npos);
  ASSERT_TRUE(web.CreateStatScript((dir / "out" / "stat.php").string(), "transfer"));
  for (const char* script : {"transfer_1.php", "stat.php"}) {
    const ProcessResult lint = RunTool({"php", "-l", (dir / "out" / script).string()});
    EXPECT_TRUE(lint.Succeeded()) << lint.out;
  }
}

TEST(UnpackScripts, CraftedRecordsAreRefusedAndTheContainerStillGoes) {
  const struct {
    const char* what;
    std::string record;
  } cases[] = {
      {"absolute path", Record("x.txt", "/tmp/", "boom")},
      {"parent folder", Record("x.txt", "..\\..\\", "boom")},
      {"parent inside", Record("x.txt", "a\\..\\..\\", "boom")},
      {"separator in name", Record("../x.txt", "", "boom")},
      {"backslash in name", Record("..\\x.txt", "", "boom")},
      {"truncated", Record("x.txt", "", "boom").substr(0, 40)},
      {"wrong magic", ""},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    const fs::path site = dir / "www" / "kv_site";
    fs::create_directories(site);
    const std::string magic = std::string(c.what) == "wrong magic" ? "BIGFILX" : "BIGFILE";
    dir.Write("www/kv_site/t_1.big", magic + Record("ok.txt", "", "fine") + c.record);
    cWebserverV2 web;
    ASSERT_TRUE(web.CreateTransferScript((site / "t").string(), "t", 1));
    const ProcessResult r = RunStub(site, "t_1.php");
    EXPECT_EQ(r.out.find("SUCCESS"), std::string::npos) << c.what << ": " << r.out;
    EXPECT_FALSE(fs::exists(site / "t_1.big")) << c.what;
    EXPECT_FALSE(fs::exists(dir / "www" / "x.txt")) << c.what;
    EXPECT_FALSE(fs::exists(dir / "x.txt")) << c.what;
  }
}

}  // namespace
}  // namespace fern
