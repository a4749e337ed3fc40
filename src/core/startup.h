// The start-up shared by the window and the unattended night run: session, portal grid, scope
// and portal switches, and the exit code that tells a scheduler how the run went.
#pragma once

#include <string>

#include "core/portal_grid.h"
#include "core/run_driver.h"

namespace fern {

namespace exitcode {
inline constexpr int kOk = 0;
inline constexpr int kErrors = 1;          // the run counted errors
inline constexpr int kStartupFailed = 2;   // host, database, user or run lock unusable
inline constexpr int kAlreadyRunning = 3;  // another run holds the logs
inline constexpr int kCancelled = 4;       // SIGTERM or SIGINT ended the run early
}  // namespace exitcode

// The "/PORTAL" list with blanks restored and "ALL" (any case) expanded to every grid portal.
std::string PortalListFromSwitch(const PortalGrid& grid);

// Reads "/SCOPE" into the driver's scope flags.
void ApplyScopeFlags(RunDriver& driver);

// Checks exactly the named portals and runs Start; the exit code of the run.
int RunUnattended(PortalGrid& grid, RunDriver& driver, const std::string& portalList);

}  // namespace fern
