// The IS24 road of portal type 11: the host's converter program turns the saved document into the
// portal's own files, talking to us through "IS24Xml.ini", and FTPTransfer uploads the folders it
// names. A hook may also hand a control file of its own to FTPTransfer.
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/delivery.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"
#include "platform/ini_file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace fern::openimmo {
namespace fs = std::filesystem;

namespace {

constexpr const char* kConverterSection = "IS24XmlConverter";

std::string HostFolder(const cFernDispatcher* app) {
  std::string f = app ? app->Folder() : Session().g_strHostPath;
  if (!f.empty() && (f.back() == '\\' || f.back() == '/')) f.pop_back();
  return f;
}

// The rejection list beside a control file: the same name with ".err". Only the extension
// changes, so a folder name holding ".ini" or a control file "X.INI" never makes the control
// file itself read as the list.
fs::path ErrorFileOf(const fs::path& ini) {
  fs::path err = ini;
  err.replace_extension(".err");
  return err;
}

}  // namespace

bool Delivery::SendThroughConverter(db::Recordset& rsboersen, XmlDocumentPtr& doc,
                                    const tMandant& m, const std::string& folder,
                                    const std::string& base) {
  const fs::path convFolder = fs::path(Real(folder)).parent_path() / "IS24XmlConverter";
  std::error_code ec;
  fs::create_directories(convFolder, ec);
  if (ec) {
    Work(state::kError, T("Verzeichnis '%1' konnte nicht erstellt werden. (%2) [SendXml.IS24Xml]",
                          convFolder.string(), ec.message()));
    return false;
  }
  const fs::path ini = convFolder / "IS24Xml.ini";
  const std::string iniText = ini.string();
  const std::string hostFolder = HostFolder(run_.app);

  // Answers of an earlier run must not pass for this run's: a stale rejection list would take
  // listings out of this document, a stale version would make silence look like an answer.
  const fs::path errFile = ErrorFileOf(ini);
  fs::remove(errFile, ec);
  if (ec) {
    Work(state::kError, T("Datei '%1' konnte nicht gelöscht werden. (%2) [SendXml.IS24Xml]",
                          errFile.string(), ec.message()));
    return false;
  }
  fern::IniWrite(kConverterSection, "SourceFile", Real(folder + "\\" + base + ".xml"), ini);
  fern::IniWrite(kConverterSection, "SchemaFile",
                 Real(hostFolder + "\\system\\xml\\is24immotransfer.xsd"), ini);
  fern::IniWrite(kConverterSection, "Result", "", ini);
  fern::IniWrite(kConverterSection, "IS24XmlConverterVersion", "", ini);
  fern::IniWrite("FTPTransfer", "Host", "§DEFAULT§", ini);
  fern::IniWrite("FTPTransfer", "HostDir", "§DEFAULT§", ini);
  fern::IniWrite("FTPTransfer", "UploadDirList", "root=§zip§", ini);

  Work(state::kInfo, "START XmlConverter");
  const std::string program = hostFolder + "\\system\\IS24XmlConverter.exe";
  const fs::path programPath = Real(program);
  if (!fs::is_regular_file(programPath, ec)) {
    Work(state::kError, T("Programm '%1' nicht gefunden. [SendXml.IS24Xml]", program));
    return false;
  }

  // The converter is waited for as long as it may take to answer, and ended after that, so a
  // hung converter never holds up the run.
  const int32_t step = std::max<int32_t>(converterStepMs_, 1);
  const int32_t rounds = std::max<int32_t>(converterRounds_, 0);
  ProcessOptions options;
  options.timeout = std::chrono::milliseconds(int64_t{step} * rounds);
  options.captureStdout = options.captureStderr = true;
  options.killGrace = std::chrono::milliseconds(500);
  const auto started = std::chrono::steady_clock::now();
  const ProcessResult run = RunProcess({programPath.string(), iniText}, options);
  if (run.outcome == ProcessOutcome::kStartFailed) {
    Work(state::kError, T("Programm '%1 %2' konnte nicht gestartet werden.", program, iniText) +
                            " (" + run.error + ")");
    return false;
  }

  fern::IniCacheReset();
  std::string result = fern::IniGet(kConverterSection, "Result", "", ini);
  if (run.outcome == ProcessOutcome::kExited && run.exitCode == 0) {
    // A converter that hands the work on and ends at once still gets the rest of its time.
    const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
    for (int64_t round = used / step; result.empty() && round < rounds; ++round) {
      cUtil::Sleep(step);
      fern::IniCacheReset();
      result = fern::IniGet(kConverterSection, "Result", "", ini);
    }
  }
  fern::IniCacheReset();
  const std::string version = fern::IniGet(kConverterSection, "IS24XmlConverterVersion", "", ini);
  if (result != "#OK#") {
    if (!version.empty())
      Work(state::kError, result + " (Version " + version + ")");
    else
      Work(state::kError, T("Programm '%1 %2' konnte nicht gestartet werden.", program, iniText));
    return false;
  }
  Work(state::kInfo, "END XmlConverter (Version " + version + ")");
  const bool sent = FTPTransfer(iniText, rsboersen, m, base, doc);
  run_.afterTransfer(rsboersen, true, sent);
  return sent;
}

