#include "platform/host_path.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
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

// Without change notices a listing is only kept once the folder's last change is older than the
// coarsest time stamp a file system keeps (2 s): a change in the same tick as the reading could
// otherwise leave the stamp as it was and the kept listing stale.
bool Settled(const FolderStamp& stamp) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - stamp.mtime.tv_sec > 2;
}

// File systems whose every change, by whichever process, is announced to inotify; on network
// file systems another machine's changes are not.
bool AnnouncesChanges(const fs::path& folder) {
  struct statfs fsInfo {};
  if (::statfs(folder.c_str(), &fsInfo) != 0) return false;
  switch (static_cast<uint32_t>(fsInfo.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0x794C7630:  // overlayfs
      return true;
    default:
      return false;
  }
}

// The names of one folder by their folded spelling, in order; the spellings of one folded name
// in order.
using FoldedNames = std::map<std::string, std::vector<std::string>>;

void AddName(FoldedNames& names, std::string name) {
  std::vector<std::string>& spellings = names[text::FoldCase(name)];
  const auto at = std::lower_bound(spellings.begin(), spellings.end(), name);
  if (at == spellings.end() || *at != name) spellings.insert(at, std::move(name));
}

void RemoveName(FoldedNames& names, const std::string& name) {
  const auto found = names.find(text::FoldCase(name));
  if (found == names.end()) return;
  std::erase(found->second, name);
  if (found->second.empty()) names.erase(found);
}

// The spelling of `name` among `names`, matched without regard to case; empty when none.
std::string Pick(const FoldedNames& names, const std::string& name) {
  std::string best;
  auto consider = [&](const std::vector<std::string>& spellings) {
    for (const std::string& candidate : spellings) {
      if (text::EqualsNoCase(candidate, name) && (best.empty() || candidate < best)) {
        best = candidate;
      }
    }
  };
  if (utf8::IsValid(name)) {
    const auto found = names.find(text::FoldCase(name));
    if (found != names.end()) consider(found->second);
  } else {
    // Stray bytes fold as they stand but compare apart; such a name is looked for one by one.
    for (const auto& [folded, spellings] : names) consider(spellings);
  }
  return best;
}

// The names among `names` that match the mask, in the order of their folded spelling, then
// their spelling. Only names whose folded spelling begins with the mask's folded text before
// its first wildcard can match, unless that text holds a stray byte or the replacement
// character, which match any stray byte: then every name is tried.
std::vector<std::string> Matching(const FoldedNames& names, std::string_view mask) {
  const std::string_view literal = mask.substr(0, std::min(mask.find_first_of("*?"), mask.size()));
  const std::string start = text::FoldCase(literal);
  const bool ordered =
      utf8::IsValid(literal) && literal.find("\xEF\xBF\xBD") == std::string_view::npos;
  std::vector<std::string> found;
  for (auto it = ordered ? names.lower_bound(start) : names.begin();
       it != names.end() && (!ordered || it->first.starts_with(start)); ++it) {
    for (const std::string& spelling : it->second)
      if (MatchesMask(spelling, mask)) found.push_back(spelling);
  }
  return found;
}

// Folder listings kept between look-ups, so that a miss in a folder of thousands of files costs
// a stat instead of reading the whole folder again. On a local file system a kept listing
// follows the folder's changes as inotify announces them (also while the run itself fills the
// folder); elsewhere it is kept only while the folder's time stamps stay the same.
class FolderListings {
 public:
  FolderListings() : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  FolderListings(const FolderListings&) = delete;
  FolderListings& operator=(const FolderListings&) = delete;

  std::string Spelling(const fs::path& folder, const std::string& name) {
    return WithNames(folder, [&](const FoldedNames& names) { return Pick(names, name); });
  }

  std::vector<std::string> Matches(const fs::path& folder, std::string_view mask) {
    return WithNames(folder, [&](const FoldedNames& names) { return Matching(names, mask); });
  }

  size_t Reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }

 private:
  // What `use` makes of the folder's names, from the kept listing or a fresh reading; `use` of
  // no names when the folder can't be read.
  template <typename Use>
  auto WithNames(const fs::path& folder, Use use) -> decltype(use(FoldedNames{})) {
    FolderStamp stamp;
    if (!ReadStamp(folder, stamp)) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    FollowChanges();
    const Inode inode{stamp.dev, stamp.ino};
    auto found = kept_.find(inode);
    if (found != kept_.end() && found->second.watch < 0 && !SameStamp(found->second.stamp, stamp))
      Forget(inode);
    found = kept_.find(inode);
    if (found != kept_.end()) return use(found->second.names);

    if (kept_.size() >= kMaxFolders) ForgetAll();
    ++reads_;
    const int watch = inotify_ >= 0 && AnnouncesChanges(folder)
                          ? ::inotify_add_watch(inotify_, folder.c_str(), kWatchMask)
                          : -1;
    if (watch >= 0) {
      // Watched before reading: a change while reading comes as a notice and is applied after.
      Kept& kept = kept_[inode];
      kept.watch = watch;
      watched_[watch] = inode;
      if (!ReadNames(folder, kept.names)) {
        Forget(inode);
        return {};
      }
      FollowChanges();
      found = kept_.find(inode);
      if (found == kept_.end()) return use(FoldedNames{});
      return use(found->second.names);
    }
    Kept read;
    read.stamp = stamp;
    if (!ReadNames(folder, read.names)) return {};
    auto result = use(read.names);
    FolderStamp after;
    if (ReadStamp(folder, after) && SameStamp(stamp, after) && Settled(after))
      kept_[inode] = std::move(read);
    return result;
  }

  using Inode = std::pair<dev_t, ino_t>;
  struct InodeHash {
    size_t operator()(const Inode& i) const {
      return std::hash<uint64_t>()(static_cast<uint64_t>(i.first) * 1000003u ^ i.second);
    }
  };
  struct Kept {
    FolderStamp stamp;  // for a folder without a watch
    int watch = -1;
    FoldedNames names;
  };
  static constexpr size_t kMaxFolders = 256;
  static constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                         IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

  static bool ReadNames(const fs::path& folder, FoldedNames& names) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      AddName(names, it->path().filename().string());
    return !ec;
  }

  // Applies the change notices that came since the last look-up.
  void FollowChanges() {
    if (inotify_ < 0 || watched_.empty()) return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
      if (got <= 0) return;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) {
          ForgetAll();
          continue;
        }
        const auto owner = watched_.find(event->wd);
        if (owner == watched_.end()) continue;
        const Inode inode = owner->second;
        if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
          Forget(inode);
          continue;
        }
        if (event->len == 0) continue;
        const std::string entry(event->name);
        if (event->mask & (IN_CREATE | IN_MOVED_TO)) AddName(kept_[inode].names, entry);
        if (event->mask & (IN_DELETE | IN_MOVED_FROM)) RemoveName(kept_[inode].names, entry);
      }
    }
  }

  void Forget(const Inode& inode) {
    const auto found = kept_.find(inode);
    if (found == kept_.end()) return;
    if (found->second.watch >= 0) {
      ::inotify_rm_watch(inotify_, found->second.watch);
      watched_.erase(found->second.watch);
    }
    kept_.erase(found);
  }

  void ForgetAll() {
    for (const auto& [watch, inode] : watched_) ::inotify_rm_watch(inotify_, watch);
    watched_.clear();
    kept_.clear();
  }

  std::mutex mutex_;
  const int inotify_;
  std::unordered_map<Inode, Kept, InodeHash> kept_;
  std::unordered_map<int, Inode> watched_;
  size_t reads_ = 0;
};

FolderListings& Listings() {
  static FolderListings listings;
  return listings;
}

// The spelling of `name` inside `folder`, matched without regard to case; empty when none.
std::string FindSpelling(const fs::path& folder, const std::string& name) {
  return Listings().Spelling(folder, name);
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

std::vector<std::string> FindKeptFiles(const fs::path& folder, std::string_view mask) {
  std::vector<std::string> files;
  for (std::string& name : Listings().Matches(folder, mask)) {
    std::error_code ec;
    if (!fs::is_directory(folder / name, ec)) files.push_back(std::move(name));
  }
  return files;
}

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
  // A name missing from a folder spelled as on disk (a picture number looked for in vain): only
  // the name is looked for, in the folder's kept listing.
  if (!parts.empty() && Exists(current.parent_path())) {
    const std::string spelling = FindSpelling(current.parent_path(), parts.back());
    return spelling.empty() ? current : current.parent_path() / spelling;
  }

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
