// The main window: the portal grid with its check boxes, the run's message list and progress
// label, Start/Cancel/Close, the version, the four links to the logs and the client list, and
// the three login buttons of the ImmobilienScout24 portals. It is one client of the run driver;
// it owns the grid model, restores and saves its position and the check states in the profile's
// "gui.ini", and installs the pump, busy and Esc hooks of the platform while it lives.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/exporters.h"
#include "core/portal_grid.h"
#include "core/run_driver.h"
#include "host/LanguagePack.h"
#include "restportal/login_rest.h"

class QGroupBox;
class QLabel;
class QListView;
class QPushButton;
class QTableWidget;

namespace fern {

class lnkLabel;
class MessageListModel;

class frmFernDispatcher : public QWidget, private ControlCaptions {
 public:
  // `installAnswerer`: message boxes become QMessageBox dialogs while the window lives, except in
  // an unattended ("/PORTAL") start, whose boxes must never wait for a user.
  explicit frmFernDispatcher(ExporterFactory factory = {}, bool installAnswerer = true);
  ~frmFernDispatcher() override;

  // The one-time start-up: host session, skin, captions, version, links, grid, position, check
  // states and the scope and portal switches. StartupFailure (text already shown) when the host
  // session can't be opened; the window is then unusable and the process must end.
  void InitMainWindow();

  // "/PORTAL" named portals: the start is an unattended run.
  bool Unattended() const { return !portalList_.empty(); }
  // The unattended run over the "/PORTAL" portals; the process exit code (startup.h).
  int RunUnattendedTransfer();
  // After an unattended run: "/NOTCLOSEONERROR" "1" and the run counted errors.
  bool StaysOpenAfterRun() const;

  // Start: one run over the checked portals, with the Esc flag cleared first; the grid shows the
  // check states afterwards.
  RunDriver::StartResult butStart_Click();

  // The three login buttons: exactly one checked portal of type 113 goes to the login window,
  // the outside login program or the login check; otherwise a box says that none or too many
  // are checked.
  enum class LoginAction { kBrowserLogin, kOutsideProgram, kCheckLogin };
  void LoginClick(LoginAction action);
  // Installed by the program (the login window lives in the browser library, which this window
  // does not depend on): the host REST client of the check, the shared login window and the
  // check's answer window. Without them the browser login and the check say they are not
  // available.
  LoginRestFactory restClient;
  std::function<void(std::string& portalDsn)> showLoginWindow;
  std::function<void(const std::string& answer)> showAnswerWindow;

  // Opens a log or the client list; by default with the desktop's handler (xdg-open), or a box
  // that says no viewer can start.
  std::function<void(const std::string& hostPath)> openDocument;
  // Ends the process at once (Cancel; Close and Cancel after the run they stopped; Close while
  // another window such as the login keeps the program alive). By default std::_Exit.
  std::function<void(int exitCode)> endProcess;

  void RestoreWindowPos();
  void SaveWindowPos();
  // Places the controls for the current size.
  void Form_Resize();

  // The grid model (the widget mirrors it) and the run driver.
  PortalGrid& Grid() { return grid_; }
  RunDriver& Driver() { return *driver_; }

  // The controls, under the names the host's forms use.
  QTableWidget* fpSCheckUebertragung = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QListView* lisMeldung = nullptr;  // one line per message; the newest is the current one
  QLabel* lblProgress = nullptr;
  QPushButton* butStart = nullptr;
  QPushButton* butCancel = nullptr;
  QPushButton* butClose = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lbl_user = nullptr;
  lnkLabel* lnkLabelTransferLog = nullptr;
  lnkLabel* lnkLabelSendLog = nullptr;
  lnkLabel* lnkLabelErrorLog = nullptr;
  lnkLabel* lnkLabelMandant = nullptr;
  QPushButton* butIS24Login = nullptr;
  QPushButton* butIS24LoginV2 = nullptr;
  QPushButton* Command1 = nullptr;

  // Grid columns: key, check box (with the name as its text), name, portal name.
  enum Column { kColDsn = 0, kColCheck = 1, kColName = 2, kColPortalName = 3 };
  static constexpr const char* kNoData = "Keine Daten vorhanden";

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ForEachCaption(const std::function<void(std::string& caption)>& visit) override;
  void BuildControls();
  void LoadPortalGrid();
  void FillGridWidget();
  void ShowChecks();
  void OnCheckChanged(int row);
  void OpenLink(const std::string& relative);
  void AddMessage(const std::string& text);
  void SetRunning(bool running);
  void SetLoginRunning(bool running);
  // Cancel or Close during a run: the run stops as on SIGTERM, the process ends after it.
  void StopRunThenEnd(const std::string& button);
  void EndIfStopped();

  PortalGrid grid_;
  MessageListModel* messages_ = nullptr;
  std::unique_ptr<RunDriver> driver_;
  std::string portalList_;
  bool installAnswerer_;
  bool filling_ = false;
  bool running_ = false;
  bool loginRunning_ = false;
  bool busyCursor_ = false;
  bool endAfterRun_ = false;
};

}  // namespace fern
