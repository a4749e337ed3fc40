// A demo host per test, the real program and the stock sqlite3 tool run on it as an office would,
// and the README's blocks as an office would copy them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/demo_host_fixture.h"
#include "support/test_files.h"

namespace fern::testing {

class OfficeTest : public ::testing::Test, public DemoHostTest {
 protected:
  // The installed places the README names, and where the build keeps the same files.
  static constexpr const char* kInstalledProgram = "/usr/bin/fern-dispatcher";
  static constexpr const char* kInstalledExtensionDir = "/usr/lib/fern-dispatcher";
  static constexpr const char* kInstalledSchema = "/usr/share/fern-dispatcher/schema.sql";
  static constexpr const char* kReadmeHost = "/srv/host";

  static std::string Extension() { return std::string(FERN_COLLATIONS_DIR) + "/fern_collations"; }
  static std::string Schema() { return std::string(FERN_SOURCE_DIR) + "/src/host/schema.sql"; }
  std::filesystem::path Database() const { return host() / "DAT" / "kavantor.db"; }

  // Runs the program without a display; with `input`, standard input is a file holding it.
  ProcessResult Program(const std::vector<std::string>& args,
                        const std::optional<std::string>& input = std::nullopt) {
    std::vector<std::string> argv{
        "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
    if (input) {
      const std::filesystem::path file = dir.Write("input.txt", *input);
      argv.insert(argv.end(),
                  {"/bin/sh", "-c", "f=$1; shift; exec \"$@\" < \"$f\"", "sh", file.string()});
    }
    argv.push_back(FERN_DISPATCHER_EXE);
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv);
  }

  // A command line as /bin/sh runs it, in the environment that cron gives a job.
  ProcessResult Shell(const std::string& command) {
    return Run({"env", "-i", "PATH=/usr/bin:/bin", "HOME=" + dir.path().string(), "SHELL=/bin/sh",
                "/bin/sh", "-c", command});
  }

  static ProcessResult Run(const std::vector<std::string>& argv) {
    ProcessOptions options;
    options.captureStdout = options.captureStderr = true;
    options.timeout = std::chrono::seconds(60);
    return RunProcess(argv, options);
  }

  // The stock sqlite3 tool on the host database with the collations loaded.
  std::string Sqlite(const std::string& sql) {
    ProcessResult r =
        Run({"sqlite3", "-bail", "-cmd", ".load " + Extension(), Database().string(), sql});
    EXPECT_TRUE(r.Succeeded()) << sql << "\n" << r.err;
    return r.out;
  }

  // Checks that each file a portal's server received is whole (a zip archive by its checksums and
  // directory, a document by its closing element, a picture by its end marker); their number.
  static int WholeFilesIn(const std::filesystem::path& folder) {
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      ++files;
      const std::filesystem::path& got = e.path();
      const std::string bytes = testing_files::ReadAll(got);
      SCOPED_TRACE(got.filename().string() + " " + std::to_string(bytes.size()));
      if (got.extension() == ".zip") {
        EXPECT_EQ(Run({"unzip", "-tq", got.string()}).exitCode, 0);
      } else if (got.extension() == ".xml") {
        const size_t end = bytes.rfind(":openimmo>");
        EXPECT_TRUE(end != std::string::npos &&
                    bytes.find_first_not_of("\r\n ", end + 10) == std::string::npos);
      } else {
        EXPECT_TRUE(bytes.starts_with("\xFF\xD8") && bytes.ends_with("\xFF\xD9"));
      }
    }
    return files;
  }

  // The error count of the last run line that ends with this portal list; -1 without one.
  int RunLineErrors(const std::string& portalList) {
    const std::string log = testing_files::ReadAll(host() / "DAT" / "Transfer.log");
    const size_t end = log.rfind("; PortalList: " + portalList + ";\r\n");
    const size_t begin = log.rfind("; Errors: ", end);
    if (end == std::string::npos || begin == std::string::npos) return -1;
    return std::stoi(log.substr(begin + 10, end - begin - 10));
  }

  // The README's indented blocks whose first line starts with `first`, their lines without the
  // indentation and with the shell's "\" continuations joined.
  static std::vector<std::vector<std::string>> ReadmeBlocks(const std::string& first) {
    std::ifstream in(std::string(FERN_SOURCE_DIR) + "/README.md");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<std::vector<std::string>> blocks;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!lines[i].starts_with("    " + first)) continue;
      if (i > 0 && lines[i - 1].starts_with("    ")) continue;  // not the start of a block
      std::vector<std::string> block;
      for (size_t j = i; j < lines.size(); ++j) {
        if (lines[j].empty()) {
          // A blank line goes on with the block when indented text follows.
          if (j + 1 >= lines.size() || !lines[j + 1].starts_with("    ")) break;
          block.push_back("");
        } else if (!lines[j].starts_with("    ")) {
          break;
        } else if (!block.empty() && block.back().ends_with("\\")) {
          block.back().pop_back();
          block.back() += lines[j].substr(4);
        } else {
          block.push_back(lines[j].substr(4));
        }
      }
      blocks.push_back(block);
    }
    return blocks;
  }
  // The first of them; fails the test when there is none.
  static std::vector<std::string> ReadmeBlock(const std::string& first) {
    auto blocks = ReadmeBlocks(first);
    if (blocks.empty()) {
      ADD_FAILURE() << "README.md has no block starting with \"" << first << "\"";
      return {};
    }
    return blocks.front();
  }
  static std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }
};

}  // namespace fern::testing
