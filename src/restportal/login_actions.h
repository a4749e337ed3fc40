// The main window's login actions for one marked portal, without the window: the check whether
// the portal is authenticated, and the outside login program.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "restportal/login_rest.h"

namespace fern {

// Asks the host service whether the portal is authenticated, says so in a box when the answer
// tells, and hands every non-empty answer to `showAnswer` (the answer window). Errors end in a
// box; none leaves.
void CheckIS24RestLogin(std::string& dsn, const LoginRestFactory& makeClient,
                        const std::function<void(const std::string& answer)>& showAnswer);

inline constexpr const char* kLoginProgram = "IS24Login.exe";

// The login program beside this program, else on the search path; empty when it is nowhere.
std::filesystem::path FindLoginProgram();

// Runs the login program for the portal with the host connection string and waits for its end,
// keeping the window alive. A missing program, or one that can't start, is named in a box.
// The exit code is not used.
void ShellLoginProgram(const std::string& dsn);

}  // namespace fern
