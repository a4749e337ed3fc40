// Packing a portal's transfer folder into one zip archive. cImmoXmlV2::ZipAll forwards here:
//   openimmo::ZipAll(folder, base, PackingSettings{...}, zip, language, events)
//
// Three packers, in this order: the 7-Zip program `7za` (the host's "system\7za" when it is
// there, else Debian's in PATH), the host's configured `ZipTool`, the internal cZipV2.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/state_events.h"

namespace fern {

class LanguagePack;
class cZipV2;

namespace openimmo {

struct PackingSettings {
  std::string hostFolder;        // host folder (host path)
  std::string zipTool;           // [XML] ZipTool: "<program below system>|<argument template>"
  std::string transferTempPath;  // the exporter's work folder; the test extraction goes below
  // The 7-Zip program. "" looks for the host's "system\7za", then "7za" in PATH; "-" means none.
  std::string sevenZip;
  std::chrono::milliseconds toolTimeout = std::chrono::minutes(30);  // an outside packer
  // Files of the folder that stay out of the archive (real paths).
  std::vector<std::filesystem::path> heldBack;
};

// Packs the files directly in `folder` (host path) into `folder\<archiveName>.zip`, one
// pattern per extension met, never "*.xsd". An archive of that name from before is removed
// first, so it neither packs itself nor passes for the new one.
// Reports WorkState 0 "Start 7zip" / "Start Extern ZIP" / "Start Intern ZIP" and, at the end,
// "<archive> <size in kB, 0.00> kB".
// Errors (HostError 50016): source "7zip" for a non-zero exit of 7za (code, its text, the
// command line), source "ZipTool" when the configured program is missing, source "ZipAll"
// ("Fehler in Zip-Datei '<archive>'") when the internal packer's archive can't be read back or
// when no archive exists after packing.
void ZipAll(const std::string& folder, const std::string& archiveName,
            const PackingSettings& settings, cZipV2& zip, const LanguagePack* language,
            const StateEvents& events);

}  // namespace openimmo
}  // namespace fern
