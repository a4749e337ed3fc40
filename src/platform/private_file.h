// A file only we can read, for secrets an outside program must be handed (a login), so they
// never show in the process list.
#pragma once

#include <string>

namespace fern {

class PrivateFile {
 public:
  // Writes `content` to a new file in the temp folder with mode 0600. HostError 75 naming
  // `source` when it cannot be written; nothing is left behind then.
  PrivateFile(const std::string& content, const std::string& source);
  ~PrivateFile();
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace fern
