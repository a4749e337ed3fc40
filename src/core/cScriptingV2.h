// The script host of the exporters: one VBScript engine loaded with the customer's script files
// of one folder, the object "Application" those scripts see (this object), and the collection
// `EventsConsumers` into which the scripts put the objects whose callbacks the exporters' hook
// classes relay (script_hooks.h).
//
// Message boxes (load errors, a script's MsgBox) go through the process's message-box answerer:
// in an unattended run it reports the text to its sink and answers at once, so no box blocks.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/Recordset.h"
#include "platform/dispatch.h"
#include "script/engine.h"

namespace fern {

class cUtil;
class cDal;
class cDbIni;

class cScriptingV2 : public Dispatch {
 public:
  // The key no user has: the first Init always loads a user row.
  static constexpr const char* kNoUserAsked = "[#NOTHING#]";
  static constexpr int kDefaultTimeoutMs = 60000;

  // Takes the host objects of the host session, makes an empty EventsConsumers and an engine
  // (plain and encoded VBScript) that shows "Application" and stops host calls after 60,000 ms.
  cScriptingV2();
  ~cScriptingV2() override;
  cScriptingV2(const cScriptingV2&) = delete;
  cScriptingV2& operator=(const cScriptingV2&) = delete;

  // --- for the hook classes --------------------------------------------------------------
  // Binds the database object to "<strKVFolder>\sql\sql.ini", lets scripts show boxes when
  // `blnAllowGUI`, chooses the user row when `strUserDSN` differs from the key asked for last
  // (that key, else an active boss, else an active user, else any user; "kvAdmin" first
  // among them) and loads the std row once. HostError when the database can't be opened or a
  // query fails; without a host session (no cDal) HostError 91.
  void Init(const std::string& strConnect, const std::string& strKVFolder,
            const std::string& strUserDSN = {}, bool blnAllowGUI = false);

  // Runs every "vbs" file of the host-path folder (any letter case of the extension; other
  // files are left alone) in case-insensitive name order, which stands in for the Windows
  // directory order. A file that fails to compile or run shows a box with its path, the
  // error text, "Line: " and the number, and the source line; loading goes on with the next
  // file and what the failing file defined before its error stays. A missing folder loads
  // nothing. Never throws.
  void LoadScripts(const std::string& folder);

  // Fan-out of the four message events: each consumer's method gets the values, the objects
  // by reference (chained to the next consumer) and a fresh result variable; a true result
  // sets `cancel` and stops the walk. Failing consumers are passed over.
  void RaiseMessageReceived(const Variant& value, Variant& recordset, bool& cancel);
  void RaiseMessageProcessed(const Variant& value, Variant& object1, Variant& object2,
                             Variant& object3, bool& cancel);
  void RaiseMessageSend(const Variant& text, const Variant& value, Variant& object1,
                        Variant& object2, bool& cancel);
  void RaiseMessageSendError(const Variant& text, const Variant& value, Variant& object1,
                             Variant& object2, const Variant& value2, const Variant& value3,
                             Variant& object3, bool& cancel);

  // --- what the scripts see on "Application" ---------------------------------------------
  // The consumer collection (a VB Collection; scripts call its Add).
  std::shared_ptr<Dispatch> EventsConsumers() const { return consumers_; }
  // Writes the recordset's changes through cDal, then clears its filter. The filter stays
  // when the write fails (the HostError goes to the caller).
  void UpdateRecordset(db::Recordset& rstoupdate);
  std::shared_ptr<db::Recordset> GetRecordset(const std::string& strSQL);
  std::shared_ptr<cUtil> Util() const { return util_; }
  std::shared_ptr<db::Recordset> CurrentUserRS() const { return userRS_; }
  std::shared_ptr<db::Recordset> StdRS() const { return stdRS_; }
  bool IsLoggedIn() const { return !connect_.empty(); }
  const std::string& Folder() const { return folder_; }
  std::shared_ptr<cDbIni> DBIni() const { return dbIni_; }
  // Discards the loaded code, the scripts' variables and "Application" itself, as the
  // platform's Script Control does.
  void Reset();

  // The key of the chosen user row ("" when the table has no row).
  const std::string& UserDSN() const { return userDSN_; }
  // The engine, for the hook relays and for tests (a shorter time-out).
  script::Engine& ScriptControl() { return engine_; }

  // A consumer's callback that ran into the time-out is not called again by this script host:
  // a loop would otherwise cost the whole time-out on every call. The first time-out is
  // reported once to TimeoutReported (a German error text naming the script and callback).
  bool TimedOut(const Dispatch* consumer, std::string_view method) const;
  void NoteTimeout(const Dispatch* consumer, std::string_view method);
  std::function<void(const std::string& text)> TimeoutReported;

  // By name: EventsConsumers, UpdateRecordset, GetRecordset, Util, CurrentUserRS, StdRS,
  // IsLoggedIn, Folder, DBIni, Reset.
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cScriptingV2"; }

 private:
  class Face;
  void ChooseUser(const std::string& strUserDSN);
  void RaiseMessage(std::string_view method, std::vector<Variant>& args, bool& cancel);

  std::shared_ptr<cUtil> util_;
  std::shared_ptr<cDal> dal_;
  std::shared_ptr<cDbIni> dbIni_;
  // Declared before the consumers, so the consumers go first and their Class_Terminate still
  // finds a working engine.
  script::Engine engine_;
  std::shared_ptr<Face> face_;
  std::shared_ptr<Dispatch> consumers_;
  std::string connect_;
  std::string folder_;
  std::shared_ptr<db::Recordset> userRS_;
  std::string userDSN_;
  std::string lastUserAsked_ = kNoUserAsked;
  std::shared_ptr<db::Recordset> stdRS_;
  std::set<std::pair<const Dispatch*, std::string>> timedOut_;
};

}  // namespace fern
