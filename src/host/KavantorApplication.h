// Stand-in for the running host application ("Kavantor.Application"), which a login without a
// user name on the command line asks for the logged-in user. No host application runs beside
// this program on Linux, so GetRunning reports that clearly unless a host session registered
// itself (tests, or a future host bridge).
#pragma once

#include <memory>
#include <string>

#include "platform/dispatch.h"

namespace fern {

class KavantorApplication : public Dispatch {
 public:
  KavantorApplication(std::string folder, std::string loginName);

  // The platform's GetObject("", "Kavantor.Application"). HostError 429 "ActiveX component
  // can't create object: Kavantor.Application (no host application is running)" when none is.
  static std::shared_ptr<KavantorApplication> GetRunning();
  static void SetRunning(std::shared_ptr<KavantorApplication> app);  // null: none runs

  const std::string& Folder() const { return folder_; }
  // The logged-in user as a one-row recordset with the field "login_name".
  std::shared_ptr<Dispatch> CurrentUserRS() const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Application"; }

 private:
  std::string folder_;
  std::string loginName_;
};

}  // namespace fern
