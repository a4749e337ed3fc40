// The REST transfer's link to the customer's VBScript files: it owns a script host, loads the
// scripts of "<host folder>\System\Services\IS24Rest" and relays three callbacks to every object
// the scripts put into EventsConsumers (script_hooks.h).
//
// Each callback returns the consumers' answers as text, joined with CR LF in consumer order.
// The portal recordset goes to the consumers by reference, and a consumer may hand another one
// to the consumers after it; neither that nor a changed blnTransferOk reaches the caller. A
// consumer that lacks the method or fails contributes nothing; no error leaves a callback.
#pragma once

#include <memory>
#include <string>

#include "db/Recordset.h"

namespace fern {

class cDal;
class cScriptingV2;
class cUtil;

class cIS24RestScript {
 public:
  // Below the host folder.
  static constexpr const char* kScriptFolder = "\\System\\Services\\IS24Rest";

  cIS24RestScript();
  ~cIS24RestScript();
  cIS24RestScript(const cIS24RestScript&) = delete;
  cIS24RestScript& operator=(const cIS24RestScript&) = delete;

  // Binds the database object to "<strKVPath>\sql\sql.ini", makes the script host and loads the
  // scripts. HostError when the database can't be opened or there is no host session.
  void Init(const std::string& strConnectionString, const std::string& strKVPath);

  std::string Callback_BeforeTransfer(db::Recordset& rsboersen);
  std::string Callback_AfterMakePicturesApiReady(db::Recordset& rsboersen);
  std::string Callback_AfterTransfer(db::Recordset& rsboersen, bool blnTransferOk);

  cScriptingV2* ScriptHost() const { return host_.get(); }

 private:
  std::shared_ptr<cUtil> util_;
  std::shared_ptr<cDal> dal_;
  std::string connect_;
  std::string kvPath_;
  std::unique_ptr<cScriptingV2> host_;
};

}  // namespace fern
