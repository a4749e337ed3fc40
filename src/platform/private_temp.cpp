#include "platform/private_temp.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/host_error.h"

namespace fern {
namespace fs = std::filesystem;
namespace {

std::string& Scope() {
  static std::string scope;
  return scope;
}

[[noreturn]] void Refuse(const fs::path& folder, const std::string& why) {
  throw HostError(err::kPathFileAccess,
                  "Temporärer Ordner " + folder.string() + " ist nicht sicher: " + why,
                  "GetTempPath");
}

// Makes `folder` (its parent exists) or accepts it when it is this user's own, closed folder.
void MakePrivate(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) Refuse(folder, std::strerror(errno));
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) Refuse(folder, std::strerror(errno));
  if (S_ISLNK(st.st_mode)) Refuse(folder, "ein Verweis");
  if (!S_ISDIR(st.st_mode)) Refuse(folder, "kein Ordner");
  if (st.st_uid != ::geteuid()) Refuse(folder, "gehört einem anderen Benutzer");
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
    Refuse(folder, std::strerror(errno));
}

// A stable, file-name-safe name for the scope (FNV-1a of its text).
std::string ScopeName(const std::string& scope) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : scope) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "host-%016llx", static_cast<unsigned long long>(h));
  return buf;
}

fs::path FolderOfScope() {
  const char* tmpdir = std::getenv("TMPDIR");
  fs::path root = tmpdir && *tmpdir ? fs::path(tmpdir) : fs::path("/tmp");
  fs::path folder = root / ("fern-" + std::to_string(::geteuid()));
  MakePrivate(folder);
  if (!Scope().empty()) {
    folder /= ScopeName(Scope());
    MakePrivate(folder);
  }
  // Our own folder may still refuse writes (immutable, a read-only mount): said here, not by
  // whatever first fails to write there.
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    throw HostError(
        err::kPathFileAccess,
        "Temporärer Ordner " + folder.string() + " ist nicht beschreibbar: " + std::strerror(errno),
        "GetTempPath");
  return folder;
}

std::string MarkerName(pid_t pid) { return "fern" + std::to_string(pid) + ".run"; }

// The process id in "fern<pid>.run" (a marker) or "fern<pid>_..." (work); 0 for other names.
pid_t PidOf(const std::string& name, bool& marker) {
  if (name.rfind("fern", 0) != 0) return 0;
  size_t end = 4;
  while (end < name.size() && end < 13 && name[end] >= '0' && name[end] <= '9') ++end;
  if (end == 4 || end == name.size()) return 0;
  marker = name.compare(end, std::string::npos, ".run") == 0;
  if (!marker && name[end] != '_') return 0;
  return static_cast<pid_t>(std::stol(name.substr(4, end - 4)));
}

// The folder a process holds its marker in, and the marker's locked descriptor; a forked child
// takes a marker of its own.
struct Claim {
  std::mutex mutex;
  pid_t pid = 0;
  fs::path folder;
  int fd = -1;
};

Claim& Claimed() {
  static Claim claim;
  return claim;
}

std::vector<std::string>& Notes() {
  static std::vector<std::string> notes;
  return notes;
}

// Removes `name` in the folder `dir` and, when it is a folder, what it holds; a symbolic link at
// any level is removed as the link itself, never followed.
void RemoveAt(int dir, const char* name) {
  struct stat st {};
  if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ::unlinkat(dir, name, 0);
    return;
  }
  const int fd = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  if (DIR* d = ::fdopendir(fd)) {
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.emplace_back(e->d_name);
    for (const std::string& n : names) RemoveAt(::dirfd(d), n.c_str());
    ::closedir(d);
  } else {
    ::close(fd);
  }
  ::unlinkat(dir, name, AT_REMOVEDIR);
}

