#include "demo_website.h"

#include "host/cDal.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"

namespace fern::demo {

void SetUpDemoWebsite(const std::filesystem::path& hostFolder, const DemoWebsiteServers& servers) {
  if (servers.httpPort <= 0) return;
  cDal dal;
  dal.Init((hostFolder / "sql" / "sql.ini").string());
  // "127.0.0.1", never "localhost": mysqli takes that as the system's socket.
  dal.ExecQuery(dal.ConnectString(),
                "update Boersen set boersen_host='127.0.0.1', webdb_host='127.0.0.1:" +
                    std::to_string(servers.databasePort) +
                    "', webdb_database='fernblick', webdb_user='fernblick', webdb_password=" +
                    cUtil::SqlStr(Variant(cUtil::Encrypt("db-demo", host::kPortalPasswordKey))) +
                    " where boersen_name='Eigene Homepage'");
  const std::string ini = (hostFolder / "Kavantor.INI").string();
  cUtil util;
  util.IniWrite("WebServer", "HTTP_PORT", std::to_string(servers.httpPort), ini);
  util.IniWrite("WebServer", "FTP_PORT", std::to_string(servers.ftpPort), ini);
  util.IniWrite("WebServer", "WAITREQUEST", "200", ini);
  util.IniWrite("WebServer", "HTTP_TIMEOUT", "120", ini);
}

}  // namespace fern::demo
