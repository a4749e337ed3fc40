// An OpenImmo exporter on a fresh demo host with its session open, and helpers to write small
// schemas and mappings and to read documents back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "platform/process.h"
#include "platform/vb.h"
#include "support/demo_host_fixture.h"
#include "support/ftp_server.h"
#include "xml/xml_dom.h"

namespace fern::testing {

struct StateLine {
  int16_t state;
  std::string text;
};

class OpenImmoTest : public ::testing::Test, public DemoHostTest {
 protected:
  void SetUp() override {
    Start();
    InitHostSession();
  }

  // The exporter bound to the session object (call after changing INI or database).
  cImmoXmlV2& X() {
    if (!x_) {
      x_ = std::make_unique<cImmoXmlV2>();
      x_->events.WorkState = [this](int16_t s, const std::string& t) { lines.push_back({s, t}); };
      x_->Attach(app, Session().g_strConnect, 5);
      x_->SetRunStart(vb::Now());
    }
    return *x_;
  }

  std::string Write(const std::string& name, const std::string& text) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path.string();
  }
  XmlDocumentPtr Parse(const std::string& text) {
    auto doc = XmlDocument::Create();
    EXPECT_TRUE(doc->loadXML(text)) << doc->parseError()->reason;
    return doc;
  }

  // A loopback FTP server for the portal, with its folder "in" under "remote" of the test's
  // folder; passive FTP takes its port from the proxy setting, the portal's host names "in".
  std::unique_ptr<testing_servers::FtpServer> PortalFtpServer(const std::string& portal,
                                                              const std::string& user,
                                                              const std::string& password,
                                                              const std::string& alsoSet = "") {
    testing_servers::FtpServerOptions o;
    o.home = dir / "remote";
    o.user = user;
    o.password = password;
    std::filesystem::create_directories(o.home / "in");
    auto server = std::make_unique<testing_servers::FtpServer>(o);
    Ini("OPTIONS", "FTP_PROXY", ":" + std::to_string(server->port()));
    Exec("update Boersen set boersen_host = '127.0.0.1/in'" + alsoSet +
         " where boersen_name = " + cUtil::SqlStr(Variant(portal)));
    return server;
  }
  // What has arrived in that server's "in", sorted; only names ending in `extension` if given.
  std::vector<std::filesystem::path> Arrived(const std::string& extension = "") const {
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::directory_iterator(dir / "remote" / "in"))
      if (extension.empty() || e.path().extension() == extension) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
  }

  // The entry names of a zip archive, one a line.
  static std::string ZipEntries(const std::filesystem::path& archive) {
    ProcessOptions o;
    o.captureStdout = o.captureStderr = true;
    o.timeout = std::chrono::seconds(20);
    const ProcessResult r = RunProcess({"unzip", "-Z1", archive.string()}, o);
    EXPECT_TRUE(r.Succeeded()) << r.err;
    return r.out;
  }

  // A transfer folder of the test's own ("TRANSFERPATH"), so documents land where it can look.
  std::filesystem::path UseWorkFolder() {
    const std::filesystem::path work = dir / "work";
    std::filesystem::create_directories(work);
    Ini("OPTIONS", "TRANSFERPATH", work.string());
    return work;
  }
  // One OpenImmo phase of type 5 over the portal rows the condition selects, unattended.
  void RunPhase(const std::string& where) {
    auto rs = Rows("select * from Boersen where " + where);
    X().StartImmoXML(app, Session().g_strConnect, *rs, false, true, 5);
  }

  int Errors() const {
    int n = 0;
    for (const auto& l : lines) n += l.state >= 100;
    return n;
  }
  std::string Lines(int16_t state) const {
    std::string out;
    for (const auto& l : lines)
      if (l.state == state) out += l.text + "\n";
    return out;
  }

  cFernDispatcher app;
  std::vector<StateLine> lines;
  std::unique_ptr<cImmoXmlV2> x_;
};

// The element tree as "name[attr,attr](child,child)", local names only.
inline std::string Shape(const XmlNodePtr& node) {
  std::string s = node->baseName();
  std::vector<std::string> attrs;
  if (auto map = node->attributes())
    for (int32_t i = 0; i < map->length(); ++i) {
      const std::string n = map->item(i)->nodeName();
      if (n.rfind("xmlns", 0) != 0 && n.rfind("xsi:", 0) != 0) attrs.push_back(n);
    }
  if (!attrs.empty()) {
    s += "[";
    for (size_t i = 0; i < attrs.size(); ++i) s += (i ? "," : "") + attrs[i];
    s += "]";
  }
  auto kids = node->ChildElements();
  if (!kids.empty()) {
    s += "(";
    for (size_t i = 0; i < kids.size(); ++i) s += (i ? "," : "") + Shape(kids[i]);
    s += ")";
  }
  return s;
}

}  // namespace fern::testing
