// What the OpenImmo export reads from the host's settings for the portal in hand.
#pragma once

#include <cstdint>
#include <string>

namespace fern::openimmo {

struct ExportSettings {
  std::string xmlFolder;  // host path
  std::string schemaType = "openimmo";
  std::string ns = "http://www.openimmo.de";
  std::string anidName = "openimmo_anid";
  std::string obidName = "openimmo_obid";
  std::string typeFolder = "\\openimmo";
  std::string prefix = "imo:";
  std::string zipTool;
  std::string httpProxy, ftpProxy;                 // [OPTIONS] HTTP_PROXY, FTP_PROXY
  int32_t transferDelay = 500, transferCount = 3;  // [OPTIONS] TRANSFERDELAY, TRANSFERCOUNT
  int32_t grundPicLength = 1000000, grundPicWidth = 800, picLength = 1000000, picWidth = 800;
};

}  // namespace fern::openimmo
