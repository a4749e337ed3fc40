// The OpenImmo exporter: for each OpenImmo portal of a phase it builds an empty document from the
// portal's XSD, fills one `immobilie` per listing through the portal's mapping files, checks,
// cleans, saves and validates the document, delivers it and writes each listing's transfer
// status back into `boersenobj`.
//
// Everything is reported through WorkState/InternalState (OpenImmoExporter::events); nothing
// leaves StartImmoXML. The schema template, the mapping engine, the contact person, pictures and
// attachments, and delivery are classes of their own; the exporter keeps the driver and thin
// members under the names callers use. The members below the driver are public so that tests
// can drive single steps; they raise HostError as each one says.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/exporters.h"
#include "db/Recordset.h"
#include "openimmo/contact_person.h"
#include "openimmo/delivery.h"
#include "openimmo/earlier_files.h"
#include "openimmo/export_settings.h"
#include "openimmo/listing_attachments.h"
#include "openimmo/map_context.h"
#include "openimmo/mapping_engine.h"
#include "openimmo/schema_template.h"
#include "openimmo/tElementInfo.h"
#include "openimmo/tKontakt.h"
#include "services/cImmoHelperV2.h"
#include "xml/xml_dom.h"

namespace fern {

class cDal;
class cUtil;
class cFernDispatcher;
class cImmoXmlScriptV2;
class cZipV2;

// One client of the export: login at the portal and the company data it sends.
struct tMandant {
  std::string Filter;
  std::string LoginName;
  std::string Password;
  std::string KundenNr;
  std::string Anid;
  std::string DibEmail;
  std::string FirmaName;
  std::string FirmaTel;
  std::string FirmaEmail;
  std::string FirmaStrasse;
  std::string FirmaPlz;
  std::string FirmaOrt;
  std::string FirmaLand;
  std::string FirmaFax;
  std::string FirmaWeb;
  int32_t Index = 0;
};

class cImmoXmlV2 : public OpenImmoExporter {
 public:
  // Takes the host database and utility of the running host session.
  cImmoXmlV2();
  ~cImmoXmlV2() override;

  void StartImmoXML(cFernDispatcher& KVApp, const std::string& strConnect, db::Recordset& rsboersen,
                    bool blnInsertCopyright, bool blnUnattend, int32_t eBoersentyp) override;

  // The work folder with a trailing "\" (a host path); 50017 when it does not exist.
  std::string GetTransferTempPath();
  // "TRANSFER" or its type folder when it is a link below the program's private folder (nothing
  // is written or deleted through it); empty otherwise.
  std::filesystem::path LinkedTransferFolder();
  // Packs a copy of the host INI into a new archive in the user's private temporary folder,
  // passing over every error. The INI may hold private settings, so the archive goes again when
  // StartImmoXML ends, however it ends.
  void GetZipTempFile();
  // That archive's path ("" before the first call).
  const std::string& ZipTempFile() const { return zipTempFile_; }

  // --- settings and clients ------------------------------------------------------------------
  using Settings = openimmo::ExportSettings;
  const Settings& settings() const { return set_; }
  void LoadImmoXmlSettings(int32_t type, const std::string& portalName);
  // The clients named in a clients file (sections MANDANT1, MANDANT2, ...).
  std::vector<tMandant> ReadMandantDaten(const std::string& file);
  void ReadMandantLogin(const std::string& file, tMandant& m, int32_t n,
                        const std::string& portalName) const;
  tMandant ReadFirmaDaten(db::Recordset& rsboersen);
  std::string GetBoersenDisplayName(db::Recordset& rsboersen, const tMandant& m) const;
  static std::string CleanFileName(std::string& value);
  // Makes the folder and its parents; 75 "CreateFolder: " and the reason when that fails.
  static void MakeFolder(const std::string& path);
  static std::string BoolToText(const Variant& value, const std::string& whenTrue,
                                const std::string& whenFalse, const std::string& whenEmpty);

