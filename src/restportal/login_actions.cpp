#include "restportal/login_actions.h"

#include <unistd.h>

#include <cstdlib>

#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "platform/host_error.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/text.h"

namespace fern {

namespace {

constexpr const char* kCheckCaption = "ImmobilienScout24 REST-API Anmeldung";

std::string Translate(const std::string& german, const std::string& p1 = {}) {
  return fern::Translate(Session().g_oLanguagePack.get(), german, {p1});
}

bool Runnable(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec) && ::access(file.c_str(), X_OK) == 0;
}

}  // namespace

void CheckIS24RestLogin(std::string& dsn, const LoginRestFactory& makeClient,
                        const std::function<void(const std::string& answer)>& showAnswer) {
  try {
    if (!makeClient) {
      MessageBox(Translate("Die Portal-Anmeldung ist in dieser Programmversion nicht verfügbar."),
                 mb::kOkOnly | mb::kExclamation);
      return;
    }
    // No host application runs beside us to ask for its folder: the session's is the same.
    std::unique_ptr<LoginRestClient> client = makeClient();
    const std::string answer = client->CallIS24RestApiCheckLogin(dsn);
    if (answer.empty()) return;
    const std::string upper = text::UpperAscii(answer);
    if (upper.find("SUCCESSFULLY SENT AN TEST-REQUEST") != std::string::npos)
      MessageBox(Translate("Das Portal ist authentifiziert."), mb::kOkOnly | mb::kInformation,
                 Translate(kCheckCaption));
    else if (upper.find("NOT AUTHENTICATED") != std::string::npos)
      MessageBox(Translate("Das Portal ist nicht authentifiziert."), mb::kOkOnly | mb::kCritical,
                 Translate(kCheckCaption));
    if (showAnswer) showAnswer(answer);
  } catch (const HostError& e) {
    MessageBox(std::to_string(e.number()) + "  " + e.description(), mb::kOkOnly);
  } catch (const std::exception& e) {
    MessageBox("0  " + std::string(e.what()), mb::kOkOnly);
  }
}

std::filesystem::path FindLoginProgram() {
  std::filesystem::path beside = Session().programFolder / kLoginProgram;
  if (Runnable(beside)) return beside;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "";
  while (!dirs.empty()) {
    size_t colon = dirs.find(':');
    std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty() && Runnable(std::filesystem::path(dir) / kLoginProgram))
      return std::filesystem::path(dir) / kLoginProgram;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return {};
}

void ShellLoginProgram(const std::string& dsn) {
  std::filesystem::path program = FindLoginProgram();
  if (program.empty()) {
    MessageBox(Translate("Das Anmeldeprogramm %1 wurde weder neben FernDispatcher noch im "
                         "Suchpfad gefunden.",
                         kLoginProgram),
               mb::kOkOnly | mb::kExclamation);
    return;
  }
  ProcessOptions options;
  // Esc belongs to the transfer runs; the login program ends when its user is done.
  options.cancelOnEsc = false;
  ProcessResult result = RunProcess({program.string(), dsn, Session().g_strConnect}, options);
  if (result.outcome == ProcessOutcome::kStartFailed)
    MessageBox(
        Translate("Das Anmeldeprogramm %1 konnte nicht gestartet werden:", program.string()) +
            "\r\n" + result.error,
        mb::kOkOnly | mb::kExclamation);
}

}  // namespace fern
