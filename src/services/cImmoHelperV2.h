// The listing-data service every exporter owns: it selects a portal's listings, decides per
// listing whether it is sent, changed or deleted, reads a listing's details record (with field
// values inherited from its parent listings), does the postcode, street and master-picture
// look-ups, runs outside programs, and passes the exporters' transfer calls on to its own
// cFTPTransferV2, whose events it raises again unchanged.
//
// Errors of the host calls (a query that fails, a missing column) leave as HostError; the
// service itself reports only the one WorkState of the listing selection. Parent walks over
// obj.OBJ_DSN visit each listing once, so a listing that is its own ancestor ends the walk.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/state_events.h"
#include "db/Recordset.h"
#include "xml/xml_dom.h"

namespace fern {

class cDal;
class cFernDispatcher;
class cFTPTransferV2;
class cKVUtil;
class cUtil;

// Events: WorkState and InternalState; the owned transfer layer's events arrive under the
// same names.
class cImmoHelperV2 : public StateEvents {
 public:
  // Five truth values per listing and portal, each 0 (false) or -1 (true).
  using ListingState = std::array<int16_t, 5>;
  enum ListingStateIndex {
    kSend = 0,
    kDelete = 1,
    kChange = 2,
    kLongVersion = 3,
    kShowAddress = 4
  };
  static constexpr int16_t kTrue = -1;
  static constexpr int16_t kFalse = 0;

  cImmoHelperV2();
  ~cImmoHelperV2();
  cImmoHelperV2(const cImmoHelperV2&) = delete;
  cImmoHelperV2& operator=(const cImmoHelperV2&) = delete;

  // Picture-frame switches of the current portal, set by the exporter. With m_JPGRama on,
  // GetStammBilder asks for a parent's online picture first.
  bool m_JPGFrame = false;
  bool m_JPGRama = false;

  // Binds the service to the run: the connection string, the session object, the host's
  // database object (bound again to "<Folder>\sql\sql.ini") and the company's std row; creates
  // and initialises the transfer layer. HostError when the database or std can't be read.
  void Init(const std::string& strConnect, cFernDispatcher& KVApp);

  // The transfer language: the column suffix ("", "_LCID2057") of the following details reads.
  // Kept by the transfer layer.
  std::string strTransLang() const;
  void strTransLang(const std::string& value);

  // --- listing selection --------------------------------------------------------------------
  // The SQL text of GetBoersenObjekte for the portal row and department: one
  // boersenobj.TransLang_LCID<n> column per content language; a department that is a whole
  // number is compared as a number, any other text as a quoted literal.
  std::string BoersenObjekteSql(db::Recordset& rsBoersen, const std::string& strAbteilung) const;
  // The portal's listings (obj.* plus the transfer columns of boersenobj) ordered by Kennung.
  // With [IS24Transfer] CopyObjRootDetails = 1 in "kavantor.INI" (a value that is no number is
  // off) it first reports WorkState 8 "Vorbereitung ProvVererbung".
  std::shared_ptr<db::Recordset> GetBoersenObjekte(db::Recordset& rsBoersen,
                                                   const std::string& strAbteilung);
  // The listing state of the listing row for the portal row. A Null or zero last transfer is
  // "never transferred" and a Null TOUCH "changed". With inheritance on ([OPTIONS]
  // VERERBTE_FELDARTENPLATZHALTER, default 1) a change of any ancestor after the last transfer
  // counts as a change, except in a full one-document transfer.
  ListingState GetBoersenObjStatus(db::Recordset& rsBoersen, db::Recordset& rsObj);

  // --- details record -----------------------------------------------------------------------
  // The details record of the listing row in the current transfer language; arystrLFAO gets
  // the location, free, equipment and description texts (in that order).
  std::shared_ptr<db::Recordset> GetObjektDetails(db::Recordset& rsObj,
                                                  const std::string& strWhereFields,
                                                  const std::string& strOrder,
                                                  std::vector<std::string>& arystrLFAO);
  // One row per field value of the listing (obj, ObjDet, FLDART, FLDARTOP) in strOrder ("" is
  // "Order by Sortierung"). With inheritance on and a parent listing, the field codes the
  // listing lacks are added from its parents, nearest first, in memory only, and the record is
  // sorted by Sortierung; texts still empty are taken from the nearest parent that has them.
  std::shared_ptr<db::Recordset> GetObjektDetails2(
      db::Recordset& rsObj, const std::string& strWhereFields, std::string strOrder,
      std::string& strTextLage, std::string& strTextFrei, std::string& strTextAusstatt,
      std::string& strTextObjekt, const std::string& strTransLang);
  // The value texts of every row of the field code (one "0" for a missing number read as
  // VON_NUM or BIS_NUM, else one ""). An empty column is chosen by the field type; option rows
  // give WERT or BEZEICHNUNG (captions through the content dictionary); "WERT" of an address or
  // project link gives the linked name ("" when the link names no row). Numbers of types 1 and 2
  // of 99999999999999 and above give "0". iMaxLen > 0 cuts each text. The record's filter is
  // cleared afterwards.
  std::vector<std::string> GetFeldartWert(db::Recordset& rs, const std::string& strKuerzel,
                                          const std::string& strFeld, int16_t iMaxLen, cDal& oDal,
                                          const std::string& strConnect);