  // --- schema template (openimmo/schema_template.h) -------------------------------------------
  XmlDocumentPtr OpenXMLFile(const std::string& path, XmlDocumentPtr doc = nullptr) {
    return template_.OpenXMLFile(path, std::move(doc));
  }
  // Copies of the schema and the empty document go to the work folder's "TRANSFER", unless it
  // is a link.
  XmlDocumentPtr CreateEmtpyXML(const XmlDocumentPtr& ddocschema, int32_t eBoersentyp);
  std::shared_ptr<tElementInfo> GetElementInfo(const std::string& element, XmlNode& schema,
                                               const std::string& parentName) {
    return template_.GetElementInfo(element, schema, parentName);
  }
  std::shared_ptr<tElementInfo> GetElementInfo(const XmlNodePtr& decl, XmlNode& schema,
                                               const std::string& parentName) {
    return template_.GetElementInfo(decl, schema, parentName);
  }
  openimmo::SchemaTemplate& Template() { return template_; }
  // True when the recordset has a field of that name.
  static bool FieldExists(db::Recordset& rs, const std::string& name) {
    return rs.FindField(name) >= 0;
  }
  static std::vector<std::string> EmptyStringArray() { return {}; }
  void ClearElementCache() { template_.ClearElementCache(); }
  size_t ElementCacheSize() const { return template_.ElementCacheSize(); }

  // --- portal document and listing loop --------------------------------------------------------
  void MakeAndSendOpenImmoLoop(db::Recordset& rsboersen, const XmlDocumentPtr& tmpl,
                               const XmlDocumentPtr& schema, const tMandant& m, int32_t version);
  void FillHeader(db::Recordset& rsboersen, XmlDocument& schema, XmlDocument& doc,
                  const tMandant& m, int32_t version);
  std::string GetImmoXmlId(db::Recordset& record, bool isObject);
  // Writes the id at once, or while a portal's listings are being built with the other new ids
  // of its document (SaveNewIds), in one transaction instead of one per listing.
  std::string CreateImmoXmlId(db::Recordset& record, const std::string& kind);
  // The new ids not yet written; run before a document leaves and when the listing loop ends.
  void SaveNewIds();
  static std::string RandomAlnum(int32_t length);
  std::string GetXmlFileName(const std::string& url) const;
  void SetTextIfEmpty(XmlNode& node, const std::string& path, const std::string& text);

  // --- listing filling ---------------------------------------------------------------------
  // Fills the listing element; on failure reports it and clears `element` (the listing is
  // dropped). A listing that is not to be sent clears it too.
  void MakeOpenImmo(XmlNodePtr& element, const XmlDocumentPtr& mapping, db::Recordset& rsboersen,
                    db::Recordset& rsObj, std::shared_ptr<db::Recordset>& details,
                    const XmlDocumentPtr& schema, const tMandant& m, const std::string& folder,
                    const XmlDocumentPtr& user1, const XmlDocumentPtr& user2, int32_t version);
  void FillVerwaltung(db::Recordset& rsObj, db::Recordset& details, XmlDocument& schema,
                      XmlNode& element, const XmlDocumentPtr& mapping,
                      const std::array<std::string, 4>& texts, const std::array<bool, 5>& flags,
                      const tMandant& m, db::Recordset& rsboersen, const std::string& folder,
                      int32_t version);
  void ApplyVersionFixups(XmlNode& element, db::Recordset& details, const XmlDocumentPtr& mapping,
                          int32_t version);
  // Raises 23456 (source "CheckPflichtfelder") with the user's advice when a required element
  // is missing; repairs duplicate categories, undeclared type values and parking counts.
  void CheckPflichtfelder(XmlDocument& schema, XmlNode& element, int32_t version);
  void CheckObjektkategorie(XmlNode& element, int32_t version);

  // --- mapping engine (openimmo/mapping_engine.h) -------------------------------------------
  using MapContext = openimmo::MapContext;
  void FillFromZuordnungen(XmlDocument& mapping, const XmlNodePtr& listing,
                           db::Recordset& rsboersen, db::Recordset& rsObj, db::Recordset& details,
                           XmlDocument& schema) {
    mapping_.FillFromZuordnungen(mapping, listing, rsboersen, rsObj, details, schema);
  }
  void GetSourceValue(XmlNode& entry, XmlNodePtr& target, const MapContext& c, tElementInfo* info) {
    mapping_.GetSourceValue(entry, target, c, info);
  }
  static std::string GetNodeValue(const XmlNodePtr& node, const std::string& name,
                                  bool isAttribute) {
    return openimmo::MappingEngine::GetNodeValue(node, name, isAttribute);
  }
  std::string FormatByType(int32_t eType, const std::string& value, bool invert,
                           const std::string& attrName = {}) const {
    return mapping_.FormatByType(eType, value, invert, attrName);
  }
  openimmo::MappingEngine& Mapping() { return mapping_; }

