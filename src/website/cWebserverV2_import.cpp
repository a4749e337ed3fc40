// The import-script driver, the web field list and the column statements.
#include "core/cFernDispatcher.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/msgbox.h"
#include "platform/vb.h"
#include "website/cWebserverV2.h"
#include "website/text_helpers.h"

namespace fern {

using website::StringToHTML;

void cWebserverV2::WriteImportStatement(const std::string& statement) {
  importWriter_.WriteImportStatement(statement);
}

bool cWebserverV2::RunImportStep(const std::string& name, const std::function<void()>& step) {
  currentStep_ = name;
  try {
    step();
    return true;
  } catch (const HostError& e) {
    WSMessage("iWSNone", "ERROR - in Sub (" + currentStep_ + "): " + e.description());
  } catch (const std::exception& e) {
    WSMessage("iWSNone", "ERROR - in Sub (" + currentStep_ + "): " + e.what());
  }
  const std::string question = T("Es sind Fehler aufgetreten. Trotzdem fortsezten?");
  if (Unattended()) {
    // Going on would upload a half-written import: nobody is there to decide, so it stops.
    WSMessage("iWSText", question + " " + T("Nein (unbeaufsichtigter Lauf)"));
    return false;
  }
  return util_->MessageBox(question, mb::kYesNo | mb::kExclamation, "Kavantor") == mb::kYes;
}

bool cWebserverV2::CreateImportScript(db::Recordset& rsboersen) {
  WSMessage("iWSText", T("Script für den Datenbankaufbau wird erstellt."));
  importWriter_.SetFolder(ResolveHostPath(SiteFolder() + "\\db"));
  importWriter_.SetLimits(settings.MAXLINES, settings.MAXBYTES, settings.DEBUGMODE);
  importWriter_.FileOpened = [this](const std::string& name) {
    WSMessage("", T("%1 wurde angelegt.", name));
  };
  bool result = true;
  auto step = [&](const std::string& name, const std::function<void()>& run) {
    if (!RunImportStep(name, run)) {
      result = false;
      return false;
    }
    return true;
  };
  if (!step("", [&] { CreateFLDARTWhere(); })) return false;
  if (!step("", [&] { CreateImportScript_AlterTable_DAT(); })) return false;
  if (!step("CreateImportScript_AlterTable_INTERESSENTEN",
            [&] { CreateImportScript_AlterTable_INTERESSENTEN(); }))
    return false;
  for (const ImportStep& s : dataSteps)
    if (!step(s.name, [&] { s.run(rsboersen); })) return false;
  if (!step("CreateImportScript_CreateImportFooter", [&] { importWriter_.CreateImportFooter(); }))
    return false;
  // A step may pass over a failed write; the import on disk is then no longer whole.
  if (!importWriter_.Failure().empty()) {
    WSMessage("iWSText", T("Fehler") + ": " + importWriter_.Failure());
    return false;
  }
  return result;
}

bool cWebserverV2::CreateFLDARTList() {
  auto rs =
      Query("select * from FLDART where AKTIV=1 and OBJ=1 and WEBSERVERSTATUS>0 order by KÜRZEL");
  bool any = false;
  for (; !rs->Eof(); rs->MoveNext()) {
    if (!any) webFields.clear();  // a query without rows leaves the list as it was
    any = true;
    const int32_t status =
        static_cast<int32_t>(vb::Val(StringToHTML(rs->Value("WEBSERVERSTATUS"))));
    if (status <= 0) continue;
    webFields.push_back({StringToHTML(rs->Value("KÜRZEL")), status});
  }
  return any;
}

void cWebserverV2::CreateFLDARTWhere() {
  std::string filter;
  for (const WebField& f : webFields)
    filter += (filter.empty() ? "" : " or") + std::string(" FLDART.KÜRZEL = ") +
              cUtil::SqlStr(Variant(f.kuerzel));
  fieldTypeFilter = "(" + filter + " )";
}

void cWebserverV2::CreateImportScript_AlterTable_DAT() {
  std::vector<website::FieldTypeRow> rows;
  if (!webFields.empty()) {
    auto rs = Query(
        "select FLDART.DSN, FLDART.KÜRZEL, FLDART.TYP, FLDART.WEBSERVERSTATUS from FLDART  "
        "where " +
        fieldTypeFilter + " order by FLDART.KÜRZEL, FLDART.WEBSERVERSTATUS DESC");
    for (; !rs->Eof(); rs->MoveNext())
      rows.push_back({cUtil::k(rs->Value("KÜRZEL")),
                      static_cast<int32_t>(vb::Val(cUtil::k(rs->Value("TYP")))),
                      static_cast<int32_t>(vb::Val(cUtil::k(rs->Value("WEBSERVERSTATUS"))))});
  }
  columns_ = std::make_unique<website::FieldColumns>(
      languages_,
      [this](const std::string& kind, const std::string& text) { WSMessage(kind, text); },
      [this](const std::string& german, const std::string& p1) { return T(german, p1); });
  columns_->Build(rows);
  for (const std::string& statement : columns_->AlterStatements()) WriteImportStatement(statement);
  WriteImportStatement(columns_->TextColumnStatement());
}

void cWebserverV2::CreateImportScript_AlterTable_INTERESSENTEN() {
  website::FieldColumns requests(languages_, {}, {});
  WriteImportStatement(requests.RequestColumnStatement());
}

}  // namespace fern