  // --- look-ups -----------------------------------------------------------------------------
  // {country code, postcode, town} of an address line by the pattern table [Openimmo] PLZ of
  // "Kavantor.INI"; three empty texts when no pattern fits.
  std::vector<std::string> GetLKZPLZOrtFromString(const std::string& strInhalt);
  // {street, house number}: split before the first digit that follows a blank; without one the
  // number is "" ("1" with blnDefaultNr).
  static std::vector<std::string> GetStrasseHausnummer(const std::string& strLine,
                                                       bool blnDefaultNr);
  // The country code unchanged.
  static std::string LKZzuordnen(std::string& strLKZVal);
  // The real path of picture iForIndex (counted from 1; -1 and 1 may ask for the online
  // picture) of the nearest ancestor that has one, "" when none has; strTitel gets its title.
  std::string GetStammBilder(db::Recordset& rsObj, int32_t iForIndex, std::string& strTitel,
                             const std::string& strAppPath);

  // --- outside programs ---------------------------------------------------------------------
  // Runs the command line (split as Windows does, no shell) and waits for its end, pumping
  // window events; returns its exit code. Esc ends the program and returns -1, as does a
  // program killed by a signal. The window style (0 hidden, 1 normal) has no meaning here.
  // HostError 53 when the program can't be started.
  int32_t WaitForProcess(const std::string& strCommandLine, int32_t iWindowStyle);

  // --- transfer layer -----------------------------------------------------------------------
  // Each passes its arguments to the member of the same name of the owned cFTPTransferV2 and
  // returns its result; the forms with `success` also store it there.
  bool FtpSendFolder(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& localFolder, const std::string& remoteFolder,
                     const std::string& extensions, const std::string& proxyRule, bool strict);
  void FtpSendFolder(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& localFolder, const std::string& remoteFolder,
                     const std::string& extensions, const std::string& proxyRule, bool strict,
                     bool& success);
  bool HttpTransfer(const std::string& URL, const std::string& method,
                    const std::string& proxyRule);
  void HttpTransfer(const std::string& URL, const std::string& method, const std::string& proxyRule,
                    bool& success);
  std::string GetResponseText();
  XmlDocumentPtr HTTPRequest(const std::string& method, const XmlDocumentPtr& body,
                             const std::string& answerFolder, const std::string& fileName,
                             const std::string& URL, std::string& user,
                             const std::string& password);
  std::string EncodeFile(const std::string& path);
  // "" for an empty value text; otherwise the value in the pattern with "." as decimal point.
  std::string FormatDecimal(const std::string& format, const std::string& value);

  // The owned transfer layer (its time-outs, for tests).
  cFTPTransferV2& FtpTransfer();

 private:
  void CheckInit(const char* procedure) const;
  cUtil& Util() const;
  std::string HostIni() const;  // "<Folder>\kavantor.ini"
  bool InheritanceOn() const;
  std::shared_ptr<db::Recordset> Query(const std::string& sql) const;
  // A listing key in one form (no braces, upper case), for the visited sets of parent walks.
  static std::string DsnKey(const Variant& dsn);
  // Null, Empty and "" name no parent.
  static bool NoParent(const Variant& dsn);

  std::unique_ptr<cFTPTransferV2> m_oFtpTrans;
  cFernDispatcher* KVApp_ = nullptr;
  std::shared_ptr<cDal> dal_;
  std::shared_ptr<cKVUtil> kvUtil_;
  std::string strConnect_;
  std::string folder_;
  std::shared_ptr<db::Recordset> stdRS_;
  std::string m_strMMDateiKurz;
  std::string m_strMMDateiLang;
};

}  // namespace fern
