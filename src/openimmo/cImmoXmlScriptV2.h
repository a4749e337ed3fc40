// The OpenImmo export's link to the customer's VBScript files: it owns the export's script host,
// loads the scripts of "<host folder>\System\Services\OpenImmo" and relays each named callback
// to every object the scripts put into EventsConsumers (script_hooks.h).
//
// Common to every callback:
//  - before Init (no script host) nothing is called and every argument stays as it is;
//  - each consumer gets every argument by reference and the next consumer sees what it left;
//    only the arguments taken by non-const reference come back to the caller;
//  - a consumer that lacks the method or fails is passed over and contributes nothing; no error
//    leaves a callback;
//  - a recordset reaches the scripts as the caller's own object when the caller holds it in a
//    shared_ptr (scripts may keep it); otherwise the scripts see Nothing.
//
// Combining, per callback:
//  - Callback_RemaxCheckFeature: the flag goes in with its current value, the last consumer's
//    answer (read as a host flag) decides;
//  - the procedure callbacks with blnCancel and strResultMsg: the cancel flag is False for the
//    first consumer and handed on unchanged; the caller's flag ORs every consumer's answer, so a
//    cancel once set stays set. Each consumer starts with an empty message; a non-empty one goes
//    in front of the caller's text with CR LF between, so the newest stands first;
//  - the function callbacks (BeforeXmlSave, BeforeTransfer, AfterTransfer): the consumers'
//    return values as text, joined with CR LF in consumer order (a consumer that answers
//    nothing adds an empty line after the first answer).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/state_events.h"
#include "db/Recordset.h"
#include "platform/variant.h"
#include "xml/xml_dom.h"

namespace fern {

class cDal;
class cScriptingV2;
class cUtil;

class cImmoXmlScriptV2 {
 public:
  // Below the host folder.
  static constexpr const char* kScriptFolder = "\\System\\Services\\OpenImmo";
  // The state a script's answer line is reported with, and the prefix of its text.
  static constexpr int16_t kScriptLineState = 14;
  static constexpr const char* kScriptLinePrefix = "Scripting: ";
  // The first four characters of a line that stops the export step.
  static constexpr const char* kStopMarker = ">>>>";

  // Takes the host utility and database of the running host session.
  cImmoXmlScriptV2();
  ~cImmoXmlScriptV2();
  cImmoXmlScriptV2(const cImmoXmlScriptV2&) = delete;
  cImmoXmlScriptV2& operator=(const cImmoXmlScriptV2&) = delete;

  // Binds the database object to "<strKVPath>\sql\sql.ini", makes a new script host (scripts
  // may show boxes; the user row is chosen as for an empty user key) and loads the scripts of
  // kScriptFolder below strKVPath. A missing folder or a faulty script is the script host's
  // business (a box, loading goes on); the export runs on without those hooks. HostError when
  // the database can't be opened or there is no host session; the hooks then stay off (an
  // earlier Init's scripts are dropped).
  void Init(const std::string& strConnectionString, const std::string& strKVPath);

  // --- the callbacks, each relayed to the consumers' method of the same name ----------------
  void Callback_RemaxCheckFeature(db::Recordset& rsboersen, db::Recordset& rsObj,
                                  db::Recordset& rsdetails, int32_t lngNr, bool& blnEnabled);
  void Callback_RemaxPropertyDescriptionGet(db::Recordset& rsboersen, db::Recordset& rsObj,
                                            db::Recordset& rsdetails, const Variant& arrText,
                                            std::string& strDescription, bool& blnCancel,
                                            std::string& strResultMsg);
  void Callback_OpenImmoPicInit(db::Recordset& rsboersen, db::Recordset& rsObj,
                                std::string& strMMDateiKurz, std::string& strMMDateiLang,
                                int32_t& lngMaxCounter, bool& blnCancel, std::string& strResultMsg);
  void Callback_OpenImmoPicGet(db::Recordset& rsboersen, db::Recordset& rsObj, int32_t lngNr,
                               std::string& strPathAndFileName, std::string& strTitel,
                               bool& blnCancel, std::string& strResultMsg);
  void Callback_OpenImmoPicCopy(db::Recordset& rsboersen, db::Recordset& rsObj, int32_t lngNr,
                                std::string& strFileName1, std::string& strFileName2,
                                int32_t& lngGroesse, int32_t& lngBreite, std::string& strCopyright,
                                bool& blnCancel, std::string& strResultMsg);
  // A consumer may change the document in place or hand back another one (Set oXmlDoc = ...);
  // one that leaves Nothing or an object that is no document there is undone for that argument:
  // the next consumer and the caller get the document as the consumer before it left it.
  std::string Callback_BeforeXmlSave(db::Recordset& rsboersen, XmlDocumentPtr& oXmlDoc,
                                     std::string& strPath, std::string& strFileName);
  std::string Callback_BeforeTransfer(db::Recordset& rsboersen, bool blnIsFtp,
                                      const std::string& strPath, const std::string& strFileName,
                                      std::string& strFileFilter);
  std::string Callback_AfterTransfer(db::Recordset& rsboersen, bool blnIsFtp, bool blnTransferOk);

  // --- the exporter's wrappers: the callback, then its answer through ReportScriptLines -------
  void DoCallbackBeforeXmlSave(db::Recordset& rsboersen, XmlDocumentPtr& oXmlDoc,
                               std::string& strPath, std::string& strFileName);
  void DoCallbackBeforeTransfer(db::Recordset& rsboersen, bool blnIsFtp, const std::string& strPath,
                                const std::string& strFileName, std::string& strFileFilter);
  void DoCallbackAfterTransfer(db::Recordset& rsboersen, bool blnIsFtp, bool blnTransferOk);

  // Walks `answer` line by line (CR LF), skipping empty lines: a line beginning with ">>>>"
  // stops the walk with HostError 50021 (source `callback`, description the whole line);
  // every line before it is raised as WorkState 14 "Scripting: <line>".
  void ReportScriptLines(const std::string& callback, std::string answer) const;

  // The script host, null before Init (for tests and for the exporter's own checks).
  cScriptingV2* ScriptHost() const { return host_.get(); }
  const std::string& ConnectionString() const { return connect_; }
  const std::string& KVPath() const { return kvPath_; }

  // WorkState 14 for each script answer line; relay to the exporter's events.
  StateEvents events;

 private:
  std::shared_ptr<cUtil> util_;
  std::shared_ptr<cDal> dal_;
  std::string connect_;
  std::string kvPath_;
  std::unique_ptr<cScriptingV2> host_;
};

}  // namespace fern
