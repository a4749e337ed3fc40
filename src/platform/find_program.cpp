#include "platform/find_program.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace fern {

std::string FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return access(program.c_str(), X_OK) == 0 ? program : "";
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/bin:/bin";
  for (;;) {
    const size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    const std::filesystem::path candidate =
        std::filesystem::path(dir.empty() ? std::string_view(".") : dir) / program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    if (colon == std::string_view::npos) return "";
    dirs.remove_prefix(colon + 1);
  }
}

}  // namespace fern
