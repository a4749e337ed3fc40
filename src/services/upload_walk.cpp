#include "services/upload_walk.h"

#include <algorithm>
#include <system_error>

#include "platform/vb.h"

namespace fern::services {

namespace fs = std::filesystem;

bool ExtensionListed(const std::string& list, const std::string& fileName) {
  if (vb::Trim(list).empty()) return true;
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || dot + 1 == fileName.size()) return false;
  const std::string ext = vb::UCase(fileName.substr(dot + 1));
  const std::string upper = vb::UCase(list);
  size_t start = 0;
  while (start < upper.size()) {
    const size_t end = std::min(upper.find(' ', start), upper.size());
    if (upper.compare(start, end - start, ext) == 0 && end - start == ext.size()) return true;
    start = end + 1;
  }
  return false;
}

FolderContent ListFolder(const fs::path& folder) {
  FolderContent out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (it->is_symlink(typeEc) && it->is_directory(typeEc)) continue;
    if (it->is_directory(typeEc))
      out.folders.push_back(it->path());
    else if (it->is_regular_file(typeEc))
      out.files.push_back(it->path());
  }
  std::sort(out.folders.begin(), out.folders.end());
  std::sort(out.files.begin(), out.files.end());
  return out;
}

std::string RemoteChild(const std::string& remote, const std::string& name) {
  return remote.empty() ? name : remote + "/" + name;
}

std::vector<std::string> FolderChain(const std::string& remote) {
  std::vector<std::string> out;
  for (size_t at = remote.find('/', 1);; at = remote.find('/', at + 1)) {
    const std::string prefix = remote.substr(0, at);
    if (!prefix.empty() && prefix != "/" && prefix.back() != '/') out.push_back(prefix);
    if (at == std::string::npos) break;
  }
  return out;
}

}  // namespace fern::services
