// fern-dispatcher: with "/PORTAL" the unattended run over the named portals (no display
// needed); otherwise the window.
#include <cstdio>

#include "core/host_session.h"
#include "core/startup.h"
#include "platform/waits.h"

int main(int argc, char** argv) {
  fern::ResetSession(fern::CommandLine::FromArgs(argc, argv));
  fern::InstallCancelSignals();
  if (!fern::GetCommandSwitch("/PORTAL").empty()) return fern::RunUnattendedProcess({});
  std::fprintf(stderr,
               "fern-dispatcher: the window is not available in this build; start with /PORTAL "
               "<names>|ALL for an unattended run.\n");
  return fern::exitcode::kStartupFailed;
}
