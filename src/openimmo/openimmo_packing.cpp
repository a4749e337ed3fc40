#include "openimmo/openimmo_packing.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "host/LanguagePack.h"
#include "openimmo/earlier_files.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/private_temp.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/cZipV2.h"

namespace fern::openimmo {

namespace fs = std::filesystem;

namespace {

std::string JoinHost(std::string folder, const std::string& name) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder + "\\" + name;
}

bool Executable(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && access(p.c_str(), X_OK) == 0;
}

std::string InPath(const std::string& program) {
  const char* env = std::getenv("PATH");
  const std::string dirs = env ? env : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t colon = dirs.find(':', start);
    const std::string dir =
        dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / program;
    if (Executable(candidate)) return candidate.string();
    if (colon == std::string::npos) return "";
    start = colon + 1;
  }
}

std::string SevenZipProgram(const PackingSettings& s) {
  if (s.sevenZip == "-") return "";
  if (!s.sevenZip.empty()) return Executable(s.sevenZip) ? s.sevenZip : "";
  const fs::path own = ResolveHostPath(JoinHost(JoinHost(s.hostFolder, "system"), "7za"));
  if (Executable(own)) return own.string();
  return InPath("7za");
}

std::string SevenZipText(int code) {
  switch (code) {
    case 1:
      return "Warnung! Eine oder mehrere Dateien könnten von einer anderen Applikation gesperrt "
             "worden sein, so dass sie nicht komprimiert werden konnten.";
    case 2:
      return "Schwerwiegender Fehler.";
    case 7:
      return "Befehlszeilenfehler.";
    case 8:
      return "Nicht genügend Speicher für diese Operation.";
    case 255:
      return "Benutzer hat den Vorgang beendet.";
    default:
      return "Unbekannter Fehler.";
  }
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

void ZipAll(const std::string& folder, const std::string& archiveName, const PackingSettings& s,
            cZipV2& zip, const LanguagePack* language, const StateEvents& events) {
  auto T = [&](const std::string& german) {
    return language ? language->TranslateString(german) : german;
  };
  const fs::path realFolder = ResolveHostPath(folder);
  const std::string archiveHost = JoinHost(folder, archiveName + ".zip");
  const fs::path archive = realFolder / (archiveName + ".zip");
  const auto zipError = [&] {
    return HostError(err::kNoInterface, "Fehler in Zip-Datei '" + archiveHost + "'", "ZipAll");
  };
  std::error_code ec;
  fs::remove(archive, ec);

  // One pattern per extension, in the order first met; schema files stay out.
  std::vector<std::string> extensions;
  std::vector<fs::path> files;
  for (const fs::path& f : FindFiles(realFolder, "*", false)) {
    const std::string name = f.filename().string();
    const size_t dot = name.rfind('.');
    const std::string ext =
        text::UpperAscii(dot == std::string::npos ? std::string() : name.substr(dot + 1));
    if (ext == "XSD" || IsListed(f, s.heldBack)) continue;
    files.push_back(f);
    if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end())
      extensions.push_back(ext);
  }
  std::string patterns;  // host texts, for the internal packer
  for (const std::string& ext : extensions) {
    if (s.heldBack.empty()) {
      patterns += Quoted(JoinHost(folder, "*." + ext)) + " ";
      continue;
    }
    // A pattern would take what is held back too: name each file the pattern would take.
    for (const fs::path& f : FindFiles(realFolder, "*." + ext, true))
      if (!IsListed(f, s.heldBack)) patterns += Quoted(f.string()) + " ";
  }
  while (!patterns.empty() && patterns.back() == ' ') patterns.pop_back();
  // Outside programs get the files themselves: Windows patterns mean nothing to them here.
  std::string fileList;
  for (const fs::path& f : files) fileList += Quoted(f.string()) + " ";
  while (!fileList.empty() && fileList.back() == ' ') fileList.pop_back();

  ProcessOptions po;
  po.timeout = s.toolTimeout;
  po.captureStdout = po.captureStderr = true;

  const std::string sevenZip = SevenZipProgram(s);
  if (!sevenZip.empty()) {
    events.RaiseWorkState(state::kInfo, "Start 7zip");
    std::vector<std::string> argv = {sevenZip, "a", "-y", "-tzip", archive.string()};
    for (const fs::path& f : files) argv.push_back(f.string());
    const std::string commandLine =
        Quoted(sevenZip) + " a -y -tzip " + Quoted(archive.string()) + " " + fileList;
    const ProcessResult r = RunProcess(argv, po);
    if (!r.Succeeded()) {
      const int code = r.outcome == ProcessOutcome::kExited ? r.exitCode : -1;
      throw HostError(err::kNoInterface,
                      std::to_string(code) + " " + T(SevenZipText(code)) + " " + commandLine,
                      "7zip");
    }
  } else if (!s.zipTool.empty()) {
    events.RaiseWorkState(state::kInfo, "Start Extern ZIP");
    const size_t bar = s.zipTool.find('|');
    const std::string program = s.zipTool.substr(0, bar);
    std::string arguments;
    if (bar != std::string::npos) {
      const size_t next = s.zipTool.find('|', bar + 1);
      arguments =
          s.zipTool.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    }
    const std::string programHost = JoinHost(JoinHost(s.hostFolder, "system"), program);
    const fs::path programPath = ResolveHostPath(programHost);
    if (program.empty() || !fs::is_regular_file(programPath, ec))
      throw HostError(err::kNoInterface, "Zipper-Datei nicht gefunden '" + programHost + "'",
                      "ZipTool");
    arguments = text::ReplaceAll(arguments, "{ArchiveName}", Quoted(archive.string()));
    arguments = text::ReplaceAll(arguments, "{FileNames}", fileList);
    std::vector<std::string> argv = SplitCommandLine(arguments);
    argv.insert(argv.begin(), programPath.string());
    RunProcess(argv, po);  // its exit code says nothing; the archive below does
  } else {
    events.RaiseWorkState(state::kInfo, "Start Intern ZIP");
    try {
      zip.AddFile(archiveHost, patterns, folder, true);
    } catch (const HostError&) {
      // Passed over: a missing archive is reported below.
    }
    if (fs::exists(archive, ec)) {
      // Read one document back to prove the archive whole.
      std::string base = s.transferTempPath.empty() ? PrivateTempFolder().string()
                                                    : ResolveHostPath(s.transferTempPath).string();
      fs::path check = fs::path(base) / "TRANSFER" / ("zipcheck-" + std::to_string(getpid()));
      fs::create_directories(check, ec);
      try {
        const std::string got =
            zip.ExtractFirstMatchingFile(archive.string(), "*.xml", check.string());
        if (!got.empty()) fs::remove(ResolveHostPath(got), ec);
      } catch (const HostError&) {
        fs::remove_all(check, ec);
        throw zipError();
      }
      fs::remove_all(check, ec);
    }
  }

  if (!fs::is_regular_file(archive, ec)) throw zipError();
  PumpEvents();
  const double kb = static_cast<double>(fs::file_size(archive, ec)) / 1024.0;
  events.RaiseWorkState(state::kInfo, archiveHost + " " + vb::Format(Variant(kb), "0.00") + " kB");
}

}  // namespace fern::openimmo
