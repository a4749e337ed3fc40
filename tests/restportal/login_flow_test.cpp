// The OAuth login without its window, against the loopback login service on a demo host: the
// start and end requests, what a failed start leaves, two portals in a row, escaping, the
// verifier rules, the reset question and the secrets in the debug log.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "host/cUtil.h"
#include "login_stand_in.h"
#include "restportal/login_flow.h"
#include "support/demo_host_fixture.h"

namespace fern::testing {
namespace {

// Records what the flow asks of its window.
struct FakeView : LoginView {
  std::vector<std::string> calls;
  void NewSession() override { calls.push_back("new session"); }
  void Navigate(const std::string& url) override { calls.push_back("navigate " + url); }
  void ShowText(const std::string& text) override { calls.push_back("text " + text); }
  void SetCaption(const std::string&) override {}
  void SetUserLabel(const std::string& text) override { calls.push_back("label " + text); }
  void ShowWindow() override {}
};

TEST(VerifierRules, OnlyTheVerifierParameterOfAWebAddress) {
  struct Case {
    const char* url;
    std::optional<std::string> verifier;
  } cases[] = {
      {"https://p.test/cb?oauth_token=T&oauth_verifier=V", "V"},
      {"https://p.test/cb?oauth_verifier=V&oauth_token=T", "V"},
      {"HTTP://p.test/cb?OAUTH_VERIFIER=AbC", "AbC"},
      {"https://p.test/cb?x=1&Verifier=a%2Bb%26c#frag", "a+b&c"},
      {"https://p.test/cb?oauth_verifier=V1&verifier=V2", "V1"},
      {"https://p.test/verifier-help?topic=verifier", std::nullopt},
      {"https://p.test/cb#oauth_verifier=V", std::nullopt},
      {"https://p.test/cb?oauth_verifier=", std::nullopt},
      {"data:text/html,<p>?oauth_verifier=V</p>", std::nullopt},
      {"about:blank?oauth_verifier=V", std::nullopt},
      {"ftp://p.test/cb?oauth_verifier=V", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(VerifierOf(c.url), c.verifier) << c.url;
}

class LoginFlowTest : public ::testing::Test, public DemoHostTest {
 protected:
  LoginFlowTest() {
    Start();
    InitHostSession();
    dsnA = Dsn("ImmobilienScout24");
    service.store = [this](const std::string& dsn, const std::string& token,
                           const std::string& secret) {
      stored.push_back(dsn + " " + token + " " + secret);
    };
  }

  std::string Dsn(const std::string& name) {
    HostSession& s = Session();
    auto rs =
        s.g_oDal->GetRecordset(s.g_strConnect, "select DSN from Boersen where boersen_name = " +
                                                   cUtil::SqlStr(Variant(name)));
    return cUtil::k(rs->Value("DSN"));
  }
  static std::string Bare(std::string dsn) {
    std::erase(dsn, '{');
    std::erase(dsn, '}');
    return dsn;
  }
  std::string AddPortal(const std::string& name, const std::string& dsn) {
    Session().g_oDal->ExecQuery(Session().g_strConnect,
                                "INSERT INTO Boersen (DSN, boersen_name, boersentyp) VALUES ('" +
                                    dsn + "', '" + name + "', 113)");
    return dsn;
  }
  void Login(std::string dsn) { flow.Shower(dsn); }
  static void Login(std::string dsn, OAuthLoginFlow& other) { other.Shower(dsn); }
  std::string Callback(const std::string& token, const std::string& verifier) {
    return service.Base() + "/callback?oauth_token=" + LoginStandIn::Encode(token) +
           "&oauth_verifier=" + LoginStandIn::Encode(verifier);
  }

  LoginStandIn service;
  FakeView view;
  OAuthLoginFlow flow{view, StandInClient::Factory(service)};
  std::string dsnA;
  std::vector<std::string> stored;
};

TEST_F(LoginFlowTest, EndRequestCarriesEscapedValuesOncePerToken) {
  service.Set(Bare(dsnA), {"T<&>1", "S\"'2", "V&3", 200, {}});
  Login(dsnA);
  const std::string page =
      "navigate " + service.Base() + "/authorize?oauth_token=" + LoginStandIn::Encode("T<&>1");
  EXPECT_EQ(view.calls, (std::vector<std::string>{"label Dana Demo " + dsnA, "new session", page}));

  // Pages of the portal load; the return address does not, and ends the login.
  EXPECT_TRUE(flow.OnNavigation(service.Base() + "/confirm?oauth_token=x", true));
  EXPECT_TRUE(flow.OnNavigation(Callback("T<&>1", "V&3"), false));
  EXPECT_FALSE(flow.OnNavigation(Callback("T<&>1", "V&3"), true));
  EXPECT_FALSE(flow.OnNavigation(Callback("T<&>1", "V&3"), true));

  EXPECT_EQ(service.Ends(),
            std::vector<std::string>{
                Bare(dsnA) + " <portalAuthenticationType xmlns=\"" + kRestNs +
                "\"><authenticationToken>T&lt;&amp;&gt;1</authenticationToken>"
                "<authenticationTokenSecret>S&quot;&apos;2</authenticationTokenSecret>"
                "<verifier>V&amp;3</verifier></portalAuthenticationType>"});
  EXPECT_EQ(stored, std::vector<std::string>{Bare(dsnA) + " T<&>1 S\"'2"});
  EXPECT_EQ(answers->texts,
            std::vector<std::string>{"Zugangsdaten wurden in der Datenbank hinterlegt: " + dsnA +
                                     "\r\n<ok/>"});
}

TEST_F(LoginFlowTest, EachLoginStartsCleanAndAFailedStartSendsNothing) {
  const std::string dsnB = AddPortal("IS24 Zweitkonto", "{0000AAAA-0000-0000-0000-000000000003}");
  service.Set(Bare(dsnA), {"TA", "SA", "VA", 200, {}});
  service.Set(Bare(dsnB), {"TB", "SB", "VB", 200, {}});
  Login(dsnA);
  Login(dsnB);
  // Only B's token ends B's login.
  EXPECT_FALSE(flow.OnNavigation(Callback("TB", "VB"), true));
  ASSERT_EQ(service.Ends().size(), 1u);
  EXPECT_EQ(service.Ends()[0].substr(0, Bare(dsnB).size() + 1), Bare(dsnB) + " ");
  EXPECT_NE(service.Ends()[0].find("<authenticationToken>TB<"), std::string::npos);

  // A start that fails after a good one shows the answer and keeps no token.
  service.Set(Bare(dsnA), {"", "", "", 500, "Interner Fehler"});
  view.calls.clear();
  Login(dsnA);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"label Dana Demo " + dsnA, "new session",
                                                  "text Interner Fehler"}));
  EXPECT_TRUE(flow.OnNavigation(Callback("TB", "VB"), true));
  EXPECT_EQ(service.Ends().size(), 1u);
}

TEST_F(LoginFlowTest, StartAnswersThatOpenNoPage) {
  struct Case {
    std::string answer;
    std::string shown;
  } cases[] = {
      {"<portalAuthenticationType><authenticationUrl>javascript:alert(1)</authenticationUrl>"
       "<authenticationToken>T</authenticationToken><authenticationTokenSecret>S"
       "</authenticationTokenSecret></portalAuthenticationType>",
       "text Die Authentication-Url ist keine http- oder https-Adresse:\r\njavascript:alert(1)"},
      {"<portalAuthenticationType><authenticationUrl></authenticationUrl>"
       "<authenticationToken>T</authenticationToken></portalAuthenticationType>",
       "text Authentication-Url ist nicht gefüllt. Bitte kontaktieren Sie Ihren "
       "Systemadministrator."},
      {"<fehler><script>alert(1)</script></fehler>",
       "text <fehler><script>alert(1)</script></fehler>"},
  };
  for (const Case& c : cases) {
    service.Set(Bare(dsnA), {"T", "S", "V", 200, c.answer});
    view.calls.clear();
    Login(dsnA);
    EXPECT_EQ(view.calls.back(), c.shown);
    EXPECT_TRUE(flow.OnNavigation(Callback("T", "V"), true));
  }
  EXPECT_TRUE(service.Ends().empty());
}

TEST_F(LoginFlowTest, EndAnswerOtherThanOkIsAnError) {
  service.Set(Bare(dsnA), {"T", "S", "V", 200, {}});
  service.endStatus = 401;
  Login(dsnA);
  flow.OnNavigation(Callback("T", "V"), true);
  ASSERT_EQ(answers->texts.size(), 1u);
  EXPECT_EQ(answers->texts[0],
            "Die Zugangsdaten wurden nicht hinterlegt: " + dsnA + "\r\nStatus: 401\r\n<ok/>");
  EXPECT_TRUE(stored.empty());

  // A service that echoes the request shows no secret in the box, refused or not.
  service.echo = true;
  for (int status : {500, 200}) {
    service.endStatus = status;
    service.Set(Bare(dsnA), {"Tok-4711", "Sec-0815", "Ver-1234", 200, {}});
    answers->texts.clear();
    Login(dsnA);
    flow.OnNavigation(Callback("Tok-4711", "Ver-1234"), true);
    ASSERT_EQ(answers->texts.size(), 1u);
    const std::string& box = answers->texts[0];
    EXPECT_NE(box.find("<authenticationToken>****</authenticationToken>"
                       "<authenticationTokenSecret>****</authenticationTokenSecret>"
                       "<verifier>****</verifier>"),
              std::string::npos)
        << box;
    for (const char* secret : {"Tok-4711", "Sec-0815", "Ver-1234"})
      EXPECT_EQ(box.find(secret), std::string::npos) << secret;
  }
}

// An end answer shaped to make the masking work hard shows its box like any other: the
// masking's cost is measured in bench/.
TEST_F(LoginFlowTest, AHostileEndAnswerShowsItsBoxMasked) {
  std::string hostile;
  while (hostile.size() < 21 * 1024) hostile += "<verifier a=1 ";
  hostile += ">";
  service.Set(Bare(dsnA), {"T", "S", "V", 200, {}});
  service.endAnswer = hostile;
  Login(dsnA);
  flow.OnNavigation(Callback("T", "V"), true);
  ASSERT_EQ(answers->texts.size(), 1u);
  EXPECT_NE(answers->texts[0].find("<verifier a=****"), std::string::npos);
}

// A long end answer shows its start in the box, masked, so the box is laid out at once; the
// debug log keeps it whole. The masking's cost is measured in bench/.
TEST_F(LoginFlowTest, ALongEndAnswerShowsABoundedMaskedStart) {
  const std::string verifier = "Ver-1234";
  const std::string lineEnds = "data:," + verifier + " " + std::string(1024 * 1024, '\r');
  std::string quotes;
  while (quotes.size() < 1024 * 1024) quotes += "\"\\" + verifier;
  std::string euros;
  while (euros.size() < 1024 * 1024) euros += "€";
  const std::string box = "Zugangsdaten wurden in der Datenbank hinterlegt: " + dsnA + "\r\n";
  Session().g_blnDebugLog = true;
  for (const std::string& answer : {lineEnds, quotes, euros}) {
    SCOPED_TRACE(answer.substr(0, 8));
    service.Set(Bare(dsnA), {"T", "S", verifier, 200, {}});
    service.endAnswer = answer;
    answers->texts.clear();
    Login(dsnA);
    flow.OnNavigation(Callback("T", verifier), true);
    // The debug log's check of the stored login asks questions of its own around it.
    const auto it = std::find_if(answers->texts.begin(), answers->texts.end(),
                                 [&](const std::string& t) { return t.starts_with(box); });
    ASSERT_NE(it, answers->texts.end());
    const std::string& shown = *it;
    if (answer == euros) {
      // Characters are counted, and none is cut.
      EXPECT_EQ(shown, box + euros.substr(0, 3 * 2000) + "...");
      continue;
    }
    EXPECT_LE(shown.size(), box.size() + 2000 + 3);
    EXPECT_TRUE(shown.ends_with("...")) << shown.size();
    EXPECT_NE(shown.find("****"), std::string::npos);
    EXPECT_EQ(shown.find(verifier), std::string::npos);
  }
  Session().g_blnDebugLog = false;
  std::ifstream in(host() / "DAT" / "FernDispatcherDebug.txt");
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_GT(log.str().size(), 2 * 1024 * 1024u);
  EXPECT_EQ(log.str().find(verifier), std::string::npos);
}

TEST_F(LoginFlowTest, StoredLoginIsResetOnlyAfterOk) {
  struct Recorder : RecordingAnswerer {
    int answer = mb::kCancel;
    int MessageBox(const std::string& text, int flags, const std::string& t) override {
      RecordingAnswerer::MessageBox(text, flags, t);
      return answer;
    }
  };
  auto recorder = std::make_shared<Recorder>();
  SetMessageAnswerer(recorder);
  service.Set(Bare(dsnA), {"T", "S", "V", 200, {}});
  auto row = [&] {
    auto rs = Session().g_oDal->GetRecordset(
        Session().g_strConnect,
        "select loginname, password from Boersen where dsn = '" + dsnA + "'");
    return cUtil::k(rs->Value("loginname")) + "/" + cUtil::k(rs->Value("password"));
  };
  Session().g_oDal->ExecQuery(Session().g_strConnect,
                              "update Boersen set loginname = 'alt', password = 'geheim' where "
                              "dsn = '" +
                                  dsnA + "'");
  for (int answer : {mb::kCancel, mb::kOk}) {
    recorder->answer = answer;
    view.calls.clear();
    Login(dsnA);
    const bool started = view.calls.size() > 1;
    EXPECT_EQ(started, answer == mb::kOk);
    EXPECT_EQ(row(), answer == mb::kOk ? "/" : "alt/geheim");
  }
  ASSERT_FALSE(recorder->texts.empty());
  EXPECT_TRUE(recorder->texts[0].starts_with("Für das Portal sind bereits Zugangsdaten"));

  // A portal without a row opens no login.
  view.calls.clear();
  Login("{0000AAAA-0000-0000-0000-0000000000FF}");
  EXPECT_EQ(view.calls.size(), 1u);
}

TEST_F(LoginFlowTest, DebugLogHidesTokenSecretAndVerifier) {
  Session().g_blnDebugLog = true;
  service.Set(Bare(dsnA), {"Tok9876", "Sec5432", "Ver1234", 200, {}});
  Login(dsnA);
  flow.OnNavigation(Callback("Tok9876", "Ver1234"), true);
  std::ifstream in(host() / "DAT" / "FernDispatcherDebug.txt");
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_NE(log.str().find("NavigateComplete2_4: "), std::string::npos);
  EXPECT_NE(log.str().find("****"), std::string::npos);
  for (const char* secret : {"Tok9876", "Sec5432", "Ver1234"})
    EXPECT_EQ(log.str().find(secret), std::string::npos) << secret;
}

TEST_F(LoginFlowTest, HostRestClientCarriesTheLogin) {
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string restore = oldTmp ? oldTmp : "";
  std::filesystem::create_directories(dir / "tmp");
  ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
  Session().g_oDal->ExecQuery(Session().g_strConnect,
                              "UPDATE PREFERENCES SET VALUE = '" + service.Base() +
                                  "/' WHERE SCOPE = 'STD' AND PREFKEY = 'RESTAPI.URL'");
  service.Set(Bare(dsnA), {"T", "S", "V", 200, {}});
  OAuthLoginFlow hostFlow(view, HostLoginRestClient());
  Login(dsnA, hostFlow);
  EXPECT_FALSE(hostFlow.OnNavigation(Callback("T", "V"), true));
  EXPECT_EQ(stored, std::vector<std::string>{Bare(dsnA) + " T S"});
  if (restore.empty())
    ::unsetenv("TMPDIR");
  else
    ::setenv("TMPDIR", restore.c_str(), 1);
}

}  // namespace
}  // namespace fern::testing
