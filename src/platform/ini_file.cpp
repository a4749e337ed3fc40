#include "platform/ini_file.h"

#include <map>
#include <memory>

#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace fern {
namespace fs = std::filesystem;
namespace {

struct Entry {
  std::string key;  // as spelled in the file
  std::string value;
  size_t line;
};

struct Section {
  std::string name;
  size_t headerLine;
  size_t lastEntryLine;  // the header line while there is no entry
  std::vector<Entry> entries;
};

struct IniDoc {
  TextEncoding encoding = TextEncoding::kCp1252;
  std::vector<std::string> lines;
  std::vector<Section> sections;
};

std::string UnquoteValue(std::string_view v) {
  v = text::TrimBlanks(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return std::string(v);
}

void Index(IniDoc& doc) {
  doc.sections.clear();
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    const std::string_view line = text::TrimBlanks(doc.lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::string_view name = line.substr(1);
      name = name.substr(0, name.find(']'));
      doc.sections.push_back(Section{std::string(text::TrimBlanks(name)), i, i, {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (doc.sections.empty() || eq == std::string_view::npos) continue;
    const std::string_view key = text::TrimBlanks(line.substr(0, eq));
    if (key.empty()) continue;
    Section& section = doc.sections.back();
    section.entries.push_back(Entry{std::string(key), UnquoteValue(line.substr(eq + 1)), i});
    section.lastEntryLine = i;
  }
}

const Section* FindSection(const IniDoc& doc, std::string_view name) {
  name = text::TrimBlanks(name);
  for (const Section& s : doc.sections) {
    if (text::EqualsNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

const Entry* FindEntry(const Section& section, std::string_view key) {
  key = text::TrimBlanks(key);
  for (const Entry& e : section.entries) {
    if (text::EqualsNoCase(e.key, key)) return &e;
  }
  return nullptr;
}

// Reads and indexes the file; a missing file gives an empty document.
// Other read failures propagate.
std::shared_ptr<IniDoc> Load(const fs::path& file) {
  auto doc = std::make_shared<IniDoc>();
  try {
    TextFileContent content = ReadTextFile(file);
    doc->encoding = content.encoding;
    doc->lines = text::SplitLines(content.text);
  } catch (const HostError& e) {
    if (e.number() != err::kFileNotFound) throw;
  }
  Index(*doc);
  return doc;
}

using Cache = std::map<std::string, std::shared_ptr<const IniDoc>>;

Cache& TheCache() {
  static Cache cache;
  return cache;
}

std::string CacheKey(const fs::path& file) {
  std::error_code ec;
  fs::path abs = fs::absolute(file, ec);
  if (ec) abs = file;
  return abs.lexically_normal().string();
}

std::shared_ptr<const IniDoc> Cached(const fs::path& file) {
  const std::string key = CacheKey(file);
  auto found = TheCache().find(key);
  if (found != TheCache().end()) return found->second;
  std::shared_ptr<const IniDoc> doc;
  try {
    doc = Load(file);
  } catch (const HostError&) {
    doc = std::make_shared<IniDoc>();  // unreadable counts as missing
  }
  TheCache()[key] = doc;
  return doc;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

[[noreturn]] void BadArgument(const fs::path& file, std::string_view what) {
  throw HostError(
      err::kInvalidArgument,
      "Invalid procedure call or argument: " + std::string(what) + " (" + file.string() + ")",
      "IniWrite");
}

}  // namespace

std::string IniGet(std::string_view section, std::string_view key, std::string_view def,
                   const fs::path& file) {
  const auto doc = Cached(file);
  if (const Section* s = FindSection(*doc, section)) {
    if (const Entry* e = FindEntry(*s, key)) return e->value;
  }
  return std::string(def);
}

std::vector<std::pair<std::string, std::string>> IniSection(std::string_view section,
                                                            const fs::path& file) {
  std::vector<std::pair<std::string, std::string>> out;
  const auto doc = Cached(file);
  const Section* s = FindSection(*doc, section);
  if (!s) return out;
  for (const Entry& e : s->entries) {
    if (FindEntry(*s, e.key) == &e) out.emplace_back(e.key, e.value);
  }
  return out;
}

void IniWrite(std::string_view section, std::string_view key, std::string_view value,
              const fs::path& file) {
  const std::string_view sectionName = text::TrimBlanks(section);
  const std::string_view keyName = text::TrimBlanks(key);
  if (sectionName.empty() || keyName.empty()) BadArgument(file, "empty section or key name");
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
    BadArgument(file, "line break in an INI name or value");
  }
  if (keyName.find('=') != std::string_view::npos ||
      sectionName.find(']') != std::string_view::npos || keyName.front() == ';' ||
      keyName.front() == '[') {
    BadArgument(file,
                "INI name \"" + std::string(sectionName) + "\"/\"" + std::string(keyName) + "\"");
  }

  std::shared_ptr<IniDoc> doc = Load(file);
  const std::string newLine = std::string(keyName) + "=" + std::string(value);
  const Section* s = FindSection(*doc, sectionName);
  if (!s) {
    if (!doc->lines.empty() && !text::TrimBlanks(doc->lines.back()).empty())
      doc->lines.emplace_back();
    doc->lines.push_back("[" + std::string(sectionName) + "]");
    doc->lines.push_back(newLine);
  } else if (const Entry* e = FindEntry(*s, keyName)) {
    // Keep the line's own spelling and spacing up to the value.
    std::string& line = doc->lines[e->line];
    size_t cut = line.find('=') + 1;
    while (cut < line.size() && (line[cut] == ' ' || line[cut] == '\t')) ++cut;
    line = line.substr(0, cut) + std::string(value);
  } else {
    doc->lines.insert(doc->lines.begin() + static_cast<std::ptrdiff_t>(s->lastEntryLine + 1),
                      newLine);
  }

  std::string content;
  for (const std::string& line : doc->lines) {
    content += line;
    content += "\r\n";
  }
  WriteTextFile(file, content, doc->encoding);
  Index(*doc);
  TheCache()[CacheKey(file)] = doc;
}

void IniCacheReset() { TheCache().clear(); }

}  // namespace fern
