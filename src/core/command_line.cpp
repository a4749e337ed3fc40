#include "core/command_line.h"

#include "platform/dispatch.h"
#include "platform/text.h"
#include "platform/vb.h"

namespace fern {

namespace {

// One line per switch; the usage text is made from this table.
constexpr SwitchInfo kSwitches[] = {
    {"/PATHKV", "<Ordner>", "der Host-Ordner (ohne Angabe der Ordner des Programms)"},
    {"/USERKV", "<Anmeldename>", "der Host-Benutzer, unter dem übertragen wird"},
    {"/PORTAL", "<Name|Name|...>|ALL",
     "überträgt ohne Zutun zu den genannten Portalen (ALL: zu allen) und endet"},
    {"/SCOPE", "full|partial", "OpenImmo-Portale voll (full) oder teilweise (partial) übertragen"},
    {"/NOTCLOSEONERROR", "1", "nach einem Lauf mit Fehlern bleibt das Fenster offen"},
    {"/SETPASSWORD", "<Portal>", "speichert das Kennwort des Portals (von der Standardeingabe)"},
    {"/SETWEBDBPASSWORD", "<Portal>",
     "speichert das Kennwort der Web-Datenbank des Portals (von der Standardeingabe)"},
    {"/SETUSERPASSWORD", "<Anmeldename>",
     "speichert das Kennwort des Benutzers (von der Standardeingabe)"},
};

const SwitchInfo* FindSwitch(std::string_view arg) {
  for (const SwitchInfo& s : kSwitches)
    if (NameIs(arg, s.name)) return &s;
  return nullptr;
}

bool IsKnownSwitch(std::string_view arg) { return FindSwitch(arg) != nullptr; }

// The host's rule on one line: find the switch, cut at the next "/" after its slash, split at
// single blanks and take the second piece. `original` has the same byte positions as `upper`
// (upper-casing keeps UTF-8 lengths for the letters we fold) and supplies /PATHKV's case.
std::string SingleLineValue(const std::string& original, std::string_view sw, bool keepCase) {
  std::string upper = vb::UCase(original);
  const std::string& src = (keepCase && upper.size() == original.size()) ? original : upper;
  size_t pos = upper.find(sw);
  if (pos == std::string::npos) return {};
  std::string_view rest(src);
  rest = rest.substr(pos + 1);
  size_t slash = rest.find('/');
  if (slash != std::string_view::npos) rest = rest.substr(0, slash);
  size_t blank = rest.find(' ');
  if (blank == std::string_view::npos) return {};
  rest = rest.substr(blank + 1);
  size_t next = rest.find(' ');
  if (next != std::string_view::npos) rest = rest.substr(0, next);
  return std::string(text::TrimSpaces(rest));
}

}  // namespace

CommandLine CommandLine::FromArgs(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return FromArgs(std::move(args));
}

CommandLine CommandLine::FromArgs(std::vector<std::string> args) {
  CommandLine cl;
  // A single argument that starts with a switch and holds a blank is a whole Windows-style line.
  if (args.size() == 1 && !args[0].empty() && args[0][0] == '/' &&
      args[0].find(' ') != std::string::npos) {
    size_t blank = args[0].find(' ');
    if (IsKnownSwitch(std::string_view(args[0]).substr(0, blank))) cl.singleLine_ = true;
  }
  cl.args_ = std::move(args);
  return cl;
}

std::string CommandLine::GetCommandSwitch(std::string_view upperSwitch) const {
  bool keepCase = NameIs(upperSwitch, "/PATHKV");
  if (singleLine_) return SingleLineValue(args_[0], vb::UCase(upperSwitch), keepCase);
  for (size_t i = 0; i < args_.size(); ++i) {
    if (!NameIs(args_[i], upperSwitch)) continue;
    if (i + 1 >= args_.size() || IsKnownSwitch(args_[i + 1])) return {};
    std::string value(text::TrimSpaces(args_[i + 1]));
    return keepCase ? value : vb::UCase(value);
  }
  return {};
}

std::string CommandLine::WithBlanks(std::string_view value) { return vb::Replace(value, "§", " "); }

std::span<const SwitchInfo> CommandLine::Switches() { return kSwitches; }

bool CommandLine::WantsHelp() const {
  for (const std::string& arg : args_)
    if (arg == "--help" || arg == "-h" || arg == "/?") return true;
  return false;
}

std::vector<std::string> CommandLine::UnknownArguments() const {
  // The one-line form is cut at single blanks, as its values are: two blanks after a switch
  // give it an empty value.
  std::vector<std::string> words;
  if (singleLine_) {
    for (std::string_view rest = args_[0]; !rest.empty();) {
      size_t blank = rest.find(' ');
      words.emplace_back(rest.substr(0, blank));
      rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    }
  }
  const std::vector<std::string>& args = singleLine_ ? words : args_;
  std::vector<std::string> unknown;
  for (size_t i = 0; i < args.size(); ++i) {
    const SwitchInfo* known = FindSwitch(args[i]);
    if (!known) {
      if (args[i].empty()) continue;
      // An unknown switch is named once, together with the value it was given.
      if (args[i][0] == '/' && i + 1 < args.size() && !args[i + 1].empty() &&
          args[i + 1][0] != '/') {
        unknown.push_back(args[i] + " " + args[i + 1]);
        ++i;
      } else {
        unknown.push_back(args[i]);
      }
      continue;
    }
    bool nextIsValue = !known->value.empty() && i + 1 < args.size() && !IsKnownSwitch(args[i + 1]);
    if (nextIsValue) ++i;
  }
  return unknown;
}

}  // namespace fern
