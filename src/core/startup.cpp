#include "core/startup.h"

#include "core/host_session.h"
#include "platform/vb.h"

namespace fern {

std::string PortalListFromSwitch(const PortalGrid& grid) {
  std::string list = CommandLine::WithBlanks(GetCommandSwitch("/PORTAL"));
  if (vb::UCase(list) == "ALL") list = grid.GetAllPortalNames();
  return list;
}

void ApplyScopeFlags(RunDriver& driver) {
  std::string scope = vb::LCase(GetCommandSwitch("/SCOPE"));
  driver.m_blnScopeFull = scope == "full";
  driver.m_blnScopePartial = scope == "partial";
}

int RunUnattended(PortalGrid& grid, RunDriver& driver, const std::string& portalList) {
  driver.m_blnUnattended = true;
  grid.ClearPortalChecks();
  driver.m_unmatchedPortals = grid.ApplyPortalList(portalList);
  switch (driver.butStart_Click()) {
    case RunDriver::StartResult::kRan:
      if (driver.m_blnCancelledBySignal) return exitcode::kCancelled;
      return driver.m_lngErrors > 0 ? exitcode::kErrors : exitcode::kOk;
    case RunDriver::StartResult::kRefused:
    case RunDriver::StartResult::kRefusedEndProcess:
      return exitcode::kAlreadyRunning;
    case RunDriver::StartResult::kLockFailed:
      return exitcode::kStartupFailed;
  }
  return exitcode::kErrors;
}

}  // namespace fern