bool Delivery::FTPTransfer(const std::string& iniFile, db::Recordset& rsboersen, const tMandant& m,
                           const std::string& base, XmlDocumentPtr& doc) {
  const fs::path iniPath = Real(iniFile);
  const fs::path baseFolder = iniPath.parent_path();
  const std::string display = run_.displayName(rsboersen, m);
  bool result = true;

  // Listings the converter refused leave the document, so no status is written for them.
  const fs::path errFile = ErrorFileOf(iniPath);
  if (fs::is_regular_file(errFile)) {
    for (std::string line : text::SplitLines(ReadText(errFile))) {
      if (vb::Trim(line).empty()) continue;
      const std::string id = cUtil::StrList_DeleteFirst(line, "|");
      const std::string label = cUtil::StrList_DeleteFirst(line, "|");
      const std::string error = cUtil::StrList_DeleteFirst(line, "|");
      Work(state::kError,
           ">>>> " +
               T("Fehler [Objekt %1]: %2 Es wird daher nicht übernommen ;[Börse: %3]; %4",
                 vb::Trim(label), error, display, "IS24XMLConverter") +
               " ;[Proc: FTPTransfer]");
      RemoveImmobilie(vb::Trim(id), *doc);
    }
  }

  fern::IniCacheReset();
  const std::string hostText = cUtil::k(rsboersen.Value("boersen_host"));
  const size_t slash = hostText.find('/');
  std::string host = fern::IniGet("FTPTransfer", "Host", "", iniPath);
  if (host == "§DEFAULT§") host = hostText.substr(0, slash);
  std::string hostDir = fern::IniGet("FTPTransfer", "HostDir", "", iniPath);
  if (hostDir == "§DEFAULT§")
    hostDir = slash == std::string::npos ? std::string() : hostText.substr(slash + 1);

  std::string list = fern::IniGet("FTPTransfer", "UploadDirList", "", iniPath);
  while (!list.empty() && result) {
    std::string pair = cUtil::StrList_DeleteFirst(list, "|");
    const std::string dir = cUtil::StrList_DeleteFirst(pair, "=");
    std::string action = pair;
    const fs::path local = Real((baseFolder / dir).string());
    if (!fs::is_directory(local)) continue;
    std::string remote = vb::UCase(dir) == "ROOT" ? std::string() : dir;
    if (!hostDir.empty()) remote = remote.empty() ? hostDir : hostDir + "/" + remote;
    fs::path upload = local;
    if (vb::UCase(action) == "§ZIP§") {
      upload = local / "zip";
      std::error_code fe;
      fs::remove_all(upload, fe);
      if (!fe) ZipAll(local.string(), base);
      if (!fe) fs::create_directories(upload, fe);
      if (!fe) fs::rename(local / (base + ".zip"), upload / (base + ".zip"), fe);
      if (fe)
        throw HostError(err::kPathFileAccess, upload.string() + ": " + fe.message(), "FTPTransfer");
      action = T("Übertrage Zip-Datei");
    }
    if (!action.empty()) Work(state::kInfo, action);
    result = DoUpload("", host, m.LoginName, m.Password, upload.string(), remote, "", "");
  }
  return result;
}

}  // namespace fern::openimmo
