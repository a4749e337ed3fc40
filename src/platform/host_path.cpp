#include "platform/host_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>

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

// The spelling of `name` inside `folder`, matched without regard to case; empty when none.
std::string FindSpelling(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  std::string best;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string candidate = it->path().filename().string();
    if (text::EqualsNoCase(candidate, name) && (best.empty() || candidate < best)) {
      best = std::move(candidate);
    }
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
