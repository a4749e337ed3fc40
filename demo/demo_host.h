// The demo host: a complete host folder with a small estate agency in its database, made from
// data tables in demo_host.cpp, the same every time (fixed keys, dates and generated pictures).
//
//   KAVANTOR.EXE                 marker file (the program checks the host folder by it)
//   Kavantor.INI                 host INI
//   sql\sql.ini                  database settings (cdbutil.h) and content languages 1031, 2057
//   DAT\kavantor.db              the host database (schema.sql)
//   System\Language\2057.dic     English dictionary
//   System\Services, System\XML  script and mapping folders of the exporters
//   profiles\Standard\gui.ini    the standard user profile
//   pic.obj\fb\fb<n>_<i>.jpg     listing pictures, named as cKVUtil.h describes
#pragma once

#include <filesystem>
#include <string>

namespace fern::host {

struct DemoHostSummary {
  std::filesystem::path folder;
  std::string connect;  // connection string of its database
  int listings = 0;
  int portals = 0;
  int pictures = 0;
  int fieldValues = 0;
};

// The content of the marker file; a folder whose "KAVANTOR.EXE" holds it is a demo host.
inline constexpr const char* kDemoMarker = "FernDispatcher demo host (not a program)\n";

// The demo user and the keys the tests and the demo script refer to.
inline constexpr const char* kDemoUser = "DEMO";

// Builds the demo host in `folder`. The folder must be missing, empty or an earlier demo host
// (which is removed first); anything else is refused with HostError 50015 naming it, so a
// mistyped path never costs a real folder.
DemoHostSummary BuildDemoHost(const std::filesystem::path& folder);

// Loopback servers that the demo's upload portals deliver to (run-demo starts them).
struct DemoUploadServers {
  int ftpPort = 0;                // 0: no FTP portal
  int sftpPort = 0;               // 0: no SFTP portal
  int ftpsPort = 0;               // 0: no FTPS portals
  std::string sftpUser;           // the account the SFTP server lets in
  std::filesystem::path sftpKey;  // its private key, named in "sftp.ini" as privateKeyfile
};

// Adds the OpenImmo portals "ImmoPortal FTP Demo" (user "immo", password "immo-demo", folder
// "in") and "ImmoPortal SFTP Demo" (folder "upload", key login) to a demo host built by
// BuildDemoHost, and with an FTPS port "ImmoPortal FTPS Demo" (explicit TLS, user "immo",
// password "immo-demo", folder "in"). Each takes every fourth listing. Writes the SFTP server's
// section into the host's "sftp.ini" without a fingerprint: the first contact learns the key and
// the retry uploads. Returns the number of portals added. HostError when the database can't be
// written.
int AddDemoUploadPortals(const std::filesystem::path& folder, const DemoUploadServers& servers);

// Points the company's REST address ("RESTAPI.URL") at the loopback stand-in of the host's REST
// service on `port` ("http://127.0.0.1:<port>/api"), whose users are "1/DEMO" with the password
// "demo" and "local/superAdmin". HostError when the database can't be written.
void SetDemoRestService(const std::filesystem::path& folder, int port);

}  // namespace fern::host
