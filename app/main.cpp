// fern-dispatcher: the main window, or with "/PORTAL" the unattended run over the named portals.
// An unattended run needs no desktop: without a display it runs on Qt's offscreen platform, and
// its exit code tells a scheduler how it went (core/startup.h).
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "core/host_session.h"
#include "core/password_entry.h"
#include "core/startup.h"
#include "openimmo/cImmoXmlV2.h"
#include "platform/msgbox.h"
#include "platform/waits.h"
#include "restportal/cIS24RestTransfer.h"
#include "ui/frmBrowser.h"
#include "ui/frmFernDispatcher.h"
#include "ui/qt_message_answerer.h"
#include "ui/qt_translations.h"
#include "website/cWebserverV2.h"

namespace {

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Platforms that draw nowhere a user could see.
bool Headless() {
  QString name = QGuiApplication::platformName();
  return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

int NoDisplay() {
  std::fprintf(stderr,
               "fern-dispatcher: Das Fenster braucht eine Anzeige, und keine ist erreichbar "
               "(DISPLAY und WAYLAND_DISPLAY fehlen oder sind nicht erreichbar). Ohne Fenster "
               "überträgt: /PORTAL <Namen>|ALL.\n");
  return fern::exitcode::kStartupFailed;
}

// Qt's own notes (a missing runtime folder, a display that can't be reached before the
// offscreen fallback) are no news for a scheduler or a user: a night without errors prints
// nothing, and a refused window prints only why.
void QtNoteToDebugLog(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::abort();
  }
  if (fern::Session().g_blnDebugLog) fern::WriteDebugLog("Qt: " + message.toStdString());
}

}  // namespace

int main(int argc, char** argv) {
  fern::ResetSession(fern::CommandLine::FromArgs(argc, argv));
  if (fern::Session().commandLine.WantsHelp()) {
    std::fputs(fern::UsageText().c_str(), stdout);
    return fern::exitcode::kOk;
  }
  if (fern::IsPasswordEntry(argc, argv)) return fern::RunPasswordEntry();
  for (const std::string& warning : fern::CommandLineWarnings())
    std::fprintf(stderr, "fern-dispatcher: %s\n", warning.c_str());
  fern::InstallCancelSignals();
  const bool unattended = !fern::GetCommandSwitch("/PORTAL").empty();
  qInstallMessageHandler(QtNoteToDebugLog);

  if (!EnvSet("QT_QPA_PLATFORM")) {
    // The desktop's platforms first, offscreen last: a display that is set but can't be reached
    // (a scheduler's stale DISPLAY) does not abort the run, and the window says it has none.
    std::string platforms;
    if (EnvSet("WAYLAND_DISPLAY")) platforms += "wayland;";
    if (EnvSet("DISPLAY")) platforms += "xcb;";
    if (platforms.empty() && !unattended) return NoDisplay();
    platforms += "offscreen";
    ::setenv("QT_QPA_PLATFORM", platforms.c_str(), 1);
  }
  // The login window's browser engine shares the window system's contexts.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  fern::InstallGermanQtTranslations(app);
  const bool headless = Headless();
  if (!unattended && headless) return NoDisplay();

  if (unattended)
    fern::SetMessageAnswerer(std::make_shared<fern::UnattendedAnswerer>(fern::WriteBoxToConsole));
  fern::ExporterFactory exporters = fern::DefaultExporters();
  exporters.website = [] { return std::make_unique<fern::cWebserverV2>(); };
  exporters.rest = [] { return std::make_unique<fern::cIS24RestTransfer>(); };
  fern::frmFernDispatcher window(exporters);
  try {
    window.InitMainWindow();
  } catch (const fern::StartupFailure&) {
    return fern::exitcode::kStartupFailed;
  } catch (const std::exception& e) {
    fern::ShowCriticalMessage(e.what());
    return fern::exitcode::kStartupFailed;
  }

  if (!unattended) {
    // The login window is for a user at the screen only, never for an unattended run.
    fern::InstallLoginWindows(window, fern::HostLoginRestClient());
    window.show();
    return app.exec();
  }
  int code = window.RunUnattendedTransfer();
  if (window.StaysOpenAfterRun() && !headless) {
    // The user looks at the errors; from now on boxes are real dialogs again.
    fern::SetMessageAnswerer(std::make_shared<fern::QtMessageAnswerer>());
    app.exec();
  }
  return code;
}
