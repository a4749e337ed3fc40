// The web-site export of one portal (type 6): builds the site's configuration scripts, MySQL
// import scripts and PHP unpack scripts in a work tree, packs the tree into ".big" containers,
// uploads them by FTP, drives the site's scripts by HTTP GET requests and writes the listings'
// transfer status back into the host database only after the site has taken the import.
//
// Two modes: own-server mode (the customer's server; the run calls the unpack stubs and the
// site's own scripts itself and runs the script hooks of "system\services\webserver") and
// service mode (the portal row's `zipping`: a hosting service receives the upload, copies,
// unpacks and starts the import).
//
// Every line the user sees goes through WSMessage as a WorkState. Nothing is thrown to the
// caller: a failed step is reported as an error (state 102) and the run ends or skips its
// remote steps, always finishing with its closing steps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/exporters.h"
#include "db/Recordset.h"
#include "website/field_columns.h"
#include "website/import_writer.h"
#include "website/site_transport.h"
#include "website/webserver_settings.h"

namespace fern {

class cBigFileV2;
class cDal;
class cImmoHelperV2;
class cKVBlob;
class cKVUtil;
class cScriptingV2;
class cUtil;
class CUDDictionary;

class cWebserverV2 : public WebsiteExporter {
 public:
  cWebserverV2();
  ~cWebserverV2() override;
  cWebserverV2(const cWebserverV2&) = delete;
  cWebserverV2& operator=(const cWebserverV2&) = delete;

  // --- the run ------------------------------------------------------------------------------
  void Init(const std::string& strConnect, cFernDispatcher& KVApp,
            const Variant& blnCopyright) override;
  void Transfer(db::Recordset& rsboersen, int32_t lngWebServer, int32_t lngObjTrack,
                bool blnShowUrl) override;

  // The transfer temp folder with a trailing "\"; HostError 50017 when [OPTIONS] TRANSFERPATH
  // names a folder that does not exist.
  std::string GetTransferTempPath();
  bool IsStdLandCHE() const;
  int32_t ContentLanguageCount() const;
  const website::ContentLanguages& Languages() const { return languages_; }
  std::vector<std::shared_ptr<CUDDictionary>>& Dictionaries() { return dictionaries_; }

  // --- settings -----------------------------------------------------------------------------
  void LoadWebServerSettings(const std::string& password, const std::string& login);
  website::WebServerSettings settings;
  bool serviceMode = false;
  std::string portalName;  // through StringToHTML
  std::string siteHost;

  // --- messages -----------------------------------------------------------------------------
  void WSMessage(const std::string& kind, const std::string& text);
  void m_oImmoHelper_InternalState(int16_t state, const std::string& text);
  void oBigFile_DoMessage(const std::string& message);

  // --- work tree ----------------------------------------------------------------------------
  std::string m_TmpPfad;  // the work folder, ending with "\"
  void CreateFolderTree(const std::string& path);
  void CreateTransferFolders();
  void DeleteTransferFiles(const std::string& name);
  void DeleteTempFolder();
  // At the run's end: the work folder that a No to STOPOVER kept is marked as kept on purpose,
  // so that other portals' runs leave it to the next site run.
  void MarkKeptOnPurpose();
  bool keptOnPurpose_ = false;  // a STOPOVER question was answered No
  // Deletes the folder only when it lies below the transfer temp folder's "kvws": an empty or
  // foreign path is left alone.
  void DeleteFolder(const std::string& path);
  void DeleteFile(const std::string& path);
  void CopyLogo(const std::string& target, const std::string& source);
  // The customer folder of the work tree ("...\WS_<portal>\kv_<id>").
  std::string SiteFolder() const { return m_TmpPfad + settings.customerFolder; }

  // --- generated files ----------------------------------------------------------------------
  bool CreateTransferScript(const std::string& strFileName, const std::string& strBigName,
                            int32_t lCount);
  static std::string CreateExtractStub(const std::string& library, const std::string& container);
  bool CreateStatScript(const std::string& strFileName, const std::string& strBigName);
  bool CreateDBDataScript(db::Recordset& rsboersen);
  bool CreateDataScript(db::Recordset& rsboersen);

