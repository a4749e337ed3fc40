#include "platform/host_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace fern {
namespace fs = std::filesystem;
namespace {

std::map<char, fs::path>& Drives() {
  static std::map<char, fs::path> drives;
  return drives;
}

[[noreturn]] void Refuse(std::string_view hostPath, std::string_view why) {
  throw HostError(err::kPathFileAccess, "Path/File access error: " + std::string(hostPath) + " (" +
                                            std::string(why) + ")");
}

bool Exists(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

// What tells whether a folder's names may have changed: adding, removing or renaming an entry
// sets its modification and change times.
struct FolderStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  timespec ctime{};
};

bool ReadStamp(const fs::path& folder, FolderStamp& stamp) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  stamp = {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim};
  return true;
}

bool SameStamp(const FolderStamp& a, const FolderStamp& b) {
  auto same = [](const timespec& x, const timespec& y) {
    return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
  };
  return a.dev == b.dev && a.ino == b.ino && same(a.mtime, b.mtime) && same(a.ctime, b.ctime);
}

// A listing is only kept once the folder's last change is older than the coarsest time stamp a
// file system keeps (2 s); a change in the same tick as the reading could otherwise leave the
// stamp as it was and the kept listing stale.
bool Settled(const FolderStamp& stamp) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - stamp.mtime.tv_sec > 2;
}

// The names of one folder by their folded spelling; the spellings of one folded name in order.
using FoldedNames = std::unordered_map<std::string, std::vector<std::string>>;

struct KeptFolder {
  FolderStamp stamp;
  std::shared_ptr<const FoldedNames> names;
};

// Folder listings kept between look-ups, so that a miss in a folder of thousands of files
// costs one stat instead of reading the whole folder again.
class FolderListings {
 public:
  std::shared_ptr<const FoldedNames> Names(const fs::path& folder) {
    FolderStamp before;
    if (!ReadStamp(folder, before)) return nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto found = kept_.find(folder.native());
      if (found != kept_.end() && SameStamp(found->second.stamp, before))
        return found->second.names;
    }
    auto names = std::make_shared<FoldedNames>();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      (*names)[text::FoldCase(name)].push_back(std::move(name));
    }
    for (auto& [folded, spellings] : *names) std::sort(spellings.begin(), spellings.end());
    FolderStamp after;
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    if (!ec && ReadStamp(folder, after) && SameStamp(before, after) && Settled(after)) {
      if (kept_.size() >= kMaxFolders) kept_.clear();
      kept_[folder.native()] = {after, names};
    }
    return names;
  }

  size_t Reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }

 private:
  static constexpr size_t kMaxFolders = 256;
  std::mutex mutex_;
  std::unordered_map<std::string, KeptFolder> kept_;
  size_t reads_ = 0;
};

FolderListings& Listings() {
  static FolderListings listings;
  return listings;
}

// The spelling of `name` inside `folder`, matched without regard to case; empty when none.
std::string FindSpelling(const fs::path& folder, const std::string& name) {
  const std::shared_ptr<const FoldedNames> names = Listings().Names(folder);
  if (!names) return {};
  std::string best;
  auto consider = [&](const std::vector<std::string>& spellings) {
    for (const std::string& candidate : spellings) {
      if (text::EqualsNoCase(candidate, name) && (best.empty() || candidate < best)) {
        best = candidate;
      }
    }
  };
  if (utf8::IsValid(name)) {
    const auto found = names->find(text::FoldCase(name));
    if (found != names->end()) consider(found->second);
  } else {
    // Stray bytes fold as they stand but compare apart; such a name is looked for one by one.
    for (const auto& [folded, spellings] : *names) consider(spellings);
  }
  return best;
}

std::vector<char32_t> FoldedCodePoints(std::string_view s) {
  const std::string folded = text::FoldCase(s);
  std::vector<char32_t> out;
  size_t pos = 0;
  while (pos < folded.size()) out.push_back(utf8::Next(folded, pos));
  return out;
}

}  // namespace

