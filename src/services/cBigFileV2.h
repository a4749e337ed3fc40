// The ".big" transfer container: folder trees packed into numbered container files plus a ".dir"
// index, for the web site's PHP unpacker to read.
//
// Container:  "BIGFILE", then per file one record:
//   info length (12 zero-padded decimal digits, every byte XOR 0xFF)
//   info text   ("|name|folder|size|modified|attributes|2|", Windows-1252, every byte XOR 0xFF)
//   data length (as the info length)
//   data        (zlib compress() output of the whole file, not inverted)
// Index line: "full path|size|modified|folder|" CR LF, Windows-1252.
//
// Paths are host texts ("\" or "/"); they are resolved case-insensitively before the file
// system is touched. Memory stays bounded by the largest single file: files are packed one by one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fern {

class cBigFileV2 {
 public:
  cBigFileV2();
  ~cBigFileV2();
  cBigFileV2(const cBigFileV2&) = delete;
  cBigFileV2& operator=(const cBigFileV2&) = delete;

  // Raised with the full path of each file just before it is packed.
  std::function<void(const std::string& sMessage)> DoMessage;

  // Appends start + separator + name for every file matching `file` (case-insensitive "*" and
  // "?"; "*.*" matches every name) to FileFound; an empty list first gets the empty element 0.
  // A folder's own files come before those of its subfolders; each subfolder is searched once.
  // A missing or unreadable folder yields nothing; FindFile never fails.
  void FindFile(const std::string& StartPath, bool SearchSubfolder, const std::string& file,
                std::vector<std::string>& FileFound);

  // Closes an open container and index, and resets the byte total, size and container count.
  void Clear();

  // Starts a packing: opens container 1 and creates (or truncates) the index beside it.
  // strOutFileName "X.big" gives containers "X_1.big", "X_2.big", ... and the index "X.dir";
  // a name without a ".big" extension gets "_<n>.big" appended. Throws HostError when a file
  // cannot be created.
  void bigOpenWrite(std::string& strOutFileName);

  // The name with the extension of its final component replaced by strExt (a leading "." of
  // strExt is dropped); a name without extension gets one.
  std::string ChangeFileExt(std::string& strFileName, const std::string& strExt) const;

  // Closes the open container and the index; a no-op when none is open. Throws HostError when
  // the last bytes cannot be written.
  void bigClose();

  // Packs one file, or every file matching a wildcard name in its folder, under the relative
  // folder strBigFileInfo_FilePath (normalised in place: trimmed, one trailing "\", no leading
  // "\"). Throws HostError when no container is open, the file is missing or unreadable, a name
  // cannot be stored (contains "|", "\", CR or LF, or is not Windows-1252), the relative folder
  // would leave the unpack folder ("..", "/"), compression fails or the container cannot be
  // written. A refused file leaves the container and index untouched. After each file the
  // container is measured; past MaxTransferBytes the next one is opened.
  void bigWriteFile(std::string& strInFileName, std::string& strBigFileInfo_FilePath);

  // Packs the whole tree below strInPathName: subfolders first, then the folder's files, each in
  // name order. strFilterList is a blank-separated list of upper-case extensions ("JPG GIF");
  // empty or "*" packs every file. The stored names are lower-cased, folder names keep their
  // case; DoMessage and the index get the lower-cased path. Window events are let through after
  // each file. Throws as bigWriteFile; the folder missing is an error too.
  void bigWriteFolder(const std::string& strInPathName, const std::string& strBigFileInfo_FilePath,
                      const std::string& strFilterList = {});

  // Containers opened since the last Clear.
  int32_t CountFiles() const { return count_; }
  // Bytes of the closed containers plus the current one as measured after its last file.
  int64_t Size() const { return total_ + current_; }

  // Container size limit in units of 1024 bytes; 0 or less: no limit. 4096 after construction.
  int32_t MaxTransferBytes() const { return maxTransferBytes_; }
  void MaxTransferBytes(int32_t lValue) { maxTransferBytes_ = lValue; }

 private:
  void OpenContainer();
  void CloseContainer();
  std::string ContainerName(int32_t number) const;
  void WriteOne(const std::string& realPath, const std::string& shownPath, const std::string& name,
                const std::string& folder);
  void WalkFolder(const std::string& realFolder, const std::string& shownFolder,
                  const std::string& folder, const std::string& filter);
  void WriteBytes(std::FILE* f, const void* data, size_t n, const std::string& what);

  int64_t total_ = 0;
  int64_t current_ = 0;
  int32_t count_ = 0;
  int32_t maxTransferBytes_ = 4096;
  std::string outFileName_;
  std::string containerPath_;
  std::FILE* container_ = nullptr;
  std::FILE* index_ = nullptr;
  std::string indexPath_;
  // The containers and index of this write, as real paths: a folder that holds them must not
  // pack them into themselves.
  std::vector<std::filesystem::path> outputs_;
  // Reused between files so the buffers grow to the largest file only.
  std::vector<unsigned char> content_;
  std::vector<unsigned char> packed_;
};

}  // namespace fern
