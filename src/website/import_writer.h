// The numbered import scripts "db/kvws_import<n>.php": each connects to the site's database
// with the settings of "classes/dbdata.php" and runs a block of SQL statements when the site's
// web server executes it. Statements arrive one by one and are written at once; a file is closed
// after MAXLINES statements or after the statement that takes it past MAXBYTES * 1024
// characters, and the next statement opens the next file.
//
// The scripts use mysqli (mysql_* is gone since PHP 7) and keep the classic eight header lines,
// so the debug line numbers ("at line: 9" for the first statement) stay true. The session is
// set to latin1 (the files are Windows-1252) and NO_BACKSLASH_ESCAPES (sql_literals.h); a
// "host:/socket" or ":/socket" host connects through that socket.
//
// Every statement is checked on the site: a failing one ends its script with one line naming the
// file, the statement's line and MySQL's error, so the run can tell a refused import from a whole
// one (an import script prints nothing when it succeeds).
//
// Files are Windows-1252 with CR LF. A statement line that can't be written is a HostError, and
// the writer keeps the first such failure and writes nothing after it: a half-written import
// never passes for a whole one, even when a caller passes over the error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace fern::website {

class ImportScriptWriter {
 public:
  // Told the name of each file just opened ("kvws_import1.php").
  std::function<void(const std::string& fileName)> FileOpened;

  // The folder receives the files; it must exist when the first statement arrives.
  void SetFolder(const std::filesystem::path& folder) { folder_ = folder; }
  // The settings as text, as the INI holds them: MAXLINES (0: no count limit), MAXBYTES in
  // units of 1024 characters, DEBUGMODE ("0" or anything else).
  void SetLimits(const std::string& maxLines, const std::string& maxBytes,
                 const std::string& debugMode);

  // Back to no file written; an open file is closed first.
  void Reset();

  // Writes one statement (blank statements are skipped); double quotes become blanks.
  void WriteImportStatement(const std::string& statement);
  // Closes the open file with its footer; nothing when none is open.
  void CreateImportFooter();

  // The first write that failed ("" while every write succeeded); kept until Reset.
  const std::string& Failure() const { return failure_; }

  // Number of the file opened last (0: none yet) = the number of import files.
  int32_t FileNumber() const { return fileNumber_; }
  bool FileOpen() const { return statements_ > 0; }

  // The statement line as it stands in file `fileNumber` on line `lineNumber`.
  std::string StatementLine(const std::string& statement, int32_t fileNumber,
                            int32_t lineNumber) const;
  static std::string FileName(int32_t number);

 private:
  void CreateImportHeader();
  void WriteLine(const std::string& utf8);
  [[noreturn]] void Fail(const std::string& text, const char* procedure);

  std::filesystem::path folder_;
  std::string maxLines_ = "500";
  std::string maxBytes_ = "200";
  bool debug_ = false;
  int32_t fileNumber_ = 0;
  int32_t statements_ = 0;
  int64_t characters_ = 0;
  std::ofstream file_;
  std::filesystem::path path_;
  std::string failure_;
};

}  // namespace fern::website
