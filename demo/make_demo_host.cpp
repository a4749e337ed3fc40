// make-demo-host <folder> [--ftp-port N] [--ftps-port N] [--sftp-port N --sftp-user NAME
//   --sftp-key FILE] [--web-http-port N --web-ftp-port N --web-db-port N] [--rest-port N]:
// builds the demo host there, afresh, and prints what it holds. With ports it adds the portals
// that upload to loopback FTP, FTPS and SFTP servers on them; with --web-http-port,
// --web-ftp-port and --web-db-port the web site's portal uses the loopback site on them; with
// --rest-port the REST transfer uses the loopback REST stand-in. --help prints the usage.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "demo/demo_host.h"
#include "demo_website.h"
#include "platform/host_error.h"

namespace {

// A port is a number from 1 to 65535 and nothing else; 0 when the text is none.
int PortOf(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  const int port = std::atoi(text.c_str());
  return port <= 65535 ? port : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* usage =
      "usage: make-demo-host <folder> [--ftp-port N] [--ftps-port N] [--sftp-port N "
      "--sftp-user NAME --sftp-key FILE] [--web-http-port N --web-ftp-port N --web-db-port N] "
      "[--rest-port N]\n";
  // A switch is never taken for the folder: "./-name" names a folder beginning with "-".
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::printf("%s", usage);
    return 0;
  }
  if (argc < 2 || argc % 2 != 0 || first.starts_with("-")) {
    std::fprintf(stderr, "%s", usage);
    return 2;
  }
  fern::host::DemoUploadServers servers;
  fern::demo::DemoWebsiteServers website;
  int restPort = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--ftp-port") {
      servers.ftpPort = PortOf(value);
    } else if (name == "--ftps-port") {
      servers.ftpsPort = PortOf(value);
    } else if (name == "--sftp-port") {
      servers.sftpPort = PortOf(value);
    } else if (name == "--rest-port") {
      restPort = PortOf(value);
    } else if (name == "--sftp-user") {
      servers.sftpUser = value;
    } else if (name == "--sftp-key") {
      servers.sftpKey = value;
    } else if (name == "--web-http-port") {
      website.httpPort = PortOf(value);
    } else if (name == "--web-ftp-port") {
      website.ftpPort = PortOf(value);
    } else if (name == "--web-db-port") {
      website.databasePort = PortOf(value);
    } else {
      std::fprintf(stderr, "%s", usage);
      return 2;
    }
    if (name.ends_with("-port") && PortOf(value) == 0) {
      std::fprintf(stderr, "make-demo-host: %s takes a port from 1 to 65535, not '%s'\n%s",
                   name.c_str(), value.c_str(), usage);
      return 2;
    }
  }
  try {
    fern::host::DemoHostSummary s = fern::host::BuildDemoHost(argv[1]);
    s.portals += fern::host::AddDemoUploadPortals(s.folder, servers);
    fern::demo::SetUpDemoWebsite(s.folder, website);
    if (restPort > 0) fern::host::SetDemoRestService(s.folder, restPort);
    std::printf("demo host: %s\n", s.folder.c_str());
    std::printf("  user %s, %d listings with %d field values, %d pictures, %d portals\n",
                fern::host::kDemoUser, s.listings, s.fieldValues, s.pictures, s.portals);
    return 0;
  } catch (const fern::HostError& e) {
    std::fprintf(stderr, "make-demo-host: %s\n", e.description().c_str());
    return 1;
  }
}
