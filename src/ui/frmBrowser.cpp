#include "ui/frmBrowser.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "platform/msgbox.h"
#include "ui/frmFernDispatcher.h"

namespace fern {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Translate(const std::string& german) {
  return fern::Translate(Session().g_oLanguagePack.get(), german, {});
}

constexpr int kMargin = 4;
constexpr int kRow = 24;

}  // namespace

// Hands every navigation to the flow before it loads. The return address is answered later, out
// of the engine's call: the end request and its box must not run inside the navigation.
class frmBrowser::Page : public QWebEnginePage {
 public:
  Page(frmBrowser& owner, QWebEngineProfile* profile) : QWebEnginePage(profile), owner_(owner) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    const std::string address = url.toString(QUrl::FullyEncoded).toStdString();
    if (!owner_.flow_.Catches(address, isMainFrame))
      return owner_.flow_.OnNavigation(address, isMainFrame);
    QPointer<frmBrowser> owner(&owner_);
    QTimer::singleShot(0, &owner_, [owner, address] {
      if (owner) owner->flow_.OnNavigation(address, true);
    });
    return false;
  }

 private:
  frmBrowser& owner_;
};

void frmBrowser::PrepareEngine() {
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
}

frmBrowser::frmBrowser(LoginRestFactory restClient, QWidget* parent)
    : QWidget(parent), flow_(*this, std::move(restClient)) {
  PrepareEngine();
  setWindowTitle(QStringLiteral("Anmeldung IS24"));
  resize(900, 700);
  lbl_dsn = new QLabel(this);
  Text1 = new QLineEdit(this);
  Command1 = new QPushButton(QStringLiteral("Test"), this);
  Command2 = new QPushButton(QStringLiteral("Go"), this);
  // The test buttons show once an address is typed.
  Command1->hide();
  Command2->hide();
  QObject::connect(Text1, &QLineEdit::textEdited, this, [this] {
    Command1->show();
    Command2->show();
  });
  QObject::connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
  QObject::connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
  QObject::connect(Text1, &QLineEdit::returnPressed, this, [this] { Command2_Click(); });
  WebBrowser = new QWebEngineView(this);
  NewSession();
}

frmBrowser::~frmBrowser() {
  // The view lets go of the page, the page of the profile: each before the next goes.
  delete WebBrowser;
  WebBrowser = nullptr;
  delete page_;
  delete profile_;
}

frmBrowser& frmBrowser::Default(const LoginRestFactory& restClient) {
  static QPointer<frmBrowser> instance;
  if (!instance) {
    instance = new frmBrowser(restClient);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, instance.data(),
                     [] { delete instance.data(); });
  }
  return *instance;
}

void frmBrowser::ShowAnswer(const std::string& answer) {
  frmBrowser window;
  window.setWindowModality(Qt::ApplicationModal);
  window.Text1->hide();
  window.ShowText(answer);
  window.SetCaption(Translate("ImmobilienScout24 REST-API"));
  QEventLoop loop;
  window.closed = [&loop] { loop.quit(); };
  window.show();
  loop.exec();
}

void frmBrowser::NewSession() {
  QWebEngineProfile* oldProfile = profile_;
  Page* oldPage = page_;
  // A profile without a storage name keeps nothing on disk and shares nothing with another.
  profile_ = new QWebEngineProfile();
  // The program speaks German whatever the system's locale: so do the portal's pages.
  profile_->setHttpAcceptLanguage(QStringLiteral("de-DE,de"));
  page_ = new Page(*this, profile_);
  page_->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  WebBrowser->setPage(page_);
  delete oldPage;
  delete oldProfile;
}

void frmBrowser::Navigate(const std::string& url) {
  QUrl address(Q(url));
  if (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https"))
    return;
  page_->load(address);
}

void frmBrowser::ShowText(const std::string& text) {
  // The text as text: markup in it stays visible, and the policy keeps anything else from loading.
  QString html = QStringLiteral(
                     "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                     "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                     "style-src 'unsafe-inline'\"></head><body><pre style=\"white-space: "
                     "pre-wrap; font-family: sans-serif\">%1</pre></body></html>")
                     .arg(Q(text).toHtmlEscaped());
  page_->setHtml(html, QUrl(QStringLiteral("about:blank")));
}

void frmBrowser::SetCaption(const std::string& caption) { setWindowTitle(Q(caption)); }

void frmBrowser::SetUserLabel(const std::string& text) { lbl_dsn->setText(Q(text)); }

void frmBrowser::ShowWindow() {
  show();
  raise();
  activateWindow();
}

void frmBrowser::Command1_Click() {
  std::string address = OAuthLoginFlow::TestAddress();
  if (address.empty()) {
    MessageBox(Translate("Für den Test fehlt die Adresse des Portals (Kavantor.INI, Abschnitt "
                         "IS24Transfer, Schlüssel OAuthPortalUrl)."),
               mb::kOkOnly | mb::kExclamation);
    return;
  }
  Text1->setText(Q(address));
  Navigate(address);
}

void frmBrowser::Command2_Click() { Navigate(Text1->text().trimmed().toStdString()); }

void frmBrowser::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width(), h = height();
  const int buttons = 2 * 60 + kMargin;
  lbl_dsn->setGeometry(kMargin, kMargin, std::max(0, w - 2 * kMargin - buttons), kRow);
  Command1->setGeometry(w - kMargin - buttons, kMargin, 60, kRow);
  Command2->setGeometry(w - kMargin - 60, kMargin, 60, kRow);
  Text1->setGeometry(kMargin, kMargin + kRow + 2, std::max(0, w - 2 * kMargin), kRow);
  const int top = Text1->isHidden() ? Text1->y() : Text1->y() + kRow + 2;
  WebBrowser->setGeometry(1, top, w, std::max(0, h - top));
}

void frmBrowser::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closed) closed();
}

void InstallLoginWindows(frmFernDispatcher& window, LoginRestFactory restClient) {
  window.restClient = restClient;
  window.showLoginWindow = [restClient](std::string& dsn) {
    frmBrowser::Default(restClient).Shower(dsn);
  };
  window.showAnswerWindow = [](const std::string& answer) { frmBrowser::ShowAnswer(answer); };
}

}  // namespace fern
