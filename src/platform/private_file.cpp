#include "platform/private_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/host_error.h"

namespace fern {

namespace fs = std::filesystem;

PrivateFile::PrivateFile(const std::string& content, const std::string& source) {
  std::string pattern = (fs::temp_directory_path() / "fern-login-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw HostError(err::kPathFileAccess, "mkstemp failed", source);
  fchmod(fd, S_IRUSR | S_IWUSR);
  path_ = pattern;
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (done != content.size()) {
    std::error_code ec;
    fs::remove(path_, ec);
    throw HostError(err::kPathFileAccess, "login file could not be written", source);
  }
}

PrivateFile::~PrivateFile() {
  std::error_code ec;
  fs::remove(path_, ec);
}

}  // namespace fern