  // --- contact person (openimmo/contact_person.h) ---------------------------------------------
  void MapKontaktperson(XmlDocument& mapping, db::Recordset& rsObj, db::Recordset& details,
                        XmlDocument& schema, XmlNode& element, const tMandant& m,
                        const std::string& folder, const std::string& version) {
    contact_.MapKontaktperson(mapping, rsObj, details, schema, element, m, folder, version);
  }
  void GetKontaktFromAD(const std::string& key, tKontakt& contact) {
    contact_.GetKontaktFromAD(key, contact);
  }
  std::string GetKontaktFelder(tKontakt& contact, const std::string& text) {
    return contact_.GetKontaktFelder(contact, text);
  }
  std::shared_ptr<db::Recordset> GetKontaktDetails(const std::vector<std::string>& codes,
                                                   const std::string& key) {
    return contact_.GetKontaktDetails(codes, key);
  }
  void StartKontaktPhase() { contact_.StartKontaktPhase(); }
  openimmo::ContactPerson& Contact() { return contact_; }

  // --- script hooks (forwarded to the run's scripts; none in single steps), packing and upload
  // The scripts may change the document, its folder and its file base name.
  void DoCallbackBeforeXmlSave(db::Recordset& rsboersen, XmlDocumentPtr& doc, std::string& folder,
                               std::string& base);
  void DoCallbackBeforeTransfer(db::Recordset& rsboersen, bool ftp, const std::string& folder,
                                const std::string& base, std::string& answer);
  void DoCallbackAfterTransfer(db::Recordset& rsboersen, bool ftp, bool sent);
  void ZipAll(const std::string& folder, const std::string& base) {
    delivery_.ZipAll(folder, base);
  }
  bool DoUpload(const std::string& protocol, const std::string& server, const std::string& user,
                const std::string& password, const std::string& localFolder,
                const std::string& remoteFolder, const std::string& extension,
                const std::string& options) {
    return delivery_.DoUpload(protocol, server, user, password, localFolder, remoteFolder,
                              extension, options);
  }

  // --- value conversions and look-ups (openimmo/mapping_engine.h) ---------------------------
  void FillStellplatz(XmlDocument& mapping, XmlNode& element, db::Recordset& details) {
    mapping_.FillStellplatz(mapping, element, details);
  }
  void FillStellplatzPreise(XmlDocument& mapping, XmlNode& element, db::Recordset& details) {
    mapping_.FillStellplatzPreise(mapping, element, details);
  }
  std::string GetWaehrungIso(const std::string& currency) const {
    return mapping_.GetWaehrungIso(currency);
  }
  void FillUserDefinedAnyfield(XmlDocument& doc, XmlDocument& mapping) {
    mapping_.FillUserDefinedAnyfield(doc, mapping);
  }
  std::string LoadContentLanguages(db::Recordset& rsObj) {
    return mapping_.LoadContentLanguages(rsObj);
  }

  // --- pictures and attachments (openimmo/listing_attachments.h) --------------------------------
  void FillAnhaenge(XmlDocument& mapping, db::Recordset& rsboersen, db::Recordset& rsObj,
                    db::Recordset& details, XmlDocument& schema, XmlNode& element,
                    const std::string& folder, int32_t version) {
    attachments_.FillAnhaenge(mapping, rsboersen, rsObj, details, schema, element, folder, version);
  }
  void FillBilder(db::Recordset& rsboersen, db::Recordset& rsObj, XmlNode& element,
                  XmlDocument& schema, const std::string& folder) {
    attachments_.FillBilder(rsboersen, rsObj, element, schema, folder);
  }
  std::string CopyAnhangFile(const std::string& file, const std::string& targetFolder,
                             db::Recordset& rsObj, std::string& title) {
    return attachments_.CopyAnhangFile(file, targetFolder, rsObj, title);
  }
  static std::string PictureGroup(int32_t index, const std::string& title) {
    return openimmo::ListingAttachments::PictureGroup(index, title);
  }
  void SetPictureFrames(const std::string& portalName) {
    attachments_.SetPictureFrames(portalName);
  }
  openimmo::ListingAttachments& Attachments() { return attachments_; }
  void SetInsertCopyright(bool on) { insertCopyright_ = on; }
  // The script hooks to run (the run's own, or a test's).
  void UseScripts(std::unique_ptr<cImmoXmlScriptV2> scripts);