// The site's work holds the marker of work kept on purpose (a real file, not through a link).
bool SiteWorkKept(int top) {
  const int site = ::openat(top, kSiteWorkFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (site < 0) return false;
  struct stat st {};
  const bool kept =
      ::fstatat(site, kSiteWorkKept, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
  ::close(site);
  return kept;
}

void Sweep(const fs::path& folder) {
  const pid_t self = ::getpid();
  std::map<pid_t, std::vector<std::string>> work;
  std::set<pid_t> marked;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    bool marker = false;
    const std::string name = e.path().filename().string();
    const pid_t pid = PidOf(name, marker);
    if (pid <= 0 || pid == self) continue;
    if (marker)
      marked.insert(pid);
    else
      work[pid].push_back(name);
  }
  for (const pid_t pid : marked) work[pid];
  const int top = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (top < 0) return;
  // Only the run's own TRANSFER folder: one that is a link leads out of the private folder.
  int transfer = ::openat(top, "TRANSFER", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (transfer < 0 && ::fstatat(top, "TRANSFER", &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode))
    Notes().push_back(LinkLeftAlone(folder / "TRANSFER"));
  bool othersRun = false;
  for (auto& [pid, names] : work) {
    int lock = -1;
    if (marked.count(pid)) {
      // The lock is free once its process is gone, whoever has its id now.
      const fs::path marker = folder / MarkerName(pid);
      lock = ::open(marker.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
      if (lock < 0) continue;
      if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock);
        othersRun = true;
        continue;
      }
    } else if (::kill(pid, 0) == 0 || errno != ESRCH) {
      othersRun = true;
      continue;  // made by a process without a marker that still runs
    }
    for (const std::string& name : names) RemoveAt(top, name.c_str());
    // The upload's copy without the files an earlier run left lies beside TRANSFER.
    RemoveAt(top, ("upload-" + std::to_string(pid)).c_str());
    if (transfer >= 0) {
      RemoveAt(transfer, ("zipcheck-" + std::to_string(pid)).c_str());
      RemoveAt(transfer, ("upload-" + std::to_string(pid)).c_str());
    }
    if (lock >= 0) {
      ::unlinkat(top, MarkerName(pid).c_str(), 0);
      ::close(lock);
    }
  }
  // The web-site work (its container unpacks to the site's database password) carries no
  // process id: with no other process of the scope alive, it is an ended run's, unless that
  // run ended by keeping it on purpose.
  if (!othersRun && !SiteWorkKept(top)) RemoveAt(top, kSiteWorkFolder);
  if (transfer >= 0) ::close(transfer);
  ::close(top);
}

// Holds this process's marker in `folder`: made under a passing name and locked before it
// takes its own, so no other process ever finds it unlocked.
void ClaimFolder(const fs::path& folder) {
  Claim& c = Claimed();
  const pid_t self = ::getpid();
  if (c.fd >= 0) {
    std::error_code ec;
    if (c.pid == self) fs::remove(c.folder / MarkerName(self), ec);
    ::close(c.fd);
    c.fd = -1;
  }
  c.pid = self;
  c.folder = folder;
  const fs::path marker = folder / MarkerName(self);
  const fs::path passing = folder / (MarkerName(self) + ".new");
  const int fd = ::open(passing.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::rename(passing.c_str(), marker.c_str()) == 0) {
    c.fd = fd;
    return;
  }
  if (fd >= 0) ::close(fd);
  ::unlink(passing.c_str());
}

}  // namespace

void SetPrivateTempScope(const std::string& scope) { Scope() = scope; }

fs::path PrivateTempFolder() {
  fs::path folder = FolderOfScope();
  Claim& c = Claimed();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.folder != folder || c.pid != ::getpid()) {
    ClaimFolder(folder);
    Sweep(folder);
  }
  return folder;
}

std::vector<std::string> TakePrivateTempNotes() {
  std::lock_guard<std::mutex> lock(Claimed().mutex);
  return std::exchange(Notes(), {});
}

fs::path LinkBelowPrivateFolder(const fs::path& base, const std::vector<std::string>& names) {
  std::error_code ec;
  fs::path at = PrivateTempFolder();
  if (!fs::equivalent(base, at, ec)) return {};
  for (const std::string& name : names) {
    at /= name;
    const fs::file_status st = fs::symlink_status(at, ec);
    if (fs::is_symlink(st)) return at;
    if (!fs::is_directory(st)) break;  // what is missing the run makes itself
  }
  return {};
}

std::string LinkLeftAlone(const fs::path& link) {
  return "Der Ordner " + link.string() + " ist ein Verweis; er und sein Ziel bleiben unberührt.";
}

void RemoveWorkOfEndedRuns() {
  const fs::path folder = PrivateTempFolder();
  std::lock_guard<std::mutex> lock(Claimed().mutex);
  Sweep(folder);
}

}  // namespace fern
