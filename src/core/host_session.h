// The process-wide host session: the host objects created once at start-up, the connection
// string, the company and user rows, the host folder and the command line. Every other part of
// the program reaches the host through it or through the per-run cFernDispatcher.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/command_line.h"
#include "db/Recordset.h"

namespace fern {

class cDal;
class cdbutil;
class cUtil;
class cDbIni;
class cKVUtil;
class cKVBlob;
class cCryptUtil;
class LanguagePack;
class KavantorApplication;

// A start-up failure: the text has been shown as a critical message; the process must end.
class StartupFailure : public std::runtime_error {
 public:
  explicit StartupFailure(const std::string& text) : std::runtime_error(text) {}
};

struct HostSession {
  std::string g_strUser;
  std::string g_strProfilePath;
  std::string g_strConnect;
  std::string g_strHostPath;  // always ends in "\"
  std::string g_strDBVersion;
  std::shared_ptr<cDal> g_oDal;
  std::shared_ptr<cdbutil> g_oDbUtil;
  std::shared_ptr<cUtil> g_oUtil;
  std::shared_ptr<cDbIni> g_oDbIni;
  std::shared_ptr<cKVUtil> g_oKVUtil;
  std::shared_ptr<cKVBlob> g_oKVBlob;
  std::shared_ptr<cCryptUtil> g_oCryptUtil;
  std::shared_ptr<LanguagePack> g_oLanguagePack;
  std::shared_ptr<db::Recordset> g_StdRS;
  std::shared_ptr<db::Recordset> g_CurrentUserRS;
  std::shared_ptr<KavantorApplication> g_oHostApp;
  bool g_blnDebugLog = false;
  bool g_blnIS24Login = false;
  int16_t g_iBusy = 0;

  CommandLine commandLine;
  std::filesystem::path programFolder;  // where the executable lies
};

// The one session of the process.
HostSession& Session();
// Starts afresh (tests; a new start-up in one process).
void ResetSession(CommandLine commandLine = {}, std::filesystem::path programFolder = {});

// The host folder followed directly by `relative` ("DAT\Error.log"); a host path.
std::string GetHostPath(const std::string& relative);
// GetHostPath resolved to a real path (case-insensitive match against what exists).
std::filesystem::path HostFile(const std::string& relative);
std::string GetCommandSwitch(const std::string& upperSwitch);

void SetBusy(bool busy);
int ShowMessage(const std::string& text, int32_t flags);
void ShowCriticalMessage(const std::string& text);
double MaxDouble(double a, double b);
double MinDouble(double a, double b);

// Sets g_strHostPath from "/PATHKV" (or the program folder). StartupFailure when the folder
// holds no "KAVANTOR.EXE".
void InitHostPath();
// Creates the host objects and opens the session. StartupFailure with the shown text on any
// failure: missing host, missing user, unusable database settings, empty std, unknown user.
void InitHostSession();

// The debug log "DAT\FernDispatcherDebug.txt" of the host folder; callers test g_blnDebugLog.
void WriteDebugLog(const std::string& text);

}  // namespace fern
