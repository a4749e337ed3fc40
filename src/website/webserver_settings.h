// The settings of one web-site export run, read by LoadWebServerSettings from the host INI
// ("Kavantor.INI", sections WebServer and OPTIONS) and the host settings table. Each member's
// starting value is the default of its INI read, so a missing key keeps it.
//
// Beyond the classic keys, [WebServer] holds:
//   FTP_PORT         the FTP port of the site host (default 21); the site itself is reached on
//                    HTTP_PORT, so one host text serves both
//   HTTP_TIMEOUT     seconds one site request may take in all (default 300)
//   SERVICE_HOST     service mode: the hosting service's host (may carry ":port"); no default
//   SERVICE_WEBROOT  service mode: the hosting service's absolute web-root path, for the
//                    database script's require line; no default
#pragma once

#include <cstdint>
#include <string>

namespace fern::website {

inline constexpr const char* kRequestTeaser =
    "<b>{Objektart}</b><br>{Wohnfläche#m²}{Zimmer}<BR>{Miete}{Kaufpreis}{PreisEinheit}";
inline constexpr const char* kListingTeaserSwiss =
    "{$land_plz_ort}{$objektart}{$wohnfläche#m²}{$nutzfläche#m²}{zimmer}<br>{miete}{kaufpreis}"
    "{PreisEinheit}";
inline constexpr const char* kListingTeaser =
    "{$land_plz_ort}{$objektart}{$wohnfläche#m²}{$nutzfläche#m²}{zimmer}<br>{miete}{kaufpreis}"
    "{PreisEinheit}{Provision:@prov_int}";

struct WebServerSettings {
  int32_t FILELENGTH = 64000;
  int32_t PICWIDTH = 400;
  std::string OBJEKTEPROSEITE = "20";
  int32_t THUMBNAILBREITE = 200;
  int32_t THUMBNAILGROESSE = 10000;
  std::string PROTOKOLLMAIL;
  std::string MEMBERZONE = "Mitgliederbereich";
  std::string VISITATION = "Termin Besichtigung (Webserver)";
  std::string MEMBERSHIP = "Mitgliedschaft";
  std::string SHOWMEMBERBUTTON = "1";
  std::string SHOWPLEASBUTTON = "1";
  std::string SHOWPARTNERLINKS = "0";
  std::string ANF = kRequestTeaser;
  std::string OBJ_KURZEXPOSE = kListingTeaser;
  std::string MAXLINES = "500";
  std::string MAXBYTES = "200";
  std::string MAXTRANSFERBYTES = "1024";
  std::string DEBUGMODE = "0";
  std::string HTTP_PORT = "80";
  std::string ADDRESSLINK = "{AD_NAME}";
  std::string ObjTrackPlainTextOnly = "0";
  std::string HTTP_PROXY;
  std::string FTP_PROXY;
  std::string WAITREQUEST = "3000";
  std::string FTP_PORT = "21";
  std::string HTTP_TIMEOUT = "300";
  std::string SERVICE_HOST;
  std::string SERVICE_WEBROOT;

  // Derived.
  std::string customerId;
  std::string webServicePassword;  // service mode only
  std::string customerFolder;      // m_wsPfad: "kv_" + up to ten characters of the ID, lower case
  std::string tablePrefix;         // the same as customerFolder
  std::string urlSubPath;          // "" or "/" + [WebServer] <portal name>
};

}  // namespace fern::website
