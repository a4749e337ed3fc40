// A web-site exporter on a fresh demo host, with the site's servers on loopback: an FTP server
// whose folder is the document root of a php -S server, and the test binary's MariaDB. A router
// script lets a test make chosen site addresses fail (faults.txt: "<path ending> <status>
// [body with C escapes]" per line; status "fatal" dies as PHP does on a host that shows its
// errors, "run" runs the script and adds the body to its answer, "sleep" makes "sleeping" beside
// the router and answers after the body's seconds).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "platform/vb.h"
#include "services/cFTPTransferV2.h"
#include "services/cImmoHelperV2.h"
#include "services/curl_session.h"
#include "site_servers.h"
#include "support/demo_host_fixture.h"
#include "support/ftp_server.h"
#include "support/vsftpd_server.h"
#include "website/cWebserverV2.h"

namespace fern::testing {

inline constexpr const char* kRouter = R"PHP(<?php
$rules = @file(__DIR__ . '/faults.txt', FILE_IGNORE_NEW_LINES);
$path = parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH);
foreach ($rules ? $rules : array() as $rule) {
  $parts = explode(' ', $rule, 3);
  if (count($parts) >= 2 && substr($path, -strlen($parts[0])) === $parts[0]) {
    if ($parts[1] === 'fatal') {
      ini_set('display_errors', '1');
      ini_set('html_errors', '1');
      kvws_undefined();
    }
    if ($parts[1] === 'sleep') {
      touch(__DIR__ . '/sleeping');
      sleep((int)$parts[2]);
      return true;
    }
    if ($parts[1] === 'run') {
      $script = $_SERVER['DOCUMENT_ROOT'] . $path;
      chdir(dirname($script));
      ob_start();
      include $script;
      echo ob_get_clean() . (count($parts) > 2 ? stripcslashes($parts[2]) : '');
      return true;
    }
    http_response_code((int)$parts[1]);
    echo count($parts) > 2 ? stripcslashes($parts[2]) : '';
    return true;
  }
}
return false;
)PHP";

struct Line {
  int16_t state;
  std::string text;
};

class WebsiteTest : public ::testing::Test, public DemoHostTest {
 public:
  void SetUp() override {
    Start();
    InitHostSession();
    std::filesystem::create_directories(www());
    std::filesystem::create_directories(dir / "work");
    Ini("OPTIONS", "TRANSFERPATH", (dir / "work").string());
    Ini("WebServer", "WAITREQUEST", "0");
    Ini("WebServer", "HTTP_TIMEOUT", "20");
    // The site's own scripts, as the demo host carries them.
    std::filesystem::copy(std::filesystem::path(FERN_SOURCE_DIR) / "demo" / "website" / "system",
                          host() / "system", std::filesystem::copy_options::recursive);
  }

  std::filesystem::path www() const { return dir / "www"; }

  int Count(const std::string& sql) { return vb::CLng(Rows(sql)->Value(size_t{0})); }
  static std::string Cipher(const std::string& plain) {
    return cUtil::Encrypt(plain, host::kPortalPasswordKey);
  }

