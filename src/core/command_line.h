// The program's command-line switches ("/USERKV", "/PATHKV", "/SCOPE", "/PORTAL",
// "/NOTCLOSEONERROR"). Two forms are accepted: arguments as a shell passes them (a switch's value
// is the next argument), and one argument holding a whole Windows-style line ("/USERKV anna
// /PORTAL ALL"), which is parsed by the host's own rules: the line is upper-cased, a value ends at
// the next blank or "/", and two blanks after a switch give an empty value.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fern {

// One switch of the program: its name, what its value looks like ("" for a switch without a
// value) and one line of the usage text.
struct SwitchInfo {
  std::string_view name;
  std::string_view value;
  std::string_view text;
};

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

  // The switches the program knows, in the order the usage text lists them.
  static std::span<const SwitchInfo> Switches();
  // "--help", "-h" or "/?" anywhere on the line.
  bool WantsHelp() const;
  // The texts on the line that are neither a known switch nor a known switch's value, as given.
  std::vector<std::string> UnknownArguments() const;

 private:
  std::vector<std::string> args_;
  bool singleLine_ = false;
};

}  // namespace fern
