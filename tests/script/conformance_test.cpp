// Runs every conformance/<group>_*.vbs through vbs-run and compares its output with the
// .out file next to it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string RunScript(const fs::path& script, const fs::path& tempDir) {
  // Each script gets its own temporary folder (FileSystemObject's GetSpecialFolder(2)).
  std::string cmd =
      "TMPDIR='" + tempDir.string() + "' '" + VBS_RUN_PATH + "' '" + script.string() + "' 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "<cannot start vbs-run>";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(ScriptConformance, EveryScriptPrintsItsExpectedOutput) {
  std::vector<fs::path> scripts;
  for (const auto& entry : fs::directory_iterator(CONFORMANCE_DIR))
    if (entry.path().extension() == ".vbs") scripts.push_back(entry.path());
  std::sort(scripts.begin(), scripts.end());
  ASSERT_GE(scripts.size(), 10u);
  const fern::testing::ScratchDir scratch;
  const fs::path temp = scratch / "run";
  for (const fs::path& script : scripts) {
    SCOPED_TRACE(script.filename().string());
    fs::path expected = script;
    expected.replace_extension(".out");
    ASSERT_TRUE(fs::exists(expected));
    fs::remove_all(temp);
    fs::create_directories(temp);
    EXPECT_EQ(RunScript(script, temp), ReadFile(expected));
  }
}

}  // namespace
