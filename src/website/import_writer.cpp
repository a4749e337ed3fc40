#include "website/import_writer.h"

#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/vb.h"

namespace fern::website {

namespace {

// Lines 5 to 8 of the classic header, each still one line: connect (through a socket when the
// host names one), select the database and set up the session.
constexpr const char* kConnectLine =
    "mysqli_report(MYSQLI_REPORT_OFF); $kvws_host = explode(':', $host, 2); $kvws_socket = "
    "(count($kvws_host) > 1 && substr($kvws_host[1], 0, 1) == '/') ? $kvws_host[1] : null; "
    "$kvws_port = (count($kvws_host) > 1 && $kvws_socket === null && $kvws_host[1] !== '') ? "
    "(int)$kvws_host[1] : null; $dbconnection = @mysqli_connect(($kvws_host[0] === '' ? "
    "'localhost' : $kvws_host[0]), $user, $passwd, '', $kvws_port, $kvws_socket) or die('Es "
    "konnte keine Verbindung zum Datenbankserver <b>$host</b> hergestellt werden.');";
constexpr const char* kSelectLine =
    "$db_selected = @mysqli_select_db($dbconnection, $dbname) or die('Die Datenbank "
    "<b>$dbname</b> konnte nicht gefunden werden.'); mysqli_set_charset($dbconnection, "
    "'latin1'); mysqli_query($dbconnection, \"SET SESSION sql_mode='NO_BACKSLASH_ESCAPES'\");";

}  // namespace

void ImportScriptWriter::SetLimits(const std::string& maxLines, const std::string& maxBytes,
                                   const std::string& debugMode) {
  maxLines_ = maxLines;
  maxBytes_ = maxBytes;
  debug_ = debugMode != "0";
}

void ImportScriptWriter::Reset() {
  if (file_.is_open()) file_.close();
  failure_.clear();
  fileNumber_ = 0;
  statements_ = 0;
  characters_ = 0;
}

std::string ImportScriptWriter::FileName(int32_t number) {
  return "kvws_import" + std::to_string(number) + ".php";
}

std::string ImportScriptWriter::StatementLine(const std::string& statement, int32_t fileNumber,
                                              int32_t lineNumber) const {
  const std::string sql = vb::Replace(statement, "\"", " ");
  const std::string line = std::to_string(lineNumber);
  const std::string said =
      debug_ ? "Error in script kvws_import" + std::to_string(fileNumber) + " at line: " + line
             : FileName(fileNumber) + ", line " + line;
  return "mysqli_query($dbconnection, \"" + sql + "\") or die(\"" + said +
         ": \" . mysqli_error($dbconnection)); ";
}

void ImportScriptWriter::Fail(const std::string& text, const char* procedure) {
  if (failure_.empty()) failure_ = text;
  throw HostError(err::kPathFileAccess, text, procedure);
}

void ImportScriptWriter::WriteLine(const std::string& utf8) {
  const std::string bytes = cp1252::FromUtf8(utf8) + "\r\n";
  file_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file_)
    Fail("Die Datei " + path_.string() + " konnte nicht geschrieben werden.",
         "WriteImportStatement");
}

void ImportScriptWriter::CreateImportHeader() {
  ++fileNumber_;
  path_ = folder_ / FileName(fileNumber_);
  file_.clear();
  file_.open(path_, std::ios::binary | std::ios::trunc);
  if (!file_)
    Fail("Die Datei " + path_.string() + " konnte nicht angelegt werden.",
         "CreateImportScript_CreateImportHeader");
  for (const char* line :
       {"<?php", "", "if ( !defined('dbdata_inc') ) include('../classes/dbdata.php');", "",
        kConnectLine, "if ( $dbconnection ){", kSelectLine, "if ( $db_selected ){"})
    WriteLine(line);
  statements_ = 0;
  characters_ = 0;
  if (FileOpened) FileOpened(FileName(fileNumber_));
}

void ImportScriptWriter::WriteImportStatement(const std::string& statement) {
  if (!failure_.empty() || vb::Trim(statement).empty()) return;
  if (statements_ == 0) CreateImportHeader();
  const std::string line = StatementLine(statement, fileNumber_, statements_ + 9);
  characters_ += static_cast<int64_t>(cp1252::FromUtf8(line).size());
  ++statements_;
  WriteLine(line);
  const auto maxLines = static_cast<int64_t>(vb::Val(maxLines_));
  const double maxBytes = vb::Val(maxBytes_);
  if (statements_ == maxLines || static_cast<double>(characters_) / 1024.0 > maxBytes)
    CreateImportFooter();
}

void ImportScriptWriter::CreateImportFooter() {
  if (statements_ == 0) return;
  statements_ = 0;
  characters_ = 0;
  if (!failure_.empty()) {
    file_.close();
    return;
  }
  for (const char* line : {"}", "mysqli_close($dbconnection);", "}", "?>"}) WriteLine(line);
  file_.close();
  if (!file_)
    Fail("Die Datei " + path_.string() + " konnte nicht geschrieben werden.",
         "CreateImportScript_CreateImportFooter");
}

}  // namespace fern::website
