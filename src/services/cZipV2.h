// Zip packing for the OpenImmo export when no outside zip program is at hand: adds files to an
// archive with entry names relative to a base folder, and takes the first matching file out.
//
// Paths are host texts ("\" or "/"), resolved case-insensitively before the file system is touched.
#pragma once

#include <functional>
#include <string>

#include "platform/host_error.h"

namespace fern {

class cZipV2 {
 public:
  // Where errors go when the caller asked for error handling: the program's error report. The
  // procedure then ends as the library left things. Without a handler, errors are thrown.
  std::function<void(const HostError& error)> ErrorHandler;

  // Adds the items of strPathAddFile to the archive strPathZip (created when missing, entries of
  // the same name replaced). The list holds file names or wildcard patterns ("*", "?", matched
  // without regard to case), each in double quotes, separated by blanks; a folder item adds the
  // folder's files. blnRecurse takes the subfolders too (a pattern then matches in every folder).
  // An entry name is the file's path below strBaseFolder ("/" separated) when the file lies
  // there, otherwise its full path without the leading "/". The archive itself is never added;
  // a list of blanks creates nothing.
  // Fails (HostError, source "cZip") when an item names no existing file or folder, a file is
  // unreadable, or the archive cannot be written; the archive is then left as it was.
  void AddFile(const std::string& strPathZip, std::string& strPathAddFile,
               const std::string& strBaseFolder, bool blnRecurse = false);

  // Extracts the first file entry, in archive order, whose lower-cased name matches strMatch
  // ("*.xml"), into strDestFolder without its archive folders, replacing a file of that name.
  // Returns strDestFolder + "\" + file name, or "" when no entry matches. An entry whose name
  // would leave the folder ("..", absolute names) is refused with an error. Errors are thrown,
  // or, when bnlWithErrorHandling is set and an ErrorHandler is installed, reported to it and ""
  // is returned.
  std::string ExtractFirstMatchingFile(const std::string& strPathZipFile,
                                       const std::string& strMatch,
                                       const std::string& strDestFolder,
                                       bool bnlWithErrorHandling = false);

  // Names one entry of the running AddFile: a full path below its base folder (compared without
  // regard to case) loses the base folder and the separator after it; any other stays as it is.
  void zip_ZipRenameCallback(std::string& strName) const;

 private:
  std::string baseFolder_;  // of the running AddFile, resolved, "/" separated; "" for none
  std::string Extract(const std::string& zipPath, const std::string& match,
                      const std::string& destFolder);
};

}  // namespace fern
