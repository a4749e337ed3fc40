// The demo tool's command line: a switch it doesn't know is never taken for the folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/process.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

namespace fs = std::filesystem;

TEST(MakeDemoHost, UnknownSwitchesPrintTheUsageAndMakeNoFolder) {
  testing::ScratchDir dir;
  ProcessOptions options;
  options.captureStdout = options.captureStderr = true;
  options.timeout = std::chrono::seconds(60);
  options.workingDir = dir.path();
  const struct {
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {{"--help"}, 0},
      {{"-h"}, 0},
      {{"-x"}, 2},
      {{"--ftp-port", "2121"}, 2},
      // A port is a number from 1 to 65535, on every switch that takes one.
      {{"x", "--ftp-port", "abc"}, 2},
      {{"x", "--ftps-port", "0"}, 2},
      {{"x", "--sftp-port", "65536"}, 2},
      {{"x", "--rest-port", "21x"}, 2},
      {{"x", "--web-http-port", "-80"}, 2},
      {{"x", "--web-ftp-port", ""}, 2},
      {{"x", "--web-db-port", "99999999999999999999"}, 2},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.args.back());
    std::vector<std::string> argv = {MAKE_DEMO_HOST_EXE};
    argv.insert(argv.end(), k.args.begin(), k.args.end());
    const ProcessResult r = RunProcess(argv, options);
    EXPECT_EQ(r.exitCode, k.exitCode) << r.err;
    EXPECT_NE((r.out + r.err).find("usage: make-demo-host <folder>"), std::string::npos)
        << r.out << r.err;
    EXPECT_TRUE(fs::is_empty(dir.path())) << "no folder is made";
  }
  // A folder whose name begins with "-" is still one when given as a path.
  const ProcessResult made = RunProcess({MAKE_DEMO_HOST_EXE, "./-host"}, options);
  EXPECT_EQ(made.exitCode, 0) << made.err;
  EXPECT_TRUE(fs::exists(dir.path() / "-host" / "DAT" / "kavantor.db"));
}

}  // namespace
}  // namespace fern
