// Files an earlier run left in a folder that is used again. A script hook may save the document
// into a folder of the office's own, the same every night; what the nights before left there
// stays where it is, but goes neither into this run's archive nor to the portal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fern::openimmo {

// A moment as the file system stamps file times, to the nanosecond.
struct FileStamp {
  int64_t sec = 0;
  int64_t nsec = 0;
};

// Now, by the clock the kernel stamps files with. Its coarse tick lags the fine clock, so a
// fine reading could make a file written just after it look older.
FileStamp FileStampNow();

// A moment after every file written so far and not after any written from now on: the coarse
// clock's next tick, waited for (a few milliseconds at most).
FileStamp FileStampFromNow();

// The regular files below `folder` (subfolders too, links to folders not followed) last changed
// before `since`, leaving out those in `keep` (real paths). A zero `since` gives none.
std::vector<std::filesystem::path> FilesFromBefore(const std::filesystem::path& folder,
                                                   FileStamp since,
                                                   const std::vector<std::filesystem::path>& keep);

// What stays out of a document's archive and upload, looked at when they are made, so that a
// file a hook rewrites in the meantime goes.
struct HeldBack {
  std::filesystem::path folder;  // empty: nothing
  FileStamp since;
  std::vector<std::filesystem::path> keep;

  std::vector<std::filesystem::path> Files() const {
    return folder.empty() ? std::vector<std::filesystem::path>()
                          : FilesFromBefore(folder, since, keep);
  }
};

// Whether `file` is one of `files`, the paths compared as written, normalised.
bool IsListed(const std::filesystem::path& file, const std::vector<std::filesystem::path>& files);

// The folder an upload takes: `hostFolder` itself, or, when files below it are held back, a
// copy of its tree without them at `scratch` (hard links where the file system allows), removed
// again with this object. HostError 75 naming the file that could not be placed there.
class UploadSource {
 public:
  UploadSource(const std::string& hostFolder, const std::vector<std::filesystem::path>& heldBack,
               const std::filesystem::path& scratch);
  ~UploadSource();
  UploadSource(const UploadSource&) = delete;
  UploadSource& operator=(const UploadSource&) = delete;

  // A host path.
  const std::string& folder() const { return folder_; }

 private:
  void Fill(const std::filesystem::path& from, const std::vector<std::filesystem::path>& heldBack);

  std::string folder_;
  std::filesystem::path copy_;  // empty: the folder itself is sent
};

}  // namespace fern::openimmo
