// The login window with the real browser engine on Qt's offscreen platform: a login against the
// loopback authorisation page (a server redirect, then a script that sends the browser to the
// callback) ends with the token stored through the service, and the callback is never loaded;
// an answer is shown as text, with nothing run or fetched.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <stdlib.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "../restportal/login_stand_in.h"
#include "host/cUtil.h"
#include "support/demo_host_fixture.h"
#include "support/http_server.h"
#include "ui/frmBrowser.h"

// Qt WebEngine's own library frees one of its objects through a base of another size, which
// AddressSanitizer reports on every page; that check stays on for every other test program.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }

namespace fern::testing {
namespace {

QApplication& App() {
  // As the program does: the browser engine shares the window system's contexts.
  static bool prepared = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The locale of a service account or cron: no language of its own.
    ::setenv("LANG", "C.UTF-8", 1);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) ::unsetenv(name);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
  }();
  (void)prepared;
  static int argc = 1;
  static char name[] = "browser_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class BrowserTest : public ::testing::Test, public DemoHostTest {
 protected:
  BrowserTest() {
    App();
    Start();
    InitHostSession();
  }
  std::string Query(const std::string& sql) {
    auto rs = Session().g_oDal->GetRecordset(Session().g_strConnect, sql);
    return cUtil::k(rs->Value(size_t{0}));
  }
};

TEST_F(BrowserTest, LoginEndsAtTheCallbackWithoutLoadingIt) {
  LoginStandIn service;
  const std::string dsn = Query("select DSN from Boersen where boersen_name = 'ImmobilienScout24'");
  std::string bare = dsn.substr(1, dsn.size() - 2);
  service.Set(bare, {"tok-1", "sec-1", "ver-1", 200, {}});
  service.store = [&](const std::string& key, const std::string& token, const std::string& secret) {
    // The host's service keeps the credentials in the portal's row; this thread's caller waits.
    Session().g_oDal->ExecQuery(Session().g_strConnect, "update Boersen set loginname = '" + token +
                                                            "', password = '" + secret +
                                                            "' where dsn = '" + key + "'");
  };

  frmBrowser window(StandInClient::Factory(service));
  std::string key = dsn;
  window.Shower(key);
  EXPECT_TRUE(window.isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !answers->texts.empty(); }, 60000));
  EXPECT_EQ(answers->texts[0],
            "Zugangsdaten wurden in der Datenbank hinterlegt: " + dsn + "\r\n<ok/>");
  EXPECT_EQ(service.Ends().size(), 1u);
  EXPECT_EQ(service.callbacks, 0);
  EXPECT_EQ(Query("select loginname || '/' || password from Boersen where dsn = '" + dsn + "'"),
            "tok-1/sec-1");
  EXPECT_EQ(window.windowTitle().toStdString(), "ImmobilienScout24 REST-API Anmeldung");
}

TEST_F(BrowserTest, PagesAreAskedForInGerman) {
  testing_servers::HttpServer portal;
  std::mutex m;
  std::vector<std::string> languages;
  portal.server.Get("/seite", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(m);
    languages.push_back(req.get_header_value("Accept-Language"));
    res.set_content("<html><body>Seite</body></html>", "text/html");
  });
  portal.Start();
  frmBrowser window;
  for (int session = 0; session < 2; ++session) {  // each login's fresh session too
    if (session > 0) window.NewSession();
    window.Navigate("http://" + portal.Address("/seite"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          std::lock_guard lock(m);
          return languages.size() > static_cast<size_t>(session);
        },
        30000));
  }
  std::lock_guard lock(m);
  for (const std::string& language : languages)
    EXPECT_TRUE(language.starts_with("de-DE,de")) << language;
}

TEST_F(BrowserTest, AnswersAreShownAsText) {
  LoginStandIn service;
  frmBrowser window;
  bool loaded = false;
  QObject::connect(window.WebBrowser->page(), &QWebEnginePage::loadFinished,
                   [&](bool) { loaded = true; });
  const std::string answer = "<b>Fehler</b><script>document.title = 'lief';</script><img src=\"" +
                             service.Base() + "/callback\">";
  window.ShowText(answer);
  ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 60000));
  QString text;
  bool done = false;
  window.WebBrowser->page()->toPlainText([&](const QString& t) {
    text = t;
    done = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
  EXPECT_EQ(text.trimmed().toStdString(), answer);
  EXPECT_NE(window.WebBrowser->page()->title().toStdString(), "lief");
  EXPECT_EQ(service.callbacks, 0);
}

TEST_F(BrowserTest, AStartAnswerWithoutLoginAddressKeepsItsSecretOutOfTheDebugLog) {
  LoginStandIn service;
  const std::string dsn = Query("select DSN from Boersen where boersen_name = 'ImmobilienScout24'");
  // Refused, yet carrying a secret: the window shows the answer as text.
  service.Set(dsn.substr(1, dsn.size() - 2),
              {"", "", "", 429,
               "<portalAuthenticationType><authenticationTokenSecret>Gh+3/i&amp;j"
               "</authenticationTokenSecret><verifier value=\"Vq+7/x\"/>"
               "</portalAuthenticationType>"});
  Session().g_blnDebugLog = true;
  frmBrowser window(StandInClient::Factory(service));
  std::string key = dsn;
  window.Shower(key);
  // The login's own session: the page is loaded once the call is back.
  bool loaded = false;
  QObject::connect(window.WebBrowser->page(), &QWebEnginePage::loadFinished,
                   [&](bool) { loaded = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 60000));
  Session().g_blnDebugLog = false;
  std::ifstream in(host() / "DAT" / "FernDispatcherDebug.txt");
  std::stringstream log;
  log << in.rdbuf();
  // The page's text is logged, decoded and masked.
  EXPECT_NE(log.str().find("&lt;authenticationTokenSecret&gt;****&lt;/"), std::string::npos)
      << log.str();
  for (const char* form : {"Gh+3/i", "Gh%2B3%2Fi", "Gh%2B3/i", "Vq+7/x", "Vq%2B7%2Fx", "Vq%2B7/x"})
    EXPECT_EQ(log.str().find(form), std::string::npos) << form << "\n" << log.str();
}

TEST_F(BrowserTest, AnswerWindowWaitsUntilClosed) {
  std::string title;
  QTimer::singleShot(100, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* answer = dynamic_cast<frmBrowser*>(w); answer && answer->isVisible()) {
        title = answer->windowTitle().toStdString();
        answer->close();
      }
  });
  frmBrowser::ShowAnswer("Not authenticated");
  EXPECT_EQ(title, "ImmobilienScout24 REST-API");
}

}  // namespace
}  // namespace fern::testing
