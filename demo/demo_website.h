// The demo host's web site "Eigene Homepage" on loopback: run-demo starts an FTP server over the
// site's document root, php -S on that root and a MariaDB server, and this points the portal at
// them (own-server mode).
#pragma once

#include <filesystem>

namespace fern::demo {

struct DemoWebsiteServers {
  int httpPort = 0;  // 0: the portal stays as BuildDemoHost made it
  int ftpPort = 0;
  int databasePort = 0;
};

// Sets the portal's host and database (user "fernblick", password "db-demo", database
// "fernblick") and the host INI's [WebServer] ports, with a short pause between site requests.
void SetUpDemoWebsite(const std::filesystem::path& hostFolder, const DemoWebsiteServers& servers);

}  // namespace fern::demo
