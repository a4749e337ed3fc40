// The start-up shared by the window and the unattended night run: session, portal grid, scope
// and portal switches, and the exit code that tells a scheduler how the run went.
#pragma once

#include <string>
#include <vector>

#include "core/portal_grid.h"
#include "core/run_driver.h"

namespace fern {

namespace exitcode {
inline constexpr int kOk = 0;
inline constexpr int kErrors = 1;          // the run counted errors
inline constexpr int kStartupFailed = 2;   // host, database, user or run lock unusable
inline constexpr int kAlreadyRunning = 3;  // another run holds the logs
inline constexpr int kCancelled = 4;       // SIGTERM, SIGINT or SIGHUP ended the run early
}  // namespace exitcode

// The "/PORTAL" list with blanks restored and "ALL" (any case) expanded to every grid portal.
std::string PortalListFromSwitch(const PortalGrid& grid);

// Reads "/SCOPE" into the driver's scope flags.
void ApplyScopeFlags(RunDriver& driver);

// Checks exactly the named portals and runs Start; the exit code of the run. A run that counted
// errors or was cancelled writes RunSummary to standard error, so that a scheduler mails it.
int RunUnattended(PortalGrid& grid, RunDriver& driver, const std::string& portalList);

// What a failed or cancelled run tells its scheduler, one line each: its run line, its first
// error lines ("… und N weitere" for the rest) and the path of the error log.
std::string RunSummary(const RunDriver& driver);

// The short usage text: the switches, "§", the exit codes.
std::string UsageText();

// A warning for every text on the command line that the program does not know, and for a
// "/SCOPE" value other than full or partial; the run goes on without them.
std::vector<std::string> CommandLineWarnings();

}  // namespace fern