  // --- import scripts -----------------------------------------------------------------------
  // The generator steps the driver runs between the column statements and the footer, in
  // order; each writes through WriteImportStatement.
  struct ImportStep {
    std::string name;
    std::function<void(db::Recordset& rsboersen)> run;
  };
  std::vector<ImportStep> dataSteps;
  bool CreateImportScript(db::Recordset& rsboersen);
  void WriteImportStatement(const std::string& statement);
  website::ImportScriptWriter& ImportWriter() { return importWriter_; }
  int32_t ImportFileCount() const { return importWriter_.FileNumber(); }

  // --- web field list -----------------------------------------------------------------------
  struct WebField {
    std::string kuerzel;
    int32_t status = 0;
  };
  std::vector<WebField> webFields;
  std::string fieldTypeFilter;
  bool CreateFLDARTList();
  void CreateFLDARTWhere();
  void CreateImportScript_AlterTable_DAT();
  void CreateImportScript_AlterTable_INTERESSENTEN();
  // The columns the listing table got this run (after CreateImportScript_AlterTable_DAT).
  const website::FieldColumns* Columns() const { return columns_.get(); }

  // --- listing rows and texts (cWebserverV2_listings) ---------------------------------------
  // The listing recordset of the run: selected by the listing-row step, walked again by the
  // field-value step.
  std::shared_ptr<db::Recordset> listings;
  std::string currentListingKey;  // DSN of the listing being written, without braces
  struct TrackEntry {
    std::string dsn;
    std::string kennung;
    double time = 0;
  };
  std::vector<TrackEntry> trackingArray;
  std::shared_ptr<db::Recordset> CreateImportScript_InsertTable_DAT(
      std::shared_ptr<db::Recordset>& rsObj, db::Recordset& rsboersen);
  // The twelve text arrays of the listing at the current row of rsObj, by position.
  struct ListingTexts {
    std::vector<std::vector<std::string>> free;  // in the order of the free-text columns
    std::vector<std::string> teaser, keyFacts;
  };
  ListingTexts GatherListingTexts(db::Recordset& rsObj, bool inherits);
  // [OPTIONS] VERERBTE_FELDARTENPLATZHALTER, read once per exporter.
  bool InheritanceSwitch();

  // --- field values (cWebserverV2_values) ----------------------------------------------------
  std::shared_ptr<db::Recordset> CreateImportScript_UpdateTable_DAT(
      std::shared_ptr<db::Recordset>& rsObj);
  int16_t GetObjDetYesNo(const std::string& objDsn, const std::string& fldArtDsn);
  std::string GetFldArtDsn();
  std::string IsBisDateValid(const std::string& detailsDsn);
  // The SQL literal of the current field row in the language position (from: the lower bound
  // of a range).
  std::string GetFieldValueSQL(db::Recordset& rows, int32_t language, bool from);

  // --- field-type options, requests and members (cWebserverV2_members) -----------------------
  void CreateImportScript_InsertTable_FART();
  void CreateImportScript_InsertTable_INTERESSENTEN();
  void CreateImportScript_InsertTable_USER();
  static void SplitPlzOrt(const std::string& input, std::string& plz, std::string& ort,
                          std::string& country);

 private:
  std::string FieldText(db::Recordset& rows, int32_t language, bool numberAsBis);  // _values
  int inheritanceSwitch_ = -1;                                                     // _listings

 public:
  // --- placeholders and key facts (cWebserverV2_placeholders, cWebserverV2_keyfacts) ---------
  std::string ExpandPlaceholders(const std::string& key, const std::string& templ,
                                 const std::string& kind, int32_t language, bool& inherit);
  std::string ResolvePlaceholder(const std::string& key, const std::string& inner,
                                 const std::string& kind, int32_t language, bool& inherit);
  std::string CreateEckdatenHtml(db::Recordset* details, int32_t language);
  static std::string FormatAmount(const Variant& value);
  // The value of the key-facts row at the details record's current row; `word` translates a
  // fixed word into the row's language (dict is null for the main language).
  std::string KeyFactsValue(const db::Recordset& row, const CUDDictionary* dict,
                            const std::function<std::string(const std::string&)>& word);
  // An address field's value: the ADDRESSLINK text of the address, then its telephone and
  // e-mail entries.
  std::string AddressLink(const db::Recordset& row);