  // Starts the FTP and web servers; the portal "Eigene Homepage" points at them and at a fresh
  // database.
  void StartSite(const std::string& ftpUser = "web", const std::string& ftpPassword = "web-demo",
                 const std::string& perm = "") {
    testing_servers::FtpServerOptions o;
    o.home = www();
    o.user = ftpUser;
    o.password = ftpPassword;
    o.perm = perm;
    ftp = std::make_unique<testing_servers::FtpServer>(o);
    StartWeb(ftp->port());
  }
  // The same site with Debian's vsftpd, which lists without MLSD, as its FTP server.
  void StartSiteOnVsftpd(const std::vector<std::string>& extra = {}) {
    vsftpd = std::make_unique<testing_servers::Vsftpd>(
        testing_servers::VsftpdOptions{www(), dir / "vsftpd", extra});
    StartWeb(vsftpd->port());
    Exec("update Boersen set loginname='" + std::string(testing_servers::Vsftpd::kUser) +
         "', password='" + Cipher("buero@example.com") + "' where boersen_name='Eigene Homepage'");
  }
  // The web server and a fresh database for the FTP server on `ftpPort`.
  void StartWeb(int ftpPort) {
    std::ofstream(dir / "router.php") << kRouter;
    php = std::make_unique<PhpServer>(www(), dir / "router.php");
    database = Database().NewDatabase();
    Ini("WebServer", "HTTP_PORT", std::to_string(php->port()));
    Ini("WebServer", "FTP_PORT", std::to_string(ftpPort));
    Exec("update Boersen set boersen_host='127.0.0.1', webdb_host='" + Database().host() +
         "', webdb_database='" + database + "', webdb_user='site', webdb_password='" +
         Cipher("db-pw") + "' where boersen_name='Eigene Homepage'");
  }
  // Points the portal at a fresh database of the server with grant tables, reached by an
  // account of its own with the given privileges ("ALL", "SELECT, CREATE", ...) and limits
  // ("WITH MAX_CONNECTIONS_PER_HOUR 3" or "").
  void UseAccount(const std::string& user, const std::string& password,
                  const std::string& privileges, const std::string& limits = "") {
    db_ = &GrantingDatabase();
    database = db_->NewDatabase();
    db_->Query("create user '" + user + "'@'%' identified by '" + password + "'; grant " +
                   privileges + " on " + database + ".* to '" + user + "'@'%' " + limits,
               database);
    Exec("update Boersen set webdb_host='" + db_->host() + "', webdb_database='" + database +
         "', webdb_user='" + user + "', webdb_password='" + Cipher(password) +
         "' where boersen_name='Eigene Homepage'");
  }
  MariaDb& Db() const { return db_ ? *db_ : Database(); }
  int SiteRows(const std::string& table) const {
    return std::stoi(Db().Query("select count(*) from " + table, database));
  }
  // The listings the portal sends, as the run counts them.
  int ListingsToSend() {
    return Count(
        "select count(1) from boersenobj inner join obj on boersenobj.obj_dsn=obj.dsn where "
        "(boersenobj.kurz = 1 or boersenobj.Lang = 1) and obj.transfer=0 and obj.FArchiv<2 and "
        "boersen_dsn in (select DSN from Boersen where boersen_name='Eigene Homepage')");
  }
  // The status of a GET of the site's path (0 when nothing answered).
  long HttpStatus(const std::string& path) const {
    services::CurlSession session;
    return session.Get("127.0.0.1:" + std::to_string(php->port()) + "/" + path, 10).status;
  }
  // The files below the site's root whose path holds `part`, one per line.
  std::string SiteFiles(const std::string& part) const {
    std::set<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(www()))
      if (e.is_regular_file() &&
          std::filesystem::relative(e.path(), www()).string().find(part) != std::string::npos)
        found.insert(std::filesystem::relative(e.path(), www()).string());
    std::string out;
    for (const std::string& f : found) out += f + "\n";
    return out;
  }

  void Fault(const std::string& rule) {
    std::ofstream(dir / "faults.txt", std::ios::app) << rule << "\n";
  }
  // The next case of a table-driven test starts without the last run's lines and faults.
  void NextCase() {
    lines.clear();
    std::error_code ec;
    std::filesystem::remove(dir / "faults.txt", ec);
  }

  // One run of the portal, as the run driver makes it.
  void RunPortal(const std::string& name = "Eigene Homepage") {
    portalRows = Rows("select * from Boersen where boersen_name='" + name + "'");
    auto& rs = portalRows;
    web = std::make_unique<cWebserverV2>();
    web->events.WorkState = [this](int16_t s, const std::string& t) { lines.push_back({s, t}); };
    web->Init(Session().g_strConnect, app, Variant(false));
    web->Transport().limits.connectTimeoutMs = 3000;
    web->ImmoHelper().FtpTransfer().Limits().connectTimeoutMs = 3000;
    web->Transfer(*rs, 0, 0, true);
  }

  // An exporter as the run has it before the import: settings loaded and the work tree made.
  void PrepareExporter(bool serviceMode = false) {
    web = std::make_unique<cWebserverV2>();
    web->events.WorkState = [this](int16_t s, const std::string& t) { lines.push_back({s, t}); };
    web->Init(Session().g_strConnect, app, Variant(false));
    portal = Rows("select * from Boersen where boersen_name='Eigene Homepage'");
    web->portalName = "Eigene Homepage";
    web->serviceMode = serviceMode;
    web->LoadWebServerSettings("", "");
    web->m_TmpPfad = web->GetTransferTempPath() + "kvws\\WS_Eigene_Homepage\\";
    web->CreateTransferFolders();
  }

  // A customer script in the exporter's script folder.
  void Hook(const std::string& vbs) {
    dir.Write(host() / "system" / "services" / "webserver" / "hooks.vbs", vbs);
  }

  std::string Errors() const {
    std::string out;
    for (const Line& l : lines)
      if (l.state >= 100) out += l.text + "\n";
    return out;
  }
  bool Said(const std::string& part) const {
    for (const Line& l : lines)
      if (l.text.find(part) != std::string::npos) return true;
    return false;
  }
  std::string Columns(const std::string& table) const {
    return Db().Query(
        "select column_name from information_schema.columns where "
        "table_schema='" +
            database + "' and table_name='" + table + "' order by ordinal_position",
        database);
  }

  cFernDispatcher app;
  std::unique_ptr<testing_servers::FtpServer> ftp;
  std::unique_ptr<testing_servers::Vsftpd> vsftpd;
  std::unique_ptr<PhpServer> php;
  std::string database;
  MariaDb* db_ = nullptr;  // the server of `database` (null: the one without grant tables)
  std::unique_ptr<cWebserverV2> web;
  std::shared_ptr<db::Recordset> portalRows;  // what the run was handed
  std::shared_ptr<db::Recordset> portal;      // the portal row PrepareExporter read
  std::vector<Line> lines;
};

}  // namespace fern::testing
