#include "core/startup.h"

#include <iostream>

#include "core/host_session.h"
#include "host/cUtil.h"
#include "platform/msgbox.h"
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
  grid.ApplyPortalList(portalList);
  switch (driver.butStart_Click()) {
    case RunDriver::StartResult::kRan:
      return driver.m_lngErrors > 0 ? exitcode::kErrors : exitcode::kOk;
    case RunDriver::StartResult::kRefused:
    case RunDriver::StartResult::kRefusedEndProcess:
      return exitcode::kAlreadyRunning;
  }
  return exitcode::kErrors;
}

int RunUnattendedProcess(const ExporterFactory& factory) {
  // Boxes shown while no run is open go to standard error; during the run the driver's send
  // log gets them too (see RunDriver).
  SetMessageAnswerer(std::make_shared<UnattendedAnswerer>());
  try {
    InitHostSession();
  } catch (const StartupFailure&) {
    return exitcode::kStartupFailed;
  } catch (const std::exception& e) {
    ShowCriticalMessage(e.what());
    return exitcode::kStartupFailed;
  }
  PortalGrid grid;
  try {
    grid.LoadPortalGrid();
    grid.LoadTransferStatus();
  } catch (const std::exception& e) {
    ShowCriticalMessage(e.what());
    return exitcode::kStartupFailed;
  }
  RunDriver driver(grid, factory);
  ApplyScopeFlags(driver);
  return RunUnattended(grid, driver, PortalListFromSwitch(grid));
}

}  // namespace fern
