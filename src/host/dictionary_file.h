// The dictionary files of the language pack and of `CUDDictionary`: one file per language,
// "<LCID>.dic" in the dictionary folder, UTF-8 or Windows-1252, one entry a line, the fields
// separated by tabs, grouped under section lines:
//
//   # a comment
//   [Strings]                        German text <TAB> translation (user texts, captions)
//   [Content]                        German content text <TAB> translation (option captions, ...)
//   [FLDART]                         key <TAB> column 1 <TAB> column 2 <TAB> column 3
//   [FLDARTOP]                       short name <TAB> option text <TAB> translation
//
// In texts "\t" and "\n" stand for a tab and a line break. Keys match without regard to case.
// German (1031) is the source language: it needs no file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace fern::host {

inline constexpr int32_t kGermanLcid = 1031;

struct DictionaryFile {
  std::map<std::string, std::string> strings;  // keys case-folded
  std::map<std::string, std::string> content;
  std::map<std::string, std::array<std::string, 3>> fldart;
  std::map<std::string, std::string> fldartop;  // key: folded short name + '\t' + folded option

  // A missing file gives an empty dictionary; an unreadable one HostError 53 naming it.
  static DictionaryFile Load(const std::filesystem::path& file);
};

std::filesystem::path DictionaryFileName(const std::filesystem::path& folder, int32_t lcid);

}  // namespace fern::host
