// A listing's pictures and attachments: copied (pictures shrunk) into the transfer folder and
// described by `anhang` elements, with the customer's picture hooks in between.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/state_events.h"
#include "db/Recordset.h"
#include "openimmo/export_settings.h"
#include "services/cImmoHelperV2.h"
#include "xml/xml_dom.h"

namespace fern {

class cFernDispatcher;
class cImmoXmlScriptV2;
class cDal;
class cUtil;

namespace openimmo {

// What the pictures read of the run, as the exporter holds it at each call (single steps run
// without a session object or scripts).
struct AttachmentRun {
  const ExportSettings& settings;
  cFernDispatcher* const& app;
  cUtil* const& util;
  cDal* const& dal;
  const std::string& connect;
  const std::unique_ptr<cImmoHelperV2>& data;
  const std::unique_ptr<cImmoXmlScriptV2>& scripts;
  const bool& insertCopyright;  // the host's signature switch
  const StateEvents& events;
};

class ListingAttachments {
 public:
  explicit ListingAttachments(const AttachmentRun& run) : run_(run) {}

  // Each picture and attachment is copied (pictures shrunk) into the transfer folder `folder`
  // (a host path) and described by a clone of the listing's last `anhang`, inserted before it.
  // Notices go out as InternalState 32. A picture that can't be written gives a notice and no
  // `anhang`; a missing template `anhang` (when one is needed) raises 91; other host errors
  // leave as HostError for the listing filling to skip the listing.
  void FillAnhaenge(XmlDocument& mapping, db::Recordset& rsboersen, db::Recordset& rsObj,
                    db::Recordset& details, XmlDocument& schema, XmlNode& element,
                    const std::string& folder, int32_t version);
  // The listing's pictures: the title picture (online picture and parent pictures first when
  // the portal's frame switches say so), then up to the portal's count, through the picture
  // hooks. The frame is decided per listing; each hook message is raised once.
  void FillBilder(db::Recordset& rsboersen, db::Recordset& rsObj, XmlNode& element,
                  XmlDocument& schema, const std::string& folder);
  // The attachments that the mapping entries below `anhaenge` name: links as they stand, files
  // through CopyAnhangFile.
  void FillAnhangDateien(const std::vector<XmlNodePtr>& entries, db::Recordset& rsboersen,
                         db::Recordset& rsObj, db::Recordset& details, XmlNode& element,
                         const std::string& folder, int32_t version);
  // Copies `file` (as given, else beside the listing's pictures, else in "pic.obj") into
  // `targetFolder`, JPG and GIF shrunk to 64000 bytes and 400 pixels. Returns the target path,
  // "" when the file is not found or can't be written; `title` gets the text after a "#" of
  // `file` without its extension.
  std::string CopyAnhangFile(const std::string& file, const std::string& targetFolder,
                             db::Recordset& rsObj, std::string& title);
  void SetAnhang(db::Recordset& rsboersen, XmlNode& anhang, const std::string& path,
                 const std::string& title, const std::string& group);
  // Group of picture `index` (counted from 1) by its title.
  static std::string PictureGroup(int32_t index, const std::string& title);
  // The frame switches of the portal from the host settings lists "OnlineFrameNegList" and
  // "OnlineRamaNegList" (section "JPGFrame"), and the frame itself.
  void SetPictureFrames(const std::string& portalName);

 private:
  std::string T(const std::string& german, const std::string& p1 = {}) const;
  std::string Ini(const std::string& section, const std::string& key, const std::string& def) const;

  AttachmentRun run_;
};

}  // namespace openimmo
}  // namespace fern
