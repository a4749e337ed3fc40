// The ImmobilienScout24 REST transfer: one object per type-113 phase. It never talks to the
// portal: it checks that the host user may use the host's REST service, runs the customer's
// hooks, prepares the listings' pictures in the branded folder below "pic.obj" and asks the
// service to publish every portal of the phase with one request; the service uploads on its
// own and reports inside the host.
//
// Everything is reported through WorkState: 0 progress, 4 the publish begins, 6 end of the run,
// 14 a script line, 102 an error. Picture failures also go to InternalState 32.
//
// The branded folder's name (host INI [PicObj] IS24RestFolderNameForBrandedPictures, default
// "branded") must be one plain folder name; anything else ("", ".", "..", a path, a drive) is
// reported and the preparation neither deletes nor writes. Only that folder directly below the
// picture folder is ever emptied.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "core/exporters.h"
#include "db/Recordset.h"
#include "platform/variant.h"

namespace fern {

class cDal;
class cFernDispatcher;
class cIS24RestScript;
class cImmoHelperV2;
class cKavantorAPIMini;
class cKVUtil;
class cUtil;

class cIS24RestTransfer : public RestExporter {
 public:
  static constexpr int32_t kMinBuild = 510;
  static constexpr const char* kTransferName = "IS24RestTransfer";

  cIS24RestTransfer();
  ~cIS24RestTransfer() override;
  cIS24RestTransfer(const cIS24RestTransfer&) = delete;
  cIS24RestTransfer& operator=(const cIS24RestTransfer&) = delete;

  // True when the host is new enough (build 510 or more, or major version above 19) and the
  // REST client, picture settings, listing service and hooks are set up. A too old host is
  // reported (102 stars, 102 the reason, 6 empty) and gives false. Other failures are HostError.
  Variant Init(cFernDispatcher& KVApp, std::string& strConnect, std::string& strUserDSN) override;
  // The whole run over the portal rows; no error leaves it (it becomes a ">>>> " line).
  void Transfer(db::Recordset& rsboersen) override;

  // What Init read, for the run's own checks.
  const std::string& PictureFolder() const { return picFolder_; }
  const std::string& BrandedFolder() const { return branded_; }
  // floor-plan length, floor-plan width, picture length, picture width
  const int32_t* PictureLimits() const { return limits_; }
  cKavantorAPIMini* Api() const { return api_.get(); }
  // The publish body for the portal rows ("" when none has a key).
  std::string BuildPublishXml(db::Recordset& rsboersen);

 protected:
  virtual int32_t VersionBuild() const;
  virtual int32_t VersionMajor() const;

 private:
  enum class Hook { kBeforeTransfer, kAfterMakePicturesApiReady, kAfterTransfer };

  bool CheckApiAccess();
  std::string GetPropertyInheritanceXml() const;
  std::string GetImageInheritanceXml() const;
  std::string GetPortalNames(db::Recordset& rsboersen) const;
  void RunScript(Hook hook, db::Recordset& rsboersen, bool blnTransferOk);

  // Picture preparation (cIS24RestTransfer_pictures.cpp).
  void MakePicturesApiReady(db::Recordset& rsboersen);
  void PrepareEstatePictures(const std::string& dsn, std::set<std::string>& visited);
  bool PrepareBrandedPictureFolder();
  void ShrinkPicture(const std::string& fileName, const std::string& headline, bool title,
                     bool coop);
  void CopyCommission(db::Recordset& listing);

  void State(int16_t state, const std::string& text) const { events.RaiseWorkState(state, text); }
  std::string T(const std::string& german, const std::string& p1 = {},
                const std::string& p2 = {}) const;
  void Debug(const std::string& text) const;
  std::string HostIni() const;

  std::string connect_;
  std::string userDsn_;
  std::string name_ = kTransferName;
  cFernDispatcher* app_ = nullptr;
  std::shared_ptr<cUtil> util_;
  std::shared_ptr<cDal> dal_;
  std::unique_ptr<cKavantorAPIMini> api_;
  std::unique_ptr<cIS24RestScript> script_;
  bool frame_ = false;
  int32_t limits_[4] = {1000000, 800, 1000000, 800};
  std::string picFolder_;
  std::string brandedName_;
  std::string branded_;
  std::unique_ptr<cImmoHelperV2> helper_;
  std::shared_ptr<cKVUtil> kvUtil_;
};

}  // namespace fern
