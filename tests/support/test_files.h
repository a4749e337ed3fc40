// Small file helpers for tests that write and compare folders.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

namespace fern::testing_files {

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes the bytes, creating the folders; a non-zero mtime sets the modification time.
inline void WriteAll(const std::filesystem::path& p, const std::string& bytes, time_t mtime = 0) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
  if (mtime) {
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, p.c_str(), times, 0);
  }
}

// `n` bytes of every value, the same for the same seed.
inline std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Every regular file below `root`, as relative paths.
inline std::set<std::string> FilesBelow(const std::filesystem::path& root) {
  std::set<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) out.insert(std::filesystem::relative(e.path(), root).string());
  return out;
}

}  // namespace fern::testing_files
