// The host's business utility: the picture signature switch, the component version, and the
// names of stored listing pictures.
//
// Listing pictures live below the host folder in "pic.obj". A listing's `DATEI` names its base
// ("folder\base"); picture n (0 = the title picture) is "pic.obj\<DATEI>_<n>.<ext>", the online
// title picture (kind "Online") is "pic.obj\<DATEI>_online.<ext>", where <ext> is the first of
// jpg, jpeg, png, gif that exists (any letter case). Descriptions are the lines of
// "pic.obj\<DATEI>.txt": line n+1 for picture n, the line "online" prefixed "Online=" for the
// online picture.
//
// The picture signature is switched in the host INI: section "SIGNATUR", key = the company
// number, else key "ALLE"; "1" is on. Missing means off.
#pragma once

#include <string>

#include "platform/dispatch.h"

namespace fern {

class cKVUtil : public Dispatch {
 public:
  // A build at which every feature of this program is on.
  static constexpr int32_t kComVersion = 520;
  static constexpr int32_t kComMajorVersion = 20;

  bool IsKVSignaturOn(const std::string& hostIniPath, int32_t companyNumber) const;
  int32_t ComVersion() const { return kComVersion; }
  int32_t ComMajorVersion() const { return kComMajorVersion; }

  // Fills `path` with the picture's host path ("" when there is none) and `description`.
  // `textA`/`textB` are the company's short and long picture settings; "Online" in either asks
  // for the online title picture.
  void GetPicFileName(int32_t index, const std::string& hostFolder, const std::string& datei,
                      const std::string& textA, const std::string& textB, std::string& path,
                      std::string& description) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cKVUtil"; }
};

}  // namespace fern