  // --- saving ------------------------------------------------------------------------------
  void CleanSendAndSave(XmlDocumentPtr& doc, const tMandant& m, db::Recordset& rsboersen,
                        const std::string& folder, db::Recordset* listings, bool sendFlag,
                        int32_t version);
  // A full collective document that lost every listing it would withdraw: sent without
  // listings when the portal holds no other and its schema takes such a document; otherwise
  // one error naming the listings that stay, and nothing written.
  void SendWithdrawalsOnly(XmlDocumentPtr& doc, const tMandant& m, db::Recordset& rsboersen,
                           const std::string& folder, db::Recordset* listings, int32_t version,
                           size_t held);
  // Saves, lets the scripts change, saves again and validates against the portal's XSD; the
  // validated document replaces `doc`. Returns the file base name. Where the scripts move or
  // rename the file, `folder` and the name returned are theirs and the first file is gone.
  std::string SaveXmlFile(db::Recordset& rsboersen, XmlDocumentPtr& doc, const tMandant& m,
                          std::string& folder);
  void SaveXmlText(XmlDocument& doc, const std::string& path, int32_t prefixFlag);
  // Copies the files the document at `path` names beside itself from the folder `from` into
  // `to`; 53 naming the document and the files when one is in neither.
  void TakeFilesAlong(XmlDocument& doc, const std::string& from, const std::string& to,
                      const std::string& path);
  // The files in `folder` from before this run that the document saved there as `base` does not
  // name; none when `folder` is the work folder the run made.
  openimmo::HeldBack EarlierFiles(XmlDocument& doc, const std::string& folder,
                                  const std::string& workFolder, const std::string& base) const;
  void RemoveEmptyNodes(const XmlNodePtr& node, int32_t version = 0);
  static std::string RemoveControlChars(const std::string& text);
  // Every character but digits, letters and ":;<=>?@" as "%%" and its Windows-1252 code in
  // upper-case hexadecimal ("%%20", "%%9", "%%E4"); a text holding "%%" is taken as done.
  static std::string DoRemoveNonAscii(const std::string& strPWD);
  static void txt_WriteAll(const std::string& file, const std::string& text);
  static std::string txt_ReadAll(const std::string& file);
  void SetXmlDeclaration(XmlDocument& doc);
  // The XSD the saved documents of the current portal are validated against (real path).
  void SetPortalSchema(const std::string& realPath) { portalSchema_ = realPath; }
  // The validation errors of a document against that XSD; none when no XSD is set.
  std::vector<XmlIssue> ValidateForPortal(const XmlDocument& doc);
  // The same for a built document in the form the portal gets it.
  std::vector<XmlIssue> ValidateAsSent(XmlDocument& doc, db::Recordset& rsboersen);
  // The target namespace of that XSD ("" for none, as the published schema has it).
  const std::string& PortalSchemaNamespace();

  // --- sending and status (openimmo/delivery.h) ----------------------------------------------
  bool SendXml(db::Recordset& rsboersen, XmlDocumentPtr& doc, const tMandant& m,
               const std::string& folder, XmlDocumentPtr& answer, const std::string& base) {
    return delivery_.SendXml(rsboersen, doc, m, folder, answer, base);
  }
  bool FTPTransfer(const std::string& iniFile, db::Recordset& rsboersen, const tMandant& m,
                   const std::string& base, XmlDocumentPtr& doc) {
    return delivery_.FTPTransfer(iniFile, rsboersen, m, base, doc);
  }
  static void SplitHost(const std::string& host, std::string& protocol, std::string& server,
                        std::string& folder, std::string& options) {
    openimmo::Delivery::SplitHost(host, protocol, server, folder, options);
  }
  bool SaveObjektStatus(db::Recordset& rsboersen, XmlDocument& doc, XmlDocument* answer,
                        const tMandant& m) {
    return delivery_.SaveObjektStatus(rsboersen, doc, answer, m);
  }
  bool RemoveImmobilie(const std::string& objektnrIntern, XmlDocument& doc) {
    return delivery_.RemoveImmobilie(objektnrIntern, doc);
  }
  const std::vector<std::string>& StatusQueue() const { return statusQueue_; }
  HttpPostOutcome PostDocument(const std::string& url, const std::string& body,
                               const std::string& user, const std::string& password) {
    return delivery_.PostDocument(url, body, user, password);
  }
  void SetConverterWait(int32_t rounds, int32_t stepMs) {
    delivery_.SetConverterWait(rounds, stepMs);
  }
  openimmo::Delivery& Delivery() { return delivery_; }

