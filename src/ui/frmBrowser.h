// The login window: the portal's OAuth pages in an embedded browser (Qt WebEngine), driven by
// OAuthLoginFlow. Each login runs in a fresh private browser session; the return address with
// the verifier is caught before it loads. A second use shows a service answer as plain text.
// This is the only part of the program on the browser engine; the main window reaches it through
// InstallLoginWindows.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "restportal/login_flow.h"
#include "restportal/login_rest.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QWebEngineProfile;
class QWebEngineView;

namespace fern {

class frmFernDispatcher;

class frmBrowser : public QWidget, public LoginView {
 public:
  explicit frmBrowser(LoginRestFactory restClient = {}, QWidget* parent = nullptr);
  ~frmBrowser() override;

  // The one login window of the process, created on first use.
  static frmBrowser& Default(const LoginRestFactory& restClient);
  // A new window showing a check's answer, modal until the user closes it.
  static void ShowAnswer(const std::string& answer);
  // Chromium's sandbox can't run as root: switched off then. Runs before the first page.
  static void PrepareEngine();

  void Shower(std::string& dsn) { flow_.Shower(dsn); }
  OAuthLoginFlow& Flow() { return flow_; }

  // LoginView.
  void NewSession() override;
  void Navigate(const std::string& url) override;
  void ShowText(const std::string& text) override;
  void SetCaption(const std::string& caption) override;
  void SetUserLabel(const std::string& text) override;
  void ShowWindow() override;

  // Called when the window is closed.
  std::function<void()> closed;

  QWebEngineView* WebBrowser = nullptr;
  QLineEdit* Text1 = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* Command2 = nullptr;
  QLabel* lbl_dsn = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class Page;
  void Command1_Click();
  void Command2_Click();

  QWebEngineProfile* profile_ = nullptr;
  Page* page_ = nullptr;
  OAuthLoginFlow flow_;
};

// The main window's browser login and answer window, on the login window.
void InstallLoginWindows(frmFernDispatcher& window, LoginRestFactory restClient);

}  // namespace fern
