#include <gtest/gtest.h>

#include "core/command_line.h"

using fern::CommandLine;

namespace {
CommandLine Line(std::string text) { return CommandLine::FromArgs({std::move(text)}); }
}  // namespace

TEST(CommandLineWindowsForm, ValuesAreUpperCasedAndEndAtBlankOrSlash) {
  EXPECT_EQ(Line("/USERKV mueller").GetCommandSwitch("/USERKV"), "MUELLER");
  EXPECT_EQ(CommandLine::WithBlanks(Line("/USERKV Anna§Maria").GetCommandSwitch("/USERKV")),
            "ANNA MARIA");
  EXPECT_EQ(Line("/USERKV  mueller").GetCommandSwitch("/USERKV"), "");
  EXPECT_EQ(Line("/PORTAL a/b /USERKV x").GetCommandSwitch("/PORTAL"), "A");
  EXPECT_EQ(Line("/USERKV x").GetCommandSwitch("/PORTAL"), "");
  EXPECT_EQ(Line("/SCOPE Partial /USERKV x").GetCommandSwitch("/SCOPE"), "PARTIAL");
}

TEST(CommandLineWindowsForm, HostFolderKeepsItsCase) {
  EXPECT_EQ(Line("/PATHKV C:\\Host\\System /USERKV X").GetCommandSwitch("/PATHKV"),
            "C:\\Host\\System");
  EXPECT_EQ(Line("/pathkv C:\\Host /USERKV X").GetCommandSwitch("/PATHKV"), "C:\\Host");
}

TEST(CommandLineShellForm, NextArgumentIsTheValue) {
  CommandLine cl = CommandLine::FromArgs(
      {"/PATHKV", "/srv/Host Dir", "/USERKV", "anna maria", "/PORTAL", "ALL", "/SCOPE", "full"});
  EXPECT_EQ(cl.GetCommandSwitch("/PATHKV"), "/srv/Host Dir");
  EXPECT_EQ(cl.GetCommandSwitch("/USERKV"), "ANNA MARIA");
  EXPECT_EQ(cl.GetCommandSwitch("/PORTAL"), "ALL");
  EXPECT_EQ(cl.GetCommandSwitch("/SCOPE"), "FULL");
  EXPECT_EQ(cl.GetCommandSwitch("/NOTCLOSEONERROR"), "");
}

TEST(CommandLineShellForm, SwitchWithoutValue) {
  CommandLine cl = CommandLine::FromArgs({"/USERKV", "/PATHKV", "/srv/x", "/NOTCLOSEONERROR"});
  EXPECT_EQ(cl.GetCommandSwitch("/USERKV"), "");
  EXPECT_EQ(cl.GetCommandSwitch("/PATHKV"), "/srv/x");
  EXPECT_EQ(cl.GetCommandSwitch("/NOTCLOSEONERROR"), "");
  EXPECT_EQ(CommandLine::FromArgs({"/userkv", "Bob"}).GetCommandSwitch("/USERKV"), "BOB");
}

TEST(CommandLineUnknownText, EveryTextThatIsNoSwitchOrItsValueIsNamedAsGiven) {
  using List = std::vector<std::string>;
  EXPECT_EQ(CommandLine::FromArgs({"/USERKV", "anna", "/PORTAL", "ALL"}).UnknownArguments(),
            List{});
  EXPECT_EQ(
      CommandLine::FromArgs({"/USERKV", "anna", "maria", "/Verbose", "/PORTAL"}).UnknownArguments(),
      (List{"maria", "/Verbose"}));
  // A switch right after a switch leaves the first without a value.
  EXPECT_EQ(CommandLine::FromArgs({"/USERKV", "/PATHKV", "/srv/x", "extra"}).UnknownArguments(),
            List{"extra"});
  EXPECT_EQ(Line("/USERKV anna /PORTAL a|b rest /x").UnknownArguments(), (List{"rest", "/x"}));
  EXPECT_EQ(Line("/USERKV  anna").UnknownArguments(), List{"anna"});
  // An unknown switch is named once, with the value it was given.
  EXPECT_EQ(CommandLine::FromArgs({"/FOO", "bar", "/USERKV", "anna"}).UnknownArguments(),
            List{"/FOO bar"});
  EXPECT_EQ(Line("/USERKV anna /FOO bar /BAZ").UnknownArguments(), (List{"/FOO bar", "/BAZ"}));

  EXPECT_TRUE(CommandLine::FromArgs({"/USERKV", "x", "/?"}).WantsHelp());
  EXPECT_FALSE(CommandLine::FromArgs({"/USERKV", "-h-"}).WantsHelp());
}
