#include "openimmo/earlier_files.h"

#include <sys/stat.h>

#include <ctime>
#include <system_error>

#include "platform/host_error.h"
#include "platform/host_path.h"

namespace fern::openimmo {

namespace fs = std::filesystem;

namespace {

// Every regular file below `folder`, and every real subfolder before the files in it.
template <typename OnFolder, typename OnFile>
void Walk(const fs::path& folder, OnFolder onFolder, OnFile onFile) {
  std::error_code ec;
  for (fs::recursive_directory_iterator
           it(folder, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (it->is_symlink(typeEc) && it->is_directory(typeEc)) continue;
    if (it->is_directory(typeEc))
      onFolder(it->path());
    else if (it->is_regular_file(typeEc))
      onFile(it->path());
  }
}

}  // namespace

FileStamp FileStampNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return {now.tv_sec, now.tv_nsec};
}

FileStamp FileStampFromNow() {
  const FileStamp before = FileStampNow();
  for (;;) {
    const FileStamp now = FileStampNow();
    if (now.sec != before.sec || now.nsec != before.nsec) return now;
    timespec pause{0, 500000};
    nanosleep(&pause, nullptr);
  }
}

bool IsListed(const fs::path& file, const std::vector<fs::path>& files) {
  const fs::path normal = file.lexically_normal();
  for (const fs::path& f : files)
    if (f.lexically_normal() == normal) return true;
  return false;
}

std::vector<fs::path> FilesFromBefore(const fs::path& folder, FileStamp since,
                                      const std::vector<fs::path>& keep) {
  std::vector<fs::path> out;
  if (since.sec == 0 && since.nsec == 0) return out;
  Walk(
      folder, [](const fs::path&) {},
      [&](const fs::path& file) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) return;
        const bool before = st.st_mtim.tv_sec < since.sec ||
                            (st.st_mtim.tv_sec == since.sec && st.st_mtim.tv_nsec < since.nsec);
        if (before && !IsListed(file, keep)) out.push_back(file);
      });
  return out;
}

UploadSource::UploadSource(const std::string& hostFolder, const std::vector<fs::path>& heldBack,
                           const fs::path& scratch)
    : folder_(hostFolder) {
  const fs::path from = ResolveHostPath(hostFolder).lexically_normal();
  bool below = false;
  for (const fs::path& f : heldBack) {
    const fs::path rel = f.lexically_normal().lexically_relative(from);
    below |= !rel.empty() && *rel.begin() != "..";
  }
  if (!below) return;
  std::error_code ec;
  fs::remove_all(scratch, ec);
  copy_ = scratch;
  folder_ = scratch.string();
  try {
    Fill(from, heldBack);
  } catch (...) {
    fs::remove_all(scratch, ec);
    throw;
  }
}

void UploadSource::Fill(const fs::path& from, const std::vector<fs::path>& heldBack) {
  const fs::path& scratch = copy_;
  std::error_code ec;
  auto fail = [&](const fs::path& what, const std::error_code& why) {
    throw HostError(err::kPathFileAccess,
                    "'" + what.string() + "' -> '" + scratch.string() + "': " + why.message(),
                    "UploadSource");
  };
  if (!fs::create_directories(scratch, ec) && ec) fail(from, ec);
  Walk(
      from,
      [&](const fs::path& sub) {
        std::error_code e;
        fs::create_directories(scratch / sub.lexically_relative(from), e);
        if (e) fail(sub, e);
      },
      [&](const fs::path& file) {
        if (IsListed(file, heldBack)) return;
        const fs::path target = scratch / file.lexically_relative(from);
        std::error_code e;
        fs::create_hard_link(fs::canonical(file, e), target, e);
        if (e) {
          e.clear();
          fs::copy_file(file, target, fs::copy_options::overwrite_existing, e);
        }
        if (e) fail(file, e);
      });
}

UploadSource::~UploadSource() {
  if (copy_.empty()) return;
  std::error_code ec;
  fs::remove_all(copy_, ec);
}

}  // namespace fern::openimmo