  // The host objects of the run (set by StartImmoXML; tests may set them directly).
  void Attach(cFernDispatcher& app, const std::string& connect, int32_t type);
  cImmoHelperV2& Helper() { return *helper_; }
  double RunStart() const { return runStart_; }
  void SetRunStart(double serial) { runStart_ = serial; }
  const std::string& LastStateText() const { return lastState_; }

 private:
  std::string HostIni() const;
  void RemoveZipTempFile();
  // Whether the document is sent without its namespace ([OPENIMMO] EMPTYPREFIX).
  bool StripsNamespace(int32_t prefixFlag) const;
  void StripNamespace(XmlDocument& doc) const;
  // 50012 naming the file and the first issues when the document does not fit the portal's XSD.
  void ThrowUnlessValid(const XmlDocument& doc, const std::string& path, const std::string& source);
  std::string Ini(const std::string& section, const std::string& key, const std::string& def) const;
  std::string T(const std::string& german, const std::string& p1 = {}, const std::string& p2 = {},
                const std::string& p3 = {}, const std::string& p4 = {}, const std::string& p5 = {},
                const std::string& p6 = {}) const;
  void Work(int16_t state, const std::string& text) const { events.RaiseWorkState(state, text); }
  std::vector<std::string> Feldart(db::Recordset& details, const std::string& code,
                                   const std::string& column) {
    return mapping_.Feldart(details, code, column);
  }
  XmlNodePtr Sel(XmlNode& node, const std::string& path) const;  // with "imo:" steps

  Settings set_;
  cDal* dal_ = nullptr;
  cUtil* util_ = nullptr;
  cFernDispatcher* app_ = nullptr;
  std::string connect_;
  int32_t type_ = 5;
  bool unattended_ = true;
  double runStart_ = 0;
  std::string lastState_;
  bool collectIds_ = false;
  std::vector<std::pair<std::string, std::string>> newIds_;  // id, its UPDATE
  std::string tempPath_;
  std::string portalSchema_;
  std::shared_ptr<XmlSchemaCache> portalCache_;
  std::string portalCacheFile_;
  std::string portalTarget_;
  std::unique_ptr<cImmoHelperV2> helper_;
  // When this portal and client's export started, as file times go, and what stays out of the
  // document's archive and upload: what was there before, other portals' documents of the same
  // run included.
  openimmo::FileStamp exportStartStamp_;
  openimmo::HeldBack heldBack_;
  std::unique_ptr<cZipV2> zip_;  // made once per phase; single steps make it when they pack
  std::string zipTempFile_;
  std::vector<std::string> statusQueue_;
  // The listings the collective document withdraws by leaving them out, with their line.
  struct Withdrawal {
    std::string kennung;
    std::string line;
  };
  std::vector<Withdrawal> withdrawn_;
  std::unique_ptr<cImmoXmlScriptV2> script_;  // null: no hooks (single steps in tests)
  openimmo::SchemaTemplate template_;
  openimmo::MappingEngine mapping_{{set_, dal_, connect_, util_, helper_, template_}};
  bool insertCopyright_ = false;  // pictures and attachments: the host's signature switch
  openimmo::ListingAttachments attachments_{
      {set_, app_, util_, dal_, connect_, helper_, script_, insertCopyright_, events}};
  openimmo::ContactPerson contact_{
      {set_, dal_, connect_, app_, helper_, events, attachments_, mapping_}};
  openimmo::Delivery delivery_{
      {set_, dal_, connect_, app_, helper_, zip_, type_, unattended_, runStart_, statusQueue_,
       heldBack_, events,
       [this](db::Recordset& rs, const tMandant& m) { return GetBoersenDisplayName(rs, m); },
       [this] { return GetTransferTempPath(); },
       [this](db::Recordset& rs, bool ftp, const std::string& folder, const std::string& base,
              std::string& answer) { DoCallbackBeforeTransfer(rs, ftp, folder, base, answer); },
       [this](db::Recordset& rs, bool ftp, bool sent) { DoCallbackAfterTransfer(rs, ftp, sent); }}};
};

// The exporters this program makes: the OpenImmo export is cImmoXmlV2.
ExporterFactory DefaultExporters();

}  // namespace fern
