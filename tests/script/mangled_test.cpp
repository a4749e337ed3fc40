// Damaged customer scripts must end in a compile or run-time error, never in a crash: each
// conformance script is mangled in many fixed ways (lines dropped, doubled or swapped, the text
// cut short, stray punctuation and block words put in) and run through vbs-run. Under the
// sanitizer build this also catches memory errors on the error paths.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

std::string Mangle(std::vector<std::string> lines, std::mt19937& rng) {
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  static const char* const kWords[] = {
      "End", "Next", "Loop", "Then", "Else", "Wend", "With", "Set",  "Dim",  "ReDim", "(",   ")",
      "\"",  "_",    ":",    ".",    "&",    ",",    "'",    "Exit", "Call", "Class", "Sub", "#"};
  if (lines.size() < 2) lines.push_back("");
  switch (pick(6)) {
    case 0:
      lines.erase(lines.begin() + static_cast<long>(pick(lines.size())));
      break;
    case 1: {
      const size_t i = pick(lines.size());
      lines.insert(lines.begin() + static_cast<long>(i), lines[i]);
      break;
    }
    case 2: {
      const size_t i = pick(lines.size() - 1);
      std::swap(lines[i], lines[i + 1]);
      break;
    }
    case 3: {
      std::string text = Join(lines);
      return text.substr(0, pick(text.size()));
    }
    default: {
      std::string& line = lines[pick(lines.size())];
      const std::string word = kWords[pick(std::size(kWords))];
      const size_t at = line.empty() ? 0 : pick(line.size() + 1);
      line.insert(at, pick(2) ? " " + word + " " : word);
      break;
    }
  }
  return Join(lines);
}

struct Outcome {
  int status = 0;
  std::string output;
};

Outcome RunMangled(const fs::path& script, const fs::path& tempDir, int seconds = 2) {
  // A mangled loop may legitimately never end: the time limit ends it, and only a signal of the
  // engine's own (not the limit's KILL) or a sanitizer report counts as a failure.
  const std::string cmd = "TMPDIR='" + tempDir.string() + "' timeout -s KILL " +
                          std::to_string(seconds) + " '" + VBS_RUN_PATH + "' '" + script.string() +
                          "' 2>&1";
  Outcome o;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {-1, "<cannot start vbs-run>"};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    if (o.output.size() < 65536) o.output.append(buf, n);
  o.status = pclose(p);
  return o;
}

TEST(MangledScripts, EndInAnErrorNeverInACrash) {
  std::vector<fs::path> scripts;
  for (const auto& entry : fs::directory_iterator(CONFORMANCE_DIR))
    if (entry.path().extension() == ".vbs") scripts.push_back(entry.path());
  std::sort(scripts.begin(), scripts.end());
  ASSERT_FALSE(scripts.empty());
  const fern::testing::ScratchDir scratch;
  std::mt19937 rng(20261207);
  int timedOut = 0, runs = 0;
  for (const fs::path& script : scripts) {
    const std::vector<std::string> lines = Lines(script);
    for (int variant = 0; variant < 12; ++variant) {
      const std::string text = Mangle(lines, rng);
      const fs::path file = scratch / "mangled.vbs";
      std::ofstream(file, std::ios::binary) << text;
      const fs::path temp = scratch / "run";
      fs::remove_all(temp);
      fs::create_directories(temp);
      const Outcome o = RunMangled(file, temp);
      ++runs;
      const int code = WIFEXITED(o.status) ? WEXITSTATUS(o.status) : -1;
      if (code == 137) {
        ++timedOut;
        continue;
      }
      const bool crashed = code == -1 || code > 128;
      const bool reported = o.output.find("Sanitizer") != std::string::npos ||
                            o.output.find("runtime error:") != std::string::npos;
      EXPECT_FALSE(crashed || reported)
          << script.filename() << " variant " << variant << " ended with " << code << ":\n"
          << o.output.substr(0, 2000) << "\n--- script:\n"
          << text;
    }
  }
  // Nearly every mangled script ends by itself; many running into the limit would hide hangs.
  EXPECT_LT(timedOut * 10, runs);
}

TEST(MangledScripts, NestingTooDeepEndsInErrorTwentyEight) {
  const int n = 100000;
  const std::string open(static_cast<size_t>(n), '('), close(static_cast<size_t>(n), ')');
  std::string calls, blocks, ends;
  for (int i = 0; i < n; ++i) {
    calls += "Abs(";
    blocks += "If True Then\n";
    ends += "End If\n";
  }
  const std::string scripts[] = {
      "x = " + open + "1" + close + "\n",
      "x = " + calls + "1" + close + "\n",
      blocks + "x = 1\n" + ends,
      blocks + "x = " + calls + open + "1" + close + close + "\n" + ends,
  };
  const fern::testing::ScratchDir scratch;
  for (const std::string& text : scripts) {
    const fs::path file = scratch / "deep.vbs";
    std::ofstream(file, std::ios::binary) << text;
    // Reading a hundred thousand lines takes a while on a busy machine.
    const Outcome o = RunMangled(file, scratch.path(), 60);
    ASSERT_TRUE(WIFEXITED(o.status)) << o.output.substr(0, 2000);
    EXPECT_EQ(WEXITSTATUS(o.status), 1) << o.output.substr(0, 2000);
    EXPECT_EQ(o.output.rfind("Error 28: Out of stack space\n", 0), 0u) << o.output.substr(0, 200);
  }
}

}  // namespace