  // --- appointments, pictures and documents (cWebserverV2_media) ------------------------------
  void CreateImportScript_InsertTable_TERMINE(const std::string& key, const std::string& parentKey);
  void TransferObjectPictures(db::Recordset& rsObj, db::Recordset& rsboersen);
  void WritePicRow(const std::string& url, const std::string& description, int32_t typ,
                   int32_t type);

  // --- tracked listings, activities, tracking files (cWebserverV2_tracking) ------------------
  // Replaces the tracking array with the tracked listings it writes, whatever the listing
  // step left in it.
  void CreateImportScript_InsertTable_OBJTRACK();
  // The activities of the listings in the tracking array, attachments before their activity.
  void CreateImportScript_InsertTable_AKTTRACK(const std::string& portalDsn);
  void CreateTrackFilesScript(const std::string& portalDsn, const std::string& aktDsn);
  // A note as text the site shows and never runs: markup dropped, "<", ">" and "&" as entities.
  static std::string TrackingPlainText(const std::string& note);

  // --- status and hooks ---------------------------------------------------------------------
  void UpdateBoersenObjStatus(db::Recordset& rsboersen);
  void CallBeforeTransfer(std::shared_ptr<db::Recordset>& rsboersen, const std::string& path,
                          bool& cancel, std::string& message);
  void CallAfterTransfer(std::shared_ptr<db::Recordset>& rsboersen, std::string& urls,
                         std::string& message);

  // The transport (tests shorten its limits).
  website::SiteTransport& Transport() { return *transport_; }
  cImmoHelperV2& ImmoHelper() { return *m_oImmoHelper; }
  cBigFileV2& BigFile() { return *oBigFile; }
  cScriptingV2* Scripting() { return scripting_.get(); }

  double runStart = 0;
  std::string copyrightText;
  bool copyright = false;
  bool frameOnline = true;
  bool ramaOnline = true;

 private:
  std::string T(const std::string& german, const std::string& p1 = {},
                const std::string& p2 = {}) const;
  std::string Ini(const std::string& section, const std::string& key, const std::string& def) const;
  std::string HostIni() const;
  bool Unattended() const;
  bool AskYesNo(const std::string& question) const;
  void StopOverPrompt(const std::string& ask, const std::string& yes, const std::string& plain,
                      const std::function<void()>& action);
  std::shared_ptr<db::Recordset> Query(const std::string& sql) const;
  void Pause(int64_t ms);
  bool RunImportStep(const std::string& name, const std::function<void()>& step);

  // The steps of Transfer (website/cWebserverV2_run.cpp).
  struct Run;
  bool Prepare(Run& run, db::Recordset& rsboersen);
  bool AccountCheck(Run& run);
  bool PackAndUpload(Run& run);
  void RemoteChain(Run& run);
  // Removes over FTP the transfer's files that the site still holds (own server: always once
  // the upload began; service mode: after a failure).
  void RemoveUploads(Run& run, bool failed);
  void Finish(Run& run, bool blnShowUrl);
  website::SiteTransport::Reply Get(const std::string& address);
  bool RequestFailed(Run& run, const website::SiteTransport::Reply& reply,
                     const std::string& errorText);

  std::shared_ptr<cUtil> util_;
  std::shared_ptr<cDal> dal_;
  std::shared_ptr<cKVUtil> kvUtil_;
  std::shared_ptr<cKVBlob> kvBlob_;
  cFernDispatcher* KVApp_ = nullptr;
  std::string strConnect_;
  std::string tempPath_;
  website::ContentLanguages languages_;
  std::vector<std::shared_ptr<CUDDictionary>> dictionaries_;
  std::vector<std::string> captions_;
  std::unique_ptr<cImmoHelperV2> m_oImmoHelper;
  std::unique_ptr<cBigFileV2> oBigFile;
  std::unique_ptr<cScriptingV2> scripting_;
  std::unique_ptr<website::SiteTransport> transport_;
  website::ImportScriptWriter importWriter_;
  std::unique_ptr<website::FieldColumns> columns_;
  std::string currentStep_;
};

}  // namespace fern
