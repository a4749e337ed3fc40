// The program's command-line switches ("/USERKV", "/PATHKV", "/SCOPE", "/PORTAL",
// "/NOTCLOSEONERROR"). Two forms are accepted: arguments as a shell passes them (a switch's value
// is the next argument), and one argument holding a whole Windows-style line ("/USERKV anna
// /PORTAL ALL"), which is parsed by the host's own rules: the line is upper-cased, a value ends at
// the next blank or "/", and two blanks after a switch give an empty value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fern {

class CommandLine {
 public:
  CommandLine() = default;
  // argv[0] is the program and is skipped.
  static CommandLine FromArgs(int argc, const char* const* argv);
  static CommandLine FromArgs(std::vector<std::string> args);

  // The value of `upperSwitch` ("/USERKV"), upper-cased, except for "/PATHKV", which keeps its
  // case because Linux paths are case-sensitive. Empty when the switch is absent. "§" is left in
  // place; callers that allow blanks in a value use WithBlanks.
  std::string GetCommandSwitch(std::string_view upperSwitch) const;

  // "§" stands for a blank inside a value.
  static std::string WithBlanks(std::string_view value);

 private:
  std::vector<std::string> args_;
  bool singleLine_ = false;
};

}  // namespace fern
