#include "platform/private_temp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

void SetPrivateTempScope(const std::string& scope) { Scope() = scope; }

fs::path PrivateTempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  fs::path root = tmpdir && *tmpdir ? fs::path(tmpdir) : fs::path("/tmp");
  fs::path folder = root / ("fern-" + std::to_string(::geteuid()));
  MakePrivate(folder);
  if (!Scope().empty()) {
    folder /= ScopeName(Scope());
    MakePrivate(folder);
  }
  return folder;
}

}  // namespace fern
