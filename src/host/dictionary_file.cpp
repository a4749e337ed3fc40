#include "host/dictionary_file.h"

#include <vector>

#include "platform/host_path.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace fern::host {
namespace {

std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 't' || s[i + 1] == 'n')) {
      out += s[i + 1] == 't' ? '\t' : '\n';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> SplitTabs(std::string_view line) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    out.push_back(Unescape(line.substr(start, tab == std::string_view::npos ? tab : tab - start)));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return out;
}

}  // namespace

std::filesystem::path DictionaryFileName(const std::filesystem::path& folder, int32_t lcid) {
  return folder / (std::to_string(lcid) + ".dic");
}

DictionaryFile DictionaryFile::Load(const std::filesystem::path& file) {
  DictionaryFile d;
  std::error_code ec;
  if (file.empty() || !std::filesystem::exists(file, ec)) return d;
  std::string section;
  for (const std::string& raw : text::SplitLines(ReadText(file))) {
    std::string_view line = raw;
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = text::FoldCase(line.substr(1, line.size() - 2));
      continue;
    }
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() < 2) continue;
    std::string key = text::FoldCase(f[0]);
    if (section == "strings") {
      d.strings.emplace(key, f[1]);
    } else if (section == "content") {
      d.content.emplace(key, f[1]);
    } else if (section == "fldart") {
      std::array<std::string, 3> cols;
      for (size_t i = 1; i < f.size() && i <= 3; ++i) cols[i - 1] = f[i];
      d.fldart.emplace(key, cols);
    } else if (section == "fldartop" && f.size() >= 3) {
      d.fldartop.emplace(key + '\t' + text::FoldCase(f[1]), f[2]);
    }
  }
  return d;
}

}  // namespace fern::host
