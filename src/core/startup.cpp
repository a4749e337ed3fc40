#include "core/startup.h"

#include <algorithm>
#include <cstdio>

#include "core/host_session.h"
#include "platform/host_path.h"
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
      if (driver.m_lngErrors > 0) std::fputs(RunSummary(driver).c_str(), stderr);
      if (driver.m_blnCancelledBySignal || driver.m_blnStoppedByUser) return exitcode::kCancelled;
      return driver.m_lngErrors > 0 ? exitcode::kErrors : exitcode::kOk;
    case RunDriver::StartResult::kRefused:
    case RunDriver::StartResult::kRefusedEndProcess:
      return exitcode::kAlreadyRunning;
    case RunDriver::StartResult::kLockFailed:
    case RunDriver::StartResult::kLogFailed:
      return exitcode::kStartupFailed;
  }
  return exitcode::kErrors;
}

std::string RunSummary(const RunDriver& driver) {
  std::string text = driver.RunLine() + "\n";
  for (const std::string& line : driver.ErrorLines()) text += line + "\n";
  const auto kept = static_cast<int32_t>(driver.ErrorLines().size());
  if (driver.m_lngErrors > kept)
    text += "… und " + std::to_string(driver.m_lngErrors - kept) + " weitere\n";
  text += "Fehlerprotokoll: " + HostFile("DAT\\Error.log").string() + "\n";
  return text;
}

std::string UsageText() {
  std::string text =
      "Aufruf: fern-dispatcher /PATHKV <Ordner> /USERKV <Anmeldename> [/PORTAL <Namen>|ALL] "
      "[weitere Schalter]\n"
      "Ohne /PORTAL öffnet sich das Fenster; mit /PORTAL läuft die Übertragung ohne Fenster.\n\n"
      "Schalter:\n";
  for (const SwitchInfo& s : CommandLine::Switches()) {
    std::string head =
        "  " + std::string(s.name) + (s.value.empty() ? "" : " ") + std::string(s.value);
    head.resize(std::max<size_t>(head.size() + 2, 42), ' ');
    text += head + std::string(s.text) + "\n";
  }
  text +=
      "\n\"§\" steht in einem Wert für ein Leerzeichen: /PORTAL \"Wohnen§Demo|Büro§Nord\".\n\n"
      "Rückgabewerte:\n"
      "  0  der Lauf hatte keine Fehler\n"
      "  1  der Lauf hat Fehler gezählt (DAT/Error.log)\n"
      "  2  der Start ist gescheitert (Host-Ordner, Datenbank, Benutzer, Protokolle, Sperrdatei)\n"
      "  3  ein anderer Lauf war aktiv\n"
      "  4  der Lauf wurde abgebrochen (SIGTERM, SIGINT, SIGHUP oder im Fenster)\n"
      "Ein /SET...PASSWORD-Aufruf endet mit 0, wenn das Kennwort gespeichert ist, sonst mit 2.\n";
  return text;
}

std::vector<std::string> CommandLineWarnings() {
  std::vector<std::string> warnings;
  for (const std::string& arg : Session().commandLine.UnknownArguments())
    warnings.push_back("Unbekannte Angabe auf der Befehlszeile wird übergangen: \"" + arg + "\"");
  std::string scope = GetCommandSwitch("/SCOPE");
  if (!scope.empty() && vb::LCase(scope) != "full" && vb::LCase(scope) != "partial")
    warnings.push_back("/SCOPE \"" + scope +
                       "\" ist weder full noch partial und wird übergangen; es gilt die "
                       "Einstellung der Portale.");
  return warnings;
}

}  // namespace fern