void SetDriveMap(const std::map<char, fs::path>& drives) {
  Drives().clear();
  for (const auto& [letter, folder] : drives) {
    Drives()[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = folder;
  }
}

const std::map<char, fs::path>& DriveMap() { return Drives(); }

size_t FolderListingsRead() { return Listings().Reads(); }

fs::path ResolveHostPath(std::string_view hostPath, const fs::path& base) {
  if (hostPath.size() >= 2 && (hostPath[0] == '\\' || hostPath[0] == '/') &&
      (hostPath[1] == '\\' || hostPath[1] == '/') && (hostPath[0] == '\\' || hostPath[1] == '\\')) {
    Refuse(hostPath, "network paths are not supported");
  }
  std::string p(hostPath);
  std::replace(p.begin(), p.end(), '\\', '/');

  fs::path root;
  bool clampAtRoot = false;  // ".." may not leave a drive
  std::string_view rest = p;
  if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
    const auto found = Drives().find(letter);
    if (found == Drives().end())
      Refuse(hostPath, std::string("drive ") + letter + ": is not mapped");
    root = found->second;
    clampAtRoot = true;
    rest.remove_prefix(2);
  } else if (!p.empty() && p[0] == '/') {
    root = "/";
  } else {
    std::error_code ec;
    root = base.empty() ? fs::current_path(ec) : fs::absolute(base, ec);
  }

  // Components of the root and of the rest, with "." and ".." applied.
  std::vector<std::string> parts;
  for (const auto& part : root.relative_path()) {
    const std::string s = part.string();
    if (s.empty() || s == ".") continue;
    if (s == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(s);
    }
  }
  const size_t rootParts = clampAtRoot ? parts.size() : 0;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = rest.find('/', pos);
    if (next == std::string_view::npos) next = rest.size();
    const std::string_view part = rest.substr(pos, next - pos);
    pos = next + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.size() > rootParts) parts.pop_back();
    } else {
      parts.emplace_back(part);
    }
  }

  fs::path current = "/";
  for (const auto& part : parts) current /= part;
  if (Exists(current)) return current;  // the usual case: spelled as on disk

  current = "/";
  bool missing = false;
  for (const auto& part : parts) {
    if (!missing && !Exists(current / part)) {
      const std::string spelling = FindSpelling(current, part);
      if (!spelling.empty()) {
        current /= spelling;
        continue;
      }
      missing = true;
    }
    current /= part;
  }
  return current;
}

bool MatchesMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*") mask = "*";
  const std::vector<char32_t> n = FoldedCodePoints(name);
  const std::vector<char32_t> m = FoldedCodePoints(mask);
  // Greedy match with one backtrack point: the last "*" seen.
  size_t i = 0;
  size_t j = 0;
  size_t starJ = std::string::npos;
  size_t starI = 0;
  while (i < n.size()) {
    if (j < m.size() && (m[j] == U'?' || m[j] == n[i])) {
      ++i, ++j;
    } else if (j < m.size() && m[j] == U'*') {
      starJ = j++;
      starI = i;
    } else if (starJ != std::string::npos) {
      j = starJ + 1;
      i = ++starI;
    } else {
      return false;
    }
  }
  while (j < m.size() && m[j] == U'*') ++j;
  return j == m.size();
}

std::vector<fs::path> FindFiles(const fs::path& folder, std::string_view mask, bool recursive) {
  std::vector<fs::path> found;
  std::error_code ec;
  auto consider = [&](const fs::directory_entry& entry) {
    std::error_code statEc;
    if (entry.is_regular_file(statEc) && MatchesMask(entry.path().filename().string(), mask)) {
      found.push_back(entry.path());
    }
  };
  if (recursive) {
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) consider(*it);
  } else {
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) consider(*it);
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace fern
